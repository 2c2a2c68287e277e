// Power to the board behind a storage drive: the storage bridge with the PD controller and the
// microcontroller behind it. After a PD or MCU firmware update the new firmware runs only once
// that power has been cut and restored; on real hardware the operator does it when asked, on
// the simulated bench the platform does it itself.
#pragma once

#include <string>

class IPowerCyclePlatform {
 public:
  virtual ~IPowerCyclePlatform() = default;
  // Cuts and restores the power behind the drive named as in ScsiPassThrough.h. True when the
  // platform did it (the drive then leaves and comes back on its own time; handles opened
  // before are dead); false when it cannot (no such drive, or nothing here can switch that
  // power, so the operator must). Never blocks for the drive's return. Any thread.
  virtual bool bPowerCycle(const std::string& strDriveName) = 0;
};
