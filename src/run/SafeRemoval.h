// Safe removal of every hub: the Safely Remove button, its thread, and the automatic safe
// removal a run sends when it is over (the engine's m_fnSafelyRemove).
//
// Removing a hub safely means taking its storage bridge's disk off the bus in an orderly way:
// FLUSH CACHE, STANDBY IMMEDIATE and the bridge's disconnect (CScsiBridge::vDisconnectAllDevice).
// While the removal thread runs, m_bRemovingUSB is set: scans and device-change events do
// nothing, so the drives leaving the bus start no scan.
//
// The removal works on a copy of the device list taken on the window thread when the button
// is pressed, so neither a scan nor the end of the program changes the records under it.
// It holds the run mark while it runs (it is still the run's work when the run sends it),
// so another copy's start-up never ends the process in the middle of it.
#pragma once

#include <atomic>
#include <mutex>
#include <stop_token>
#include <thread>

#include "device/ScsiBridge.h"
#include "host/DeviceList.h"
#include "host/USBUtility.h"
#include "platform/Clock.h"
#include "platform/ScsiPassThrough.h"
#include "run/IRunView.h"

class CSafeRemoval {
 public:
  // devList: the window's device list (read on the window thread only).
  CSafeRemoval(CUSBUtility& utility, DeviceList& devList, IRunView& view, IWindowThread& window,
               IScsiPassThroughPlatform& scsi, IClock& clock);
  // Asks a running removal to stop at its next wait and waits for it.
  ~CSafeRemoval();
  CSafeRemoval(const CSafeRemoval&) = delete;
  CSafeRemoval& operator=(const CSafeRemoval&) = delete;

  // Window thread: locks the controls as for a run and starts the removal thread. A second
  // press while a removal runs starts nothing (the first one covers every hub already).
  void OnBnClickedButtonSafelyRemove();
  // The removal thread's body: every occupied record with a firmware version text, in slot
  // order. Returns 1, 0 after an exception. Public for tests that run it directly.
  int USBRemoveThreadFun(std::stop_token st);
  // The records the thread works on (OnBnClickedButtonSafelyRemove takes them).
  void vSetRecords(const DeviceList& list) { m_list = list; }

  bool bRemoving() const { return m_bRunning.load(); }
  // Waits (real time) for a running removal to finish by itself; true when none runs. Not
  // on the window thread while its loop still runs: the removal's last step is a call there.
  bool bWaitDone(uint64_t ullRealMs);
  // How many hubs the last removal could not remove.
  int nFailed() const { return m_nFailed.load(); }

 private:
  CUSBUtility& m_utility;
  DeviceList& m_devList;
  IRunView& m_view;
  IWindowThread& m_window;
  DeviceList m_list;  // the bridge addresses these records
  CScsiBridge m_bridge;
  std::mutex m_mutex;
  std::jthread m_pUSBRemoveThread;
  std::atomic<bool> m_bRunning{false};
  std::atomic<bool> m_bMarkHeld{false};
  std::atomic<int> m_nFailed{0};
};
