#include "Run.h"
#include <device/Device.h>
#include "pd/Pd.h"
// #include "ui/Ui.h"
#include "device/Missing.h"
