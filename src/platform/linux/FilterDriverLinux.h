// The filter driver as Linux has it: a udev rules file that lets the operator group reach
// the target hubs and the disks of their storage bridges. Registered = the rules file in the
// rules folder exists and names the filter; its version is its "FileVersion:" line. The
// installer and remover are programs in the "FilterDriver" folder beside the executable
// (InstallVlntDriver, RemoveVlntDriver); they elevate themselves where they must.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/DeviceState.h"

class CFilterDriverStatusLinux : public IFilterDriverStatus {
 public:
  // Empty folders take the defaults: the rules folder of strDefaultRulesFolder, the folder
  // of the running executable.
  explicit CFilterDriverStatusLinux(std::string strRulesFolder = {}, std::string strProgramFolder = {},
                                    std::vector<std::string> rebootCommand = {"systemctl", "reboot"});
  bool bIsRegistered() override;
  int nInstall(bool bInstall) override;
  std::string strInstalledVersion() override;
  std::string strRegistrationName() const override { return m_strRulesFile; }
  int nReboot() override;

  // MPTOOL_UDEV_RULES_DIR when set, else FILTER_DRIVER_RULES_DIR.
  static std::string strDefaultRulesFolder();
  // The installer's or remover's path and arguments.
  std::vector<std::string> vecInstallCommand(bool bInstall) const;

  // How long an installer may take before it is no longer waited for (200 minutes).
  static constexpr uint64_t INSTALL_WAIT_MS = 12000000;

 private:
  std::string m_strRulesFolder;
  std::string m_strRulesFile;
  std::string m_strProgramFolder;
  std::vector<std::string> m_rebootCommand;
};

// Starts a program (searched in PATH when the name has no slash) with the caller's
// environment and waits until it ends or ullWaitMs of real time pass. 0 when it ended with
// status 0; its exit status when it ended with another; an errno (ENOENT it could not be
// started, ETIMEDOUT still running: it is left running) otherwise.
int nRunProgramAndWait(const std::vector<std::string>& args, uint64_t ullWaitMs);
