#include "platform/linux/DeviceStateSysfs.h"

#include <libudev.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/linux/SysfsRead.h"

bool bUdevQueueIsEmpty() {
  udev* u = udev_new();
  if (!u) return true;  // no udev: nothing to wait for
  udev_queue* q = udev_queue_new(u);
  bool bEmpty = !q || udev_queue_get_queue_is_empty(q) != 0;
  if (q) udev_queue_unref(q);
  udev_unref(u);
  return bEmpty;
}

CDeviceStateSysfs::CDeviceStateSysfs(IClock& clock, std::string strRoot, UdevSettledFn settled)
    : m_clock(clock), m_strRoot(std::move(strRoot)), m_settled(std::move(settled)) {}

bool CDeviceStateSysfs::bValidHub(const std::string& strHub) const {
  if (strHub.empty() || strHub.find('/') != std::string::npos || strHub == "." || strHub == "..")
    return false;
  struct stat st {};
  return ::stat((m_strRoot + "/" + strHub).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int CDeviceStateSysfs::nRescan() {
  if (!m_settled) return 0;
  uint64_t ullStart = m_clock.ullNowMs();
  while (!m_settled()) {
    if (m_clock.ullNowMs() - ullStart >= RESCAN_TIMEOUT_MS) return ETIMEDOUT;
    m_clock.bSleepMs(20);
  }
  return 0;
}

int CDeviceStateSysfs::nRestartHub(const std::string& strHub) {
  if (!bValidHub(strHub)) return ENOENT;
  // The hub driver turns autosuspend back on whenever it binds a hub, so the restart would
  // undo a hub kept awake: its power/control is read first and written back afterwards.
  std::string strControl;
  const bool bControl = sysfs::nReadText(strSuspendSettingName(strHub), strControl) == 0 &&
                        (strControl == "on" || strControl == "auto");
  std::string strPath = m_strRoot + "/" + strHub + "/authorized";
  int nErr = sysfs::nWriteText(strPath, "0");
  if (nErr != 0) return nErr;
  nErr = sysfs::nWriteText(strPath, "1");
  if (nErr != 0 || !bControl) return nErr;
  std::string strNow;
  if (sysfs::nReadText(strSuspendSettingName(strHub), strNow) == 0 && strNow == strControl) return 0;
  return sysfs::nWriteText(strSuspendSettingName(strHub), strControl);
}

std::string CDeviceStateSysfs::strSuspendSettingName(const std::string& strHub) const {
  return m_strRoot + "/" + strHub + "/power/control";
}

int CDeviceStateSysfs::nReadControl(const std::string& strHub, std::string& strValue) {
  if (!bValidHub(strHub)) return ENOENT;
  int nErr = sysfs::nReadText(strSuspendSettingName(strHub), strValue);
  if (nErr != 0) return nErr;
  if (strValue != "on" && strValue != "auto") return EINVAL;
  std::lock_guard<std::mutex> l(m_mutex);
  m_mapFirstControl.emplace(strHub, strValue);
  return 0;
}

int CDeviceStateSysfs::nGetSuspendSetting(const std::string& strHub, int& nValue) {
  std::string s;
  int nErr = nReadControl(strHub, s);
  if (nErr != 0) return nErr;
  nValue = s == "auto" ? 1 : 0;
  return 0;
}

int CDeviceStateSysfs::nSetSuspendSetting(const std::string& strHub, int nValue) {
  std::string strCurrent;
  int nErr = nReadControl(strHub, strCurrent);
  if (nErr != 0 && nErr != EINVAL) return nErr;
  std::string strWanted = "on";
  {
    std::lock_guard<std::mutex> l(m_mutex);
    if (nValue == 0) {
      // What we write ourselves must not become the value to restore.
      m_mapFirstControl.emplace(strHub, "auto");
    } else {
      auto it = m_mapFirstControl.find(strHub);
      strWanted = it != m_mapFirstControl.end() ? it->second : "auto";
    }
  }
  return sysfs::nWriteText(strSuspendSettingName(strHub), strWanted);
}
