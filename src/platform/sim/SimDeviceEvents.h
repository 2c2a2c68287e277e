// Device events of the simulated bench: a hub that leaves the bus (a CPU reset, an unplug, a
// restart, or one of these of a hub above it) is a removal of each of its halves, its return
// an arrival. Tests and tools can also plug and unplug hubs (vPlugHub) or send any event
// (vInject).
//
// This object installs itself as the bench's hub event handler while started (the bench
// has one handler). Events are delivered on the thread that caused them (or the bench's
// timer thread), never while a bench lock is held; vStop waits for a running callback.
#pragma once

#include <mutex>
#include <shared_mutex>

#include "platform/DeviceEvents.h"
#include "platform/sim/SimBench.h"

class CSimDeviceEvents : public IDeviceEvents {
 public:
  explicit CSimDeviceEvents(CSimBench& bench) : m_bench(bench) {}
  ~CSimDeviceEvents() override;
  bool bStart(DeviceEventCallback cb) override;
  void vStop() override;

  // Plugs a hub in or pulls it out; the bench reports the change as for a reset.
  void vPlugHub(int h, bool bPlugged) { m_bench.vSetPlugged(h, bPlugged); }
  // Delivers one event as if the system had sent it (nothing when stopped).
  void vInject(const DeviceEvent& ev);

 private:
  void vOnHub(int h, bool bPresent);

  CSimBench& m_bench;
  std::mutex m_startMutex;
  std::shared_mutex m_cbMutex;  // shared while delivering, exclusive to change the callback
  DeviceEventCallback m_cb;
  bool m_bStarted = false;
};
