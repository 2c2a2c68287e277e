// The dated result log: one tab-separated line per hub of a run, appended to
// "YYYYMMDD.log" in the program folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "host/FileIO.h"
#include "log/DebugLog.h"
#include "platform/FileDescriptor.h"
#include "settings/Ini.h"

namespace {

const char* const kMPResultTitles[] = {"Date",
                                       "Time",
                                       "Target",
                                       "Port#",
                                       "HDD_SN",
                                       "VID",
                                       "PID",
                                       "iVersion",
                                       "iManugacturer",
                                       "iProduct",
                                       "SerialNumber",
                                       "FWVersion",
                                       "USB Speed",
                                       "PhysicalAddress",
                                       "LogicalAddress",
                                       "ConfigTableFormat",
                                       "UpdateVID",
                                       "UpdatePID",
                                       "UpdateRevision",
                                       "UpdateManufacturerString",
                                       "UpdateProductString",
                                       "UpdateSerialNumber",
                                       "UpdateSerialIncrease",
                                       "UpdateFWFile",
                                       "FormatDriveType",
                                       "FormatLabelName",
                                       "WrRdTestBinary",
                                       "WrRdTestCount",
                                       "UpdateFWResult",
                                       "ReloadFWResult",
                                       "DoPartitionFormatResult",
                                       "DoWrRdTestResult",
                                       "DoPreloadResult"};

// Fields are single-byte texts; like the fixed-size fields they come from, a text ends at
// its first zero byte.
std::string strField(const std::string& s) {
  return s.substr(0, s.find('\0')) + "\t";
}

std::string strNum(const char* pszFormat, int n) {
  char sz[32];
  std::snprintf(sz, sizeof(sz), pszFormat, n);
  return sz;
}

const std::string kEmpty = " \t";

}  // namespace

std::string Ini::strMPResultLogPath(const std::string& strAppPath, const std::tm& tmNow) {
  char sz[32];
  std::snprintf(sz, sizeof(sz), "%04d%02d%02d.%s", tmNow.tm_year + 1900, tmNow.tm_mon + 1, tmNow.tm_mday,
                "log");
  return strAppPath + "/" + sz;
}

std::string Ini::strBuildMPResultText(uint8_t ucIndex, const DevRecord& dev, const std::tm& tmNow,
                                      bool bWithHeader) const {
  const INISettings& r = m_pINI;
  std::string s;
  if (bWithHeader)
    for (const char* t : kMPResultTitles) s += std::string(t) + "\t";
  s += "\r\n";
  char sz[64];
  std::snprintf(sz, sizeof(sz), "%04d%02d%02d\t", tmNow.tm_year + 1900, tmNow.tm_mon + 1, tmNow.tm_mday);
  s += sz;
  std::snprintf(sz, sizeof(sz), "%02d:%02d:%02d\t", tmNow.tm_hour, tmNow.tm_min, tmNow.tm_sec);
  s += sz;
  s += strNum("%02d\t", ucIndex);
  s += strNum("%02d\t", dev.nPortId);
  s += strField(dev.strDiskSerialNumber);
  s += strField(dev.strVID);
  s += strField(dev.strPID);
  s += strField(dev.strDeviceRelease);
  s += strField(dev.strManufacturer);
  s += strField(dev.strProduct);
  s += strField(dev.strSerialNumber);
  s += strField(dev.strFWVersion);
  s += strField(dev.strUSBText);
  s += strNum("%02d\t", static_cast<int8_t>(dev.ucPhysicalDrive));
  // The logical address is written as one character; a zero byte would end the line's
  // text early, so it is left out.
  if (dev.ucLogicalAddress != 0) s += static_cast<char>(dev.ucLogicalAddress);
  s += "\t";

  const bool bFw = r.ucFw_enablel == 1;
  const bool bFormat = r.ucFormat_enable == 1;
  const bool bWr = r.ucWr_test_enable == 1;
  s += bFw ? strNum("%d\t", r.ucConfig_format) : kEmpty;
  for (const std::string* p :
       {&r.ucVendor_id, &r.ucProduct_id, &r.ucDevice_revision, &r.ucManufacturer_string, &r.ucProduct_string})
    s += bFw ? strField(*p) : kEmpty;
  s += kEmpty;  // under "UpdateSerialNumber": always empty
  s += bFw ? strNum("%d\t", r.ucSerial_number_increase) : kEmpty;
  s += bFw ? strField(r.ucFw_binary_name) : kEmpty;
  s += bFormat ? strNum("%d\t", r.ucFormat_drive_type) : kEmpty;
  s += bFormat ? strField(r.ucDrive_label_name) : kEmpty;
  s += bWr ? strField(r.ucWr_test_binary_name) : kEmpty;
  s += bWr ? strNum("%d\t", r.ucWr_test_count) : kEmpty;

  auto result = [&](bool bEnabled, uint8_t ucFlag) {
    if (!bEnabled) return kEmpty;
    return (ucFlag == 1 ? m_strPass : m_strFail) + "\t";
  };
  const DevResults& res = dev.results;
  s += result(bFw, res.ucUpdateResult);
  // The reload result also carries the descriptor check made after the reset: a hub that
  // came back with other descriptors did not reload what was written.
  const bool bCheck = r.ucConfig_Check == 1;
  s += result(
      r.ucFw_reload == 1 || bCheck,
      (r.ucFw_reload != 1 || res.ucRelinkResult == 1) && (!bCheck || res.ucConfigCheckResult == 1) ? 1 : 0);
  s += result(bFormat, res.ucPartitionResult);
  s += result(bFormat, res.ucFormatResult);
  s += result(bWr, res.ucWrTestResult);
  s += result(r.ucPreload_enable == 1, res.ucPreloadResult);
  s += kEmpty;
  return s;
}

bool Ini::vLogMPResult(uint8_t ucIndex, const DeviceList& devList, const std::string& strAppPath) {
  // nErr: the errno of the step that failed.
  auto bFail = [&](int nErr) {
    m_nLastFileError = nErr ? nErr : EIO;
    vDEBUG_MSG_printf("Ini::vLogMPResult", "vLogMPResult: [%d] , dwErrorCode %d", ucIndex, nErr);
    return false;
  };
  try {
    if (ucIndex >= MAX_DEV_RECORDS) return bFail(errno);
    std::tm tmNow = m_fnLocalTime ? m_fnLocalTime() : std::tm{};
    std::string strPath = strMPResultLogPath(strAppPath, tmNow);
    bool bNew = access(strPath.c_str(), F_OK) != 0;
    std::string strText = strBuildMPResultText(ucIndex, devList.dev[ucIndex], tmNow, bNew);
    CFileDescriptor fd(open(strPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!fd.bValid()) return bFail(errno);
    if (!bWriteAll(fd.get(), strText.data(), strText.size()) || fsync(fd.get()) != 0) return bFail(errno);
    // The line is only known to be on disk once the close has succeeded too.
    if (const int nCloseErr = fd.nClose(); nCloseErr != 0) return bFail(nCloseErr);
    m_nLastFileError = 0;
    return true;
  } catch (...) {
    return bFail(errno);
  }
}
