// The filter driver package written at start-up and removed at exit, and the exit sequence.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "device/VlntUSBDev.h"
#include "log/DebugLog.h"
#include "ui/MPToolDlg.h"

namespace {
constexpr const char* PACKAGE_SUBFOLDER = "VLN318xFW/FilterDriver";
constexpr const char* RULES_FILE = "70-vlntufdriver.rules";
constexpr const char* SHIM_FILE = "libk4821605.so";
constexpr const char* UNINSTALL_FILE = "DeleteVlntufdriver.sh";
constexpr const char* EXIT_CAPTION = " ** WARNING ** ";

// Writes one package file: the old one is deleted first, the new one created exclusively
// and written whole. 0 or an errno.
int nWritePackageFile(const std::string& strFrom, const std::string& strTo) {
  std::ifstream in(strFrom, std::ios::binary);
  if (!in) return ENOENT;
  std::string strBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return EIO;
  ::unlink(strTo.c_str());
  struct stat st {};
  const mode_t mode = ::stat(strFrom.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0644;
  int fd = ::open(strTo.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return errno;
  size_t nDone = 0;
  int nErr = 0;
  while (nDone < strBytes.size()) {
    ssize_t n = ::write(fd, strBytes.data() + nDone, strBytes.size() - nDone);
    if (n < 0) {
      if (errno == EINTR) continue;
      nErr = errno;
      break;
    }
    nDone += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 && nErr == 0) nErr = errno;
  return nErr;
}

std::string strExecutableFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : exe.parent_path().string();
}
}  // namespace

std::string CMPToolDlg::strTempFolder() {
  const char* p = std::getenv("TMPDIR");
  std::string s = p && *p ? p : "/tmp";
  if (s.back() != '/') s += '/';
  return s;
}

int CMPToolDlg::nLoadFilterDriverLib(const std::string& strBase) {
  static const char* L = "CMPToolDlg::nLoadFilterDriverLib";
  try {
    const std::string strFrom =
        m_strPackageFolder.empty() ? strExecutableFolder() + "/FilterDriver" : m_strPackageFolder;
    const std::string strTo = strBase + PACKAGE_SUBFOLDER;
    std::error_code ec;
    std::filesystem::create_directories(strTo, ec);
    int nErr = nWritePackageFile(strFrom + "/" + RULES_FILE, strTo + "/" + RULES_FILE);
    if (nErr != 0) {
      vDEBUG_ERR_printf(L, "Load Filter Driver inf, WriteFile Failed, Erroe=%d", nErr);
      return -1;
    }
    nErr = nWritePackageFile(strFrom + "/" + SHIM_FILE, strTo + "/" + SHIM_FILE);
    if (nErr != 0) {
      vDEBUG_ERR_printf(L, "Load k4821605.DLL, WriteFile Failed, Erroe=%d", nErr);
      return -10;
    }
    nErr = nWritePackageFile(strFrom + "/" + UNINSTALL_FILE, strTo + "/" + UNINSTALL_FILE);
    if (nErr != 0) {
      vDEBUG_ERR_printf(L, "Load %s, WriteFile Failed, Erroe=%d", "/DeleteVlntufdriver.sh", nErr);
      return -1;
    }
    return 0;
  } catch (...) {
    vDEBUG_ERR_printf(L, "catch Failed, ERROR=%d", errno);
    return -1;
  }
}

int CMPToolDlg::nADD_Delete_DevconFile(const std::string& strFolder, uint8_t bAdd) {
  if (bAdd == 0) return 0;
  if (::access(strFolder.c_str(), W_OK | X_OK) != 0) {
    vDEBUG_ERR_printf("CMPToolDlg::nADD_Delete_DevconFile", "program folder %s not writable, Erroe=%d",
                      strFolder.c_str(), errno);
    return -10;
  }
  return 0;
}

int CMPToolDlg::Remove_FilterDriverAndFiles(const std::string& strBase) {
  static const char* L = "CMPToolDlg::Remove_FilterDriverAndFiles";
  vDEBUG_MSG_printf(L, " Remove_FilterDriverAndFiles ..... ");
  int nResult = 0;
  try {
    if (m_utility.m_bAutoInstallFilterDriver) {
      nResult = m_utility.InstallFilterDriver(0);
      if (nResult == 0)
        vDEBUG_MSG_printf(L, "Remove FilterDriver failed(%s) Success", "RemoveVlntDriver");
      else
        vDEBUG_ERR_printf(L, "Remove FilterDriver failed[%d],", nResult);
    }
    const std::string strTemp = strBase + "VLN318xFW/Temp";
    ::unlink((strTemp + "/TempBinData.bin").c_str());
    ::rmdir(strTemp.c_str());
    const std::string strD = strBase + PACKAGE_SUBFOLDER;
    if (m_utility.vCheckFilePathExists(strD, false)) {
      for (const char* pszName : {RULES_FILE, UNINSTALL_FILE, SHIM_FILE})
        ::unlink((strD + "/" + pszName).c_str());
    }
  } catch (...) {
    vDEBUG_ERR_printf(L, "catch Failed, ERROR=%d", errno);
  }
  return nResult;
}

int CMPToolDlg::vExitSequence() {
  static const char* L = "CMPToolDlg::vExitSequence";
  int nPower = -4;
  try {
    // Noted first: restoring the power settings clears it.
    const bool bAutoInstall = m_utility.m_bAutoInstallFilterDriver;
    Remove_FilterDriverAndFiles(m_strDriverBase.empty() ? strTempFolder() : m_strDriverBase);
    if (m_pUSBDev) nPower = m_pUSBDev->SetPWManagementEnable();
    view().nMessageBox(nPower == 0
                           ? "OK! please reboot your computer or replug your hubs to recovery registry "
                             "setting of hubs"
                           : "RecoveryPS...",
                       EXIT_CAPTION, MB_OK | MB_ICONWARNING);
    if (bAutoInstall) {
      view().nMessageBox("** Click OK to REBOOT IMMEDIATELY **\r\n", EXIT_CAPTION, MB_OK | MB_ICONWARNING);
      m_clock.bSleepMs(500);
      m_utility.RebootSystem();
    }
  } catch (...) {
    vDEBUG_ERR_printf(L, "catch Failed, ERROR=%d", errno);
  }
  return nPower;
}
