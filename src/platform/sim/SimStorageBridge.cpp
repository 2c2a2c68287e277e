#include "platform/sim/SimStorageBridge.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "platform/sim/BenchJson.h"
#include "platform/sim/SimBench.h"

using json = nlohmann::json;

namespace {

using StorageError = BenchJsonError;
constexpr auto vThrow = vBenchJsonThrow;
constexpr auto ullHex = ullBenchHex;
constexpr auto ullNumber = ullBenchNumber;

SimScsiFaultSpec stFault(const json& f, const std::string& what) {
  if (!f.is_object()) vThrow(what + " must be an object");
  if (!f.contains("kind") || !f["kind"].is_string()) vThrow(what + " needs a kind");
  std::string kind = f["kind"].get<std::string>();
  SimScsiFaultSpec r;
  if (kind == "fail")
    r.eKind = ESimScsiFaultKind::kFail;
  else if (kind == "status")
    r.eKind = ESimScsiFaultKind::kStatus;
  else if (kind == "timeout")
    r.eKind = ESimScsiFaultKind::kTimeout;
  else if (kind == "gone")
    r.eKind = ESimScsiFaultKind::kGone;
  else if (kind == "no_relink")
    r.eKind = ESimScsiFaultKind::kNoRelink;
  else
    vThrow(what + ".kind \"" + kind + "\" is unknown (fail, status, timeout, gone, no_relink)");
  if (f.contains("at_request"))
    r.ullAtRequest = ullNumber(f["at_request"], what + ".at_request", 1, UINT64_MAX >> 1);
  if (f.contains("opcode")) r.nOpcode = static_cast<int>(ullHex(f["opcode"], what + ".opcode", 0xFF));
  if (r.eKind == ESimScsiFaultKind::kNoRelink && (r.ullAtRequest != 0 || r.nOpcode >= 0))
    vThrow(what + " strikes at a power cycle: \"occurrence\" only");
  if (r.ullAtRequest == 0 && r.nOpcode < 0 && r.eKind != ESimScsiFaultKind::kNoRelink)
    vThrow(what + " needs \"at_request\" or \"opcode\" to say when it strikes");
  if (f.contains("occurrence"))
    r.uOccurrence = static_cast<uint32_t>(ullNumber(f["occurrence"], what + ".occurrence", 1, UINT32_MAX));
  if (f.contains("count"))
    r.uCount = static_cast<uint32_t>(ullNumber(f["count"], what + ".count", 0, UINT32_MAX));
  if (f.contains("status")) r.ucStatus = static_cast<uint8_t>(ullHex(f["status"], what + ".status", 0xFF));
  if (r.eKind == ESimScsiFaultKind::kStatus && r.ucStatus == SCSI_STATUS_GOOD)
    vThrow(what + ".status must not be 0");
  return r;
}

void vSetSense(ScsiResult& res, uint8_t ucKey, uint8_t ucAsc, uint8_t ucAscq) {
  res.ucScsiStatus = SCSI_STATUS_CHECK_CONDITION;
  res.ucSense.fill(0);
  res.ucSense[0] = 0x70;  // current error, fixed format
  res.ucSense[2] = ucKey;
  res.ucSense[7] = 10;
  res.ucSense[12] = ucAsc;
  res.ucSense[13] = ucAscq;
  res.ucSenseLen = 18;
}
constexpr uint8_t SENSE_ILLEGAL_REQUEST = 0x05, SENSE_ABORTED_COMMAND = 0x0B;

}  // namespace

bool bParseSimStorage(const std::string& strBenchText, std::vector<SimStorageSpec>& vecOut,
                      std::string& strError) {
  try {
    json j;
    try {
      j = json::parse(strBenchText);
    } catch (const json::exception& e) {
      vThrow(std::string("not valid JSON: ") + e.what());
    }
    std::vector<SimStorageSpec> vec;
    if (j.is_object() && j.contains("hubs") && j["hubs"].is_array()) {
      for (const auto& h : j["hubs"]) {
        if (!h.is_object() || !h.contains("storage")) continue;
        SimStorageSpec s;
        if (h.contains("name") && h["name"].is_string()) s.strHub = h["name"].get<std::string>();
        std::string what = "hub \"" + s.strHub + "\".storage";
        if (s.strHub.empty()) vThrow("a hub with a storage object needs a name");
        const json& st = h["storage"];
        if (!st.is_object()) vThrow(what + " must be an object");
        if (st.contains("physical_drive"))
          s.nPhysicalDrive =
              static_cast<int>(ullNumber(st["physical_drive"], what + ".physical_drive", 0, 126));
        if (st.contains("cdrom"))
          s.nCDROM = static_cast<int>(ullNumber(st["cdrom"], what + ".cdrom", 0, 126));
        if (s.nPhysicalDrive < 0 && s.nCDROM < 0) vThrow(what + " needs \"physical_drive\" or \"cdrom\"");
        if (st.contains("registers")) {
          if (!st["registers"].is_object()) vThrow(what + ".registers must be an object");
          for (auto it = st["registers"].begin(); it != st["registers"].end(); ++it) {
            auto a = static_cast<uint16_t>(ullHex(json(it.key()), what + ".registers key", 0xFFFF));
            s.mapRegisters[a] =
                static_cast<uint8_t>(ullHex(it.value(), what + ".registers[" + it.key() + "]", 0xFF));
          }
        }
        if (st.contains("pd")) {
          if (!st["pd"].is_string() || !bParseSimPDFamily(st["pd"].get<std::string>(), s.pd.eFamily))
            vThrow(what + ".pd must be \"richtek\", \"ccg2\", \"ccg3\" or \"ccg4\"");
        }
        bool bCCG34 = s.pd.eFamily == ESimPDFamily::kCCG3 || s.pd.eFamily == ESimPDFamily::kCCG4;
        if (st.contains("device_mode")) {
          if (!bCCG34) vThrow(what + ".device_mode is only for \"ccg3\" and \"ccg4\"");
          s.pd.ucDeviceMode = static_cast<uint8_t>(ullNumber(st["device_mode"], what + ".device_mode", 1, 2));
        }
        if (st.contains("mcu")) {
          if (!st["mcu"].is_boolean()) vThrow(what + ".mcu must be true or false");
          if (s.pd.eFamily == ESimPDFamily::kNone) vThrow(what + ".mcu needs \"pd\"");
          s.pd.bMCU = st["mcu"].get<bool>();
        }
        if (st.contains("pd_version")) {
          const json& v = st["pd_version"];
          std::string strV = v.is_string() ? v.get<std::string>() : std::string();
          if (strV.size() != 16 || strV.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            vThrow(what + ".pd_version must be 16 hexadecimal digits");
          for (size_t k = 0; k < 8; ++k)
            s.pd.ucVersion[k] = static_cast<uint8_t>(std::stoul(strV.substr(2 * k, 2), nullptr, 16));
        }
        if (st.contains("relink_ms"))
          s.ullRelinkMs = ullNumber(st["relink_ms"], what + ".relink_ms", 0, 3600000);
        if (st.contains("faults")) {
          if (!st["faults"].is_array()) vThrow(what + ".faults must be an array");
          for (size_t k = 0; k < st["faults"].size(); ++k)
            s.vecFaults.push_back(stFault(st["faults"][k], what + ".faults[" + std::to_string(k) + "]"));
        }
        vec.push_back(std::move(s));
      }
    }
    if (!bCheckSimStorageDrives(vec, strError)) return false;
    vecOut = std::move(vec);
    return true;
  } catch (const StorageError& e) {
    strError = e.strText;
  } catch (const std::exception& e) {
    strError = e.what();
  }
  return false;
}

bool bCheckSimStorageDrives(const std::vector<SimStorageSpec>& vec, std::string& strError) {
  std::set<std::pair<bool, int>> used;
  for (const auto& s : vec) {
    if (s.nPhysicalDrive >= 0 && !used.insert({false, s.nPhysicalDrive}).second) {
      strError = "hub \"" + s.strHub + "\".storage: physical drive " + std::to_string(s.nPhysicalDrive) +
                 " is already another bridge's";
      return false;
    }
    if (s.nCDROM >= 0 && !used.insert({true, s.nCDROM}).second) {
      strError = "hub \"" + s.strHub + "\".storage: CD-ROM " + std::to_string(s.nCDROM) +
                 " is already another bridge's";
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------------------------

CSimStorageBridge::CSimStorageBridge(SimStorageSpec def, IClock& clock, std::function<bool()> fnHubPresent)
    : m_def(std::move(def)), m_clock(clock), m_fnHubPresent(std::move(fnHubPresent)), m_vecRegs(0x10000, 0) {
  for (const auto& [a, v] : m_def.mapRegisters) m_vecRegs[a] = v;
  m_vecFaultLeft.assign(m_def.vecFaults.size(), 0);
  m_vecFaultArmed.assign(m_def.vecFaults.size(), false);
  if (m_def.pd.eFamily != ESimPDFamily::kNone) m_pPD = std::make_unique<CSimPDController>(m_def.pd, clock);
}

bool CSimStorageBridge::bPresent_locked(bool bHub) {
  if (m_bGone) return false;
  if (m_ullAwayUntilMs != 0) {
    if (m_clock.ullNowMs() < m_ullAwayUntilMs) return false;
    m_ullAwayUntilMs = 0;  // back after its power cycle
  }
  if (!bHub) {
    m_bHubAway = true;
    return false;
  }
  if (m_bHubAway) {
    // The hub came back: its bridge was powered again.
    m_bHubAway = false;
    m_bDisconnected = false;
    m_bStandby = false;
    ++m_ullSession;
  }
  return !m_bDisconnected;
}

bool CSimStorageBridge::bOpen(uint64_t& ullSession, int& nError) {
  bool bHub = bHubNow();
  std::lock_guard<std::mutex> l(m_mutex);
  if (!bPresent_locked(bHub)) {
    nError = ENODEV;
    return false;
  }
  ullSession = m_ullSession;
  nError = 0;
  return true;
}

bool CSimStorageBridge::bCommand(uint64_t ullSession, const ScsiRequest& req, ScsiResult& res) {
  res = ScsiResult{};
  if (req.ucCdbLen < 6 || req.ucCdbLen > SCSI_MAX_CDB || req.ulDataLen > SCSI_MAX_DATA ||
      (req.ulDataLen > 0 && (req.pData == nullptr || req.eDir == EScsiDirection::kNone))) {
    res.nError = EINVAL;
    return false;
  }
  bool bHub = bHubNow();
  uint32_t ulWaitSec = 0;
  {
    std::lock_guard<std::mutex> l(m_mutex);
    SimScsiCommand cmd;
    cmd.vecCdb.assign(req.ucCdb.begin(), req.ucCdb.begin() + req.ucCdbLen);
    cmd.eDir = req.eDir;
    cmd.ulDataLen = req.ulDataLen;
    cmd.ulTimeoutSec = req.ulTimeoutSec;
    auto vLog = [&] {
      cmd.bGood = res.bGood();
      if (m_vecLog.size() >= 256) m_vecLog.erase(m_vecLog.begin());
      m_vecLog.push_back(cmd);
    };
    if (!bPresent_locked(bHub) || ullSession != m_ullSession) {
      res.nError = ENODEV;
      return false;  // a vanished drive sees no command
    }
    ++m_ullRequests;
    uint8_t ucOp = req.ucCdb[0];
    uint32_t ulOpCount = ++m_ulOpcodeCount[ucOp];
    // Faults: arm those due now, then the first armed one strikes.
    int nStrike = -1;
    for (size_t i = 0; i < m_def.vecFaults.size(); ++i) {
      const auto& f = m_def.vecFaults[i];
      bool bDue = (f.ullAtRequest != 0 && f.ullAtRequest == m_ullRequests) ||
                  (f.ullAtRequest == 0 && f.nOpcode == ucOp && f.uOccurrence == ulOpCount);
      if (bDue) {
        m_vecFaultArmed[i] = true;
        m_vecFaultLeft[i] = f.uCount;
      }
      if (nStrike < 0 && m_vecFaultArmed[i] && (f.ullAtRequest != 0 || f.nOpcode == ucOp)) {
        nStrike = static_cast<int>(i);
        if (f.uCount != 0 && --m_vecFaultLeft[i] == 0) m_vecFaultArmed[i] = false;
      }
    }
    if (nStrike >= 0) {
      const auto& f = m_def.vecFaults[nStrike];
      switch (f.eKind) {
        case ESimScsiFaultKind::kFail:
          res.nError = EIO;
          break;
        case ESimScsiFaultKind::kStatus:
          res.bRequestOk = true;
          vSetSense(res, SENSE_ABORTED_COMMAND, 0, 0);
          res.ucScsiStatus = f.ucStatus;
          break;
        case ESimScsiFaultKind::kTimeout:
          res.nError = ETIMEDOUT;
          ulWaitSec = req.ulTimeoutSec;
          break;
        case ESimScsiFaultKind::kGone:
          m_bGone = true;
          res.nError = ENODEV;
          break;
        case ESimScsiFaultKind::kNoRelink:
          break;  // strikes at a power cycle, never at a command
      }
      vLog();
    } else {
      vExecute_locked(req, res);
      vLog();
    }
  }
  if (ulWaitSec) m_clock.bSleepMs(static_cast<uint64_t>(ulWaitSec) * 1000u);
  return res.bGood();
}

void CSimStorageBridge::vExecute_locked(const ScsiRequest& req, ScsiResult& res) {
  const auto& c = req.ucCdb;
  res.bRequestOk = true;
  res.ucScsiStatus = SCSI_STATUS_GOOD;
  uint16_t usAddr = static_cast<uint16_t>((c[3] << 8) | c[4]);
  switch (c[0]) {
    case 0xE4: {
      size_t n = c[1] == 0 ? 256 : c[1];
      if (req.ucCdbLen != 6 || req.eDir != EScsiDirection::kIn || req.ulDataLen != n ||
          usAddr + n > 0x10000) {
        vSetSense(res, SENSE_ILLEGAL_REQUEST, 0x24, 0);  // invalid field in CDB
        return;
      }
      for (size_t i = 0; i < n; ++i) req.pData[i] = m_vecRegs[usAddr + i];
      res.ulTransferred = n;
      return;
    }
    case 0xE5:
      if (req.ucCdbLen != 6 || req.ulDataLen != 0) {
        vSetSense(res, SENSE_ILLEGAL_REQUEST, 0x24, 0);
        return;
      }
      m_vecRegs[usAddr] = c[1];
      return;
    case 0xE8:
      if (req.ucCdbLen != 12 || c[1] != 0x01 || req.ulDataLen != 0) {
        vSetSense(res, SENSE_ILLEGAL_REQUEST, 0x24, 0);
        return;
      }
      m_bDisconnected = true;  // after this answer the drive is off the bus
      return;
    case 0xA1:
      // ATA PASS-THROUGH (12): protocol 3 (non-data) in byte 1, ATA command in byte 9.
      if (req.ucCdbLen != 12 || c[1] != 0x06 || req.ulDataLen != 0) {
        vSetSense(res, SENSE_ILLEGAL_REQUEST, 0x24, 0);
        return;
      }
      if (c[9] == 0xE7) {
        ++m_nFlushes;
        m_bStandby = false;
      } else if (c[9] == 0xE0) {
        m_bStandby = true;
      } else {
        vSetSense(res, SENSE_ABORTED_COMMAND, 0, 0);  // the ATA command was aborted
      }
      return;
    case 0xEC: {
      if (!m_pPD) break;
      size_t ulMoved = 0;
      uint8_t ucAsc = m_pPD->ucExecute(req, ulMoved);
      if (ucAsc != 0) {
        vSetSense(res, SENSE_ILLEGAL_REQUEST, ucAsc, 0);
        return;
      }
      res.ulTransferred = ulMoved;
      return;
    }
    default:
      break;
  }
  vSetSense(res, SENSE_ILLEGAL_REQUEST, 0x20, 0);  // invalid command operation code
}

bool CSimStorageBridge::bPowerCycle() {
  std::lock_guard<std::mutex> l(m_mutex);
  if (m_bGone) return false;
  ++m_uPowerCycles;
  bool bNoRelink = false;
  for (const auto& f : m_def.vecFaults)
    if (f.eKind == ESimScsiFaultKind::kNoRelink && f.uOccurrence == m_uPowerCycles) bNoRelink = true;
  m_ullAwayUntilMs = bNoRelink ? UINT64_MAX : m_clock.ullNowMs() + std::max<uint64_t>(m_def.ullRelinkMs, 1);
  ++m_ullSession;
  m_bDisconnected = false;
  m_bStandby = false;
  if (m_pPD) m_pPD->vPowerCycle();
  return true;
}

uint32_t CSimStorageBridge::uPowerCycles() {
  std::lock_guard<std::mutex> l(m_mutex);
  return m_uPowerCycles;
}

CSimStorageBridge::PDState CSimStorageBridge::stPD() {
  std::lock_guard<std::mutex> l(m_mutex);
  PDState st;
  if (!m_pPD) return st;
  st.bPresent = true;
  st.bI2COpen = m_pPD->bI2COpen();
  st.bFlashMode = m_pPD->bFlashMode();
  st.eMcu = m_pPD->eMcuState();
  st.vecFlash = m_pPD->vecFlash();
  st.vecMcuFlash = m_pPD->vecMcuFlash();
  return st;
}

uint8_t CSimStorageBridge::ucRegister(uint16_t usAddr) {
  std::lock_guard<std::mutex> l(m_mutex);
  return m_vecRegs[usAddr];
}
void CSimStorageBridge::vSetRegister(uint16_t usAddr, uint8_t ucValue) {
  std::lock_guard<std::mutex> l(m_mutex);
  m_vecRegs[usAddr] = ucValue;
}
uint64_t CSimStorageBridge::ullRequestCount() {
  std::lock_guard<std::mutex> l(m_mutex);
  return m_ullRequests;
}
int CSimStorageBridge::nFlushCount() {
  std::lock_guard<std::mutex> l(m_mutex);
  return m_nFlushes;
}
bool CSimStorageBridge::bStandby() {
  std::lock_guard<std::mutex> l(m_mutex);
  return m_bStandby;
}
bool CSimStorageBridge::bDisconnected() {
  std::lock_guard<std::mutex> l(m_mutex);
  return m_bDisconnected;
}
bool CSimStorageBridge::bGone() {
  std::lock_guard<std::mutex> l(m_mutex);
  return m_bGone;
}
bool CSimStorageBridge::bPresent() {
  bool bHub = bHubNow();
  std::lock_guard<std::mutex> l(m_mutex);
  return bPresent_locked(bHub);
}
void CSimStorageBridge::vReconnect() {
  std::lock_guard<std::mutex> l(m_mutex);
  if (m_bDisconnected) {
    m_bDisconnected = false;
    m_bStandby = false;
    ++m_ullSession;
  }
}
std::vector<SimScsiCommand> CSimStorageBridge::vecCommands() {
  std::lock_guard<std::mutex> l(m_mutex);
  return m_vecLog;
}

// ---------------------------------------------------------------------------------------------

namespace {

class CSimScsiHandle : public IScsiDriveHandle {
 public:
  CSimScsiHandle(CSimStorageBridge& bridge, uint64_t ullSession, std::string strName)
      : m_bridge(bridge), m_ullSession(ullSession), m_strName(std::move(strName)) {}
  bool bSend(const ScsiRequest& req, ScsiResult& res) override {
    return m_bridge.bCommand(m_ullSession, req, res);
  }
  const std::string& strName() const override { return m_strName; }

 private:
  CSimStorageBridge& m_bridge;
  uint64_t m_ullSession;
  std::string m_strName;
};

}  // namespace

CSimScsiPlatform::CSimScsiPlatform(std::vector<SimStorageSpec> vecSpecs, IClock& clock,
                                   std::function<std::string(const std::string&)> fnHubOf,
                                   const std::function<bool(const std::string&)>& fnHubPresent)
    : m_fnHubOf(std::move(fnHubOf)) {
  for (auto& s : vecSpecs) {
    std::function<bool()> fnPresent;
    if (fnHubPresent) fnPresent = [fnHubPresent, strHub = s.strHub] { return fnHubPresent(strHub); };
    m_vecBridges.push_back(std::make_unique<CSimStorageBridge>(std::move(s), clock, std::move(fnPresent)));
  }
}

std::unique_ptr<CSimScsiPlatform> CSimScsiPlatform::pFromBenchText(CSimBench& bench,
                                                                   const std::string& strText,
                                                                   std::string& strError) {
  std::vector<SimStorageSpec> vec;
  if (!strText.empty() && !bParseSimStorage(strText, vec, strError)) return nullptr;
  for (const auto& s : vec)
    if (bench.nFindHub(s.strHub) < 0) {
      strError = "hub \"" + s.strHub + "\".storage: the bench has no such hub";
      return nullptr;
    }
  CSimBench* pBench = &bench;
  return std::make_unique<CSimScsiPlatform>(
      std::move(vec), bench.clock(),
      [pBench](const std::string& strObject) -> std::string {
        bool bSS = false;
        int h = pBench->nResolveName(strObject, bSS);
        return h < 0 ? std::string() : pBench->hubSpec(h).strName;
      },
      [pBench](const std::string& strHub) {
        int h = pBench->nFindHub(strHub);
        return h >= 0 && pBench->bPresent(h);
      });
}

std::unique_ptr<CSimScsiPlatform> CSimScsiPlatform::pFromBench(CSimBench& bench, std::string& strError) {
  std::string strText;
  if (!bench.def().strPath.empty()) {
    std::ifstream in(bench.def().strPath, std::ios::binary);
    if (!in) {
      strError = "bench file " + bench.def().strPath + ": cannot be read";
      return nullptr;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    strText = ss.str();
  }
  auto p = pFromBenchText(bench, strText, strError);
  if (!p && !bench.def().strPath.empty()) strError = "bench file " + bench.def().strPath + ": " + strError;
  return p;
}

std::unique_ptr<IScsiDriveHandle> CSimScsiPlatform::pOpen(const std::string& strDriveName, int* pnError,
                                                          std::string* pstrError) {
  auto fail = [&](int nErr, const std::string& strWhy) -> std::unique_ptr<IScsiDriveHandle> {
    if (pnError) *pnError = nErr;
    if (pstrError) *pstrError = strDriveName + ": " + strWhy;
    return nullptr;
  };
  bool bCDROM = false;
  int n = 0;
  if (!bParseScsiDriveName(strDriveName, bCDROM, n)) return fail(EINVAL, "malformed drive name");
  for (auto& b : m_vecBridges) {
    if (!b->bServes(bCDROM, n)) continue;
    uint64_t ullSession = 0;
    int nErr = 0;
    if (!b->bOpen(ullSession, nErr)) return fail(nErr, "the drive is not on the bus");
    if (pnError) *pnError = 0;
    return std::make_unique<CSimScsiHandle>(*b, ullSession, strDriveName);
  }
  return fail(ENOENT, "no such drive on the bench");
}

int CSimScsiPlatform::nFindStorageDrive(const std::string& strHubObjectName, StorageDriveInfo& info) {
  info = StorageDriveInfo{};
  std::string strHub = m_fnHubOf ? m_fnHubOf(strHubObjectName) : std::string();
  if (strHub.empty()) return strHubObjectName.rfind("usb:", 0) == 0 ? ENOENT : EINVAL;
  CSimStorageBridge* b = pBridge(strHub);
  if (b == nullptr || !b->bPresent()) return 0;  // no drive behind this hub now
  const auto& s = b->def();
  if (s.nPhysicalDrive >= 0) {
    info.bHasDisk = true;
    info.ucPhysicalDrive = static_cast<uint8_t>(s.nPhysicalDrive);
    info.strDiskDevice = strHub + " disk";
  }
  if (s.nCDROM >= 0) {
    info.bHasCDROM = true;
    info.ucCDROMNumber = static_cast<uint8_t>(s.nCDROM);
    info.strCDROMDevice = strHub + " CD-ROM";
  }
  return 0;
}

bool CSimScsiPlatform::bPowerCycle(const std::string& strDriveName) {
  bool bCDROM = false;
  int n = 0;
  if (!bParseScsiDriveName(strDriveName, bCDROM, n)) return false;
  for (auto& b : m_vecBridges)
    if (b->bServes(bCDROM, n)) return b->bPowerCycle();
  return false;
}

CSimStorageBridge* CSimScsiPlatform::pBridge(const std::string& strHub) {
  for (auto& b : m_vecBridges)
    if (b->def().strHub == strHub) return b.get();
  return nullptr;
}
