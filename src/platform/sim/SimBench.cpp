#include "platform/sim/SimBench.h"

#include <algorithm>
#include <cerrno>
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
  for (size_t c = 0; c < def.vecControllers.size(); ++c)
    p->m_vecControllerLocks.push_back(std::make_unique<std::mutex>());
  for (const auto& h : def.vecHubs) {
    auto chip = std::make_unique<CSimHubChip>(h, *p->m_pClock);
    if (!chip->bOpenFlash(strError)) return nullptr;
    p->m_vecChips.push_back(std::move(chip));
  }
  // The tree in port order, for the order of hub events.
  p->m_vecChildren.resize(def.vecHubs.size());
  auto bByPort = [&def](int a, int b) {
    const SimHubSpec &x = def.vecHubs[a], &y = def.vecHubs[b];
    return std::make_pair(x.nControllerIndex, x.nPort) < std::make_pair(y.nControllerIndex, y.nPort);
  };
  for (int h = 0; h < p->nHubs(); ++h)
    (def.vecHubs[h].nParentIndex >= 0 ? p->m_vecChildren[def.vecHubs[h].nParentIndex] : p->m_vecTopHubs)
        .push_back(h);
  std::sort(p->m_vecTopHubs.begin(), p->m_vecTopHubs.end(), bByPort);
  for (auto& v : p->m_vecChildren) std::sort(v.begin(), v.end(), bByPort);
  // What is on the bus at load is there from the start, without events.
  const uint64_t ullNow = p->m_pClock->ullNowMs();
  for (int h = 0; h < p->nHubs(); ++h) {
    Link k = p->stLink(h, ullNow);
    p->m_vecReported.push_back({k.bPresent, k.ullSession});
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
  for (; h >= 0; h = m_def.vecHubs[h].nParentIndex)
    v.insert(v.begin(), static_cast<uint8_t>(m_def.vecHubs[h].nPort));
  return v;
}

bool CSimBench::bHasSuperSpeedHalf(int h) const {
  for (; h >= 0; h = m_def.vecHubs[h].nParentIndex)
    if (!m_def.vecHubs[h].bUsb3) return false;
  return true;
}

std::string CSimBench::strDeviceName(int h, bool bSuperSpeed) const {
  auto path = vecPortPath(h);
  return strMakeFilterDeviceName(ucBus(nHubController(h), bSuperSpeed), path.data(),
                                 static_cast<int>(path.size()));
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

CSimBench::Link CSimBench::stLink(int h, uint64_t ullNow) {
  const SimChipLink own = m_vecChips[h]->stLink();
  Link k;
  k.ullChipSession = own.ullSession;
  k.ullSession = own.ullSession;
  k.bSinceLoad = own.bSinceLoad;
  k.ullSinceMs = own.ullSinceMs;
  k.bPresent = own.bPresent;
  k.ullDueMs = own.ullReturnAtMs;
  const int p = m_def.vecHubs[h].nParentIndex;
  if (p < 0) return k;
  const Link up = stLink(p, ullNow);
  k.ullSession += up.ullSession;
  if (!up.bPresent) {
    k.bPresent = false;
    k.ullDueMs = std::min(k.ullDueMs, up.ullDueMs);
    return k;
  }
  if (up.bSinceLoad) return k;
  // The hub above came back at some point: this one attached again after it.
  const uint64_t ullAttachAt = up.ullSinceMs + m_def.vecHubs[h].uAttachMs;
  if (k.bSinceLoad || k.ullSinceMs < ullAttachAt) k.ullSinceMs = ullAttachAt;
  k.bSinceLoad = false;
  if (k.bPresent && ullNow < ullAttachAt) {
    k.bPresent = false;
    k.ullDueMs = ullAttachAt;
  }
  return k;
}

SimHubIdentity CSimBench::stIdentity(int h) {
  ullReconcile();
  SimHubIdentity id = m_vecChips[h]->stIdentity();
  id.bPresent = stLink(h, m_pClock->ullNowMs()).bPresent;
  return id;
}

void CSimBench::vSetPlugged(int h, bool bPlugged) {
  SimChipEvents ev;
  m_vecChips[h]->vSetPlugged(bPlugged, ev);
  ullReconcile();
}

bool CSimBench::bRestartHub(int h) {
  if (!stLink(h, m_pClock->ullNowMs()).bPresent) return false;
  bool b = m_vecChips[h]->bReenumerate();
  ullReconcile();
  return b;
}

void CSimBench::vSetHubEventHandler(HubEventFn fn) {
  {
    std::lock_guard<std::mutex> l(m_eventMutex);
    m_fnEvent = std::move(fn);
    if (m_fnEvent && !m_timer.joinable() && m_pClock->dScale() > 0)
      m_timer = std::jthread([this](std::stop_token st) { vTimerThread(st); });
  }
  vKickTimer();
}

uint64_t CSimBench::ullReconcile() {
  uint64_t ullNext = UINT64_MAX;
  bool bChanged = false;
  {
    std::lock_guard<std::mutex> l(m_linkMutex);
    const uint64_t ullNow = m_pClock->ullNowMs();
    std::vector<Link> vecNow;
    for (int h = 0; h < nHubs(); ++h) {
      vecNow.push_back(stLink(h, ullNow));
      if (!vecNow.back().bPresent) ullNext = std::min(ullNext, vecNow.back().ullDueMs);
    }
    auto bGone = [&](int h) {
      const Reported& r = m_vecReported[h];
      return r.bPresent && (!vecNow[h].bPresent || vecNow[h].ullSession != r.ullSession);
    };
    auto bCome = [&](int h) {
      const Reported& r = m_vecReported[h];
      return vecNow[h].bPresent && (!r.bPresent || vecNow[h].ullSession != r.ullSession);
    };
    // Removals from the deepest up, then arrivals from the top down, each in port order.
    std::function<void(int)> vRemovals = [&](int h) {
      for (int c : m_vecChildren[h]) vRemovals(c);
      if (bGone(h)) m_queEvents.emplace_back(h, false);
    };
    std::function<void(int)> vArrivals = [&](int h) {
      if (bCome(h)) m_queEvents.emplace_back(h, true);
      for (int c : m_vecChildren[h]) vArrivals(c);
    };
    const size_t ulQueued = m_queEvents.size();
    for (int h : m_vecTopHubs) vRemovals(h);
    for (int h : m_vecTopHubs) vArrivals(h);
    for (int h = 0; h < nHubs(); ++h) m_vecReported[h] = {vecNow[h].bPresent, vecNow[h].ullSession};
    bChanged = m_queEvents.size() != ulQueued;
    if (!bChanged || m_bDelivering) {
      if (bChanged) vKickTimer();
      return ullNext;
    }
    m_bDelivering = true;
  }
  vKickTimer();  // a hub that left is due back, one that came back may make others due
  for (;;) {
    std::pair<int, bool> ev;
    {
      std::lock_guard<std::mutex> l(m_linkMutex);
      if (m_queEvents.empty()) {
        m_bDelivering = false;
        break;
      }
      ev = m_queEvents.front();
      m_queEvents.pop_front();
    }
    HubEventFn fn;
    {
      std::lock_guard<std::mutex> l(m_eventMutex);
      fn = m_fnEvent;
    }
    if (!fn) continue;
    try {
      fn(ev.first, ev.second);
    } catch (...) {
    }
  }
  return ullNext;
}

void CSimBench::vKickTimer() {
  {
    std::lock_guard<std::mutex> l(m_timerMutex);
    m_bTimerKick = true;
  }
  m_cvTimer.notify_all();
}

void CSimBench::vProcessDue() {
  ullReconcile();
}

void CSimBench::vTimerThread(std::stop_token st) {
  while (!st.stop_requested()) {
    const uint64_t next = ullReconcile();
    std::unique_lock<std::mutex> lock(m_timerMutex);
    if (m_bTimerKick) {
      m_bTimerKick = false;
      continue;  // something changed since: look again
    }
    if (next == UINT64_MAX) {
      // nothing due: sleep until a hub leaves the bus (or a slow poll, in case of a miss)
      m_cvTimer.wait_for(lock, st, std::chrono::milliseconds(200), [this] { return m_bTimerKick; });
    } else {
      uint64_t now = m_pClock->ullNowMs();
      double realMs = next > now ? static_cast<double>(next - now) * m_pClock->dScale() : 0.0;
      auto d = std::chrono::microseconds(static_cast<int64_t>(realMs * 1000.0) + 200);
      m_cvTimer.wait_for(lock, st, d, [this] { return m_bTimerKick; });
    }
    m_bTimerKick = false;
  }
}

// The modelled time of one control transfer, in real time at the bench's scale. Short
// waits spin: a sleep's own overhead would be far longer than a scaled transfer.
void CSimBench::vLatency() {
  if (m_def.uTransferLatencyUs == 0 || m_pClock->dScale() <= 0) return;
  auto real =
      std::chrono::nanoseconds(static_cast<int64_t>(m_def.uTransferLatencyUs * 1000.0 * m_pClock->dScale()));
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
  ullReconcile();
  const Link k = stLink(h, m_pClock->ullNowMs());
  ullSession = k.ullSession;
  return k.bPresent;
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

EFilterResult CSimBench::eTransfer(int h, uint64_t ullSession, bool bSuperSpeed, const UsbControlSetup& s,
                                   uint8_t* pOut, size_t* pulTransferred) {
  SimChipEvents ev;
  uint32_t ulWaitMs = 0;
  EFilterResult e;
  {
    std::lock_guard<std::mutex> l(*m_vecControllerLocks[nHubController(h)]);
    vLatency();
    // A hub that is away, or was since the handle was opened (it or a hub above it left),
    // answers nothing.
    const Link k = stLink(h, m_pClock->ullNowMs());
    if (!k.bPresent || k.ullSession != ullSession) {
      if (pulTransferred) *pulTransferred = 0;
      vSetFilterLastError(ENODEV);
      e = EFilterResult::kLeftBus;
    } else {
      e = m_vecChips[h]->eControl(k.ullChipSession, bSuperSpeed, s, pOut, pulTransferred, ulWaitMs, ev);
    }
  }
  if (ev.bLeft || ev.bReturned) {
    int nErr = nFilterLastError();
    ullReconcile();
    vSetFilterLastError(nErr);
  }
  if (ulWaitMs) {
    int nErr = nFilterLastError();
    m_pClock->bSleepMs(ulWaitMs);
    vSetFilterLastError(nErr);
  }
  return e;
}
