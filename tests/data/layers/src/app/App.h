#pragma once
#include "ui/Ui.h"
