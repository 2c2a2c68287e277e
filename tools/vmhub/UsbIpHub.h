// The hub on the guest's virtual host controller (vhci_hcd), through USB/IP: a hub on a
// controller of its own, next to the GadgetFS one (GadgetFS serves a single device
// controller), and a USB 3 hub's two halves on the peer ports of vhci_hcd's two root hubs.
// Each half holds one end of a socket pair and hands the other to vhci_hcd through its sysfs
// attach file; vhci_hcd then passes every URB of that half to the program, which answers them
// all from the chip model, the standard requests included. Closing the socket is the half
// leaving the bus; a new attach on the same port brings it back there. When the chip leaves
// the bus through one half, the other half leaves too.
#pragma once

#include "VmHub.h"
#include "platform/sim/SimHubGadget.h"

class CUsbIpHub {
 public:
  CUsbIpHub(CSimHubGadget& gadget, const VmHubOptions& opt, bool bSuperSpeed)
      : m_gadget(gadget), m_opt(opt), m_bSuperSpeed(bSuperSpeed) {}

  // Attaches whenever the chip is on the bus, until a stop or the hub's end; then stops the
  // program (the other half too). False on a set-up error.
  bool bRun();

 private:
  // One attach: serve until the chip leaves the bus, the hub vanishes, the host controller
  // lets it go, or a stop (bEnd: the program ends). False when vhci_hcd takes no attach.
  bool bServe(bool& bEnd);

  CSimHubGadget& m_gadget;
  const VmHubOptions& m_opt;
  bool m_bSuperSpeed;
  bool m_bReadyWritten = false;
};
