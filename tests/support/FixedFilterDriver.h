// A filter driver whose state the test sets: the window's tests need one for the start-up
// check without a platform below them.
#pragma once

#include <string>

#include "platform/DeviceState.h"

struct FixedFilterDriver : IFilterDriverStatus {
  bool bRegistered = true;
  std::string strVersion = FILTER_DRIVER_VERSION;
  int nInstalls = 0, nRemovals = 0, nReboots = 0;
  bool bIsRegistered() override { return bRegistered; }
  int nInstall(bool bInstall) override {
    ++(bInstall ? nInstalls : nRemovals);
    bRegistered = bInstall;
    return 0;
  }
  std::string strInstalledVersion() override { return bRegistered ? strVersion : std::string(); }
  std::string strRegistrationName() const override { return "test:filter_driver"; }
  int nReboot() override { return ++nReboots, 0; }
};
