#include "GadgetFsHub.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/usb/gadgetfs.h>
// The kernel's header makes a macro of a name the project declares as a constant.
#undef USB_CLASS_HUB
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
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

}  // namespace

bool CGadgetFsHub::bServe(bool& bEnd) {
  bEnd = false;
  m_gadget.vAttach();
  std::vector<uint8_t> dev = m_gadget.vecDeviceDescriptor();
  if (dev.size() != 18) {
    vVmHubLog("the chip gives no device descriptor");
    return false;
  }
  std::string strDevice = strFindDeviceFile(m_opt.strGadgetFs);
  if (strDevice.empty()) {
    vVmHubLog("no device controller in %s", m_opt.strGadgetFs);
    return false;
  }
  m_fdEp0.reset(::open(strDevice.c_str(), O_RDWR | O_CLOEXEC));
  if (!m_fdEp0.bValid()) {
    vVmHubLog("cannot open %s", strDevice + ": " + std::strerror(errno));
    return false;
  }
  std::vector<uint8_t> blob = {0, 0, 0, 0};
  vAppend(blob, m_gadget.vecConfigDescriptor(false));
  vAppend(blob, m_gadget.vecConfigDescriptor(true));
  vAppend(blob, dev);
  if (::write(m_fdEp0.get(), blob.data(), blob.size()) != static_cast<ssize_t>(blob.size())) {
    vVmHubLog("descriptors refused: %s", std::strerror(errno));
    return false;
  }
  char sz[64];
  std::snprintf(sz, sizeof sz, "%04x:%04x bcdDevice %04x", dev[8] | (dev[9] << 8), dev[10] | (dev[11] << 8),
                dev[12] | (dev[13] << 8));
  vVmHubLog("attached as %s", sz);
  for (;;) {
    if (g_bVmHubStop) {
      bEnd = true;
      break;
    }
    pollfd pf{m_fdEp0.get(), POLLIN, 0};
    // A read without poll first sleeps in the kernel holding the device; poll keeps the
    // stop flag seen.
    int rc = ::poll(&pf, 1, 200);
    if (rc < 0 && errno != EINTR) {
      vVmHubLog("poll: %s", std::strerror(errno));
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
        vVmHubLog("a request was overtaken by the next one");
        continue;
      }
      if (errno == EL2HLT) {
        // GadgetFS still held an IN request as unanswered and stalled it for this read: the
        // host sees that one request fail, as after a lost answer, and the hub goes on
        vVmHubLog("an unanswered IN request was stalled");
        continue;
      }
      vVmHubLog("read: %s", std::strerror(errno));
      bEnd = true;
      break;
    }
    bool bDetach = false;
    for (size_t i = 0; i < static_cast<size_t>(n) / sizeof ev[0] && !bDetach; ++i) {
      switch (ev[i].type) {
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

// True when the hub leaves the bus now (bEnd: for good).
bool CGadgetFsHub::bSetup(const usb_ctrlrequest& c, bool& bEnd) {
  UsbControlSetup s;
  s.bmRequestType = c.bRequestType;
  s.bRequest = c.bRequest;
  s.wValue = c.wValue;
  s.wIndex = c.wIndex;
  s.wLength = c.wLength;
  s.bIn = (c.bRequestType & USB_DIR_IN) != 0;
  std::vector<uint8_t> out;
  if (c.bRequestType == 0 && c.bRequest == USB_REQ_SET_CONFIGURATION) {
    vVmHubLog("configuration %s", std::to_string(c.wValue));
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
  SimGadgetReply r = stVmHubRequest(m_gadget, m_opt, s);
  if (r.ulDelayMs) ::usleep(r.ulDelayMs * 1000);
  if (s.bIn || !s.wLength) {
    if (r.eKind == SimGadgetReply::EKind::kData) {
      if (::write(m_fdEp0.get(), r.vecData.data(), r.vecData.size()) < 0 && errno != ESHUTDOWN)
        vVmHubLog("ep0 write: %s", std::strerror(errno));
    } else if (r.eKind == SimGadgetReply::EKind::kAck) {
      vAck();
    } else {
      vStall(s.bIn);
    }
  }
  if (bVmHubVanishes(m_gadget, m_opt)) {
    bEnd = true;
    return true;
  }
  if (r.bLeftBus) {
    vVmHubLog("the chip left the bus");
    ::usleep(20000);  // the status stage reaches the host before the hub goes
    return true;
  }
  return false;
}

void CGadgetFsHub::vAck() {
  if (::read(m_fdEp0.get(), nullptr, 0) < 0 && errno != ESHUTDOWN)
    vVmHubLog("ep0 ack: %s", std::strerror(errno));
}
// GadgetFS stalls an IN request on a read and an OUT request on a write.
void CGadgetFsHub::vStall(bool bIn) {
  uint8_t b = 0;
  ssize_t n = bIn ? ::read(m_fdEp0.get(), &b, 0) : ::write(m_fdEp0.get(), &b, 0);
  if (n < 0 && errno != EL2HLT) vVmHubLog("ep0 stall: %s", std::strerror(errno));
}

// The status-change endpoint exists while the hub is configured. It never sends: nothing
// on the ports changes.
void CGadgetFsHub::vConfigure(bool bOn) {
  m_fdEpIn.reset();
  if (!bOn) return;
  std::string strEp = strFindInterruptIn(m_opt.strGadgetFs);
  m_fdEpIn.reset(::open(strEp.c_str(), O_RDWR | O_CLOEXEC));
  if (!m_fdEpIn.bValid()) {
    vVmHubLog("cannot open the status endpoint %s", strEp + ": " + std::strerror(errno));
    return;
  }
  std::vector<uint8_t> blob = {1, 0, 0, 0};
  vAppend(blob, m_gadget.vecEndpointDescriptor(false));
  vAppend(blob, m_gadget.vecEndpointDescriptor(true));
  if (::write(m_fdEpIn.get(), blob.data(), blob.size()) != static_cast<ssize_t>(blob.size()))
    vVmHubLog("status endpoint refused: %s", std::strerror(errno));
  vVmHubReady(m_opt, m_bReadyWritten);
}
