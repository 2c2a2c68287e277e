#include "run/SafeRemoval.h"

#include <cerrno>
#include <chrono>

#include "log/DebugLog.h"

CSafeRemoval::CSafeRemoval(CUSBUtility& utility, DeviceList& devList, IRunView& view, IWindowThread& window,
                           IScsiPassThroughPlatform& scsi, IClock& clock)
    : m_utility(utility),
      m_devList(devList),
      m_view(view),
      m_window(window),
      m_bridge(scsi, clock, &m_list) {}

CSafeRemoval::~CSafeRemoval() {
  std::jthread t;
  {
    std::lock_guard<std::mutex> l(m_mutex);
    t = std::move(m_pUSBRemoveThread);
  }
  // jthread: stop request, then join; the thread ends at its next wait.
}

void CSafeRemoval::OnBnClickedButtonSafelyRemove() {
  try {
    std::lock_guard<std::mutex> l(m_mutex);
    if (m_bRunning) {
      vDEBUG_MSG_printf("CMPToolDlg::OnBnClickedButtonSafelyRemove",
                        "OnBnClickedButtonSafelyRemove: USBRemoveThreadFun is running");
      return;
    }
    if (m_pUSBRemoveThread.joinable()) m_pUSBRemoveThread.join();  // ended already
    m_view.vSetControls(ERunControls::Run);
    m_list = m_devList;  // this is the window thread: the list is whole here
    m_bRunning = true;
    m_utility.m_bRemovingUSB = true;  // before the thread starts: no scan slips in between
    // Taken here, while a run that sends the removal still holds the mark. Without it (another
    // copy holds it) the disks are still taken off the bus in order.
    m_bMarkHeld = m_utility.bBeginProductionRun(0);
    m_pUSBRemoveThread = std::jthread([this](std::stop_token st) {
      USBRemoveThreadFun(st);
      if (m_bMarkHeld.exchange(false)) m_utility.vEndProductionRun();
      m_bRunning = false;
    });
  } catch (...) {
    if (m_bMarkHeld.exchange(false)) m_utility.vEndProductionRun();
    m_bRunning = false;
    m_utility.m_bRemovingUSB = false;
    vDEBUG_ERR_printf("CMPToolDlg::OnBnClickedButtonSafelyRemove",
                      "OnBnClickedButtonSafelyRemove: dwErrorCode %d", errno);
  }
}

int CSafeRemoval::USBRemoveThreadFun(std::stop_token st) {
  const char* L = "CMPToolDlg::USBRemoveThreadFun";
  try {
    m_utility.m_bRemovingUSB = true;
    int nFailed = 0;
    for (int i = 0; i < MAX_DEV_RECORDS && !st.stop_requested(); ++i) {
      const DevRecord& r = m_list.dev[i];
      if (r.ucIndex == DEV_SLOT_EMPTY || r.strFWVersion.empty()) continue;
      if (!m_bridge.vDisconnectAllDevice(i, st)) {
        ++nFailed;
        vDEBUG_MSG_printf(L, "USBRemoveThreadFun: vSafeRemoveUSB Fail , [%d] ", i);
      }
    }
    m_nFailed = nFailed;
    m_utility.m_bRemovingUSB = false;
    m_window.bSend([this] { m_view.vSetControls(ERunControls::Normal); }, st);
    return 1;
  } catch (...) {
    vDEBUG_ERR_printf(L, "USBRemoveThreadFun: dwErrorCode %d", errno);
    m_utility.m_bRemovingUSB = false;
    return 0;
  }
}

bool CSafeRemoval::bWaitDone(uint64_t ullRealMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ullRealMs);
  while (m_bRunning) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::lock_guard<std::mutex> l(m_mutex);
  if (m_pUSBRemoveThread.joinable()) m_pUSBRemoveThread.join();
  return true;
}
