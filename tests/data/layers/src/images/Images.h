#pragma once
#include "host/Host.h"
#include "device/Device.h"
#include <run/Run.h>
