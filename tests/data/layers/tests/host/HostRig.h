#pragma once
#include "host/Host.h"
