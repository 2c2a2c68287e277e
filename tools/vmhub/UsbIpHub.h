// The hub on the guest's virtual host controller (vhci_hcd), through USB/IP: a second hub on a
// controller of its own, next to the GadgetFS one (GadgetFS serves a single device
// controller). The program holds one end of a socket pair and hands the other to vhci_hcd
// through its sysfs attach file; vhci_hcd then passes every URB of the hub to the program,
// which answers them all from the chip model, the standard requests included. Closing the
// socket is the hub leaving the bus; a new attach on the same port brings it back there.
#pragma once

#include "VmHub.h"
#include "platform/sim/SimHubGadget.h"

class CUsbIpHub {
 public:
  CUsbIpHub(CSimHubGadget& gadget, const VmHubOptions& opt) : m_gadget(gadget), m_opt(opt) {}

  // One attach: serve until the chip leaves the bus, the hub vanishes, the host controller
  // lets it go, or a stop (bEnd: the program ends). False when vhci_hcd takes no attach.
  bool bServe(bool& bEnd);

 private:
  CSimHubGadget& m_gadget;
  const VmHubOptions& m_opt;
  bool m_bReadyWritten = false;
};
