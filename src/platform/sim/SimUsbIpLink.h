// The device end of one USB/IP connection: what a simulated device speaks to the kernel's
// virtual host controller (vhci_hcd) over a stream socket. The host controller sends a
// command per URB it is given (submit) or takes back (unlink); the device answers each
// submit once, and each unlink once. All header fields are big-endian; a control request's
// setup packet is carried as it is on the bus.
//
// The link keeps the submits the device has not answered yet: requests the device holds
// (an interrupt endpoint with nothing to report) and replies it sends late (a chip that
// blocks before it answers). An unlink of either takes it back, as a host controller's
// unlink does; an unlink of a request already answered is acknowledged with status 0.
//
// Not thread-safe: one transport thread uses it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/FileDescriptor.h"
#include "platform/FilterDevice.h"

// One submitted URB.
struct UsbIpSubmit {
  uint32_t ulSeq = 0;
  uint8_t ucEp = 0;  // endpoint number, without the direction bit
  bool bIn = false;
  uint32_t ulLength = 0;        // the URB's buffer: at most this much for an IN reply
  UsbControlSetup setup;        // endpoint 0 only; pData points into vecOut
  std::vector<uint8_t> vecOut;  // an OUT transfer's data
};

constexpr uint32_t USBIP_CMD_SUBMIT = 1, USBIP_CMD_UNLINK = 2, USBIP_RET_SUBMIT = 3, USBIP_RET_UNLINK = 4;
constexpr uint32_t USBIP_HEADER_SIZE = 48;
constexpr int USBIP_STATUS_STALL = -32;      // -EPIPE, as a host controller reports a stall
constexpr int USBIP_STATUS_UNLINKED = -104;  // -ECONNRESET: taken back before it completed

class CSimUsbIpLink {
 public:
  explicit CSimUsbIpLink(CFileDescriptor fd) : m_fd(std::move(fd)) {}

  // A new device on port nPort (from 0) of vhci_hcd's high-speed root hub, or of its
  // SuperSpeed one (the two root hubs' ports of one number are peers, as a USB 3 port's two
  // halves): one end of a socket pair goes to vhci_hcd through its sysfs attach file, the
  // link holds the other. A port the last detach has not freed yet refuses an attach, so it
  // is tried again for up to 10 s (or until *pStop). Null with the reason when vhci_hcd takes
  // none.
  static std::unique_ptr<CSimUsbIpLink> pAttachToVhci(int nPort, bool bSuperSpeed,
                                                      const std::atomic<bool>* pStop, std::string& strError);

  enum class ENext {
    kSubmit,  // sub holds the next submit
    kIdle,    // nothing came within the wait
    kClosed,  // the host end closed the connection, or it failed, or sent what is no command
  };
  // Sends the late replies that are due, answers unlinks, and waits up to nWaitMs for the
  // next submit.
  ENext eNext(UsbIpSubmit& sub, int nWaitMs);

  // Answers a submit: status 0 or a negative errno, and an IN transfer's data (cut to the
  // URB's length). With ulDelayMs the reply is sent that much later, unless unlinked first.
  bool bReply(const UsbIpSubmit& sub, int nStatus, const std::vector<uint8_t>& vecData = {},
              uint32_t ulDelayMs = 0);
  // Keeps a submit unanswered until bReplyHeld or an unlink.
  void vHold(const UsbIpSubmit& sub);
  // Answers the oldest held submit of an endpoint; false when none is held. *pulSent: the
  // data bytes that fitted its buffer.
  bool bReplyHeld(uint8_t ucEp, bool bIn, int nStatus, const std::vector<uint8_t>& vecData = {},
                  size_t* pulSent = nullptr);
  // Sends every late reply now (before the device leaves the bus).
  bool bFlush();
  // Closes the connection: the host controller sees the device go.
  void vClose() { m_fd.reset(); }
  bool bOpen() const { return m_fd.bValid(); }

  // Builds a reply's or a command's bytes (for the tests of a link's peer).
  static std::vector<uint8_t> vecRetSubmit(uint32_t ulSeq, int nStatus, const std::vector<uint8_t>& vecData);
  static std::vector<uint8_t> vecRetUnlink(uint32_t ulSeq, int nStatus);

 private:
  using Clock = std::chrono::steady_clock;
  struct Pending {
    UsbIpSubmit sub;
    bool bHeld = false;
    Clock::time_point due;
    std::vector<uint8_t> vecReply;  // the reply's bytes, for a late reply
  };
  bool bSend(const std::vector<uint8_t>& v);
  bool bReadFull(uint8_t* p, size_t n);
  bool bSendDue();
  bool bUnlink(uint32_t ulSeq, uint32_t ulTarget);

  CFileDescriptor m_fd;
  std::deque<Pending> m_pending;
};
