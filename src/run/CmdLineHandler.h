// What a window-less command-line mode does once a scan has found target hubs: the
// firmware version check ("/C:"), LED control ("/LED:") and the queries of speed ("/SPD"),
// protocol ("/PROT"), cable orientation ("/CC") and chip ("/IC"). Each answers with the
// process exit code. The production modes ("/S", "/S:") do nothing here: auto mode runs them.
//
// The handler runs on the scan thread (the engine's fnCmdLineHandler), still under the scan
// lock, so one handler runs at a time. It reads a copy of the device list taken on the window
// thread, and ends the process through the exit function it is given (the engine's exit
// request), never by exiting itself.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

#include "device/ScsiBridge.h"
#include "host/DeviceList.h"
#include "platform/Clock.h"
#include "platform/ScsiPassThrough.h"
#include "run/CmdLineOptions.h"
#include "run/IRunView.h"

// Exit codes of the command-line modes (those of the production run are the engine's).
constexpr int EXIT_CMD_OK = 0;
constexpr int EXIT_CMD_FAILED = -1;      // LED control failed; speed, protocol, orientation unknown
constexpr int EXIT_CMD_FW_UNMATCH = -2;  // "/C:" a hub has another version
constexpr int EXIT_CMD_CHIP_UNKNOWN = 255;

constexpr uint32_t LED_RETRY_WAIT_MS = 250;
constexpr int LED_TRIES = 3;

class CCmdLineHandler {
 public:
  // devList: the window's device list, copied on the window thread before use.
  CCmdLineHandler(DeviceList& devList, IWindowThread& window, IScsiPassThroughPlatform& scsi, IClock& clock);
  CCmdLineHandler(const CCmdLineHandler&) = delete;
  CCmdLineHandler& operator=(const CCmdLineHandler&) = delete;

  // The request (mode, "/C:" version, "/LED:" values) and the function that ends the
  // process with a code. Before the handler's first use.
  void vConfigure(CmdLineOptions request, std::function<void(int)> fnExitProcess);

  // Carries out the request for the hubs found and ends the process with its code (modes
  // other than 2 and 3; those return at once, without reading the list). Scan thread.
  void vCmdLineHandler();
  // The exit code the request comes to for this list; none for the production modes and
  // for a list without hubs. LED control talks to the hubs' bridges; the rest only reads.
  std::optional<int> optHandle(const DeviceList& list);

  // Sets (ulEnable 1) or clears (any other value) the mask bits of bridge register 0xCA30 of
  // the drive of record nSlot of the list last handled. True on success, and true when the
  // drive cannot be opened (nothing is touched then). False when a register access failed
  // or three tries never read the new value back.
  bool LEDControl(int nSlot, uint8_t ucMask, uint32_t ulEnable);

  // Ends the waits of a running handler early (the process is ending).
  void vStop() { m_stop.request_stop(); }

 private:
  DeviceList& m_devList;
  IWindowThread& m_window;
  IClock& m_clock;
  CmdLineOptions m_request;
  std::function<void(int)> m_fnExitProcess;
  DeviceList m_list;  // the copy the bridge commands address
  CScsiBridge m_bridge;
  std::stop_source m_stop;
};
