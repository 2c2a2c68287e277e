#include "Rig.h"
#include "run/Run.h"
#include "../host/HostRig.h"
#include "support/Missing.h"
