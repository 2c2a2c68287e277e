#include "platform/sim/SimHubChip.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace {
constexpr uint16_t SIM_MAX_REGISTER_ACCESS = 32, SIM_DOWNLOAD_CHUNK = 32;
constexpr uint16_t REG_CHIP_ID = 0x5820, REG_USB_STATUS = 0x5821, REG_RESET = 0x5810;
constexpr uint16_t REG_6400 = 0x6400, REG_CABLE = 0x6802, REG_VERSION = 0x7F0, REG_MARK = 0x7FB,
                   REG_ERASE_STATUS = 0x7FF;
// Error codes the bench gives a failed request, as the Linux layer's errno would.
constexpr int SIM_EIO = EIO, SIM_EPIPE = EPIPE, SIM_ETIMEDOUT = ETIMEDOUT, SIM_ENODEV = ENODEV;

std::string strField(const uint8_t* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n && p[i] != 0xFF; ++i) s += static_cast<char>(p[i]);
  return s;
}
uint16_t usLE(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t ulLE(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The standard reflected CRC-32 the tool puts behind an image.
uint32_t ulCrc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

// Configuration block signature by firmware type.
int nConfigSignatureType(uint8_t ucSig) {
  switch (ucSig) {
    case 0xAA:
      return 0;
    case 0x4B:
      return 1;
    case 0x3C:
      return 2;
    case 0x2D:
      return 3;
    default:
      return -1;
  }
}

// Image signature: the type, and whether a CRC-32 follows (type 0 exists only with one).
int nImageSignatureType(uint8_t ucSig, bool& bCrc) {
  bCrc = ucSig == 0xA5 || ucSig == 0xB4 || ucSig == 0xC3 || ucSig == 0xD2;
  switch (ucSig) {
    case 0xA5:
      return 0;
    case 0x4B:
    case 0xB4:
      return 1;
    case 0x3C:
    case 0xC3:
      return 2;
    case 0x2D:
    case 0xD2:
      return 3;
    default:
      return -1;
  }
}
}  // namespace

SimConfigBlockInfo stDecodeSimConfigBlock(const uint8_t* p) {
  SimConfigBlockInfo r;
  r.strSerial = strField(p + 0x04, 20);
  r.strManufacturer = strField(p + 0x18, 44);
  r.strProduct = strField(p + 0x44, 48);
  std::memcpy(r.ucContainerId.data(), p + 0x74, 16);
  r.usVID = usLE(p + 0x84);
  r.usPID = usLE(p + 0x86);
  r.usRevision = usLE(p + 0x88);
  r.ucFlags = p[0x8C];
  r.usPIDU2 = usLE(p + 0xF8);
  r.ucSignature = p[0xFE];
  r.ucChecksum = p[0xFF];
  unsigned sum = 0;
  for (int i = 0x04; i <= 0xFE; ++i) sum += p[i];
  r.ucChecksumComputed = static_cast<uint8_t>(sum);
  r.nType = nConfigSignatureType(r.ucSignature);
  r.bSignatureValid = r.nType >= 0;
  r.bChecksumValid = r.ucChecksum == r.ucChecksumComputed;
  return r;
}

SimFirmwareAreaInfo stDecodeSimFirmwareArea(const uint8_t* pImage) {
  SimFirmwareAreaInfo r;
  const uint8_t* a = pImage + SIM_FIRMWARE_AREA;
  r.usLength = usLE(a);
  r.bLengthValid = r.usLength >= SIM_FW_LENGTH_MIN && r.usLength <= SIM_FW_LENGTH_MAX;
  if (!r.bLengthValid) return r;
  const uint8_t* fw = a + 2;
  std::memcpy(r.ucVersion.data(), fw + 0x200, 6);
  unsigned sum = 0;
  for (uint32_t i = 0; i < r.usLength; ++i) sum += fw[i];
  r.ucSumComputed = static_cast<uint8_t>(sum);
  r.ucSignature = fw[r.usLength];
  r.ucSum = fw[r.usLength + 1];
  r.bSumValid = r.ucSum == r.ucSumComputed;
  r.nType = nImageSignatureType(r.ucSignature, r.bCrc);
  r.nFirmwareType = (fw[0x203] >> 4) & 7;
  r.ulCrc = ulLE(fw + r.usLength + 2);
  r.ulCrcComputed = r.bCrc ? ulCrc32(fw, r.usLength) : r.ulCrc;
  r.bCrcValid = r.ulCrc == r.ulCrcComputed;
  return r;
}

bool bSimImageBoots(const SimConfigBlockInfo& cfg, const SimFirmwareAreaInfo& fw) {
  return cfg.bValid() && fw.bValid() && cfg.nType == fw.nType;
}

CSimHubChip::CSimHubChip(const SimHubSpec& def, IClock& clock)
    : m_def(def), m_clock(clock), m_vecRegs(0x10000, 0), m_vecFaultState(def.vecFaults.size()) {
  for (size_t i = 0; i < m_vecFaultState.size(); ++i) {
    m_vecFaultState[i].rngStrike.seed(def.vecFaults[i].uSeed);
    m_vecFaultState[i].rngFlip.seed(def.vecFaults[i].uSeed);
  }
}

CSimHubChip::~CSimHubChip() {
  if (m_pFlash) {
    msync(m_pFlash, SIM_FLASH_SIZE, MS_SYNC);
    munmap(m_pFlash, SIM_FLASH_SIZE);
  }
}

bool CSimHubChip::bOpenFlash(std::string& strError) {
  const std::string& path = m_def.strFlash;
  struct stat st {};
  bool bExists = ::stat(path.c_str(), &st) == 0;
  if (bExists && !S_ISREG(st.st_mode)) {
    strError = "flash file " + path + " of hub \"" + m_def.strName + "\" is not a regular file";
    return false;
  }
  if (bExists && static_cast<size_t>(st.st_size) != SIM_FLASH_SIZE) {
    strError = "flash file " + path + " of hub \"" + m_def.strName + "\" is " + std::to_string(st.st_size) +
               " bytes, expected 131072";
    return false;
  }
  CFileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!fd.bValid()) {
    strError = "flash file " + path + " of hub \"" + m_def.strName +
               "\" cannot be opened for writing: " + std::strerror(errno);
    return false;
  }
  if (!bExists) {
    std::vector<uint8_t> blank(SIM_FLASH_SIZE, 0xFF);
    if (::write(fd.get(), blank.data(), blank.size()) != static_cast<ssize_t>(blank.size())) {
      strError = "flash file " + path + " of hub \"" + m_def.strName +
                 "\" cannot be written: " + std::strerror(errno);
      fd.reset();
      ::unlink(path.c_str());
      return false;
    }
  }
  void* p = mmap(nullptr, SIM_FLASH_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
  if (p == MAP_FAILED) {
    strError =
        "flash file " + path + " of hub \"" + m_def.strName + "\" cannot be mapped: " + std::strerror(errno);
    return false;
  }
  std::lock_guard<std::mutex> l(m_mutex);
  m_fdFlash = std::move(fd);
  m_pFlash = static_cast<uint8_t*>(p);
  vPowerUp_locked();
  if (m_def.uPlugAtMs > 0) {
    // plugged in later: the bench's timer brings it on the bus as it does after a reset
    m_bPresent = false;
    ++m_ullSession;
    m_ullReturnAtMs = m_def.uPlugAtMs;
  }
  return true;
}

// Power-up: registers to their start values; the identity of the configuration block and the
// version of the firmware when the image is valid and complete, else the boot identity.
void CSimHubChip::vPowerUp_locked() {
  std::fill(m_vecRegs.begin(), m_vecRegs.end(), 0);
  m_vecRegs[REG_CHIP_ID] = 0x11;
  m_vecRegs[REG_USB_STATUS] = 0x02;
  m_vecRegs[REG_CABLE] = 0x40;
  for (uint16_t a = REG_MARK; a < REG_ERASE_STATUS; ++a) m_vecRegs[a] = 0xFF;
  for (auto& [a, v] : m_def.mapRegisters) m_vecRegs[a] = v;
  const SimBootIdentitySpec boot = m_def.stBootIdentity();
  SimHubIdentity id;
  id.usVID = boot.usVID;
  id.usPID = boot.usPID;
  id.usPIDU2 = boot.usPIDU2;
  id.usBcdDevice = boot.usBcdDevice;
  id.strManufacturer = boot.strManufacturer;
  id.strProduct = boot.strProduct;
  id.strSerial = boot.strSerial;
  id.ucVersion = boot.ucVersion;
  SimConfigBlockInfo cfg = stDecodeSimConfigBlock(m_pFlash);
  SimFirmwareAreaInfo fw = stDecodeSimFirmwareArea(m_pFlash);
  if (bSimImageBoots(cfg, fw)) {
    id.usVID = cfg.usVID;
    id.usPID = cfg.usPID;
    id.usPIDU2 = cfg.usPIDU2;
    id.usBcdDevice = cfg.usRevision;
    id.strManufacturer = cfg.strManufacturer;
    id.strProduct = cfg.strProduct;
    id.strSerial = cfg.strSerial;
    id.ucVersion = fw.ucVersion;
    id.bFromConfigBlock = true;
  }
  for (int i = 0; i < 6; ++i) m_vecRegs[REG_VERSION + i] = id.ucVersion[i];
  id.bUsb3 = m_def.bUsb3;
  id.nPorts = m_def.nPorts;
  id.usChipId = m_def.usChipId;
  id.bSuspended = m_identity.bSuspended || m_def.bSuspended;
  m_identity = id;
  m_bPresent = true;
  m_bEraseActive = m_bEraseStuck = m_bEraseOpen = false;
  m_pErasePartial = nullptr;
  m_nDlRequest = -1;
  m_ullReturnAtMs = UINT64_MAX;
}

void CSimHubChip::vLeaveBus_locked(bool bForever, SimChipEvents& ev) {
  if (!m_bPresent) return;
  m_bPresent = false;
  ++m_ullSession;
  m_bEraseActive = m_bEraseOpen = false;
  m_pErasePartial = nullptr;
  m_nDlRequest = -1;
  m_ullReturnAtMs = bForever ? UINT64_MAX : m_clock.ullNowMs() + m_def.uResetMs;
  ev.bLeft = true;
}

void CSimHubChip::vRefresh_locked(SimChipEvents& ev) {
  uint64_t now = m_clock.ullNowMs();
  if (!m_bPresent && m_bPlugged && m_ullReturnAtMs != UINT64_MAX && now >= m_ullReturnAtMs) {
    m_ullSinceMs = m_ullReturnAtMs;  // back when it was due, however late this looks
    m_bSinceLoad = false;
    vPowerUp_locked();
    ++m_ullSession;
    ev.bReturned = true;
  }
  if (m_bEraseActive && !m_bEraseStuck && now >= m_ullEraseDoneMs) {
    // phase 0 clears the whole image of the block's CPU; phase 1 completes the erase
    if (m_nErasePhase == 0) {
      uint8_t* pImage = m_pFlash + m_nEraseBlock * SIM_IMAGE_SIZE;
      std::vector<uint8_t> keep;
      if (m_pErasePartial)
        keep.assign(pImage + m_pErasePartial->uOffset,
                    pImage + m_pErasePartial->uOffset + m_pErasePartial->uLength);
      std::memset(pImage, 0xFF, SIM_IMAGE_SIZE);
      if (m_pErasePartial) std::memcpy(pImage + m_pErasePartial->uOffset, keep.data(), keep.size());
      m_pErasePartial = nullptr;
    }
    m_vecRegs[REG_ERASE_STATUS] = 1;
    m_bEraseActive = false;
  }
}

// NOR flash: programming can only clear bits.
void CSimHubChip::vProgram_locked(size_t ulAt, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) m_pFlash[ulAt + i] &= p ? p[i] : 0;
}

// Each strike of a fault draws on from where the last one stopped.
void CSimHubChip::vFlip(FaultState& st, const SimFaultSpec& f, uint8_t* p, size_t ulLen) {
  std::uniform_int_distribution<size_t> pos(0, ulLen * 8 - 1);
  for (uint32_t i = 0; i < f.uBits; ++i) {
    size_t b = pos(st.rngFlip);
    p[b / 8] ^= static_cast<uint8_t>(1u << (b % 8));
  }
}

bool CSimHubChip::bStrings_locked(uint8_t ucIndex, bool bSuperSpeed, uint8_t* pOut, size_t ulLen,
                                  size_t* pulDone) {
  std::vector<uint8_t> d;
  if (ucIndex == 0) {
    d = {4, 3, 0x09, 0x04};
  } else if (ucIndex == 0xFF) {
    // the chip's identification string: chip id, low byte first
    d.assign(16, 0);
    d[0] = static_cast<uint8_t>(m_identity.usChipId);
    d[1] = static_cast<uint8_t>(m_identity.usChipId >> 8);
  } else {
    const std::string* s = ucIndex == 1   ? &m_identity.strManufacturer
                           : ucIndex == 2 ? &m_identity.strProduct
                           : ucIndex == 3 ? &m_identity.strSerial
                                          : nullptr;
    if (!s || s->empty()) return false;
    size_t n = std::min<size_t>(s->size(), 126);
    d.push_back(static_cast<uint8_t>(2 + 2 * n));
    d.push_back(3);
    for (size_t i = 0; i < n; ++i) {
      d.push_back(static_cast<uint8_t>((*s)[i]));
      d.push_back(0);
    }
  }
  (void)bSuperSpeed;
  size_t n = std::min(ulLen, d.size());
  if (n) std::memcpy(pOut, d.data(), n);
  *pulDone = n;
  return true;
}

EFilterResult CSimHubChip::eDispatch_locked(bool bSuperSpeed, const UsbControlSetup& s, uint8_t* pOut,
                                            size_t* pulDone, SimChipEvents& ev, bool& bResetAfter,
                                            size_t& ulProgFrom, size_t& ulProgLen) {
  (void)ev;
  const uint8_t ucType = (s.bmRequestType >> 5) & 3;
  const bool bDownload =
      ucType == 2 && !s.bIn &&
      (s.bRequest == 0x50 || s.bRequest == 0x51 || s.bRequest == 0x60 || s.bRequest == 0x61);
  if (!bDownload) m_nDlRequest = -1;  // any other request ends a running download
  // 0x6400 takes 16 bits and is reached only through its own request
  auto bIs6400 = [](uint16_t usAddr) { return usAddr == REG_6400 || usAddr == REG_6400 + 1; };
  auto eReadRegs = [&](uint16_t usAddr) {
    if (static_cast<size_t>(usAddr) + s.wLength > m_vecRegs.size()) return EFilterResult::kFailed;
    if (s.wLength) std::memcpy(pOut, &m_vecRegs[usAddr], s.wLength);
    *pulDone = s.wLength;
    return EFilterResult::kSuccess;
  };
  // One-byte register write; false for a write the chip refuses: the erase status belongs
  // to the erase engine, and the reset trigger takes only its reset value.
  auto bWriteReg = [&](uint16_t usAddr, uint8_t v) {
    if (bIs6400(usAddr) || usAddr == REG_ERASE_STATUS || (usAddr == REG_RESET && v != 1)) return false;
    if (usAddr == REG_CHIP_ID || usAddr == REG_USB_STATUS) return true;  // read-only
    m_vecRegs[usAddr] = v;
    if (usAddr == REG_RESET) bResetAfter = true;
    return true;
  };
  if (ucType == 0 && s.bIn && s.bRequest == USB_REQUEST_GET_DESCRIPTOR) {
    uint8_t ucDesc = static_cast<uint8_t>(s.wValue >> 8), ucIdx = static_cast<uint8_t>(s.wValue);
    switch (ucDesc) {
      case 0x52:  // the older register read form
        return bIs6400(s.wIndex) ? EFilterResult::kFailed : eReadRegs(s.wIndex);
      case 0x53:  // the older register write form: the byte rides in the descriptor index
        if (!bWriteReg(s.wIndex, ucIdx)) return EFilterResult::kFailed;
        if (s.wLength) std::memset(pOut, 0, s.wLength);
        *pulDone = s.wLength;
        return EFilterResult::kSuccess;
      case 1: {
        uint16_t bcdUSB = bSuperSpeed ? 0x0320 : 0x0210;
        uint16_t pid = bSuperSpeed ? m_identity.usPID : m_identity.usPIDU2;
        uint8_t d[18] = {18,
                         1,
                         static_cast<uint8_t>(bcdUSB),
                         static_cast<uint8_t>(bcdUSB >> 8),
                         9,
                         0,
                         static_cast<uint8_t>(bSuperSpeed ? 3 : 2),
                         static_cast<uint8_t>(bSuperSpeed ? 9 : 64),
                         static_cast<uint8_t>(m_identity.usVID),
                         static_cast<uint8_t>(m_identity.usVID >> 8),
                         static_cast<uint8_t>(pid),
                         static_cast<uint8_t>(pid >> 8),
                         static_cast<uint8_t>(m_identity.usBcdDevice),
                         static_cast<uint8_t>(m_identity.usBcdDevice >> 8),
                         static_cast<uint8_t>(m_identity.strManufacturer.empty() ? 0 : 1),
                         static_cast<uint8_t>(m_identity.strProduct.empty() ? 0 : 2),
                         static_cast<uint8_t>(m_identity.strSerial.empty() ? 0 : 3),
                         1};
        size_t n = std::min<size_t>(s.wLength, sizeof d);
        if (n) std::memcpy(pOut, d, n);
        *pulDone = n;
        return EFilterResult::kSuccess;
      }
      case 3:
        return bStrings_locked(ucIdx, bSuperSpeed, pOut, s.wLength, pulDone) ? EFilterResult::kSuccess
                                                                             : EFilterResult::kFailed;
      default:
        return EFilterResult::kFailed;
    }
  }
  // vendor requests go to the device, nothing else
  if (ucType != 2 || (s.bmRequestType & 0x1F) != 0) return EFilterResult::kFailed;
  if (s.bIn) {
    switch (s.bRequest) {
      case 0x52:
        return bIs6400(s.wIndex) ? EFilterResult::kFailed : eReadRegs(s.wIndex);
      case 0x40:
        return s.wIndex == REG_6400 ? eReadRegs(REG_6400) : EFilterResult::kFailed;
      case 0x55:
      case 0x65: {
        size_t base = (s.bRequest == 0x55 ? 0 : SIM_IMAGE_SIZE) + s.wIndex;
        if (static_cast<size_t>(s.wIndex) + s.wLength > SIM_IMAGE_SIZE) return EFilterResult::kFailed;
        if (s.wLength) std::memcpy(pOut, m_pFlash + base, s.wLength);
        *pulDone = s.wLength;
        return EFilterResult::kSuccess;
      }
      default:
        return EFilterResult::kFailed;
    }
  }
  // Out requests: register writes carry a data stage of 1 to 32 bytes (the value rides in
  // the value field), reset and erase none, downloads one chunk each.
  const bool bRegWrite = s.bRequest == 0x53 || s.bRequest == 0x40;
  if (bRegWrite && (s.wLength == 0 || s.wLength > SIM_MAX_REGISTER_ACCESS)) return EFilterResult::kFailed;
  if ((s.bRequest == 0x54 || s.bRequest == 0x57) && s.wLength != 0) return EFilterResult::kFailed;
  switch (s.bRequest) {
    case 0x53:
      return bWriteReg(s.wIndex, static_cast<uint8_t>(s.wValue)) ? EFilterResult::kSuccess
                                                                 : EFilterResult::kFailed;
    case 0x40:
      if (s.wIndex != REG_6400) return EFilterResult::kFailed;
      m_vecRegs[REG_6400] = static_cast<uint8_t>(s.wValue);
      m_vecRegs[REG_6400 + 1] = static_cast<uint8_t>(s.wValue >> 8);
      return EFilterResult::kSuccess;
    case 0x54:
      if (s.wValue != 0 || s.wIndex != 0) return EFilterResult::kFailed;
      bResetAfter = true;
      return EFilterResult::kSuccess;
    case 0x57: {
      int phase = s.wValue >> 8, block = s.wValue & 0xFF;
      if (phase > 1 || block > 1 || s.wIndex != 0) return EFilterResult::kFailed;
      // An erase is phase 0 then phase 1 of the same block, the second once the first has
      // finished; phase 0 may start over at any time.
      if (phase == 1 && (!m_bEraseOpen || m_bEraseActive || m_nEraseBlock != block))
        return EFilterResult::kFailed;
      m_bEraseOpen = phase == 0;
      if (phase == 0) {
        m_pErasePartial = m_pErasePartialNext;
        m_pErasePartialNext = nullptr;
      }
      m_vecRegs[REG_ERASE_STATUS] = 0;
      m_bEraseActive = true;
      m_nErasePhase = phase;
      m_nEraseBlock = block;
      m_ullEraseDoneMs = m_clock.ullNowMs() + m_def.uEraseMs;
      m_bEraseStuck = m_bEraseStuckNext;
      m_bEraseStuckNext = false;
      return EFilterResult::kSuccess;
    }
    default:
      break;
  }
  if (!bDownload) return EFilterResult::kFailed;
  // Downloads: the index carries the download's whole byte count; each request programs its
  // data at the running offset, which starts at the beginning of the area with each new
  // download (a different request or count, or the last one completed). Every request
  // carries one whole chunk (the last one padded); the configuration block goes whole. The
  // value byte is 0, or 1 for the CPU B image. No download after a finished phase 0 whose
  // phase 1 was not sent (while a phase runs, a download programs over what is not erased).
  const bool bConfig = s.bRequest == 0x51 || s.bRequest == 0x61;
  const bool bCpuB = s.bRequest >= 0x60;
  const uint32_t ulAreaStart = bConfig ? 0 : SIM_FIRMWARE_AREA;
  const uint32_t ulAreaSize = bConfig ? 0x100 : 0xFF00;
  if (s.wIndex == 0 || s.wIndex > ulAreaSize || (bConfig && s.wIndex != ulAreaSize) ||
      s.wLength != SIM_DOWNLOAD_CHUNK || s.wValue > (bCpuB ? 1 : 0) || (m_bEraseOpen && !m_bEraseActive)) {
    m_nDlRequest = -1;
    return EFilterResult::kFailed;
  }
  if (m_nDlRequest != s.bRequest || m_ulDlTotal != s.wIndex || m_ulDlOffset >= m_ulDlTotal) {
    m_nDlRequest = s.bRequest;
    m_ulDlTotal = s.wIndex;
    m_ulDlOffset = 0;
  }
  size_t n = std::min<size_t>(s.wLength, m_ulDlTotal - m_ulDlOffset);
  size_t at = (bCpuB ? SIM_IMAGE_SIZE : 0) + ulAreaStart + m_ulDlOffset;
  vProgram_locked(at, s.pData, n);
  ulProgFrom = at;
  ulProgLen = n;
  m_ulDlOffset += static_cast<uint32_t>(s.wLength);
  return EFilterResult::kSuccess;
}

EFilterResult CSimHubChip::eControl(uint64_t ullSession, bool bSuperSpeed, const UsbControlSetup& s,
                                    uint8_t* pOut, size_t* pulTransferred, uint32_t& ulWaitMs,
                                    SimChipEvents& ev) {
  size_t ulDone = 0;
  if (pulTransferred) *pulTransferred = 0;
  ulWaitMs = 0;
  std::lock_guard<std::mutex> l(m_mutex);
  if (!m_pFlash) return EFilterResult::kFailed;
  vRefresh_locked(ev);
  if (!m_bPresent || ullSession != m_ullSession) {
    vSetFilterLastError(SIM_ENODEV);
    return EFilterResult::kLeftBus;
  }
  ++m_ullRequests;
  ++m_ulCodeCount[s.bRequest];
  // Which faults strike this request.
  size_t ulFlip = SIZE_MAX;
  for (size_t i = 0; i < m_def.vecFaults.size(); ++i) {
    const SimFaultSpec& f = m_def.vecFaults[i];
    FaultState& st = m_vecFaultState[i];
    bool bTrigger = false;
    if (f.dProbability > 0) {
      // drawn for every request it may strike, so the pattern depends on the seed alone
      if (f.nRequestCode < 0 || s.bRequest == f.nRequestCode)
        bTrigger = std::uniform_real_distribution<double>(0, 1)(st.rngStrike) < f.dProbability;
      if (bTrigger) st.bArmed = false;  // each strike starts its own run of `count`
    } else {
      bTrigger =
          (f.ullAtRequest && m_ullRequests == f.ullAtRequest) ||
          (f.nRequestCode >= 0 && s.bRequest == f.nRequestCode && m_ulCodeCount[s.bRequest] == f.uOccurrence);
    }
    if (bTrigger && !st.bArmed) {
      st.bArmed = true;
      st.uLeft = f.uCount;
    } else if (!st.bArmed || (f.nRequestCode >= 0 && s.bRequest != f.nRequestCode)) {
      continue;  // a fault named by its request code strikes only requests with that code
    }
    switch (f.eKind) {
      case ESimFaultKind::kFail:
      case ESimFaultKind::kStall:
      case ESimFaultKind::kTimeout:
        if (f.uCount != 0) {
          if (st.uLeft == 0) continue;
          --st.uLeft;
        }
        m_nDlRequest = -1;
        if (f.eKind == ESimFaultKind::kTimeout) ulWaitMs = s.uTimeoutMs;
        vSetFilterLastError(f.eKind == ESimFaultKind::kFail    ? SIM_EIO
                            : f.eKind == ESimFaultKind::kStall ? SIM_EPIPE
                                                               : SIM_ETIMEDOUT);
        return EFilterResult::kFailed;
      case ESimFaultKind::kGone:
        if (!bTrigger) continue;
        vLeaveBus_locked(true, ev);
        vSetFilterLastError(SIM_ENODEV);
        return EFilterResult::kLeftBus;
      case ESimFaultKind::kFlip:
        if (bTrigger) ulFlip = i;
        break;
      case ESimFaultKind::kEraseStuck:
        if (bTrigger) m_bEraseStuckNext = true;
        break;
      case ESimFaultKind::kNoReturn:
        if (bTrigger) m_bNoReturnNext = true;
        break;
      case ESimFaultKind::kErasePartial:
        if (bTrigger) m_pErasePartialNext = &f;
        break;
    }
  }
  bool bResetAfter = false;
  size_t ulProgFrom = 0, ulProgLen = 0;
  EFilterResult e = eDispatch_locked(bSuperSpeed, s, pOut, &ulDone, ev, bResetAfter, ulProgFrom, ulProgLen);
  if (ulFlip != SIZE_MAX) {
    FaultState& st = m_vecFaultState[ulFlip];
    const SimFaultSpec& f = m_def.vecFaults[ulFlip];
    if (ulProgLen)
      vFlip(st, f, m_pFlash + ulProgFrom, ulProgLen);
    else if (s.bIn && pOut && ulDone && e == EFilterResult::kSuccess)
      vFlip(st, f, pOut, ulDone);  // the answer goes wrong on its way; the flash stays
    else
      vFlip(st, f, m_pFlash, SIM_IMAGE_SIZE);
  }
  if (e != EFilterResult::kSuccess) {
    vSetFilterLastError(SIM_EPIPE);
    return e;
  }
  if (pulTransferred) *pulTransferred = ulDone;
  if (bResetAfter) {
    // the request completes; then the CPU restarts and the hub leaves the bus
    bool bForever = m_bNoReturnNext;
    m_bNoReturnNext = false;
    vLeaveBus_locked(bForever, ev);
  }
  return EFilterResult::kSuccess;
}

SimHubIdentity CSimHubChip::stIdentity() {
  std::lock_guard<std::mutex> l(m_mutex);
  SimChipEvents ev;
  if (m_pFlash) vRefresh_locked(ev);
  SimHubIdentity id = m_identity;
  id.bPresent = m_bPresent;
  return id;
}

std::vector<uint8_t> CSimHubChip::vecFlash(size_t ulOffset, size_t ulLen) {
  std::lock_guard<std::mutex> l(m_mutex);
  if (!m_pFlash || ulOffset > SIM_FLASH_SIZE) return {};
  SimChipEvents ev;
  vRefresh_locked(ev);
  ulLen = std::min(ulLen, SIM_FLASH_SIZE - ulOffset);
  return std::vector<uint8_t>(m_pFlash + ulOffset, m_pFlash + ulOffset + ulLen);
}

void CSimHubChip::vSetFlash(size_t ulOffset, const std::vector<uint8_t>& data) {
  std::lock_guard<std::mutex> l(m_mutex);
  if (!m_pFlash || ulOffset > SIM_FLASH_SIZE) return;
  size_t n = std::min(data.size(), SIM_FLASH_SIZE - ulOffset);
  if (n) std::memcpy(m_pFlash + ulOffset, data.data(), n);
}

uint8_t CSimHubChip::ucRegister(uint16_t usAddr) {
  std::lock_guard<std::mutex> l(m_mutex);
  SimChipEvents ev;
  if (m_pFlash) vRefresh_locked(ev);
  return m_vecRegs[usAddr];
}

void CSimHubChip::vSetRegister(uint16_t usAddr, uint8_t ucValue) {
  std::lock_guard<std::mutex> l(m_mutex);
  m_vecRegs[usAddr] = ucValue;
}

uint64_t CSimHubChip::ullRequestCount() {
  std::lock_guard<std::mutex> l(m_mutex);
  return m_ullRequests;
}

void CSimHubChip::vSetSuspended(bool b) {
  std::lock_guard<std::mutex> l(m_mutex);
  m_identity.bSuspended = b;
}

void CSimHubChip::vSetPlugged(bool bPlugged, SimChipEvents& ev) {
  std::lock_guard<std::mutex> l(m_mutex);
  if (!m_pFlash) return;
  if (!bPlugged) {
    m_bPlugged = false;
    vLeaveBus_locked(true, ev);
    return;
  }
  m_bPlugged = true;
  if (!m_bPresent) {
    vPowerUp_locked();
    ++m_ullSession;
    m_ullSinceMs = m_clock.ullNowMs();
    m_bSinceLoad = false;
    ev.bReturned = true;
  }
}

SimChipLink CSimHubChip::stLink() {
  std::lock_guard<std::mutex> l(m_mutex);
  SimChipEvents ev;
  if (m_pFlash) vRefresh_locked(ev);
  SimChipLink r;
  r.bPresent = m_pFlash && m_bPresent;
  r.ullSession = m_ullSession;
  r.bSinceLoad = m_bSinceLoad;
  r.ullSinceMs = m_ullSinceMs;
  r.ullReturnAtMs = m_pFlash && !m_bPresent && m_bPlugged ? m_ullReturnAtMs : UINT64_MAX;
  return r;
}

bool CSimHubChip::bReenumerate() {
  std::lock_guard<std::mutex> l(m_mutex);
  SimChipEvents ev;
  if (m_pFlash) vRefresh_locked(ev);
  if (!m_pFlash || !m_bPresent) return false;
  ++m_ullSession;
  m_nDlRequest = -1;
  m_ullSinceMs = m_clock.ullNowMs();
  m_bSinceLoad = false;
  return true;
}
