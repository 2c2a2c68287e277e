// vmhub: one simulated hub chip on a USB bus of the VM test's guest. The host side of the
// guest (its kernel's hub driver, libusb, sysfs, udev) sees a high-speed hub whose requests
// are answered by the project's chip model (platform/sim), with the chip's flash kept in the
// bench file's flash file. Two transports: a gadget on dummy_hcd through GadgetFS (the
// default; the USB 2.0 half alone), or a device on vhci_hcd through USB/IP (--usbip PORT),
// for a hub on a second controller, and a USB 3 hub's two halves (the bench's "usb3").
//
// When the chip leaves the bus (a CPU reset) the transport disconnects the hub, waits for
// the chip to be back and attaches it again with the descriptors of the chip's new identity:
// the host sees the hub leave and come back as it would.
//
//   vmhub --bench FILE --hub NAME [--gadgetfs DIR | --usbip PORT] [--vanish-after N]
//         [--ready FILE]
//
// --vanish-after N: after the Nth vendor request the hub leaves the bus for good (the
// program ends). --ready FILE: written once the host has configured the hub the first time.
// Ends on SIGTERM or SIGINT, with the flash written back. Exit code 0, or 1 on a set-up error.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include "GadgetFsHub.h"
#include "UsbIpHub.h"
#include "VmHub.h"
#include "platform/Clock.h"
#include "platform/sim/SimBenchFile.h"
#include "platform/sim/SimHubChip.h"

std::atomic<bool> g_bVmHubStop{false};

void vVmHubLog(const char* pszFormat, const std::string& s) {
  std::fprintf(stderr, "[vmhub] ");
  std::fprintf(stderr, pszFormat, s.c_str());
  std::fputc('\n', stderr);
}

SimGadgetReply stVmHubRequest(CSimHubGadget& gadget, const VmHubOptions& opt, const UsbControlSetup& s) {
  SimGadgetReply r = gadget.stSetup(s);
  if (opt.bTrace)
    std::fprintf(stderr, "[vmhub] %02x %02x %04x %04x %u -> %d %zu\n", s.bmRequestType, s.bRequest, s.wValue,
                 s.wIndex, s.wLength, static_cast<int>(r.eKind), r.vecData.size());
  return r;
}

bool bVmHubVanishes(const CSimHubGadget& gadget, const VmHubOptions& opt) {
  if (!opt.ullVanishAfter || gadget.ullVendorRequests() < opt.ullVanishAfter) return false;
  vVmHubLog("vanishing after %s vendor requests", std::to_string(gadget.ullVendorRequests()));
  return true;
}

void vVmHubReady(const VmHubOptions& opt, bool& bWritten) {
  if (opt.strReady.empty() || bWritten) return;
  bWritten = true;
  CFileDescriptor fd(::open(opt.strReady.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
}

namespace {
void vOnSignal(int) {
  g_bVmHubStop = true;
}

bool bParse(int argc, char** argv, VmHubOptions& o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (i + 1 >= argc) return false;
    std::string v = argv[++i];
    if (a == "--bench")
      o.strBench = v;
    else if (a == "--hub")
      o.strHub = v;
    else if (a == "--gadgetfs")
      o.strGadgetFs = v;
    else if (a == "--usbip" && !v.empty() && v.find_first_not_of("0123456789") == std::string::npos)
      o.nUsbIpPort = std::atoi(v.c_str());
    else if (a == "--ready")
      o.strReady = v;
    else if (a == "--vanish-after")
      o.ullVanishAfter = std::strtoull(v.c_str(), nullptr, 10);
    else
      return false;
  }
  return !o.strBench.empty() && !o.strHub.empty();
}
}  // namespace

int main(int argc, char** argv) {
  VmHubOptions opt;
  if (!bParse(argc, argv, opt)) {
    std::fprintf(stderr,
                 "usage: vmhub --bench FILE --hub NAME [--gadgetfs DIR | --usbip PORT] [--vanish-after N] "
                 "[--ready FILE]\n");
    return 1;
  }
  SimBenchSpec bench;
  std::string strError;
  if (!bReadSimBenchFile(opt.strBench, bench, strError)) {
    vVmHubLog("%s", strError);
    return 1;
  }
  auto it = std::find_if(bench.vecHubs.begin(), bench.vecHubs.end(),
                         [&](const SimHubSpec& h) { return h.strName == opt.strHub; });
  if (it == bench.vecHubs.end()) {
    vVmHubLog("no hub %s in the bench", opt.strHub);
    return 1;
  }
  SimHubSpec hubDef = *it;
  const bool bUsbIp = opt.nUsbIpPort >= 0;
  // A GadgetFS gadget is a high-speed device: the USB 2.0 half alone. On USB/IP a USB 3 hub
  // has both halves.
  if (!bUsbIp) hubDef.bUsb3 = false;
  // The chip's waits (erase, time off the bus) pass in real time, as the tool's do on Linux.
  CScaledClock clock(1.0);
  CSimHubChip chip(hubDef, clock);
  if (!chip.bOpenFlash(strError)) {
    vVmHubLog("%s", strError);
    return 1;
  }
  struct sigaction sa {};
  sa.sa_handler = vOnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  CSimHubGadget gadget(chip);
  if (bUsbIp) {
    CSimHubGadget gadgetSuper(chip, true);
    CUsbIpHub usb2(gadget, opt, false), usb3(gadgetSuper, opt, true);
    bool bOk3 = true;
    std::thread t;
    if (hubDef.bUsb3) t = std::thread([&] { bOk3 = usb3.bRun(); });
    bool bOk2 = usb2.bRun();
    if (t.joinable()) t.join();
    vVmHubLog("stopped after %s vendor requests",
              std::to_string(gadget.ullVendorRequests() + gadgetSuper.ullVendorRequests()));
    return bOk2 && bOk3 ? 0 : 1;
  }
  // GadgetFS completes an OUT request's data stage before the program has seen the request,
  // so the host may send the next one at once; a new request while one is unanswered loses
  // it. Run before anything else in the guest: woken by a request, the program reads it and
  // its data before the host's side runs again.
  sched_param sp{};
  sp.sched_priority = 50;
  if (sched_setscheduler(0, SCHED_FIFO, &sp) != 0)
    vVmHubLog("no real-time priority: %s", std::strerror(errno));
  CGadgetFsHub gadgetFs(gadget, opt);
  while (!g_bVmHubStop) {
    while (!gadget.bPresent() && !g_bVmHubStop) ::usleep(10000);
    if (g_bVmHubStop) break;
    bool bEnd = false;
    if (!gadgetFs.bServe(bEnd)) return 1;
    if (bEnd) break;
  }
  vVmHubLog("stopped after %s vendor requests", std::to_string(gadget.ullVendorRequests()));
  return 0;
}
