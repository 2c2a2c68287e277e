// The hub on a USB device controller of the guest (dummy_hcd), through GadgetFS. GadgetFS and
// not FunctionFS: the composite layer behind FunctionFS answers every string descriptor
// itself and stalls the ones it does not know, so the chip-identification string (index
// 0xFF) would never reach the chip. GadgetFS serves one device controller.
#pragma once

#include "VmHub.h"
#include "platform/FileDescriptor.h"
#include "platform/sim/SimHubGadget.h"

class CGadgetFsHub {
 public:
  CGadgetFsHub(CSimHubGadget& gadget, const VmHubOptions& opt) : m_gadget(gadget), m_opt(opt) {}

  // One attach: open, serve until the chip leaves the bus, the hub vanishes or a stop
  // (bEnd: the program ends). False when the device could not be opened.
  bool bServe(bool& bEnd);

 private:
  bool bSetup(const struct usb_ctrlrequest& c, bool& bEnd);
  void vAck();
  void vStall(bool bIn);
  void vConfigure(bool bOn);

  CSimHubGadget& m_gadget;
  const VmHubOptions& m_opt;
  CFileDescriptor m_fdEp0, m_fdEpIn;
  bool m_bReadyWritten = false;
};
