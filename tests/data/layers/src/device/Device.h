#pragma once
#include "images/Images.h"
