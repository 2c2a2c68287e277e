// vmhub: one simulated hub chip on a USB device controller of the VM test's guest, through
// GadgetFS. The host side of the guest (its kernel's hub driver, libusb, sysfs, udev) sees a
// high-speed hub whose string descriptors and vendor requests are answered by the project's
// chip model (platform/sim), with the chip's flash kept in the bench file's flash file.
//
// GadgetFS and not FunctionFS: the composite layer behind FunctionFS answers every string
// descriptor itself and stalls the ones it does not know, so the chip-identification string
// (index 0xFF) would never reach the chip.
//
// When the chip leaves the bus (a CPU reset) the program closes the device, which
// disconnects it, waits for the chip to be back and opens it again with the descriptors of
// the chip's new identity: the host sees the hub leave and come back as it would.
//
//   vmhub --bench FILE --hub NAME [--gadgetfs DIR] [--vanish-after N] [--ready FILE]
//
// --vanish-after N: after the Nth vendor request the hub leaves the bus for good (the
// program ends). --ready FILE: written once the host has configured the hub the first time.
// Ends on SIGTERM or SIGINT, with the flash written back. Exit code 0, or 1 on a set-up error.
#include <dirent.h>
#include <fcntl.h>
#include <linux/usb/gadgetfs.h>
// The kernel's header makes a macro of a name the project declares as a constant.
#undef USB_CLASS_HUB
#include <poll.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/FileDescriptor.h"
#include "platform/sim/SimBenchFile.h"
#include "platform/sim/SimHubChip.h"
#include "platform/sim/SimHubGadget.h"

namespace {
std::atomic<bool> g_bStop{false};
void vOnSignal(int) {
  g_bStop = true;
}

struct Options {
  std::string strBench, strHub, strGadgetFs = "/dev/gadget", strReady;
  uint64_t ullVanishAfter = 0;
  bool bTrace = std::getenv("VMHUB_TRACE") != nullptr;  // one line per request on standard error
};

void vLog(const char* pszFormat, const std::string& s = {}) {
  std::fprintf(stderr, "[vmhub] ");
  std::fprintf(stderr, pszFormat, s.c_str());
  std::fputc('\n', stderr);
}

void vAppend(std::vector<uint8_t>& v, const std::vector<uint8_t>& w) {
  v.insert(v.end(), w.begin(), w.end());
}

// The controller's device file: the one entry of the GadgetFS folder that is no endpoint.
std::string strFindDeviceFile(const std::string& strDir) {
  std::string strFound;
  if (DIR* d = ::opendir(strDir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string s = e->d_name;
      if (s.empty() || s[0] == '.' || s.rfind("ep", 0) == 0) continue;
      strFound = strDir;
      strFound += "/" + s;
      break;
    }
    ::closedir(d);
  }
  return strFound;
}

// An IN endpoint that takes interrupt transfers; dummy_hcd names them "epNin-int".
std::string strFindInterruptIn(const std::string& strDir) {
  std::string strBulk;
  std::string strFound;
  if (DIR* d = ::opendir(strDir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string s = e->d_name;
      if (s.rfind("ep", 0) != 0 || s.find("in") == std::string::npos) continue;
      if (s.find("-int") != std::string::npos) {
        strFound = strDir;
        strFound += "/" + s;
        break;
      }
      if (strBulk.empty() && s.find("-iso") == std::string::npos) {
        strBulk = strDir;
        strBulk += "/" + s;
      }
    }
    ::closedir(d);
  }
  return strFound.empty() ? strBulk : strFound;
}

class CGadgetFsHub {
 public:
  CGadgetFsHub(CSimHubGadget& gadget, const Options& opt) : m_gadget(gadget), m_opt(opt) {}

  // One attach: open, serve until the chip leaves the bus, the hub vanishes or a stop.
  // False when the device could not be opened.
  bool bServe(bool& bEnd) {
    bEnd = false;
    m_gadget.vAttach();
    std::vector<uint8_t> dev = m_gadget.vecDeviceDescriptor();
    if (dev.size() != 18) {
      vLog("the chip gives no device descriptor");
      return false;
    }
    std::string strDevice = strFindDeviceFile(m_opt.strGadgetFs);
    if (strDevice.empty()) {
      vLog("no device controller in %s", m_opt.strGadgetFs);
      return false;
    }
    m_fdEp0.reset(::open(strDevice.c_str(), O_RDWR | O_CLOEXEC));
    if (!m_fdEp0.bValid()) {
      vLog("cannot open %s", strDevice + ": " + std::strerror(errno));
      return false;
    }
    std::vector<uint8_t> blob = {0, 0, 0, 0};
    vAppend(blob, m_gadget.vecConfigDescriptor(false));
    vAppend(blob, m_gadget.vecConfigDescriptor(true));
    vAppend(blob, dev);
    if (::write(m_fdEp0.get(), blob.data(), blob.size()) != static_cast<ssize_t>(blob.size())) {
      vLog("descriptors refused: %s", std::strerror(errno));
      return false;
    }
    char sz[64];
    std::snprintf(sz, sizeof sz, "%04x:%04x bcdDevice %04x", dev[8] | (dev[9] << 8), dev[10] | (dev[11] << 8),
                  dev[12] | (dev[13] << 8));
    vLog("attached as %s", sz);
    for (;;) {
      if (g_bStop) {
        bEnd = true;
        break;
      }
      pollfd pf{m_fdEp0.get(), POLLIN, 0};
      // A read without poll first sleeps in the kernel holding the device; poll keeps the
      // stop flag seen.
      int rc = ::poll(&pf, 1, 200);
      if (rc < 0 && errno != EINTR) {
        vLog("poll: %s", std::strerror(errno));
        bEnd = true;
        break;
      }
      if (rc <= 0) continue;
      usb_gadgetfs_event ev[5];
      ssize_t n = ::read(m_fdEp0.get(), ev, sizeof ev);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        if (errno == EIDRM) {
          // a request came before the last one was answered: its data may be lost
          vLog("a request was overtaken by the next one");
          continue;
        }
        vLog("read: %s", std::strerror(errno));
        bEnd = true;
        break;
      }
      bool bDetach = false;
      for (size_t i = 0; i < static_cast<size_t>(n) / sizeof ev[0] && !bDetach; ++i) {
        switch (ev[i].type) {
          case GADGETFS_CONNECT:
            m_bHighSpeed = ev[i].u.speed == USB_SPEED_HIGH;
            break;
          case GADGETFS_DISCONNECT:
            m_fdEpIn.reset();
            break;
          case GADGETFS_SETUP:
            bDetach = bSetup(ev[i].u.setup, bEnd);
            break;
          default:
            break;
        }
      }
      if (bDetach) break;
    }
    // Closing the device disconnects the hub from the host.
    m_fdEpIn.reset();
    m_fdEp0.reset();
    return true;
  }

 private:
  // True when the hub leaves the bus now (bEnd: for good).
  bool bSetup(const usb_ctrlrequest& c, bool& bEnd) {
    UsbControlSetup s;
    s.bmRequestType = c.bRequestType;
    s.bRequest = c.bRequest;
    s.wValue = c.wValue;
    s.wIndex = c.wIndex;
    s.wLength = c.wLength;
    s.bIn = (c.bRequestType & USB_DIR_IN) != 0;
    std::vector<uint8_t> out;
    if (c.bRequestType == 0 && c.bRequest == USB_REQ_SET_CONFIGURATION) {
      vLog("configuration %s", std::to_string(c.wValue));
      vConfigure(c.wValue != 0);
      vAck();
      return false;
    }
    if (!s.bIn && s.wLength) {
      // GadgetFS has taken the data stage already: such a request can no longer be refused.
      out.resize(s.wLength);
      ssize_t n = ::read(m_fdEp0.get(), out.data(), out.size());
      if (n < 0) return false;
      out.resize(static_cast<size_t>(n));
      s.pData = out.data();
    }
    SimGadgetReply r = m_gadget.stSetup(s);
    if (m_opt.bTrace)
      std::fprintf(stderr, "[vmhub] %02x %02x %04x %04x %u -> %d %zu\n", s.bmRequestType, s.bRequest,
                   s.wValue, s.wIndex, s.wLength, static_cast<int>(r.eKind), r.vecData.size());
    if (r.ulDelayMs) ::usleep(r.ulDelayMs * 1000);
    if (s.bIn || !s.wLength) {
      if (r.eKind == SimGadgetReply::EKind::kData) {
        if (::write(m_fdEp0.get(), r.vecData.data(), r.vecData.size()) < 0 && errno != ESHUTDOWN)
          vLog("ep0 write: %s", std::strerror(errno));
      } else if (r.eKind == SimGadgetReply::EKind::kAck) {
        vAck();
      } else {
        vStall(s.bIn);
      }
    }
    if (m_opt.ullVanishAfter && m_gadget.ullVendorRequests() >= m_opt.ullVanishAfter) {
      vLog("vanishing after %s vendor requests", std::to_string(m_gadget.ullVendorRequests()));
      bEnd = true;
      return true;
    }
    if (r.bLeftBus) {
      vLog("the chip left the bus");
      ::usleep(20000);  // the status stage reaches the host before the hub goes
      return true;
    }
    return false;
  }

  void vAck() {
    if (::read(m_fdEp0.get(), nullptr, 0) < 0 && errno != ESHUTDOWN)
      vLog("ep0 ack: %s", std::strerror(errno));
  }
  // GadgetFS stalls an IN request on a read and an OUT request on a write.
  void vStall(bool bIn) {
    uint8_t b = 0;
    ssize_t n = bIn ? ::read(m_fdEp0.get(), &b, 0) : ::write(m_fdEp0.get(), &b, 0);
    if (n < 0 && errno != EL2HLT) vLog("ep0 stall: %s", std::strerror(errno));
  }

  // The status-change endpoint exists while the hub is configured. It never sends: nothing
  // on the ports changes.
  void vConfigure(bool bOn) {
    m_fdEpIn.reset();
    if (!bOn) return;
    std::string strEp = strFindInterruptIn(m_opt.strGadgetFs);
    m_fdEpIn.reset(::open(strEp.c_str(), O_RDWR | O_CLOEXEC));
    if (!m_fdEpIn.bValid()) {
      vLog("cannot open the status endpoint %s", strEp + ": " + std::strerror(errno));
      return;
    }
    std::vector<uint8_t> blob = {1, 0, 0, 0};
    vAppend(blob, m_gadget.vecEndpointDescriptor(false));
    vAppend(blob, m_gadget.vecEndpointDescriptor(true));
    if (::write(m_fdEpIn.get(), blob.data(), blob.size()) != static_cast<ssize_t>(blob.size()))
      vLog("status endpoint refused: %s", std::strerror(errno));
    if (!m_opt.strReady.empty() && !m_bReadyWritten) {
      m_bReadyWritten = true;
      CFileDescriptor fd(::open(m_opt.strReady.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    }
  }

  CSimHubGadget& m_gadget;
  const Options& m_opt;
  CFileDescriptor m_fdEp0, m_fdEpIn;
  bool m_bHighSpeed = true;
  bool m_bReadyWritten = false;
};

bool bParse(int argc, char** argv, Options& o) {
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
  Options opt;
  if (!bParse(argc, argv, opt)) {
    std::fprintf(stderr,
                 "usage: vmhub --bench FILE --hub NAME [--gadgetfs DIR] [--vanish-after N] [--ready FILE]\n");
    return 1;
  }
  SimBenchSpec bench;
  std::string strError;
  if (!bReadSimBenchFile(opt.strBench, bench, strError)) {
    vLog("%s", strError);
    return 1;
  }
  auto it = std::find_if(bench.vecHubs.begin(), bench.vecHubs.end(),
                         [&](const SimHubSpec& h) { return h.strName == opt.strHub; });
  if (it == bench.vecHubs.end()) {
    vLog("no hub %s in the bench", opt.strHub);
    return 1;
  }
  SimHubSpec hubDef = *it;
  hubDef.bUsb3 = false;  // a high-speed gadget: the USB 2.0 half alone
  // The chip's waits (erase, time off the bus) pass in real time, as the tool's do on Linux.
  CScaledClock clock(1.0);
  CSimHubChip chip(hubDef, clock);
  if (!chip.bOpenFlash(strError)) {
    vLog("%s", strError);
    return 1;
  }
  struct sigaction sa {};
  sa.sa_handler = vOnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  // GadgetFS completes an OUT request's data stage before the program has seen the request,
  // so the host may send the next one at once; a new request while one is unanswered loses
  // it. Run before anything else in the guest: woken by a request, the program reads it and
  // its data before the host's side runs again.
  sched_param sp{};
  sp.sched_priority = 50;
  if (sched_setscheduler(0, SCHED_FIFO, &sp) != 0) vLog("no real-time priority: %s", std::strerror(errno));
  CSimHubGadget gadget(chip);
  CGadgetFsHub hub(gadget, opt);
  while (!g_bStop) {
    while (!gadget.bPresent() && !g_bStop) ::usleep(10000);
    if (g_bStop) break;
    bool bEnd = false;
    if (!hub.bServe(bEnd)) return 1;
    if (bEnd) break;
  }
  vLog("stopped after %s vendor requests", std::to_string(gadget.ullVendorRequests()));
  return 0;
}
