#include "support/LogText.h"
#include "support/Fixture.h"
#include "platform/sim/Sim.h"
#include "log/Log.h"
