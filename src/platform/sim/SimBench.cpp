#include "platform/sim/SimBench.h"

#include <chrono>

#include "platform/sim/SimClock.h"

std::unique_ptr<CSimBench> CSimBench::pLoad(const std::string& strPath, std::string& strError) {
  SimBenchSpec def;
  if (!bReadSimBenchFile(strPath, def, strError)) return nullptr;
  auto p = pFromSpec(def, strError);
  if (!p) strError = "bench file " + strPath + ": " + strError;
  return p;
}

std::unique_ptr<CSimBench> CSimBench::pFromSpec(const SimBenchSpec& def, std::string& strError) {
  std::unique_ptr<CSimBench> p(new CSimBench());
  p->m_def = def;
  p->m_pClock = pMakeBenchClock(def.dTimeScale);
  for (size_t c = 0; c < def.vecControllers.size(); ++c) p->m_vecControllerLocks.push_back(std::make_unique<std::mutex>());
  for (const auto& h : def.vecHubs) {
    auto chip = std::make_unique<CSimHubChip>(h, *p->m_pClock);
    if (!chip->bOpenFlash(strError)) return nullptr;
    p->m_vecChips.push_back(std::move(chip));
  }
  return p;
}

CSimBench::~CSimBench() {
  if (m_timer.joinable()) {
    m_timer.request_stop();
    m_cvTimer.notify_all();
    m_timer.join();
  }
}

int CSimBench::nFindHub(const std::string& strName) const {
  for (int h = 0; h < nHubs(); ++h)
    if (m_def.vecHubs[h].strName == strName) return h;
  return -1;
}

int CSimBench::nHubDepth(int h) const {
  int d = 0;
  while (m_def.vecHubs[h].nParentIndex >= 0) h = m_def.vecHubs[h].nParentIndex, ++d;
  return d;
}

std::vector<uint8_t> CSimBench::vecPortPath(int h) const {
  std::vector<uint8_t> v;
  for (; h >= 0; h = m_def.vecHubs[h].nParentIndex) v.insert(v.begin(), static_cast<uint8_t>(m_def.vecHubs[h].nPort));
  return v;
}

bool CSimBench::bHasSuperSpeedHalf(int h) const {
  for (; h >= 0; h = m_def.vecHubs[h].nParentIndex)
    if (!m_def.vecHubs[h].bUsb3) return false;
  return true;
}

std::string CSimBench::strDeviceName(int h, bool bSuperSpeed) const {
  auto path = vecPortPath(h);
  return strMakeFilterDeviceName(ucBus(nHubController(h), bSuperSpeed), path.data(), static_cast<int>(path.size()));
}

int CSimBench::nResolveName(const std::string& strName, bool& bSuperSpeed) const {
  FilterDeviceName n;
  if (!bParseFilterDeviceName(strName, n)) return -1;
  int c = (n.ucBus - 1) / 2;
  bool ss = (n.ucBus - 1) % 2 == 1;
  for (int h = 0; h < nHubs(); ++h) {
    if (nHubController(h) != c || (ss && !bHasSuperSpeedHalf(h))) continue;
    auto path = vecPortPath(h);
    if (path.size() == n.ucDepth && std::equal(path.begin(), path.end(), n.ucPorts)) {
      bSuperSpeed = ss;
      return h;
    }
  }
  return -1;
}

SimHubIdentity CSimBench::stIdentity(int h) {
  SimChipEvents ev;
  m_vecChips[h]->ullRefresh(ev);
  vFire(h, ev);
  return m_vecChips[h]->stIdentity();
}

void CSimBench::vSetPlugged(int h, bool bPlugged) {
  SimChipEvents ev;
  m_vecChips[h]->vSetPlugged(bPlugged, ev);
  vFire(h, ev);
}

void CSimBench::vSetHubEventHandler(HubEventFn fn) {
  {
    std::lock_guard<std::mutex> l(m_eventMutex);
    m_fnEvent = std::move(fn);
    if (m_fnEvent && !m_timer.joinable() && m_pClock->dScale() > 0)
      m_timer = std::jthread([this](std::stop_token st) { vTimerThread(st); });
  }
  m_cvTimer.notify_all();
}

void CSimBench::vFire(int h, const SimChipEvents& ev) {
  if (!ev.bLeft && !ev.bReturned) return;
  HubEventFn fn;
  {
    std::lock_guard<std::mutex> l(m_eventMutex);
    fn = m_fnEvent;
  }
  if (ev.bLeft) m_cvTimer.notify_all();  // a return is now pending
  if (!fn) return;
  try {
    // a hub that left and came back within one access reports both, in that order
    if (ev.bLeft) fn(h, false);
    if (ev.bReturned) fn(h, true);
  } catch (...) {
  }
}

void CSimBench::vProcessDue() {
  for (int h = 0; h < nHubs(); ++h) {
    SimChipEvents ev;
    m_vecChips[h]->ullRefresh(ev);
    vFire(h, ev);
  }
}

void CSimBench::vTimerThread(std::stop_token st) {
  std::mutex m;
  std::unique_lock<std::mutex> lock(m);
  while (!st.stop_requested()) {
    uint64_t next = UINT64_MAX;
    for (int h = 0; h < nHubs(); ++h) {
      SimChipEvents ev;
      next = std::min(next, m_vecChips[h]->ullRefresh(ev));
      vFire(h, ev);
    }
    if (next == UINT64_MAX) {
      // nothing due: sleep until a hub leaves the bus (or a slow poll, in case of a miss)
      m_cvTimer.wait_for(lock, st, std::chrono::milliseconds(200), [] { return false; });
    } else {
      uint64_t now = m_pClock->ullNowMs();
      double realMs = next > now ? static_cast<double>(next - now) * m_pClock->dScale() : 0.0;
      auto d = std::chrono::microseconds(static_cast<int64_t>(realMs * 1000.0) + 200);
      m_cvTimer.wait_for(lock, st, d, [] { return false; });
    }
  }
}

// The modelled time of one control transfer, in real time at the bench's scale. Short
// waits spin: a sleep's own overhead would be far longer than a scaled transfer.
void CSimBench::vLatency() {
  if (m_def.uTransferLatencyUs == 0 || m_pClock->dScale() <= 0) return;
  auto real = std::chrono::nanoseconds(static_cast<int64_t>(m_def.uTransferLatencyUs * 1000.0 * m_pClock->dScale()));
  if (real.count() <= 0) return;
  if (real >= std::chrono::microseconds(200)) {
    std::this_thread::sleep_for(real);
    return;
  }
  auto until = std::chrono::steady_clock::now() + real;
  while (std::chrono::steady_clock::now() < until) {
  }
}

bool CSimBench::bOpenSession(int h, uint64_t& ullSession) {
  SimChipEvents ev;
  bool b = m_vecChips[h]->bSession(ullSession, ev);
  vFire(h, ev);
  return b;
}

bool CSimBench::bDeviceIdentity(int h, uint64_t ullSession, bool bSuperSpeed, FilterDeviceIdentity& id) {
  uint64_t ullNow = 0;
  if (!bOpenSession(h, ullNow) || ullNow != ullSession) return false;
  SimHubIdentity s = stIdentity(h);
  id.ucClass = USB_CLASS_HUB;
  id.usVID = s.usVID;
  id.usPID = bSuperSpeed ? s.usPID : s.usPIDU2;
  return true;
}

EFilterResult CSimBench::eTransfer(int h, uint64_t ullSession, bool bSuperSpeed, const UsbControlSetup& s, uint8_t* pOut,
                                   size_t* pulTransferred) {
  SimChipEvents ev;
  uint32_t ulWaitMs = 0;
  EFilterResult e;
  {
    std::lock_guard<std::mutex> l(*m_vecControllerLocks[nHubController(h)]);
    vLatency();
    e = m_vecChips[h]->eControl(ullSession, bSuperSpeed, s, pOut, pulTransferred, ulWaitMs, ev);
  }
  vFire(h, ev);
  if (ulWaitMs) {
    int nErr = nFilterLastError();
    m_pClock->bSleepMs(ulWaitMs);
    vSetFilterLastError(nErr);
  }
  return e;
}
