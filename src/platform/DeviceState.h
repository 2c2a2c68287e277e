// Device state and power of the hubs: the hardware rescan, a hub's restart, and the hub's
// selective-suspend setting. Linux works on sysfs and the udev queue
// (platform/linux/DeviceStateSysfs.h); the simulated bench on its hubs
// (platform/sim/SimDeviceState.h).
//
// Hubs are named by node name ("2-1.4"). Every call returns 0 or a positive errno; each call
// below lists the ones it gives. No call throws.
//
// Threads: every call may be made from any thread, calls may overlap (both implementations
// lock what they keep). On the bench, nRescan and nRestartHub change the bus, so the device
// events that follow are delivered on the calling thread before the call returns: a caller
// must not hold a lock there that its device-event callback takes.
#pragma once

#include <string>

class IDeviceState {
 public:
  virtual ~IDeviceState() = default;
  // Makes the system look at its devices again and waits until that has settled. Linux:
  // waits, in steps of 20 ms on the injected clock, until the udev queue is empty (sysfs
  // itself is always current); not stop-aware. Errors: ETIMEDOUT the queue was not empty
  // after 5 s of tool time (no udev at all counts as settled). The bench does not wait: hubs
  // whose return is due come back now, with their arrival events; no errors.
  virtual int nRescan() = 0;
  // Restarts a hub: it leaves the bus and enumerates again, the hubs below it with it. Linux
  // writes 0, then 1 to the hub's "authorized"; the kernel drops and then sets up the hub's
  // configuration within each write, and the devices below come back later as the hub driver
  // finds them; nothing here waits for an arrival. The bench takes the hub off the bus and
  // back at once (removal and arrival events on this thread), the hubs below it attach again
  // on the bench's timer. Errors: ENOENT the hub is not there (the bench: it or a hub above
  // it is off the bus); Linux the errno of a write (EACCES without root). The hub's suspend
  // setting is the same after the restart as before (the kernel's hub driver resets it to
  // "auto" when it binds the hub again, so Linux writes it back).
  virtual int nRestartHub(const std::string& strHub) = 0;
  // 1 = the hub may suspend when idle (power management on), 0 = it is kept awake. Linux
  // reads power/control ("auto" 1, "on" 0) and remembers the first value it sees per hub;
  // the bench gives 1 until it is set. Does not block. Errors: ENOENT the hub is not there;
  // Linux EINVAL the file holds neither "on" nor "auto", or a read's errno.
  virtual int nGetSuspendSetting(const std::string& strHub, int& nValue) = 0;
  // Sets it. 0 keeps the hub awake; 1 gives it back the setting it had when this object
  // first saw it (so a hub the system kept awake anyway stays so), or lets it suspend. Does
  // not block (Linux: one read and one write of power/control). Errors: ENOENT the hub is
  // not there; Linux a read's errno (EINVAL content is overwritten), the errno of the write
  // (EACCES without root).
  virtual int nSetSuspendSetting(const std::string& strHub, int nValue) = 0;
  // Where the setting lives, for log entries ("/sys/bus/usb/devices/2-1/power/control"; on
  // the bench "bench:2-1/power/control"). No I/O, cannot fail.
  virtual std::string strSuspendSettingName(const std::string& strHub) const = 0;
};

// The udev rules that stand in for the filter driver: they grant the operator group access
// to the target hubs and their bridge disks. The deployment scripts install the file under
// this name in the rules folder: MPTOOL_UDEV_RULES_DIR when set (tests, a staged root),
// otherwise FILTER_DRIVER_RULES_DIR.
constexpr const char* FILTER_DRIVER_RULES_DIR = "/etc/udev/rules.d";
constexpr const char* FILTER_DRIVER_RULES_NAME = "70-vlntufdriver.rules";
// The filter's name that the installed rules carry, and the version the walk expects.
constexpr const char* FILTER_DRIVER_NAME = "VLNTFilter";
constexpr const char* FILTER_DRIVER_VERSION = "1.0.7.0";

// The filter driver's state: the start-up check, the walk's check before recording a hub,
// the installer and remover, and the machine's reboot that an installation asks for. Every
// call may be made from any thread; none throws.
class IFilterDriverStatus {
 public:
  virtual ~IFilterDriverStatus() = default;
  // Whether the filter driver is registered for the hubs: Linux, whether the rules file
  // exists and names the filter (any case); the bench, unless its "filter_driver" is
  // "none". Does not block (one small read).
  virtual bool bIsRegistered() = 0;
  // Installs (bInstall) or removes it; 0 or an errno (Linux also the program's non-zero
  // exit status). Linux starts the installer or remover program beside the executable and
  // waits until it ends (it may ask for the operator's password through the system's
  // elevation); the bench changes its state at once.
  virtual int nInstall(bool bInstall) = 0;
  // File version of the installed driver ("1.0.7.0"): Linux, the rules file's
  // "FileVersion:" line; the bench, its "filter_driver" text. Empty when nothing is
  // installed or no version can be read. Does not block.
  virtual std::string strInstalledVersion() = 0;
  // Where the registration lives, for log entries (the rules file's path; on the bench
  // "bench:filter_driver"). No I/O.
  virtual std::string strRegistrationName() const = 0;
  // Restarts the machine; 0 or an errno. Linux asks systemd; the bench only counts it.
  virtual int nReboot() = 0;
};
