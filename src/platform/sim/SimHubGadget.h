// A simulated hub chip as a USB gadget sees it: what a transport of the VM's hub (tools/vmhub:
// a gadget on GadgetFS, or a device on USB/IP) answers on endpoint 0 for the chip. Every
// standard request is answered, for a transport that passes them all on (USB/IP); GadgetFS
// answers the device and configuration descriptors itself from the ones it is given. The hub class requests
// that make the host's hub driver bind are answered here (a hub with nothing on its ports); the string
// descriptors and the vendor requests go to the chip model, so the gadget follows the chip's own registers,
// flash, erase, downloads, refusals and reset. The descriptors the transport hands to the kernel come from
// the chip's identity at the time of the attach.
//
// Not thread-safe: one transport thread calls it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/FilterDevice.h"
#include "platform/sim/SimHubChip.h"

// What the transport does with one control request.
struct SimGadgetReply {
  enum class EKind {
    kData,   // send vecData (an IN request)
    kAck,    // complete the status stage (an OUT request)
    kStall,  // refuse the request
  };
  EKind eKind = EKind::kStall;
  std::vector<uint8_t> vecData;
  uint32_t ulDelayMs = 0;  // the chip blocks this long before it answers (a timed-out request)
  bool bLeftBus = false;   // the chip left the bus with this request: detach once answered
};

class CSimHubGadget {
 public:
  // bSuperSpeed: the chip's SuperSpeed half (a USB 3 hub's second device), else its USB 2.0
  // half.
  explicit CSimHubGadget(CSimHubChip& chip, bool bSuperSpeed = false)
      : m_chip(chip), m_bSuperSpeed(bSuperSpeed) {}

  // True while the chip is on the bus (a reset brings it back by itself after its time).
  bool bPresent();
  // A new attach: takes the chip's current session and powers every port off.
  void vAttach();
  // The chip has left the bus since the attach (through the other half): detach too.
  bool bSessionOver();

  // The 18-byte device descriptor of this half, as the chip reports it.
  std::vector<uint8_t> vecDeviceDescriptor();
  // Configuration, interface and status-change endpoint descriptors, for one speed.
  std::vector<uint8_t> vecConfigDescriptor(bool bHighSpeed) const;
  // The status-change endpoint alone (interrupt IN 0x81).
  std::vector<uint8_t> vecEndpointDescriptor(bool bHighSpeed) const;
  // The SuperSpeed half's configuration, with the endpoint's companion descriptor.
  std::vector<uint8_t> vecSuperSpeedConfigDescriptor() const;

  // One control request. For an OUT request with a data stage s.pData holds the data.
  SimGadgetReply stSetup(const UsbControlSetup& s);

  uint64_t ullVendorRequests() const { return m_ullVendorRequests; }
  // The configuration the host set (0: none).
  uint8_t ucConfiguration() const { return m_ucConfiguration; }

 private:
  SimGadgetReply stChip(const UsbControlSetup& s);
  SimGadgetReply stHubClass(const UsbControlSetup& s);
  SimGadgetReply stStandard(const UsbControlSetup& s);
  int nPorts() const;

  CSimHubChip& m_chip;
  bool m_bSuperSpeed;
  uint64_t m_ullSession = 0;
  std::vector<uint16_t> m_vecPortStatus;  // index 1..ports: wPortStatus
  uint64_t m_ullVendorRequests = 0;
  uint8_t m_ucConfiguration = 0;
};
