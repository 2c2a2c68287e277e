#pragma once
#include "pd/Pd.h"
#include "run/Run.h"
