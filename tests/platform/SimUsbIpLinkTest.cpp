#include <gtest/gtest.h>
#include <sys/socket.h>

#include "platform/sim/SimUsbIpLink.h"

namespace {
uint32_t ulBe(const std::vector<uint8_t>& v, size_t at) {
  return (static_cast<uint32_t>(v[at]) << 24) | (static_cast<uint32_t>(v[at + 1]) << 16) |
         (static_cast<uint32_t>(v[at + 2]) << 8) | v[at + 3];
}
void vPutBe(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + static_cast<size_t>(i)] = static_cast<uint8_t>(x >> (24 - 8 * i));
}

// The host controller's end of the socket: sends commands as vhci_hcd does, reads replies.
struct HostEnd {
  CFileDescriptor fd;
  std::unique_ptr<CSimUsbIpLink> link;
  HostEnd() {
    int sv[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    fd.reset(sv[0]);
    link = std::make_unique<CSimUsbIpLink>(CFileDescriptor(sv[1]));
  }
  void vSubmit(uint32_t seq, uint8_t ep, bool in, uint32_t len, std::vector<uint8_t> setup = {},
               const std::vector<uint8_t>& out = {}) {
    std::vector<uint8_t> h(USBIP_HEADER_SIZE, 0);
    vPutBe(h, 0, USBIP_CMD_SUBMIT);
    vPutBe(h, 4, seq);
    vPutBe(h, 8, 0x10001);
    vPutBe(h, 12, in ? 1 : 0);
    vPutBe(h, 16, ep);
    vPutBe(h, 24, len);
    setup.resize(8);
    std::copy(setup.begin(), setup.end(), h.begin() + 40);
    h.insert(h.end(), out.begin(), out.end());
    ASSERT_EQ(::send(fd.get(), h.data(), h.size(), 0), static_cast<ssize_t>(h.size()));
  }
  void vUnlink(uint32_t seq, uint32_t target) {
    std::vector<uint8_t> h(USBIP_HEADER_SIZE, 0);
    vPutBe(h, 0, USBIP_CMD_UNLINK);
    vPutBe(h, 4, seq);
    vPutBe(h, 20, target);
    ASSERT_EQ(::send(fd.get(), h.data(), h.size(), 0), static_cast<ssize_t>(h.size()));
  }
  // Everything the device has sent so far.
  std::vector<uint8_t> vecReceived() {
    std::vector<uint8_t> v;
    uint8_t b[4096];
    ssize_t n;
    while ((n = ::recv(fd.get(), b, sizeof b, MSG_DONTWAIT)) > 0) v.insert(v.end(), b, b + n);
    return v;
  }
};
}  // namespace

// A control IN request: its setup packet decoded as the bus carries it (little-endian in a
// big-endian header), the reply cut to the URB's buffer; a control OUT request: its data
// read with it, the reply taking all of it and carrying no data back.
TEST(SimUsbIpLink, ControlRequestsBothWays) {
  HostEnd host;
  host.vSubmit(7, 0, true, 4, {0x80, 6, 0xFF, 0x03, 0x09, 0x04, 4, 0});
  UsbIpSubmit sub;
  ASSERT_EQ(host.link->eNext(sub, 100), CSimUsbIpLink::ENext::kSubmit);
  EXPECT_EQ(sub.ulSeq, 7u);
  EXPECT_EQ(sub.ucEp, 0);
  EXPECT_TRUE(sub.setup.bIn);
  EXPECT_EQ(sub.setup.wValue, 0x03FF);
  EXPECT_EQ(sub.setup.wIndex, 0x0409);
  EXPECT_EQ(sub.setup.wLength, 4);
  ASSERT_TRUE(host.link->bReply(sub, 0, {1, 2, 3, 4, 5, 6}));
  std::vector<uint8_t> r = host.vecReceived();
  ASSERT_EQ(r.size(), USBIP_HEADER_SIZE + 4);
  EXPECT_EQ(ulBe(r, 0), USBIP_RET_SUBMIT);
  EXPECT_EQ(ulBe(r, 4), 7u);
  EXPECT_EQ(ulBe(r, 20), 0u);
  EXPECT_EQ(ulBe(r, 24), 4u);
  EXPECT_EQ(std::vector<uint8_t>(r.begin() + USBIP_HEADER_SIZE, r.end()), std::vector<uint8_t>({1, 2, 3, 4}));

  host.vSubmit(8, 0, false, 3, {0x40, 0x53, 0x12, 0, 0, 1, 3, 0}, {9, 8, 7});
  ASSERT_EQ(host.link->eNext(sub, 100), CSimUsbIpLink::ENext::kSubmit);
  ASSERT_NE(sub.setup.pData, nullptr);
  EXPECT_EQ(sub.vecOut, std::vector<uint8_t>({9, 8, 7}));
  ASSERT_TRUE(host.link->bReply(sub, 0));
  r = host.vecReceived();
  ASSERT_EQ(r.size(), USBIP_HEADER_SIZE);
  EXPECT_EQ(ulBe(r, 24), 3u);

  host.vSubmit(9, 0, true, 8, {0x80, 6, 0, 0x22, 0, 0, 8, 0});
  ASSERT_EQ(host.link->eNext(sub, 100), CSimUsbIpLink::ENext::kSubmit);
  ASSERT_TRUE(host.link->bReply(sub, USBIP_STATUS_STALL, {1, 2}));
  r = host.vecReceived();
  ASSERT_EQ(r.size(), USBIP_HEADER_SIZE);  // a refusal carries no data
  EXPECT_EQ(static_cast<int32_t>(ulBe(r, 20)), USBIP_STATUS_STALL);
  EXPECT_EQ(host.link->eNext(sub, 10), CSimUsbIpLink::ENext::kIdle);
}

// Requests left unanswered (a held interrupt IN, a late reply) are taken back by an unlink,
// which is answered "taken back" and leaves no reply behind; an unlink of one already
// answered gets status 0. A late reply not taken back goes once it is due.
TEST(SimUsbIpLink, UnlinksTakeBackWhatIsUnanswered) {
  HostEnd host;
  UsbIpSubmit sub;
  host.vSubmit(1, 1, true, 1);
  ASSERT_EQ(host.link->eNext(sub, 100), CSimUsbIpLink::ENext::kSubmit);
  host.link->vHold(sub);
  host.vSubmit(2, 0, true, 2, {0x80, 0, 0, 0, 0, 0, 2, 0});
  ASSERT_EQ(host.link->eNext(sub, 100), CSimUsbIpLink::ENext::kSubmit);
  host.link->bReply(sub, 0, {1, 0}, 60000);  // a chip that blocks: far in the future
  host.vUnlink(3, 2);
  host.vUnlink(4, 1);
  host.vUnlink(5, 1);  // again: nothing left to take back
  EXPECT_EQ(host.link->eNext(sub, 20), CSimUsbIpLink::ENext::kIdle);
  std::vector<uint8_t> r = host.vecReceived();
  ASSERT_EQ(r.size(), 3 * USBIP_HEADER_SIZE);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(ulBe(r, i * USBIP_HEADER_SIZE), USBIP_RET_UNLINK);
  EXPECT_EQ(ulBe(r, 4), 3u);
  EXPECT_EQ(static_cast<int32_t>(ulBe(r, 20)), USBIP_STATUS_UNLINKED);
  EXPECT_EQ(static_cast<int32_t>(ulBe(r, USBIP_HEADER_SIZE + 20)), USBIP_STATUS_UNLINKED);
  EXPECT_EQ(ulBe(r, 2 * USBIP_HEADER_SIZE + 20), 0u);
  EXPECT_FALSE(host.link->bReplyHeld(1, true, 0));

  host.vSubmit(6, 0, true, 2, {0x80, 0, 0, 0, 0, 0, 2, 0});
  ASSERT_EQ(host.link->eNext(sub, 100), CSimUsbIpLink::ENext::kSubmit);
  host.link->bReply(sub, 0, {1, 0}, 5);
  EXPECT_EQ(host.link->eNext(sub, 50), CSimUsbIpLink::ENext::kIdle);
  r = host.vecReceived();
  ASSERT_EQ(r.size(), USBIP_HEADER_SIZE + 2);
  EXPECT_EQ(ulBe(r, 4), 6u);
}

// What is no command of the protocol, a transfer beyond any the devices take, and a closed
// host end all end the link.
TEST(SimUsbIpLink, ClosesOnWhatItCannotFollow) {
  UsbIpSubmit sub;
  {
    HostEnd host;
    std::vector<uint8_t> junk(USBIP_HEADER_SIZE, 0x5A);
    ASSERT_EQ(::send(host.fd.get(), junk.data(), junk.size(), 0), static_cast<ssize_t>(junk.size()));
    EXPECT_EQ(host.link->eNext(sub, 100), CSimUsbIpLink::ENext::kClosed);
    EXPECT_FALSE(host.link->bOpen());
  }
  {
    HostEnd host;
    host.vSubmit(1, 2, false, 64u << 20);
    EXPECT_EQ(host.link->eNext(sub, 100), CSimUsbIpLink::ENext::kClosed);
  }
  {
    HostEnd host;
    host.fd.reset();
    EXPECT_EQ(host.link->eNext(sub, 100), CSimUsbIpLink::ENext::kClosed);
    EXPECT_FALSE(host.link->bReply(sub, 0));
  }
}
