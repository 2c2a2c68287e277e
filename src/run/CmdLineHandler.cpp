#include "run/CmdLineHandler.h"

#include <cctype>
#include <cerrno>

#include "device/UsbSpeedWords.h"
#include "log/DebugLog.h"

namespace {
const char* L = "CMPToolDlg::vCmdLineHandler";

bool bEqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}
}  // namespace

CCmdLineHandler::CCmdLineHandler(DeviceList& devList, IWindowThread& window, IScsiPassThroughPlatform& scsi,
                                 IClock& clock)
    : m_devList(devList), m_window(window), m_clock(clock), m_bridge(scsi, clock, &m_list) {}

void CCmdLineHandler::vConfigure(CmdLineOptions request, std::function<void(int)> fnExitProcess) {
  m_request = std::move(request);
  m_fnExitProcess = std::move(fnExitProcess);
}

void CCmdLineHandler::vCmdLineHandler() {
  // The production modes are the run's: it may be writing the records now, so not even a
  // copy is taken.
  if (bCmdLineRunsProduction(m_request.m_nCmdLineMode)) return;
  try {
    DeviceList list;
    if (!m_window.bSend([&] { list = m_devList; }, m_stop.get_token())) return;
    std::optional<int> optCode = optHandle(list);
    if (optCode && m_fnExitProcess) m_fnExitProcess(*optCode);
  } catch (...) {
    vDEBUG_ERR_printf(L, "vCmdLineHandler , dwErrorCode %d", errno);
    // A production script must never read success from a handler that broke down.
    if (m_fnExitProcess && !bCmdLineRunsProduction(m_request.m_nCmdLineMode))
      m_fnExitProcess(EXIT_CMD_FAILED);
  }
}

std::optional<int> CCmdLineHandler::optHandle(const DeviceList& list) {
  m_list = list;
  const int nHubs = std::min<int>(m_list.DevNums, MAX_DEV_RECORDS);
  if (nHubs <= 0) return std::nullopt;
  const DevRecord& first = m_list.dev[0];
  switch (m_request.m_nCmdLineMode) {
    case CMDLINE_CHECK_FW:
      for (int i = 0; i < nHubs; ++i) {
        if (!bEqualNoCase(m_list.dev[i].strFWVersion, m_request.m_strCmdLineFW)) {
          vDEBUG_MSG_printf(L, "FW unmatch");
          return EXIT_CMD_FW_UNMATCH;
        }
      }
      return EXIT_CMD_OK;
    case CMDLINE_LED:
      for (int i = 0; i < nHubs; ++i) {
        if (!LEDControl(i, BRIDGE_LED1_MASK, static_cast<uint32_t>(m_request.m_ucCmdLineLED[0]))) {
          vDEBUG_MSG_printf(L, "Dev[%d], set led 1 %d fail", i, m_request.m_ucCmdLineLED[0]);
          return EXIT_CMD_FAILED;
        }
        if (!LEDControl(i, BRIDGE_LED2_MASK, static_cast<uint32_t>(m_request.m_ucCmdLineLED[1]))) {
          vDEBUG_MSG_printf(L, "Dev[%d], set led 2 %d fail", i, m_request.m_ucCmdLineLED[1]);
          return EXIT_CMD_FAILED;
        }
      }
      return EXIT_CMD_OK;
    case CMDLINE_SPEED: {
      int nCode = nUsbTextSpeedExitCode(first.strUSBText);
      if (nCode < 0) {
        vDEBUG_MSG_printf(L, "get usb spd fail");
        return EXIT_CMD_FAILED;
      }
      return nCode;
    }
    case CMDLINE_PROTOCOL:
      if (first.ucProtocolCode == PROTOCOL_CODE_USB3) return 3;
      if (first.ucProtocolCode == PROTOCOL_CODE_USB2) return 2;
      vDEBUG_MSG_printf(L, "get usb Protocol fail");
      return EXIT_CMD_FAILED;
    case CMDLINE_CC:
      if (first.ucCcOrientation == 1) return 4;
      if (first.ucCcOrientation == 2) return 5;
      vDEBUG_MSG_printf(L, "get CC orientation fail");
      return EXIT_CMD_FAILED;
    case CMDLINE_CHIP:
      if (first.ucChipCode <= 5) return first.ucChipCode;
      vDEBUG_MSG_printf(L, "get IC fail");
      return EXIT_CMD_CHIP_UNKNOWN;
    default:
      return std::nullopt;  // the production modes: auto mode runs them and ends the process
  }
}

bool CCmdLineHandler::LEDControl(int nSlot, uint8_t ucMask, uint32_t ulEnable) {
  const char* LL = "CMPToolDlg::LEDControl";
  // 1.
  bool bResult = true;
  try {
    // 2. A hub without a drive that opens: nothing to do.
    std::unique_ptr<IScsiDriveHandle> h = m_bridge.pOpenRecordDrive(nSlot);
    if (!h) return true;
    const std::stop_token st = m_stop.get_token();
    // 3.
    uint8_t ucGet = 0;
    if (m_bridge.SCSI5872_AccessRegister(h.get(), 0, BRIDGE_LED_REGISTER, &ucGet, 1, st) != 0) {
      vDEBUG_MSG_printf(LL, "Get LED Status Fail , [%d] SCSI5872_AccessRegister Failed ", nSlot);
      return false;
    }
    // 4. Three tries that never read the new value back fail: the LED is not as asked.
    bResult = false;
    for (int nTry = 0; nTry < LED_TRIES && !st.stop_requested(); ++nTry) {
      uint8_t ucSet = ucLedRegisterValue(ucGet, ucMask, ulEnable);
      if (m_bridge.SCSI5872_AccessRegister(h.get(), 1, BRIDGE_LED_REGISTER, &ucSet, 1, st) != 0)
        vDEBUG_MSG_printf(LL, "Get LED Status Fail , [%d] SCSI5872_AccessRegister Failed ", nSlot);
      if (m_bridge.SCSI5872_AccessRegister(h.get(), 0, BRIDGE_LED_REGISTER, &ucGet, 1, st) != 0) {
        vDEBUG_MSG_printf(LL, "Get LED Status Fail , [%d] SCSI5872_AccessRegister Failed ", nSlot);
        break;
      }
      vDEBUG_MSG_printf(LL, "LEDControl[%d], ucGetLEDStatus=0x%2X\tucSetLEDStatus =%x", nSlot, ucGet, ucSet);
      if (ucGet == ucSet) {
        bResult = true;
        break;
      }
      m_clock.bSleepMs(LED_RETRY_WAIT_MS, st);
      vDEBUG_MSG_printf(
          LL,
          "############################bEnable=%x################################################"
          "LEDControl[%d], ucGetLEDStatus=%x\tucSetLEDStatus =%x",
          ulEnable, nSlot, ucGet, ucSet);
    }
    // 5. The drive closes with its handle.
    return bResult;
  } catch (...) {
    vDEBUG_ERR_printf(LL, "Get LED Status Fail , [%d] SCSI5872_AccessRegister Failed ", nSlot);
    return false;  // the LED state is not known: never report it as set
  }
}
