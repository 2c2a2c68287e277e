#pragma once
#include "platform/Api.h"
