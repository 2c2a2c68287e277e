#pragma once
#include "device/Device.h"
