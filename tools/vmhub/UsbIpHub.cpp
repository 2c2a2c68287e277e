#include "UsbIpHub.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/sim/SimUsbIpLink.h"

namespace {
constexpr const char* VHCI_ATTACH = "/sys/devices/platform/vhci_hcd.0/attach";
constexpr unsigned SPEED_HIGH = 3;  // enum usb_device_speed

// Hands the socket to vhci_hcd for the port. A port the last detach has not freed yet
// refuses an attach, so it is tried again for a while.
bool bAttach(int nPort, int fdSocket) {
  char sz[64];
  std::snprintf(sz, sizeof sz, "%d %d %u %u", nPort, fdSocket, 0x10000u | static_cast<unsigned>(nPort + 1),
                SPEED_HIGH);
  for (int i = 0; i < 200 && !g_bVmHubStop; ++i) {
    CFileDescriptor fd(::open(VHCI_ATTACH, O_WRONLY | O_CLOEXEC));
    if (!fd.bValid()) {
      vVmHubLog("cannot open %s", std::string(VHCI_ATTACH) + ": " + std::strerror(errno));
      return false;
    }
    if (::write(fd.get(), sz, std::strlen(sz)) == static_cast<ssize_t>(std::strlen(sz))) return true;
    ::usleep(50000);
  }
  vVmHubLog("vhci_hcd took no attach on port %s", std::to_string(nPort) + ": " + std::strerror(errno));
  return false;
}
}  // namespace

bool CUsbIpHub::bServe(bool& bEnd) {
  bEnd = false;
  m_gadget.vAttach();
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
    vVmHubLog("socketpair: %s", std::strerror(errno));
    return false;
  }
  CSimUsbIpLink link{CFileDescriptor(sv[0])};
  {
    CFileDescriptor fdKernel(sv[1]);  // vhci_hcd keeps its own reference
    if (!bAttach(m_opt.nUsbIpPort, fdKernel.get())) return false;
  }
  vVmHubLog("attached to vhci_hcd port %s", std::to_string(m_opt.nUsbIpPort));
  while (!g_bVmHubStop) {
    UsbIpSubmit sub;
    CSimUsbIpLink::ENext e = link.eNext(sub, 200);
    if (e == CSimUsbIpLink::ENext::kIdle) continue;
    if (e == CSimUsbIpLink::ENext::kClosed) {
      vVmHubLog("the host controller closed the connection");
      bEnd = true;
      return true;
    }
    if (sub.ucEp != 0) {
      // the status-change endpoint: nothing on the ports ever changes
      if (sub.ucEp == 1 && sub.bIn)
        link.vHold(sub);
      else
        link.bReply(sub, USBIP_STATUS_STALL);
      continue;
    }
    const UsbControlSetup& s = sub.setup;
    SimGadgetReply r = m_gadget.stSetup(s);
    if (m_opt.bTrace)
      std::fprintf(stderr, "[vmhub] %02x %02x %04x %04x %u -> %d %zu\n", s.bmRequestType, s.bRequest,
                   s.wValue, s.wIndex, s.wLength, static_cast<int>(r.eKind), r.vecData.size());
    const int nStatus = r.eKind == SimGadgetReply::EKind::kStall ? USBIP_STATUS_STALL : 0;
    link.bReply(sub, nStatus, r.vecData, r.ulDelayMs);
    if (m_gadget.ucConfiguration() != 0) vVmHubReady(m_opt, m_bReadyWritten);
    if (m_opt.ullVanishAfter && m_gadget.ullVendorRequests() >= m_opt.ullVanishAfter) {
      vVmHubLog("vanishing after %s vendor requests", std::to_string(m_gadget.ullVendorRequests()));
      bEnd = true;
      break;
    }
    if (r.bLeftBus) {
      vVmHubLog("the chip left the bus");
      link.bFlush();
      ::usleep(20000);  // the status stage reaches the host before the hub goes
      break;
    }
  }
  if (g_bVmHubStop) bEnd = true;
  link.bFlush();
  return true;  // the link's close is the hub leaving the bus
}
