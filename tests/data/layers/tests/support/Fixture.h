#pragma once
#include "support/LogText.h"
#include "ui/Ui.h"
