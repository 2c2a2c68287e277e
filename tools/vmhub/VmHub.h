// What the hub program's two transports share: the options, the stop flag and the log.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/sim/SimHubGadget.h"

struct VmHubOptions {
  std::string strBench, strHub, strGadgetFs = "/dev/gadget", strReady;
  int nUsbIpPort = -1;  // a port of vhci_hcd's high-speed root hub: the USB/IP transport
  uint64_t ullVanishAfter = 0;
  bool bTrace = std::getenv("VMHUB_TRACE") != nullptr;  // one line per request on standard error
};

// Set by SIGTERM or SIGINT: the transports end their attach and the program ends.
extern std::atomic<bool> g_bVmHubStop;

// "[vmhub] " and the text, s in place of its one %s.
void vVmHubLog(const char* pszFormat, const std::string& s = {});
// One control request through the chip's gadget side, on standard error when tracing.
SimGadgetReply stVmHubRequest(CSimHubGadget& gadget, const VmHubOptions& opt, const UsbControlSetup& s);
// True, and said, once the hub is to leave the bus for good (after --vanish-after N).
bool bVmHubVanishes(const CSimHubGadget& gadget, const VmHubOptions& opt);
// Writes the ready file once, when the host has configured the hub the first time.
void vVmHubReady(const VmHubOptions& opt, bool& bWritten);
