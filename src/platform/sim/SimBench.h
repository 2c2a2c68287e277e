// The simulated bench: controllers, the hubs on their ports and on ports of other hubs, and
// per hub its simulated chip. Made from a bench file (MPTOOL_SIM); the simulated filter
// device (SimFilterDevice.h) sends its requests here, and the simulated USB tree reads the
// tree and each hub's current identity through the accessors below.
//
// Bus numbering follows Linux: controller c (0-based) has a USB 2.0 root hub on bus 2c+1
// and a SuperSpeed root hub on bus 2c+2. A USB 3 hub whose upstream hubs are all USB 3 has
// both halves, one chip behind both: "usb:<2c+1>-<path>" and "usb:<2c+2>-<path>".
//
// A hub is on the bus while its chip is and every hub above it is: a hub that leaves (a CPU
// reset, an unplug, a restart) takes every hub below it off the bus with it, and handles
// opened to any of them are dead from then on. When it is back, each hub below it comes back
// its attach_ms after the hub above it (a hub in a reset of its own not before that reset
// ends), as Linux enumerates a hub and then the devices on its ports.
//
// Thread-safe: workers reach different hubs at once; transfers on one controller are
// serialised and each takes transfer_latency_us of bench time.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/sim/SimBenchFile.h"
#include "platform/sim/SimHubChip.h"

class CSimBench {
 public:
  // Reads the bench file and opens every hub's flash file. Null with a one-line error naming
  // the problem when anything is wrong; nothing is started then.
  static std::unique_ptr<CSimBench> pLoad(const std::string& strPath, std::string& strError);
  static std::unique_ptr<CSimBench> pFromSpec(const SimBenchSpec& def, std::string& strError);
  ~CSimBench();
  CSimBench(const CSimBench&) = delete;
  CSimBench& operator=(const CSimBench&) = delete;

  // The bench clock (CScaledClock(time_scale), or an instant clock for time_scale 0). The tool
  // uses the same clock for its own waits when it runs on this bench.
  IClock& clock() { return *m_pClock; }
  const SimBenchSpec& def() const { return m_def; }

  // The tree.
  int nControllers() const { return static_cast<int>(m_def.vecControllers.size()); }
  const SimControllerSpec& controller(int c) const { return m_def.vecControllers[c]; }
  int nHubs() const { return static_cast<int>(m_def.vecHubs.size()); }
  const SimHubSpec& hubSpec(int h) const { return m_def.vecHubs[h]; }
  int nFindHub(const std::string& strName) const;                        // -1 when unknown
  int nHubParent(int h) const { return m_def.vecHubs[h].nParentIndex; }  // -1: on a controller port
  int nHubController(int h) const { return m_def.vecHubs[h].nControllerIndex; }
  int nHubDepth(int h) const;                     // 0 on a root hub port
  std::vector<uint8_t> vecPortPath(int h) const;  // ports from the root hub down
  bool bHasSuperSpeedHalf(int h) const;
  static uint8_t ucBus(int nController, bool bSuperSpeed) {
    return static_cast<uint8_t>(2 * nController + (bSuperSpeed ? 2 : 1));
  }
  std::string strDeviceName(int h, bool bSuperSpeed) const;
  // Resolves a filter device name to a hub and half; -1 when no hub sits there.
  int nResolveName(const std::string& strName, bool& bSuperSpeed) const;

  // Each hub's state now; bPresent: on the bus, with every hub above it.
  SimHubIdentity stIdentity(int h);
  bool bPresent(int h) { return stIdentity(h).bPresent; }
  void vSetSuspended(int h, bool bSuspended) { m_vecChips[h]->vSetSuspended(bSuspended); }
  void vSetPlugged(int h, bool bPlugged);  // unplug / plug the hub (powers up from its flash)
  // The system enumerates the hub again (a restart through its authorized file): it leaves
  // and is back at once, without a reset of its chip; the hubs below it come back after it.
  // False when it is not on the bus.
  bool bRestartHub(int h);
  std::vector<uint8_t> vecFlash(int h, size_t ulOffset, size_t ulLen) {
    return m_vecChips[h]->vecFlash(ulOffset, ulLen);
  }
  void vSetFlash(int h, size_t ulOffset, const std::vector<uint8_t>& d) {
    m_vecChips[h]->vSetFlash(ulOffset, d);
  }
  uint8_t ucRegister(int h, uint16_t usAddr) { return m_vecChips[h]->ucRegister(usAddr); }
  void vSetRegister(int h, uint16_t usAddr, uint8_t v) { m_vecChips[h]->vSetRegister(usAddr, v); }
  uint64_t ullRequestCount(int h) { return m_vecChips[h]->ullRequestCount(); }

  // Hub events: called with the hub and true when it came back, false when it left the bus.
  // A hub that leaves is reported after every hub below it (the deepest first), a hub that
  // comes back before the hubs below it; a hub that left and is back already is reported
  // as both. Called outside the bench's locks, in order, from the thread that caused the
  // change or, for a hub coming back after its modelled delay, from the bench's timer thread
  // (a change made while another thread delivers is delivered by that thread). With
  // time_scale 0 a return is noticed at the next access to the bench (or vProcessDue).
  using HubEventFn = std::function<void(int nHub, bool bPresent)>;
  void vSetHubEventHandler(HubEventFn fn);
  void vProcessDue();

  // Used by the simulated filter device. A session ends when the hub or any hub above it
  // leaves the bus; transfers in an ended session find the hub gone (kLeftBus).
  bool bOpenSession(int h, uint64_t& ullSession);
  // The device descriptor's class, VID and PID of one half, false once the session is over.
  bool bDeviceIdentity(int h, uint64_t ullSession, bool bSuperSpeed, FilterDeviceIdentity& id);
  EFilterResult eTransfer(int h, uint64_t ullSession, bool bSuperSpeed, const UsbControlSetup& s,
                          uint8_t* pOut, size_t* pulTransferred);

 private:
  // A hub's place on the bus with the hubs above it.
  struct Link {
    bool bPresent = false;
    uint64_t ullSession = 0;      // the sessions of the hub and every hub above it, added
    uint64_t ullChipSession = 0;  // the chip's own
    bool bSinceLoad = true;       // on the bus since the bench was loaded
    uint64_t ullSinceMs = 0;
    uint64_t ullDueMs = UINT64_MAX;  // when it may change by itself
  };
  struct Reported {
    bool bPresent = true;
    uint64_t ullSession = 0;
  };
  CSimBench() = default;
  Link stLink(int h, uint64_t ullNow);
  // Compares every hub's place on the bus with what the event handler last heard, queues
  // the changes and delivers them; returns the next time something is due.
  uint64_t ullReconcile();
  void vKickTimer();
  void vTimerThread(std::stop_token st);
  void vLatency();

  SimBenchSpec m_def;
  std::unique_ptr<IClock> m_pClock;
  std::vector<std::unique_ptr<CSimHubChip>> m_vecChips;
  std::vector<std::unique_ptr<std::mutex>> m_vecControllerLocks;
  std::vector<std::vector<int>> m_vecChildren;  // per hub, the hubs on its ports, by port
  std::vector<int> m_vecTopHubs;                // hubs on controller ports
  std::mutex m_linkMutex;                       // the reported states and the event queue
  std::vector<Reported> m_vecReported;
  std::deque<std::pair<int, bool>> m_queEvents;
  bool m_bDelivering = false;
  std::mutex m_eventMutex;
  HubEventFn m_fnEvent;
  std::mutex m_timerMutex;
  bool m_bTimerKick = false;
  std::condition_variable_any m_cvTimer;
  std::jthread m_timer;
};
