#include "platform/sim/SimDeviceEvents.h"

#include "log/DebugLog.h"

CSimDeviceEvents::~CSimDeviceEvents() {
  vStop();
}

bool CSimDeviceEvents::bStart(DeviceEventCallback cb) {
  std::lock_guard<std::mutex> l(m_startMutex);
  if (m_bStarted || !cb) return false;
  {
    std::unique_lock<std::shared_mutex> w(m_cbMutex);
    m_cb = std::move(cb);
  }
  m_bStarted = true;
  m_bench.vSetHubEventHandler([this](int h, bool bPresent) { vOnHub(h, bPresent); });
  return true;
}

void CSimDeviceEvents::vStop() {
  std::lock_guard<std::mutex> l(m_startMutex);
  if (!m_bStarted) return;
  m_bench.vSetHubEventHandler(nullptr);
  std::unique_lock<std::shared_mutex> w(m_cbMutex);  // waits for a callback that runs
  m_cb = nullptr;
  m_bStarted = false;
}

void CSimDeviceEvents::vInject(const DeviceEvent& ev) {
  std::shared_lock<std::shared_mutex> r(m_cbMutex);
  if (!m_cb) return;
  try {
    m_cb(ev);
  } catch (...) {
    vDEBUG_ERR_printf("CSimDeviceEvents::vInject", "catch(...) device event callback");
  }
}

void CSimDeviceEvents::vOnHub(int h, bool bPresent) {
  for (bool bSS : {false, true}) {
    if (bSS && !m_bench.bHasSuperSpeedHalf(h)) continue;
    std::string s = m_bench.strDeviceName(h, bSS);
    DeviceEvent ev;
    ev.eAction = bPresent ? EDeviceAction::Arrival : EDeviceAction::Removal;
    ev.eClass = EDeviceClass::Hub;
    ev.strName = s.rfind("usb:", 0) == 0 ? s.substr(4) : s;
    vInject(ev);
  }
}
