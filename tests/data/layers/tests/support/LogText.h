#pragma once
#include <gtest/gtest.h>
#include "log/Log.h"
