#include "UsbIpHub.h"

#include <unistd.h>

#include "platform/sim/SimUsbIpLink.h"

bool CUsbIpHub::bRun() {
  bool bOk = true;
  while (!g_bVmHubStop) {
    while (!m_gadget.bPresent() && !g_bVmHubStop) ::usleep(10000);
    if (g_bVmHubStop) break;
    bool bEnd = false;
    bOk = bServe(bEnd);
    if (!bOk || bEnd) break;
  }
  g_bVmHubStop = true;
  return bOk;
}

bool CUsbIpHub::bServe(bool& bEnd) {
  bEnd = false;
  m_gadget.vAttach();
  std::string strError;
  std::unique_ptr<CSimUsbIpLink> pLink =
      CSimUsbIpLink::pAttachToVhci(m_opt.nUsbIpPort, m_bSuperSpeed, &g_bVmHubStop, strError);
  if (!pLink) {
    vVmHubLog("%s", strError);
    return false;
  }
  CSimUsbIpLink& link = *pLink;
  vVmHubLog("attached to vhci_hcd port %s",
            std::to_string(m_opt.nUsbIpPort) + (m_bSuperSpeed ? " (SuperSpeed)" : " (high speed)"));
  while (!g_bVmHubStop) {
    UsbIpSubmit sub;
    CSimUsbIpLink::ENext e = link.eNext(sub, 50);
    if (m_gadget.bSessionOver()) {
      vVmHubLog("the chip left the bus through the other half");
      break;
    }
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
    SimGadgetReply r = stVmHubRequest(m_gadget, m_opt, s);
    const int nStatus = r.eKind == SimGadgetReply::EKind::kStall ? USBIP_STATUS_STALL : 0;
    link.bReply(sub, nStatus, r.vecData, r.ulDelayMs);
    if (m_gadget.ucConfiguration() != 0) vVmHubReady(m_opt, m_bReadyWritten);
    if (bVmHubVanishes(m_gadget, m_opt)) {
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
