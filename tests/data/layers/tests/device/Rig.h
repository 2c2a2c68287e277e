#pragma once
#include "device/Device.h"
#include "platform/sim/Sim.h"
