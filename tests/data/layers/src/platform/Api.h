#pragma once
#include "log/Log.h"
