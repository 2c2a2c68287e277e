#include "platform/linux/FilterDriverLinux.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/linux/SysfsRead.h"

extern char** environ;

namespace {
std::string strUpperText(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}
}  // namespace

CFilterDriverStatusLinux::CFilterDriverStatusLinux(std::string strRulesFolder, std::string strProgramFolder,
                                                   std::vector<std::string> rebootCommand)
    : m_strRulesFolder(strRulesFolder.empty() ? strDefaultRulesFolder() : std::move(strRulesFolder)),
      m_strProgramFolder(std::move(strProgramFolder)),
      m_rebootCommand(std::move(rebootCommand)) {
  m_strRulesFile = m_strRulesFolder + "/" + FILTER_DRIVER_RULES_NAME;
  if (m_strProgramFolder.empty()) {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) m_strProgramFolder = exe.parent_path().string();
  }
}

std::string CFilterDriverStatusLinux::strDefaultRulesFolder() {
  const char* p = std::getenv("MPTOOL_UDEV_RULES_DIR");
  return p && *p ? std::string(p) : std::string(FILTER_DRIVER_RULES_DIR);
}

bool CFilterDriverStatusLinux::bIsRegistered() {
  std::string s;
  if (sysfs::nReadFile(m_strRulesFile, s) != 0) return false;
  return strUpperText(s).find(strUpperText(FILTER_DRIVER_NAME)) != std::string::npos;
}

std::vector<std::string> CFilterDriverStatusLinux::vecInstallCommand(bool bInstall) const {
  const std::string strFolder = m_strProgramFolder + "/FilterDriver/";
  if (bInstall) return {strFolder + "InstallVlntDriver", "--rules-dir", m_strRulesFolder};
  return {strFolder + "RemoveVlntDriver", "/SILENT", "/REMOVE", "--rules-dir", m_strRulesFolder};
}

int CFilterDriverStatusLinux::nInstall(bool bInstall) {
  return nRunProgramAndWait(vecInstallCommand(bInstall), INSTALL_WAIT_MS);
}

std::string CFilterDriverStatusLinux::strInstalledVersion() {
  std::string s;
  if (sysfs::nReadFile(m_strRulesFile, s) != 0) return {};
  const std::string strTag = "FileVersion:";
  size_t p = s.find(strTag);
  if (p == std::string::npos) return {};
  size_t e = s.find('\n', p);
  std::string v =
      s.substr(p + strTag.size(), e == std::string::npos ? std::string::npos : e - p - strTag.size());
  while (!v.empty() && (v.back() == ' ' || v.back() == '\r')) v.pop_back();
  while (!v.empty() && v.front() == ' ') v.erase(v.begin());
  return v;
}

int CFilterDriverStatusLinux::nReboot() {
  return nRunProgramAndWait(m_rebootCommand, 60000);
}

int nRunProgramAndWait(const std::vector<std::string>& args, uint64_t ullWaitMs) {
  if (args.empty()) return EINVAL;
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const auto& s : args) argv.push_back(const_cast<char*>(s.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  if (rc != 0) return rc;
  // Polled so that a program that never ends cannot hold the caller beyond the limit.
  const auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(ullWaitMs);
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      return EINTR;  // ended by a signal
    }
    if (r < 0 && errno != EINTR) return errno;
    if (std::chrono::steady_clock::now() >= tEnd) return ETIMEDOUT;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}
