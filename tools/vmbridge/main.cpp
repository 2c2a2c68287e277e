// vmbridge: a hub's storage bridge on a USB bus of the VM test's guest, as a USB mass-storage
// device on vhci_hcd through USB/IP. The guest's kernel binds usb-storage and sd to it, so
// SG_IO on its disk reaches the project's bridge model (platform/sim CSimStorageBridge),
// which answers the bridge's commands as on the simulated bench.
//
//   vmbridge --bench FILE --hub NAME --usbip PORT
//
// The bridge is the "storage" object of the hub's bench entry (a disk alone when it has
// none). Ends on SIGTERM or SIGINT, or when the bridge disconnects its drive, with one line
// on standard error of what the bridge saw. Exit code 0, or 1 on a set-up error.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "UsbIpDisk.h"
#include "platform/Clock.h"

namespace {
std::atomic<bool> g_bStop{false};
void vOnSignal(int) {
  g_bStop = true;
}
void vLog(const std::string& s) {
  std::fprintf(stderr, "[vmbridge] %s\n", s.c_str());
}
}  // namespace

int main(int argc, char** argv) {
  std::string strBench, strHub;
  int nPort = -1;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i], v = argv[i + 1];
    if (a == "--bench")
      strBench = v;
    else if (a == "--hub")
      strHub = v;
    else if (a == "--usbip")
      nPort =
          !v.empty() && v.find_first_not_of("0123456789") == std::string::npos ? std::atoi(v.c_str()) : -1;
  }
  if (strBench.empty() || strHub.empty() || nPort < 0 || argc % 2 == 0) {
    std::fprintf(stderr, "usage: vmbridge --bench FILE --hub NAME --usbip PORT\n");
    return 1;
  }
  std::ifstream in(strBench);
  std::stringstream text;
  text << in.rdbuf();
  std::vector<SimStorageSpec> vecSpecs;
  std::string strError;
  if (!in || !bParseSimStorage(text.str(), vecSpecs, strError)) {
    vLog(strBench + ": " + (strError.empty() ? "cannot be read" : strError));
    return 1;
  }
  SimStorageSpec def;
  def.strHub = strHub;
  def.nPhysicalDrive = 0;
  for (const SimStorageSpec& s : vecSpecs)
    if (s.strHub == strHub) def = s;

  struct sigaction sa {};
  sa.sa_handler = vOnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  CScaledClock clock(1.0);  // the bridge's waits pass in real time, as on a station
  CSimStorageBridge bridge(def, clock);
  CUsbIpDisk disk(bridge);
  std::unique_ptr<CSimUsbIpLink> pLink = CSimUsbIpLink::pAttachToVhci(nPort, false, &g_bStop, strError);
  if (!pLink) {
    vLog(strError);
    return 1;
  }
  vLog("attached to vhci_hcd port " + std::to_string(nPort));
  while (!g_bStop) {
    UsbIpSubmit sub;
    CSimUsbIpLink::ENext e = pLink->eNext(sub, 200);
    if (e == CSimUsbIpLink::ENext::kIdle) continue;
    if (e == CSimUsbIpLink::ENext::kClosed || !disk.bSubmit(*pLink, sub)) {
      vLog("the host controller closed the connection");
      break;
    }
    if (bridge.bDisconnected()) {
      vLog("the bridge disconnected its drive");
      pLink->bFlush();
      ::usleep(20000);
      break;
    }
  }
  char sz[160];
  std::snprintf(sz, sizeof sz, "stopped after %llu commands: %d flushes, standby %s",
                static_cast<unsigned long long>(disk.ullCommands()), bridge.nFlushCount(),
                bridge.bStandby() ? "yes" : "no");
  vLog(sz);
  return 0;
}
