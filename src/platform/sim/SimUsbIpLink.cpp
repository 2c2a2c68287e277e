#include "platform/sim/SimUsbIpLink.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace {
uint32_t ulBe(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
void vPutBe(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = static_cast<uint8_t>(x >> 24);
  v[at + 1] = static_cast<uint8_t>(x >> 16);
  v[at + 2] = static_cast<uint8_t>(x >> 8);
  v[at + 3] = static_cast<uint8_t>(x);
}
// The largest transfer taken: a control request's data stage, a mass-storage transfer.
constexpr uint32_t MAX_TRANSFER = 1u << 20;
constexpr const char* VHCI_ATTACH = "/sys/devices/platform/vhci_hcd.0/attach";
constexpr unsigned SPEED_HIGH = 3, SPEED_SUPER = 5;  // enum usb_device_speed
constexpr const char* VHCI_STATUS = "/sys/devices/platform/vhci_hcd.0/status";

// The ports of each of vhci_hcd's root hubs (the kernel's build sets it, 8 to 15): the
// status file has a line per port, "hs" ones first, then the SuperSpeed ones numbered on.
int nVhciRootHubPorts() {
  std::ifstream in(VHCI_STATUS);
  int n = 0;
  for (std::string line; std::getline(in, line);)
    if (line.rfind("hs ", 0) == 0) ++n;
  return n;
}
}  // namespace

std::unique_ptr<CSimUsbIpLink> CSimUsbIpLink::pAttachToVhci(int nPort, bool bSuperSpeed,
                                                            const std::atomic<bool>* pStop,
                                                            std::string& strError) {
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
    strError = std::string("socketpair: ") + std::strerror(errno);
    return nullptr;
  }
  auto link = std::make_unique<CSimUsbIpLink>(CFileDescriptor(sv[0]));
  CFileDescriptor fdKernel(sv[1]);  // vhci_hcd takes its own reference
  char sz[64];
  const int nRootPorts = nVhciRootHubPorts();
  if (nPort < 0 || nPort >= nRootPorts) {
    strError = "vhci_hcd has no port " + std::to_string(nPort) + " (" + VHCI_STATUS + ")";
    return nullptr;
  }
  const int nVhciPort = nPort + (bSuperSpeed ? nRootPorts : 0);
  std::snprintf(sz, sizeof sz, "%d %d %u %u", nVhciPort, fdKernel.get(),
                0x10000u | static_cast<unsigned>(nVhciPort + 1), bSuperSpeed ? SPEED_SUPER : SPEED_HIGH);
  for (int i = 0; i < 200 && !(pStop && *pStop); ++i) {
    CFileDescriptor fd(::open(VHCI_ATTACH, O_WRONLY | O_CLOEXEC));
    if (!fd.bValid()) {
      strError = std::string("cannot open ") + VHCI_ATTACH + ": " + std::strerror(errno);
      return nullptr;
    }
    if (::write(fd.get(), sz, std::strlen(sz)) == static_cast<ssize_t>(std::strlen(sz))) return link;
    strError =
        std::string("vhci_hcd took no attach on port ") + std::to_string(nPort) + ": " + std::strerror(errno);
    ::usleep(50000);
  }
  return nullptr;
}

std::vector<uint8_t> CSimUsbIpLink::vecRetSubmit(uint32_t ulSeq, int nStatus,
                                                 const std::vector<uint8_t>& vecData) {
  std::vector<uint8_t> v(USBIP_HEADER_SIZE + vecData.size(), 0);
  vPutBe(v, 0, USBIP_RET_SUBMIT);
  vPutBe(v, 4, ulSeq);
  vPutBe(v, 20, static_cast<uint32_t>(nStatus));
  vPutBe(v, 24, static_cast<uint32_t>(vecData.size()));
  std::copy(vecData.begin(), vecData.end(), v.begin() + USBIP_HEADER_SIZE);
  return v;
}

std::vector<uint8_t> CSimUsbIpLink::vecRetUnlink(uint32_t ulSeq, int nStatus) {
  std::vector<uint8_t> v(USBIP_HEADER_SIZE, 0);
  vPutBe(v, 0, USBIP_RET_UNLINK);
  vPutBe(v, 4, ulSeq);
  vPutBe(v, 20, static_cast<uint32_t>(nStatus));
  return v;
}

bool CSimUsbIpLink::bSend(const std::vector<uint8_t>& v) {
  size_t done = 0;
  while (done < v.size() && m_fd.bValid()) {
    ssize_t n = ::send(m_fd.get(), v.data() + done, v.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      m_fd.reset();
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return m_fd.bValid();
}

bool CSimUsbIpLink::bReadFull(uint8_t* p, size_t n) {
  size_t done = 0;
  while (done < n && m_fd.bValid()) {
    ssize_t r = ::recv(m_fd.get(), p + done, n - done, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      m_fd.reset();
      return false;
    }
    done += static_cast<size_t>(r);
  }
  return m_fd.bValid();
}

bool CSimUsbIpLink::bSendDue() {
  const auto now = Clock::now();
  for (auto it = m_pending.begin(); it != m_pending.end();) {
    if (!it->bHeld && it->due <= now) {
      if (!bSend(it->vecReply)) return false;
      it = m_pending.erase(it);
    } else {
      ++it;
    }
  }
  return true;
}

bool CSimUsbIpLink::bFlush() {
  for (Pending& p : m_pending) p.due = Clock::time_point{};
  return bSendDue();
}

bool CSimUsbIpLink::bUnlink(uint32_t ulSeq, uint32_t ulTarget) {
  auto it = std::find_if(m_pending.begin(), m_pending.end(),
                         [&](const Pending& p) { return p.sub.ulSeq == ulTarget; });
  int nStatus = 0;  // answered already: the host controller has it back
  if (it != m_pending.end()) {
    m_pending.erase(it);
    nStatus = USBIP_STATUS_UNLINKED;
  }
  return bSend(vecRetUnlink(ulSeq, nStatus));
}

CSimUsbIpLink::ENext CSimUsbIpLink::eNext(UsbIpSubmit& sub, int nWaitMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(nWaitMs);
  for (;;) {
    if (!bSendDue()) return ENext::kClosed;
    auto now = Clock::now();
    auto until = end;
    for (const Pending& p : m_pending)
      if (!p.bHeld) until = std::min(until, p.due);
    int nMs = static_cast<int>(
        std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()));
    pollfd pf{m_fd.get(), POLLIN, 0};
    int rc = ::poll(&pf, 1, nMs);
    if (rc < 0 && errno != EINTR) return ENext::kClosed;
    if (rc <= 0) {
      if (Clock::now() >= end) return ENext::kIdle;
      continue;
    }
    uint8_t h[USBIP_HEADER_SIZE];
    if (!bReadFull(h, sizeof h)) return ENext::kClosed;
    const uint32_t ulCmd = ulBe(h), ulSeq = ulBe(h + 4);
    if (ulCmd == USBIP_CMD_UNLINK) {
      if (!bUnlink(ulSeq, ulBe(h + 20))) return ENext::kClosed;
      continue;
    }
    const uint32_t ulLength = ulBe(h + 24);
    if (ulCmd != USBIP_CMD_SUBMIT || ulLength > MAX_TRANSFER || ulBe(h + 16) > 15) {
      m_fd.reset();  // no command of this protocol: the stream cannot be followed any further
      return ENext::kClosed;
    }
    sub = UsbIpSubmit{};
    sub.ulSeq = ulSeq;
    sub.bIn = ulBe(h + 12) == 1;
    sub.ucEp = static_cast<uint8_t>(ulBe(h + 16));
    sub.ulLength = ulLength;
    if (!sub.bIn && ulLength) {
      sub.vecOut.resize(ulLength);
      if (!bReadFull(sub.vecOut.data(), ulLength)) return ENext::kClosed;
    }
    if (sub.ucEp == 0) {
      const uint8_t* s = h + 40;
      sub.setup.bmRequestType = s[0];
      sub.setup.bRequest = s[1];
      sub.setup.wValue = static_cast<uint16_t>(s[2] | (s[3] << 8));
      sub.setup.wIndex = static_cast<uint16_t>(s[4] | (s[5] << 8));
      sub.setup.wLength = static_cast<uint16_t>(s[6] | (s[7] << 8));
      sub.setup.bIn = (s[0] & 0x80) != 0;
      sub.setup.pData = sub.vecOut.empty() ? nullptr : sub.vecOut.data();
    }
    return ENext::kSubmit;
  }
}

bool CSimUsbIpLink::bReply(const UsbIpSubmit& sub, int nStatus, const std::vector<uint8_t>& vecData,
                           uint32_t ulDelayMs) {
  std::vector<uint8_t> data;
  if (sub.bIn && nStatus == 0)
    data.assign(vecData.begin(), vecData.begin() + static_cast<std::ptrdiff_t>(
                                                       std::min<size_t>(vecData.size(), sub.ulLength)));
  std::vector<uint8_t> v = vecRetSubmit(sub.ulSeq, nStatus, data);
  if (!sub.bIn && nStatus == 0) vPutBe(v, 24, sub.ulLength);  // an OUT transfer took all its data
  if (!ulDelayMs) return bSend(v);
  Pending p;
  p.sub = sub;
  p.sub.vecOut.clear();
  p.due = Clock::now() + std::chrono::milliseconds(ulDelayMs);
  p.vecReply = std::move(v);
  m_pending.push_back(std::move(p));
  return true;
}

void CSimUsbIpLink::vHold(const UsbIpSubmit& sub) {
  Pending p;
  p.sub = sub;
  p.sub.vecOut.clear();
  p.bHeld = true;
  m_pending.push_back(std::move(p));
}

bool CSimUsbIpLink::bReplyHeld(uint8_t ucEp, bool bIn, int nStatus, const std::vector<uint8_t>& vecData,
                               size_t* pulSent) {
  auto it = std::find_if(m_pending.begin(), m_pending.end(),
                         [&](const Pending& p) { return p.bHeld && p.sub.ucEp == ucEp && p.sub.bIn == bIn; });
  if (it == m_pending.end()) return false;
  UsbIpSubmit sub = it->sub;
  m_pending.erase(it);
  if (pulSent != nullptr) *pulSent = std::min<size_t>(vecData.size(), sub.ulLength);
  return bReply(sub, nStatus, vecData);
}
