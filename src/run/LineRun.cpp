// The run's side of line mode: the serial numbers reserved at Start and the rows sent at the
// run's end. Nothing here runs without a line.
#include "log/DebugLog.h"
#include "run/RunEngine.h"
#include "settings/SerialNumber.h"

namespace {
const char* L = "CRunEngine::Line";

LineIdentity stIdentity(const DevRecord& d) {
  return {d.strVID, d.strPID, d.strDeviceRelease, d.strSerialNumber};
}
}  // namespace

bool CRunEngine::bReserveLineSerials(const MAIN_THREAD_INFO& info, std::string& strWhy) {
  try {
    const INISettings& ini = m_ini.m_pINI;
    // A run that counts no serial numbers takes none; a command-line serial number is the
    // production script's own choice for that run.
    if (!bRunAdvancesSN(ini, m_screen.strFWPath) || !m_config.cmdLine.m_strCmdLineSN.empty()) return true;
    // Hub i of the run gets the count i: the reservation reaches the highest slot of the run.
    uint8_t ucSpan = 0;
    for (int i = 0; i < MAX_DEV_RECORDS; ++i)
      if (info.ucSelected[i] == 1) ucSpan = static_cast<uint8_t>(i + 1);
    const std::string& strOwn = m_screen.strSerialNumber;
    LineSeries series;
    series.strPrefix = strSNPrefix(ini, strOwn);
    series.nBase = ini.ucSN_EditType == SN_EDIT_HEX ? 16 : 10;
    series.nLength = static_cast<int>(strOwn.size());
    const LineSerialAfterFn fnAfter = [&ini](const std::string& strSN, uint8_t ucCount) {
      return strSerialNumberAfter(ini, strSN, ucCount);
    };
    std::string strFirst;
    if (!m_config.pLine->bReserveSerials(series, strOwn, ucSpan, fnAfter, strFirst, strWhy)) {
      if (strWhy.empty()) strWhy = "no serial numbers could be reserved";
      strWhy = "Production run refused: line mode: " + strWhy + ": no hub was touched";
      vDEBUG_ERR_printf(L, "%s", strWhy.c_str());
      return false;
    }
    if (strFirst != strOwn) {
      vDEBUG_MSG_printf(L, "line serial numbers from [%s] (the station had [%s])", strFirst.c_str(),
                        strOwn.c_str());
      m_screen.strSerialNumber = strFirst;
      m_view.vSetSerialNumberBox(strFirst);
    }
    return true;
  } catch (...) {
    strWhy = "Production run refused: line mode: the reservation failed";
    vDEBUG_ERR_printf(L, "%s", strWhy.c_str());
    return false;
  }
}

void CRunEngine::vRecordLineRun(const MAIN_THREAD_INFO& info,
                                const std::array<DevRecord, MAX_DEV_RECORDS>& before,
                                const std::array<DevRecord, MAX_DEV_RECORDS>& logged, bool bFail) {
  try {
    const INISettings& ini = m_ini.m_pINI;
    const DevListRunFlags& f = m_devList.flags;
    const bool bCounts = bRunAdvancesSN(ini, m_utility.m_strFWFilePath);
    LineRun run;
    run.strFirmwareFile = f.ucFw_enablel == 1 ? m_utility.m_strFWFilePath : std::string();
    run.nExitCode = bFail ? EXIT_RUN_FAILED : EXIT_RUN_PASSED;
    for (int i = 0; i < MAX_DEV_RECORDS; ++i) {
      if (info.ucSelected[i] != 1) continue;
      const DevRecord& d = logged[i];
      LineHubRow row;
      row.nSlot = i;
      row.strPortPath = before[i].m_strHubObjectName;
      row.before = stIdentity(before[i]);
      row.after = stIdentity(d);
      // Only a counted serial number is known here; a configuration ROM file brings its own.
      if (bCounts) row.strSerialWritten = strSerialNumberAfter(ini, m_strRunSN, static_cast<uint8_t>(i));
      row.bPassed = bHubPassed(d);
      const DevResults& r = d.results;
      auto step = [&row](bool bOn, const char* pszName, bool bPass) {
        if (bOn) row.vecSteps.emplace_back(pszName, bPass ? "PASS" : "FAIL");
      };
      step(f.ucFw_enablel == 1, "update", r.ucUpdateResult == 1);
      step(f.ucFw_reload == 1, "reload", r.ucRelinkResult == 1);
      step(f.ucConfig_Check == 1, "config_check", r.ucConfigCheckResult == 1);
      step(f.ucFormat_enable == 1, "partition", r.ucPartitionResult == 1);
      step(f.ucFormat_enable == 1, "format", r.ucFormatResult == 1);
      step(f.ucWr_test_enable == 1, "write_read", r.ucWrTestResult == 1);
      step(f.ucPreload_enable == 1, "preload", r.ucPreloadResult == 1);
      step(f.ucCheck_USBStatus_enable == 1, "usb_status", r.ucUSBStatusResult == 1);
      step(f.ucHDDCapacityCheck_enable == 1, "capacity", r.ucCapacityResult == 1);
      run.vecHubs.push_back(std::move(row));
    }
    m_config.pLine->vRecordRun(run);
  } catch (...) {
    vDEBUG_ERR_printf(L, "the run's rows could not be handed to the line");
  }
}
