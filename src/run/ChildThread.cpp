// The per-hub worker: configuration block and firmware into the hub's flash, read-back and
// comparison, link speed, the CPU reset in depth order, and the descriptor check against
// the identity the hub reports after it came back.
#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "device/UsbSpeedWords.h"
#include "device/VlntUSBDev.h"
#include "images/FlashImage.h"
#include "log/DebugLog.h"
#include "run/RunEngine.h"
#include "settings/SerialNumber.h"

namespace {
const char* L = "CMPToolDlg::ChildThreadFun";

constexpr uint64_t RESET_LOCK_POLL_MS = 20;
// The read-back compares the configuration block from this byte on (bytes 0 to 3 are left
// out).
constexpr int CONFIG_COMPARE_FIRST = 4;

}  // namespace

int CRunEngine::nSettledCount() const {
  // A measure of the others' progress towards their resets: it grows whenever a hub becomes
  // ready, resets or finishes.
  int n = 0;
  for (const auto& c : m_ChildInfo) {
    uint8_t s = c.ucThreadState.load();
    if (s == CHILD_THREAD_RST_READY) n += 1;
    if (s == CHILD_THREAD_RST_DONE) n += 2;
    if (s == CHILD_THREAD_FINISH) n += 3;
  }
  return n;
}

bool CRunEngine::bResetTurn(int nSlot) const {
  // Every hub of the run has finished its update and checks, and every deeper hub of the
  // run has finished (reset and checked, or skipped its reset): resetting a hub takes every
  // hub below it off the bus, so the deepest go first.
  const uint8_t ucDepth = m_devList.dev[nSlot].m_ucHubDepth;
  int nReady = 0;
  for (int i = 0; i < MAX_DEV_RECORDS; ++i) {
    uint8_t s = m_ChildInfo[i].ucThreadState.load();
    if (s == CHILD_THREAD_IDLE) continue;
    if (s == CHILD_THREAD_RST_READY || s == CHILD_THREAD_RST_DONE || s == CHILD_THREAD_FINISH) ++nReady;
    if (i != nSlot && m_devList.dev[i].m_ucHubDepth > ucDepth && s != CHILD_THREAD_FINISH) return false;
  }
  return nReady >= m_ChildInfo[nSlot].ucDevCount;
}

bool CRunEngine::bEnterResetLock(std::stop_token st) {
  // Stop-aware: tries again whenever the holder announces its release (plain try_lock: the
  // timed form is invisible to the thread checker, which then reports every unlock as
  // wrong). The short poll only covers a holder outside the engine.
  for (;;) {
    const uint64_t ullSeen = m_stateChanges.ullGeneration();
    if (m_utility.m_ReloadFWCriticalSection.try_lock()) return true;
    if (m_stateChanges.eWait(RESET_LOCK_POLL_MS, ullSeen, st) == CStateChanges::EWait::Stopped) return false;
  }
}

CRunEngine::EStep CRunEngine::eWaitHubBack(std::stop_token st, int nSlot, HubIdentity& id) {
  // After its reset the hub leaves the bus and comes back on the same port path; wait for
  // it (bounded) and take the identity it reports then.
  const uint64_t ullStart = m_clock.ullNowMs();
  int nRet;
  while ((nRet = m_devices.nReadHubIdentity(nSlot, id)) != 0) {
    if (m_clock.ullNowMs() - ullStart >= m_config.timings.uReturnTimeoutMs) {
      vDEBUG_ERR_printf(L, "ucTargetNumber[%d], hub did not come back on [%s] , dwErrorCode : %d", nSlot,
                        m_devList.dev[nSlot].m_strHubObjectName.c_str(), nRet);
      return EStep::Failed;
    }
    if (!m_clock.bSleepMs(m_config.timings.uReturnPollMs, st)) return EStep::Stopped;
  }
  return EStep::Passed;
}

CRunEngine::EStep CRunEngine::eDescriptorCheck(std::stop_token st, int nSlot) {
  HubIdentity id;
  const EStep eBack = eWaitHubBack(st, nSlot, id);
  if (eBack != EStep::Passed) return eBack;
  // A USB 2.0 half reports the second product id.
  std::string strPID = m_screen.strPID;
  if (id.usBcdUSB != 0 && id.usBcdUSB < 0x0300 && !m_screen.strPIDU2.empty()) strPID = m_screen.strPIDU2;
  // Each hub's table got the run's serial number counted on by its index.
  std::string strSN = strSerialNumberAfter(m_ini.m_pINI, m_strRunSN, static_cast<uint8_t>(nSlot));
  const std::pair<const std::string*, const std::string*> items[] = {
      {&id.strVID, &m_screen.strVID},         {&id.strPID, &strPID},
      {&id.strSerialNumber, &strSN},          {&id.strManufacturer, &m_screen.strManufacturer},
      {&id.strProduct, &m_screen.strProduct},
  };
  for (const auto& [pHub, pScreen] : items) {
    if (strcasecmp(pHub->c_str(), pScreen->c_str()) != 0) {
      vDEBUG_MSG_printf(L, "ucTargetNumber[%d], Config Check mismatch [%s] != [%s]", nSlot, pHub->c_str(),
                        pScreen->c_str());
      return EStep::Failed;
    }
  }
  return EStep::Passed;
}

CRunEngine::EStep CRunEngine::eUpdateHub(std::stop_token st, int nSlot) {
  DevRecord& d = m_devList.dev[nSlot];
  uint8_t ucChip = 0;
  if (m_devices.nReadChipRegister(nSlot, ucChip) != 0) {
    vDEBUG_ERR_printf(L, "VLN318xAccessRegister Failed,pChildThreadInfo->ucTargetNumber[%d]  ", nSlot);
    return EStep::Failed;
  }
  if (st.stop_requested()) return EStep::Stopped;
  vDEBUG_MSG_printf(L, "  updata config , pChildThreadInfo->ucTargetNumber[%d] ", nSlot);
  // A failed write or read-back fails the update (it must never count as written); one that
  // a stop request cut short is no verdict on the hub.
  if (!m_devices.bAccessHubConfig(nSlot, 1, d.ucConfigBlock.data(), st)) {
    if (st.stop_requested()) return EStep::Stopped;
    vDEBUG_ERR_printf(L, " vWrRdConfiguration image 0 Failed!!![%d] ", nSlot);
    return EStep::Failed;
  }
  std::array<uint8_t, CONFIG_BIN_SIZE> scratch{};
  if (!m_devices.bAccessHubConfig(nSlot, 0, scratch.data(), st)) {
    if (st.stop_requested()) return EStep::Stopped;
    vDEBUG_ERR_printf(L, " vWrRdConfiguration image 0 Failed!!![%d] ", nSlot);
    return EStep::Failed;
  }
  if (st.stop_requested()) return EStep::Stopped;
  vDEBUG_MSG_printf(L, "  updata firmware , pChildThreadInfo->ucTargetNumber[%d] ", nSlot);
  if (m_devices.vUpdateHubFirmware(nSlot, st) != 1) {
    if (st.stop_requested()) return EStep::Stopped;
    vDEBUG_ERR_printf(L, " vUpdate Firmware image 0 Failed!!![%d] ", nSlot);
    return EStep::Failed;
  }
  if (st.stop_requested()) return EStep::Stopped;
  std::vector<uint8_t> flash(HUB_IMAGE_SIZE, 0xFF);
  bool bPassed = true;
  if (!m_devices.bReadHubSPIROM(nSlot, flash.data(), st)) {
    if (st.stop_requested()) return EStep::Stopped;
    vDEBUG_ERR_printf(L, "ucTargetNumber[%d], bReadSPIROM fail , dwErrorCode : %d", nSlot, errno);
    bPassed = false;
  }
  // Compared even after a failed read: the log then says what the flash holds instead.
  if (!bFlashMatches(nSlot, flash)) bPassed = false;
  return bPassed ? EStep::Passed : EStep::Failed;
}

bool CRunEngine::bFlashMatches(int nSlot, const std::vector<uint8_t>& flash) {
  const DevRecord& d = m_devList.dev[nSlot];
  bool bMatches = true;
  // Configuration block, from its first compared byte on.
  for (int i = CONFIG_COMPARE_FIRST; i < CONFIG_BIN_SIZE; ++i) {
    if (flash[i] == d.ucConfigBlock[i]) continue;
    vDEBUG_ERR_printf(L, "Config content compare Fail , dwFlashFWLeng[ %d]", CONFIG_BIN_SIZE);
    bMatches = false;
    for (int k = i; k < i + 4 && k < CONFIG_BIN_SIZE; ++k)
      vDEBUG_ERR_printf(L, "Cnt[%d], ucBufConfigInfo[%x] != pBuf[%x]", k, d.ucConfigBlock[k], flash[k]);
    break;
  }
  // Firmware area against the whole flash image file: every byte written must read back
  // (the length in the flash itself may be what went wrong).
  const std::string strPath = strTempBinDataFilePath(m_utility.m_szAppPath);
  std::ifstream in(strPath, std::ios::binary);
  std::vector<uint8_t> file;
  if (in) file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  const size_t ulLen = file.size();
  if (!in || ulLen == 0 || !bImageFitsFirmwareArea(ulLen)) {
    vDEBUG_ERR_printf(L, "Malloc ucpFileBuf Fail , dwFWFileLen %d , strFWPatch  %s , dwErrorCode : %d",
                      static_cast<int>(ulLen), strPath.c_str(), errno);
    bMatches = false;
  }
  const uint8_t* pArea = flash.data() + HUB_FIRMWARE_AREA;
  const size_t ulCmp = std::min<size_t>(ulLen, FIRMWARE_AREA_SIZE);
  const int nFlashLen = pArea[0] | (pArea[1] << 8);
  for (size_t i = 0; i < ulCmp; ++i) {
    if (file[i] == pArea[i]) continue;
    vDEBUG_ERR_printf(L, "FW content compare Fail , dwFlashFWLeng[ %d]", nFlashLen);
    bMatches = false;
    for (size_t k = i; k < i + 4 && k < ulCmp; ++k)
      vDEBUG_ERR_printf(L, "Cnt[%x], ucpFileBuf[%x] != pBuf[%x]", static_cast<unsigned>(k), file[k],
                        pArea[k]);
    break;
  }
  return bMatches;
}

CRunEngine::EStep CRunEngine::eWaitResetTurn(std::stop_token st, int nSlot) {
  // The time-out counts from the last progress of the others, so a long chain of deeper
  // hubs resetting one by one never times a healthy hub out. The hub looks at the others
  // whenever a state changes, and at the latest after each poll interval.
  const RunTimings& t = m_config.timings;
  uint64_t ullSince = m_clock.ullNowMs();
  int nLastSettled = nSettledCount();
  for (;;) {
    const uint64_t ullSeen = m_stateChanges.ullGeneration();
    if (bResetTurn(nSlot)) return EStep::Passed;
    int nSettled = nSettledCount();
    if (nSettled != nLastSettled) {
      nLastSettled = nSettled;
      ullSince = m_clock.ullNowMs();
    }
    if (m_clock.ullNowMs() - ullSince > t.uResetReadyTimeoutMs) {
      vDEBUG_ERR_printf(L, "ucTargetNumber[%d], wait CPURST ready Time Out!!! , dwErrorCode : %d", nSlot, 0);
      return EStep::Failed;
    }
    if (m_stateChanges.eWait(t.uResetPollMs + t.uResetRetryMs, ullSeen, st) == CStateChanges::EWait::Stopped)
      return EStep::Stopped;
  }
}

CRunEngine::EStep CRunEngine::eResetHub(std::stop_token st, int nSlot, int& nReset) {
  const DevRecord& d = m_devList.dev[nSlot];
  vCell(nSlot, COL_RELINK, "doing...1", CELL_ORANGE, st);
  vDEBUG_MSG_printf(L,
                    " ucTargetNumber[%d], this Hub is unlock to do CPU reset, m_MaxHubDepth=%d, "
                    "m_ucHubDepth=%d ",
                    nSlot, m_devList.m_MaxHubDepth, d.m_ucHubDepth);
  if (!bEnterResetLock(st)) return EStep::Stopped;
  bool bHeld;
  {
    // Released on every way out, a stop during the hold included; the next hub in line is
    // told at once.
    struct ResetLock {
      CRunEngine& e;
      ~ResetLock() {
        e.m_utility.m_ReloadFWCriticalSection.unlock();
        e.m_stateChanges.vAnnounce();
      }
    } lock{*this};
    nReset = m_devices.VLN318xReset(nSlot, st);
    bHeld = m_clock.bSleepMs(m_config.timings.uResetHoldMs, st);
  }
  if (!bHeld) return EStep::Stopped;
  if (nReset != 0) {
    vDEBUG_ERR_printf(L, " ucTargetNumber[%d], vCPURST Failed, Error = %d ", nSlot, nReset);
    return EStep::Failed;
  }
  // The reset counts only when the hub is back: one that never returns did not take its new
  // firmware, whatever the checks after it.
  HubIdentity id;
  const EStep eBack = eWaitHubBack(st, nSlot, id);
  if (eBack == EStep::Passed) vSetThreadState(nSlot, CHILD_THREAD_RST_DONE);
  return eBack;
}

bool CRunEngine::bWorkerSteps(std::stop_token st, int nSlot) {
  CHILD_THREAD_INFO& info = m_ChildInfo[nSlot];
  DevRecord& d = m_devList.dev[nSlot];
  const DevListRunFlags f = m_devList.flags;
  const int nStep = 100 / (info.ucTestItemCount ? info.ucTestItemCount : 1);  // whole percents per item
  const float fStep = static_cast<float>(nStep);
  auto vAddProgress = [&] { info.fProgress = info.fProgress.load() + fStep; };
  uint8_t ucWorking = 1;

  // ---- Update ----
  if (d.ucIndex > MAX_DEV_RECORDS) {  // an index past the records names no hub
    ucWorking = 0;
    vCell(nSlot, COL_UPDATE, "", CELL_PLAIN, st);
  } else if (f.ucFw_enablel != 1) {
    vCell(nSlot, COL_UPDATE, "", CELL_PLAIN, st);
  } else {
    const EStep eUpdate = eUpdateHub(st, nSlot);
    if (eUpdate == EStep::Stopped) return false;
    ucWorking = eUpdate == EStep::Passed ? 1 : 0;
    d.results.ucUpdateResult = ucWorking;
    if (ucWorking == 1) {
      bOnWindow(
          [this, nSlot] { m_table.vUpdateMainResultSubItemTable(false, m_devList, m_ini.m_pINI, nSlot); },
          st);
      vCell(nSlot, COL_UPDATE, RESULT_PASS, CELL_PLAIN, st);
    } else {
      vCell(nSlot, COL_UPDATE, RESULT_FAIL, CELL_PLAIN, st);
    }
    vAddProgress();
  }

  // ---- USB status ----
  if (f.ucCheck_USBStatus_enable == 1) {
    // One mapping of USB texts to speed words for the whole tool (device/UsbSpeedWords.h).
    if (!bUsbTextMeetsDemand(d.strUSBText, m_screen.strUSBStatus)) ucWorking = 0;
    d.results.ucUSBStatusResult = ucWorking;
    vCell(nSlot, COL_STATUS, ucWorking == 1 ? RESULT_PASS : RESULT_FAIL, CELL_PLAIN, st);
    vAddProgress();
  }

  // ---- CPU reset ----
  if (ucWorking != 0 && f.ucFw_reload == 1) {
    vDEBUG_MSG_printf(L, " ucTargetNumber[%d], CHILD_THREAD_RST_READY, Hub Depth = %d ", nSlot,
                      d.m_ucHubDepth);
    vSetThreadState(nSlot, CHILD_THREAD_RST_READY);
    int nReset = -1;  // no reset made
    EStep eReset = eWaitResetTurn(st, nSlot);
    if (eReset == EStep::Passed) eReset = eResetHub(st, nSlot, nReset);
    if (eReset == EStep::Stopped) return false;
    ucWorking = eReset == EStep::Passed ? 1 : 0;
    vCell(nSlot, COL_PACKAGE, "", CELL_PLAIN, st);
    d.results.ucRelinkResult = ucWorking;
    if (ucWorking == 1)
      vCell(nSlot, COL_RELINK, RESULT_PASS, CELL_GREEN, st);
    else if (nReset != -3)  // the hub left the bus during the request: the cell keeps "doing...1"
      vCell(nSlot, COL_RELINK, RESULT_FAIL, CELL_PASS_OR_RED, st);
    if (!m_clock.bSleepMs(static_cast<uint64_t>(d.m_ucHubDepth) * m_config.timings.uDepthWaitMs, st))
      return false;
  } else {
    vCell(nSlot, COL_RELINK, "", CELL_PLAIN, st);
  }

  // ---- Config Check ----
  if (f.ucConfig_Check == 1 && ucWorking == 1) {
    const EStep eCheck = eDescriptorCheck(st, nSlot);
    if (eCheck == EStep::Stopped) return false;
    const uint8_t ucOk = eCheck == EStep::Passed ? 1 : 0;
    d.results.ucConfigCheckResult = ucOk;
    vCell(nSlot, COL_UPDATE, ucOk ? RESULT_PASS : RESULT_FAIL, CELL_PLAIN, st);
    vAddProgress();
  }
  return true;
}

int CRunEngine::ChildThreadFun(std::stop_token st, int nSlot) {
  CHILD_THREAD_INFO& info = m_ChildInfo[nSlot];
  DevRecord& d = m_devList.dev[nSlot];
  const DevListRunFlags f = m_devList.flags;
  try {
    // Stopped at a wait: the hub keeps the results it has.
    if (!bWorkerSteps(st, nSlot)) vDEBUG_MSG_printf(L, "ucTargetNumber[%d], stopped", nSlot);
    info.fProgress = 100.0f;
    vSetThreadState(nSlot, CHILD_THREAD_FINISH);
    return 1;
  } catch (...) {
    if (f.ucFw_enablel == 1) {
      d.results.ucUpdateResult = 0;
      vCell(nSlot, COL_UPDATE, RESULT_FAIL, CELL_PLAIN, st);
    } else {
      vCell(nSlot, COL_UPDATE, "", CELL_PLAIN, st);
    }
    if (f.ucFw_reload == 1) {
      d.results.ucRelinkResult = 0;
      vCell(nSlot, COL_RELINK, RESULT_FAIL, CELL_PLAIN, st);
    } else {
      vCell(nSlot, COL_RELINK, "", CELL_PLAIN, st);
    }
    vDEBUG_MSG_printf(L, "ChildThreadFun: dwErrorCode %d", errno);
    info.fProgress = 100.0f;
    vSetThreadState(nSlot, CHILD_THREAD_FINISH);
    return 0;
  }
}
