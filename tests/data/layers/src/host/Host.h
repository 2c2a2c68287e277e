#pragma once
#include <string>
#include "log/Log.h"
#include "platform/sim/Sim.h"
