#include "platform/sim/SimHubGadget.h"

#include <algorithm>

namespace {
constexpr uint8_t REQ_GET_STATUS = 0, REQ_CLEAR_FEATURE = 1, REQ_SET_FEATURE = 3, REQ_SET_ADDRESS = 5,
                  REQ_GET_DESCRIPTOR = 6, REQ_GET_CONFIGURATION = 8, REQ_SET_CONFIGURATION = 9,
                  REQ_GET_INTERFACE = 10, REQ_SET_INTERFACE = 11, REQ_SET_HUB_DEPTH = 12, REQ_SET_SEL = 48,
                  REQ_SET_ISOCH_DELAY = 49;
constexpr uint8_t DT_DEVICE = 1, DT_CONFIG = 2, DT_STRING = 3, DT_BOS = 0x0F, DT_HUB = 0x29, DT_SS_HUB = 0x2A;
constexpr uint16_t PORT_FEAT_POWER = 8;
constexpr uint16_t PORT_STAT_POWER = 0x0100;
// A SuperSpeed port: its power bit, and its link state with nothing attached (Rx.Detect while
// powered, SS.Disabled while not).
constexpr uint16_t SS_PORT_STAT_POWER = 0x0200, SS_PORT_LS_RX_DETECT = 0x00A0, SS_PORT_LS_DISABLED = 0x0080;
constexpr int MAX_PORTS = 7;  // one byte of port bits in the hub descriptor

SimGadgetReply stData(std::vector<uint8_t> v, uint16_t wLength) {
  if (v.size() > wLength) v.resize(wLength);
  return {SimGadgetReply::EKind::kData, std::move(v)};
}
SimGadgetReply stAck() {
  return {SimGadgetReply::EKind::kAck, {}};
}
SimGadgetReply stStall() {
  return {};
}
}  // namespace

int CSimHubGadget::nPorts() const {
  return std::clamp(m_chip.def().nPorts, 1, MAX_PORTS);
}

bool CSimHubGadget::bPresent() {
  return m_chip.stLink().bPresent;
}

void CSimHubGadget::vAttach() {
  m_ullSession = m_chip.stLink().ullSession;
  m_ucConfiguration = 0;
  m_vecPortStatus.assign(static_cast<size_t>(nPorts()) + 1, m_bSuperSpeed ? SS_PORT_LS_DISABLED : 0);
}

bool CSimHubGadget::bSessionOver() {
  SimChipLink link = m_chip.stLink();
  return !link.bPresent || link.ullSession != m_ullSession;
}

std::vector<uint8_t> CSimHubGadget::vecDeviceDescriptor() {
  UsbControlSetup s;
  s.bmRequestType = 0x80;
  s.bRequest = REQ_GET_DESCRIPTOR;
  s.wValue = 0x0100;
  s.wLength = 18;
  s.bIn = true;
  std::vector<uint8_t> d(18, 0);
  size_t n = 0;
  uint32_t ulWait = 0;
  SimChipEvents ev;
  if (m_chip.eControl(m_ullSession, m_bSuperSpeed, s, d.data(), &n, ulWait, ev) != EFilterResult::kSuccess ||
      n != 18)
    return {};
  return d;
}

std::vector<uint8_t> CSimHubGadget::vecEndpointDescriptor(bool bHighSpeed) const {
  const uint8_t ucMaxPacket = static_cast<uint8_t>((nPorts() + 1 + 7) / 8);
  // full speed counts the interval in frames (255 ms), high speed as 2^(n-1) microframes
  return {7, 5, 0x81, 0x03, ucMaxPacket, 0, static_cast<uint8_t>(bHighSpeed ? 12 : 255)};
}

std::vector<uint8_t> CSimHubGadget::vecConfigDescriptor(bool bHighSpeed) const {
  std::vector<uint8_t> v = {9, 2, 25, 0, 1, 1, 0, 0xC0, 0,   // self-powered
                            9, 4, 0,  0, 1, 9, 0, 0,    0};  // one hub interface, single TT
  std::vector<uint8_t> ep = vecEndpointDescriptor(bHighSpeed);
  v.insert(v.end(), ep.begin(), ep.end());
  return v;
}

std::vector<uint8_t> CSimHubGadget::vecSuperSpeedConfigDescriptor() const {
  const uint8_t ucBytes = static_cast<uint8_t>((nPorts() + 1 + 7) / 8);
  return {9, 2,    31,   0,    1,       1, 0, 0xC0, 0,  // self-powered
          9, 4,    0,    0,    1,       9, 0, 0,    0,  // one hub interface
          7, 5,    0x81, 0x03, ucBytes, 0, 8,           // interrupt IN 1, every 16 ms
          6, 0x30, 0,    0,    ucBytes, 0};             // its SuperSpeed companion
}

SimGadgetReply CSimHubGadget::stSetup(const UsbControlSetup& s) {
  const uint8_t ucType = (s.bmRequestType >> 5) & 3;
  if (ucType == 2) return stChip(s);
  if (ucType == 1) return stHubClass(s);
  const uint8_t ucDesc = static_cast<uint8_t>(s.wValue >> 8);
  if (ucType == 0 && s.bIn && s.bRequest == REQ_GET_DESCRIPTOR &&
      (ucDesc == DT_STRING || ucDesc == DT_DEVICE))
    return stChip(s);
  if (ucType == 0) return stStandard(s);
  return stStall();
}

SimGadgetReply CSimHubGadget::stChip(const UsbControlSetup& s) {
  if (((s.bmRequestType >> 5) & 3) == 2) ++m_ullVendorRequests;
  std::vector<uint8_t> buf(s.bIn ? s.wLength : 0, 0);
  size_t n = 0;
  uint32_t ulWait = 0;
  SimChipEvents ev;
  EFilterResult e = m_chip.eControl(m_ullSession, m_bSuperSpeed, s, buf.data(), &n, ulWait, ev);
  SimGadgetReply r;
  if (e == EFilterResult::kSuccess) {
    if (s.bIn) {
      buf.resize(n);
      r = stData(std::move(buf), s.wLength);
    } else {
      r = stAck();
    }
  }
  r.ulDelayMs = ulWait;
  r.bLeftBus = ev.bLeft || e == EFilterResult::kLeftBus;
  return r;
}

SimGadgetReply CSimHubGadget::stHubClass(const UsbControlSetup& s) {
  const uint8_t ucRecipient = s.bmRequestType & 0x1F;
  const int nPortCount = nPorts();
  if (ucRecipient == 0) {  // the hub
    // ports individually powered and protected, power good after 2 ms, no removable ports
    if (s.bIn && s.bRequest == REQ_GET_DESCRIPTOR && !m_bSuperSpeed && (s.wValue >> 8) == DT_HUB)
      return stData({9, DT_HUB, static_cast<uint8_t>(nPortCount), 0x09, 0x00, 1, 0, 0x00, 0xFF}, s.wLength);
    if (s.bIn && s.bRequest == REQ_GET_DESCRIPTOR && m_bSuperSpeed && (s.wValue >> 8) == DT_SS_HUB)
      return stData({12, DT_SS_HUB, static_cast<uint8_t>(nPortCount), 0x09, 0x00, 1, 0, 0, 0, 0, 0, 0},
                    s.wLength);
    if (!s.bIn && s.bRequest == REQ_SET_HUB_DEPTH && m_bSuperSpeed) return stAck();
    if (s.bIn && s.bRequest == REQ_GET_STATUS) return stData({0, 0, 0, 0}, s.wLength);
    if (!s.bIn && (s.bRequest == REQ_CLEAR_FEATURE || s.bRequest == REQ_SET_FEATURE)) return stAck();
    return stStall();
  }
  if (ucRecipient != 3 || s.wIndex < 1 || s.wIndex > nPortCount) return stStall();
  uint16_t& usStatus = m_vecPortStatus[s.wIndex];
  if (s.bIn && s.bRequest == REQ_GET_STATUS)
    return stData({static_cast<uint8_t>(usStatus), static_cast<uint8_t>(usStatus >> 8), 0, 0}, s.wLength);
  if (!s.bIn && (s.bRequest == REQ_SET_FEATURE || s.bRequest == REQ_CLEAR_FEATURE)) {
    // Nothing is ever connected below: only the power bit follows what the host asks;
    // every other feature (reset, suspend, change bits, indicators) is taken and has no effect.
    if (s.wValue == PORT_FEAT_POWER) {
      const bool bOn = s.bRequest == REQ_SET_FEATURE;
      if (m_bSuperSpeed)
        usStatus = bOn ? SS_PORT_STAT_POWER | SS_PORT_LS_RX_DETECT : SS_PORT_LS_DISABLED;
      else
        usStatus = bOn ? PORT_STAT_POWER : 0;
    }
    return stAck();
  }
  return stStall();
}

SimGadgetReply CSimHubGadget::stStandard(const UsbControlSetup& s) {
  const uint8_t ucRecipient = s.bmRequestType & 0x1F;
  if (s.bIn && s.bRequest == REQ_GET_STATUS)
    return stData({static_cast<uint8_t>(ucRecipient == 0 ? 1 : 0), 0}, s.wLength);  // self-powered
  if (!s.bIn && (s.bRequest == REQ_CLEAR_FEATURE || s.bRequest == REQ_SET_FEATURE)) return stAck();
  if (s.bIn && s.bRequest == REQ_GET_DESCRIPTOR && ucRecipient == 0) {
    if (s.wValue == DT_CONFIG << 8)
      return stData(m_bSuperSpeed ? vecSuperSpeedConfigDescriptor() : vecConfigDescriptor(true), s.wLength);
    // The BOS: a USB 2.0 extension without link power management; for the SuperSpeed half
    // also its SuperSpeed capability (full to SuperSpeed, U1 and U2 exit latencies).
    if (s.wValue == DT_BOS << 8 && !m_bSuperSpeed)
      return stData({5, DT_BOS, 12, 0, 1, 7, 0x10, 2, 0, 0, 0, 0}, s.wLength);
    if (s.wValue == DT_BOS << 8)
      return stData({5, DT_BOS, 22, 0, 2, 7, 0x10, 2, 0, 0, 0, 0, 10, 0x10, 3, 0, 0x0E, 0, 1, 10, 0x20, 0},
                    s.wLength);
    return stStall();
  }
  if (!s.bIn && s.bRequest == REQ_SET_CONFIGURATION && ucRecipient == 0 && s.wValue <= 1) {
    m_ucConfiguration = static_cast<uint8_t>(s.wValue);
    return stAck();
  }
  if (s.bIn && s.bRequest == REQ_GET_CONFIGURATION && ucRecipient == 0)
    return stData({m_ucConfiguration}, s.wLength);
  if (!s.bIn && s.bRequest == REQ_SET_ADDRESS && ucRecipient == 0) return stAck();
  // the SuperSpeed half's exit latencies and isochronous delay: taken
  if (!s.bIn && (s.bRequest == REQ_SET_SEL || s.bRequest == REQ_SET_ISOCH_DELAY) && ucRecipient == 0 &&
      m_bSuperSpeed)
    return stAck();
  if (s.bIn && s.bRequest == REQ_GET_INTERFACE && s.wIndex == 0) return stData({0}, s.wLength);
  if (!s.bIn && s.bRequest == REQ_SET_INTERFACE && s.wIndex == 0 && s.wValue == 0) return stAck();
  return stStall();
}
