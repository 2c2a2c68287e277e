#include "UsbIpDisk.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {
constexpr uint32_t CBW_SIGNATURE = 0x43425355, CSW_SIGNATURE = 0x53425355;
constexpr size_t CBW_SIZE = 31;
constexpr uint32_t BLOCK = 512, BLOCKS = 2048;  // a 1 MiB disk
constexpr uint8_t EP_IN = 1, EP_OUT = 2;
constexpr uint8_t SENSE_ILLEGAL_REQUEST = 5, SENSE_HARDWARE_ERROR = 4;

uint32_t ulLe(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint32_t ulBe(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
void vPutLe(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
void vPutBe(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 3; i >= 0; --i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
std::vector<uint8_t> vecString(const std::string& s) {
  std::vector<uint8_t> v = {static_cast<uint8_t>(2 + 2 * s.size()), 3};
  for (char c : s) {
    v.push_back(static_cast<uint8_t>(c));
    v.push_back(0);
  }
  return v;
}
std::vector<uint8_t> vecPad(const std::string& s, size_t n) {
  std::vector<uint8_t> v(s.begin(), s.end());
  v.resize(n, ' ');
  return v;
}

// A high-speed mass-storage device: SCSI transparent command set, bulk-only transport.
const std::vector<uint8_t> DEVICE = {18,   1,    0x00, 0x02, 0,    0, 0, 64, 0x7B,
                                     0x2F, 0x50, 0x5A, 0x00, 0x01, 1, 2, 3,  1};
const std::vector<uint8_t> CONFIG = {9, 2,    32,
                                     0, 1,    1,
                                     0, 0x80, 50,  // bus-powered, 100 mA
                                     9, 4,    0,
                                     0, 2,    8,
                                     6, 0x50, 0,  // mass storage, SCSI, bulk-only
                                     7, 5,    0x80 | EP_IN,
                                     2, 0x00, 0x02,
                                     0,  //
                                     7, 5,    EP_OUT,
                                     2, 0x00, 0x02,
                                     0};
}  // namespace

CUsbIpDisk::CUsbIpDisk(CSimStorageBridge& bridge) : m_bridge(bridge), m_vecDisk(size_t{BLOCK} * BLOCKS, 0) {
  int nError = 0;
  m_bridge.bOpen(m_ullSession, nError);
}

void CUsbIpDisk::vSense(uint8_t ucKey, uint8_t ucAsc, uint8_t ucAscq) {
  m_vecSense.assign(18, 0);
  m_vecSense[0] = 0x70;  // current error, fixed format
  m_vecSense[2] = ucKey;
  m_vecSense[7] = 10;
  m_vecSense[12] = ucAsc;
  m_vecSense[13] = ucAscq;
}

bool CUsbIpDisk::bSubmit(CSimUsbIpLink& link, const UsbIpSubmit& sub) {
  if (sub.ucEp == 0) return bControl(link, sub);
  if (sub.ucEp == EP_OUT && !sub.bIn) {
    if (m_ePhase == EPhase::kCommand) {
      if (sub.vecOut.size() != CBW_SIZE || ulLe(sub.vecOut.data()) != CBW_SIGNATURE)
        return link.bReply(sub, USBIP_STATUS_STALL);
      if (!link.bReply(sub, 0)) return false;
      vCommand(sub.vecOut);
      return bSendIn(link);
    }
    if (m_ePhase == EPhase::kDataOut) {
      m_vecData.insert(m_vecData.end(), sub.vecOut.begin(), sub.vecOut.end());
      if (!link.bReply(sub, 0)) return false;
      if (m_vecData.size() >= m_ulExpected) {
        m_vecData.resize(m_ulExpected);
        vExecute();
        m_ulSent = m_vecData.size();
        m_ePhase = EPhase::kStatus;
      }
      return bSendIn(link);
    }
    return link.bReply(sub, USBIP_STATUS_STALL);
  }
  if (sub.ucEp == EP_IN && sub.bIn) {
    link.vHold(sub);  // answered when the data or the status is there
    return bSendIn(link);
  }
  return link.bReply(sub, USBIP_STATUS_STALL);
}

void CUsbIpDisk::vCommand(const std::vector<uint8_t>& cbw) {
  m_ulTag = ulLe(&cbw[4]);
  m_ulExpected = ulLe(&cbw[8]);
  m_bDataIn = (cbw[12] & 0x80) != 0;
  const size_t ulCdbLen = std::clamp<size_t>(cbw[14] & 0x1F, 1, 16);
  m_vecCdb.assign(cbw.begin() + 15, cbw.begin() + 15 + static_cast<std::ptrdiff_t>(ulCdbLen));
  m_vecData.clear();
  m_ulSent = 0;
  if (m_ulExpected && !m_bDataIn) {
    m_ePhase = EPhase::kDataOut;
    return;
  }
  vExecute();
  m_ePhase = m_ulExpected ? EPhase::kDataIn : EPhase::kStatus;
}

bool CUsbIpDisk::bSendIn(CSimUsbIpLink& link) {
  if (m_ePhase == EPhase::kDataIn) {
    // The data left, in the URB held; a URB it does not fill (or none left, for a command
    // without an answer) ends the data phase.
    std::vector<uint8_t> v(m_vecData.begin() + static_cast<std::ptrdiff_t>(m_ulSent), m_vecData.end());
    size_t ulSent = 0;
    if (!link.bReplyHeld(EP_IN, true, 0, v, &ulSent)) return true;  // no URB yet
    m_ulSent += ulSent;
    if (ulSent == v.size() || m_ulSent >= m_ulExpected) m_ePhase = EPhase::kStatus;
    return link.bOpen();
  }
  if (m_ePhase == EPhase::kStatus) {
    std::vector<uint8_t> csw;
    vPutLe(csw, CSW_SIGNATURE);
    vPutLe(csw, m_ulTag);
    vPutLe(csw, m_ulExpected - static_cast<uint32_t>(std::min<size_t>(m_ulSent, m_ulExpected)));
    csw.push_back(m_ucStatus);
    if (!link.bReplyHeld(EP_IN, true, 0, csw)) return true;
    m_ePhase = EPhase::kCommand;
  }
  return link.bOpen();
}

void CUsbIpDisk::vExecute() {
  ++m_ullCommands;
  uint8_t ucStatus = 0;
  if (!bDisk(m_vecCdb.data(), ucStatus)) {
    ScsiRequest req;
    std::copy(m_vecCdb.begin(), m_vecCdb.end(), req.ucCdb.begin());
    req.ucCdbLen = static_cast<uint8_t>(m_vecCdb.size());
    if (m_bDataIn) m_vecData.assign(m_ulExpected, 0);
    req.eDir = !m_ulExpected ? EScsiDirection::kNone : m_bDataIn ? EScsiDirection::kIn : EScsiDirection::kOut;
    req.pData = m_vecData.empty() ? nullptr : m_vecData.data();
    req.ulDataLen = m_ulExpected;
    ScsiResult res;
    m_bridge.bCommand(m_ullSession, req, res);
    if (!res.bRequestOk) {
      vSense(SENSE_HARDWARE_ERROR, 0x44, 0);  // internal target failure
      ucStatus = SCSI_STATUS_CHECK_CONDITION;
    } else if (res.ucScsiStatus != SCSI_STATUS_GOOD) {
      ucStatus = res.ucScsiStatus;
      if (res.ucSenseLen) m_vecSense.assign(res.ucSense.begin(), res.ucSense.begin() + res.ucSenseLen);
    }
    if (m_bDataIn)
      m_vecData.resize(ucStatus == SCSI_STATUS_GOOD ? std::min(res.ulTransferred, m_vecData.size()) : 0);
  }
  m_ucStatus = ucStatus == SCSI_STATUS_GOOD ? 0 : 1;
  if (m_bDataIn && m_vecData.size() > m_ulExpected) m_vecData.resize(m_ulExpected);
}

bool CUsbIpDisk::bDisk(const uint8_t* c, uint8_t& ucStatus) {
  auto refuse = [&](uint8_t ucAsc) {
    vSense(SENSE_ILLEGAL_REQUEST, ucAsc, 0);
    m_vecData.clear();
    ucStatus = SCSI_STATUS_CHECK_CONDITION;
    return true;
  };
  switch (c[0]) {
    case 0x00:  // TEST UNIT READY
    case 0x1B:  // START STOP UNIT
    case 0x1E:  // PREVENT ALLOW MEDIUM REMOVAL
    case 0x35:  // SYNCHRONIZE CACHE (10)
      return true;
    case 0x03:  // REQUEST SENSE
      if (m_vecSense.empty()) vSense(0, 0, 0);
      m_vecData = m_vecSense;
      m_vecSense.clear();
      return true;
    case 0x12:  // INQUIRY: a direct-access disk, SPC-4; no vital product data
      if (c[1] & 1) return refuse(0x24);
      m_vecData = {0x00, 0x00, 0x06, 0x02, 31, 0, 0, 0};
      for (auto& part : {vecPad("VELNOR", 8), vecPad("VM Bridge Disk", 16), vecPad("0100", 4)})
        m_vecData.insert(m_vecData.end(), part.begin(), part.end());
      return true;
    case 0x25:  // READ CAPACITY (10)
      m_vecData.clear();
      vPutBe(m_vecData, BLOCKS - 1);
      vPutBe(m_vecData, BLOCK);
      return true;
    case 0x1A:  // MODE SENSE (6): the header alone, not write-protected
      m_vecData = {3, 0, 0, 0};
      return true;
    case 0x28:    // READ (10)
    case 0x2A: {  // WRITE (10)
      const uint64_t ullLba = ulBe(c + 2), ullCount = (c[7] << 8) | c[8];
      if (ullLba + ullCount > BLOCKS || ullCount * BLOCK != m_ulExpected) return refuse(0x21);
      auto at = m_vecDisk.begin() + static_cast<std::ptrdiff_t>(ullLba * BLOCK);
      if (c[0] == 0x28)
        m_vecData.assign(at, at + static_cast<std::ptrdiff_t>(m_ulExpected));
      else
        std::copy(m_vecData.begin(), m_vecData.end(), at);
      return true;
    }
    default:
      return false;  // the bridge's
  }
}

bool CUsbIpDisk::bControl(CSimUsbIpLink& link, const UsbIpSubmit& sub) {
  const UsbControlSetup& s = sub.setup;
  auto reply = [&](std::vector<uint8_t> v) {
    v.resize(std::min<size_t>(v.size(), s.wLength));
    return link.bReply(sub, 0, v);
  };
  if (s.bmRequestType == 0x80 && s.bRequest == 6) {  // GET_DESCRIPTOR
    switch (s.wValue) {
      case 0x0100:
        return reply(DEVICE);
      case 0x0200:
        return reply(CONFIG);
      case 0x0300:
        return reply({4, 3, 0x09, 0x04});
      case 0x0301:
        return reply(vecString("Velnor"));
      case 0x0302:
        return reply(vecString("VM Bridge"));
      case 0x0303:
        return reply(vecString("000000000001"));
      default:
        return link.bReply(sub, USBIP_STATUS_STALL);
    }
  }
  if (s.bmRequestType == 0x80 && s.bRequest == 8) return reply({1});               // GET_CONFIGURATION
  if ((s.bmRequestType & 0x9F) == 0x80 && s.bRequest == 0) return reply({0, 0});   // GET_STATUS
  if (s.bmRequestType == 0xA1 && s.bRequest == 0xFE) return reply({0});            // GET MAX LUN: one
  if (s.bmRequestType == 0x21 && s.bRequest == 0xFF) m_ePhase = EPhase::kCommand;  // bulk-only reset
  // SET_CONFIGURATION, SET_INTERFACE, CLEAR_FEATURE (a halt), the reset: taken
  if (!s.bIn && ((s.bmRequestType & 0x60) == 0 || s.bmRequestType == 0x21)) return link.bReply(sub, 0);
  return link.bReply(sub, USBIP_STATUS_STALL);
}
