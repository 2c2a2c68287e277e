// Device state and power of the hubs: the hardware rescan, a hub's restart, and the hub's
// selective-suspend setting.
//
// Hubs are named by node name ("2-1.4"). Every call returns 0 or a positive error number:
// ENOENT the hub is not there; EACCES no permission to change it; EINVAL the setting holds
// something unexpected; ETIMEDOUT the system did not settle in time.
//
// Blocking: nRescan waits until the system has handled the pending device events (at most
// a few seconds, on the injected clock); nRestartHub returns when the restart has been
// requested, without waiting for the hub to come back; the setting calls only read or
// write one attribute.
#pragma once

#include <string>

class IDeviceState {
 public:
  virtual ~IDeviceState() = default;
  // Makes the system look at its devices again and waits until that has settled.
  virtual int nRescan() = 0;
  // Restarts a hub: it leaves the bus and enumerates again.
  virtual int nRestartHub(const std::string& strHub) = 0;
  // 1 = the hub may suspend when idle (power management on), 0 = it is kept awake.
  virtual int nGetSuspendSetting(const std::string& strHub, int& nValue) = 0;
  // Sets it. 0 keeps the hub awake; 1 gives it back the setting it had when this object
  // first saw it (so a hub the system kept awake anyway stays so), or lets it suspend.
  virtual int nSetSuspendSetting(const std::string& strHub, int nValue) = 0;
  // Where the setting lives, for log entries ("/sys/bus/usb/devices/2-1/power/control").
  virtual std::string strSuspendSettingName(const std::string& strHub) const = 0;
};

// The udev rules that stand in for the filter driver: they grant the operator group access
// to the target hubs and their bridge disks. The deployment package installs them here.
constexpr const char* FILTER_DRIVER_RULES_FILE = "/etc/udev/rules.d/70-vlntufdriver.rules";

// The filter driver's state as the walk checks it before recording a hub.
class IFilterDriverStatus {
 public:
  virtual ~IFilterDriverStatus() = default;
  // Whether the filter driver is registered for the hubs. Reads a file; does not block.
  virtual bool bIsRegistered() = 0;
  // Installs it; 0 or an errno. Blocks until the installer ends.
  virtual int nInstall() = 0;
  // File version of the installed driver ("1.0.7.0"); empty when none can be read.
  virtual std::string strInstalledVersion() = 0;
};
