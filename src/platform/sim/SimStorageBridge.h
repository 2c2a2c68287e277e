// Simulated storage bridges: the USB storage bridge some bench hubs carry, reached by SCSI
// commands on its disk or CD-ROM drive. A bridge is described by a "storage" object inside
// its hub's entry of the bench file:
//
//   { "name": "hubA", ..., "storage": {
//       "physical_drive": 1,                  disk number 0..126 ("\\.\PHYSICALDRIVE1")
//       "cdrom": 0,                           CD-ROM number 0..126 ("\\.\CDROM0")
//       "registers": { "0xCA30": "0x06" },    bridge register start values (others 0)
//       "faults": [ { "kind": "fail", "at_request": 2, "count": 3 } ],
//       "pd": "ccg3", "device_mode": 2, "mcu": true,   a PD controller behind it (see
//       "pd_version": "0102030405060708",              SimPDController.h), Cypress version
//       "relink_ms": 1500 } }                          away this long after a power cycle
//
// At least one of "physical_drive" and "cdrom" is given; no two bridges share a drive.
// What the bridge answers:
//   E4 n 00 AH AL 00   read n registers from AH:AL (n 0 = 256), data in, exactly n bytes
//   E5 v 00 AH AL 00   write v to register AH:AL, no data
//   E8 01 00 .. (12)   disconnect: answers GOOD, then the drive leaves until its hub is
//                      plugged again (or vReconnect)
//   A1 06 .. E7 .. (12) ATA PASS-THROUGH (12), non-data FLUSH CACHE
//   A1 06 .. E0 .. (12) ATA PASS-THROUGH (12), non-data STANDBY IMMEDIATE
//   EC sub ... (8)      the PD controller's vendor command, when "pd" is given
// anything else: CHECK CONDITION, ILLEGAL REQUEST. Register 0xCA30 holds the LEDs (bit 1 LED 1,
// bit 2 LED 2).
//
// Faults, as for hubs: "kind" "fail" (the request fails, EIO), "status" (the request completes
// with SCSI status "status", default 0x02 CHECK CONDITION, and does nothing), "timeout" (the
// request blocks for its whole time-out, then fails ETIMEDOUT), "gone" (the bridge vanishes
// at this request for good: the request and every later open fail ENODEV). When: "at_request"
// N (the bridge's Nth command since the bench was loaded, from 1) or "opcode" (the
// "occurrence"-th command with that opcode, default the first); "count" commands in a row
// (default 1, 0 = every command from then on; a fault named by opcode strikes only commands
// with that opcode). "no_relink": after the "occurrence"-th power cycle (default the first)
// the drive never comes back.
//
// The bridge is on the bus only while its hub is. When the hub is seen off the bus and back,
// the bridge has been powered again: it is connected, not in standby, and handles opened
// before are dead (ENODEV).
//
// Thread-safe: every member takes the bridge's lock; a timeout fault waits outside it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/PowerCycle.h"
#include "platform/ScsiPassThrough.h"
#include "platform/sim/SimPDController.h"

class CSimBench;

enum class ESimScsiFaultKind { kFail, kStatus, kTimeout, kGone, kNoRelink };

struct SimScsiFaultSpec {
  ESimScsiFaultKind eKind = ESimScsiFaultKind::kFail;
  uint64_t ullAtRequest = 0;  // 0 = not by count
  int nOpcode = -1;           // -1 = not by opcode
  uint32_t uOccurrence = 1;   // kNoRelink: the power cycle it strikes, from 1
  uint32_t uCount = 1;        // 0 = every command from then on
  uint8_t ucStatus = SCSI_STATUS_CHECK_CONDITION;
};

struct SimStorageSpec {
  std::string strHub;       // the bench hub carrying the bridge
  int nPhysicalDrive = -1;  // -1 = no disk
  int nCDROM = -1;          // -1 = no CD-ROM drive
  std::map<uint16_t, uint8_t> mapRegisters;
  std::vector<SimScsiFaultSpec> vecFaults;
  SimPDSpec pd;                 // eFamily kNone: no PD controller behind this bridge
  uint64_t ullRelinkMs = 1500;  // how long the drive stays away after a power cycle
};

// Reads the "storage" objects of every hub of a bench file's text. Hubs without one are left
// out. False with a one-line error naming the hub and the problem.
bool bParseSimStorage(const std::string& strBenchText, std::vector<SimStorageSpec>& vecOut,
                      std::string& strError);

// One command as the bridge received it, for tests and the bench report.
struct SimScsiCommand {
  std::vector<uint8_t> vecCdb;
  EScsiDirection eDir = EScsiDirection::kNone;
  size_t ulDataLen = 0;
  uint32_t ulTimeoutSec = 0;
  bool bGood = false;
};

class CSimStorageBridge {
 public:
  // fnHubPresent: whether the carrying hub is on the bus now (null: always).
  CSimStorageBridge(SimStorageSpec def, IClock& clock, std::function<bool()> fnHubPresent = {});

  const SimStorageSpec& def() const { return m_def; }
  bool bServes(bool bCDROM, int nNumber) const {
    return bCDROM ? (m_def.nCDROM >= 0 && m_def.nCDROM == nNumber)
                  : (m_def.nPhysicalDrive >= 0 && m_def.nPhysicalDrive == nNumber);
  }
  // Opening: the session a handle belongs to; false with ENODEV while the bridge is away.
  bool bOpen(uint64_t& ullSession, int& nError);
  // One command of a handle opened in ullSession.
  bool bCommand(uint64_t ullSession, const ScsiRequest& req, ScsiResult& res);

  // State, for tests and tools.
  uint8_t ucRegister(uint16_t usAddr);
  void vSetRegister(uint16_t usAddr, uint8_t ucValue);
  uint64_t ullRequestCount();
  int nFlushCount();
  bool bStandby();
  bool bDisconnected();
  bool bGone();
  bool bPresent();                            // a drive open would succeed now
  void vReconnect();                          // after a disconnect, as a replug of the bridge would
  std::vector<SimScsiCommand> vecCommands();  // the last 256 commands, oldest first

  // The board's power cut and restored: the drive leaves for ullRelinkMs (for good with a
  // no_relink fault), handles opened before are dead, the PD controller starts afresh.
  // False when the bridge is gone for good.
  bool bPowerCycle();
  uint32_t uPowerCycles();
  struct PDState {
    bool bPresent = false;  // a PD controller sits behind the bridge
    bool bI2COpen = false, bFlashMode = false;
    ESimMcuState eMcu = ESimMcuState::kApplication;
    std::vector<uint8_t> vecFlash, vecMcuFlash;
  };
  PDState stPD();

 private:
  bool bHubNow() const { return !m_fnHubPresent || m_fnHubPresent(); }  // called outside the lock
  bool bPresent_locked(bool bHub);
  void vExecute_locked(const ScsiRequest& req, ScsiResult& res);

  SimStorageSpec m_def;
  IClock& m_clock;
  std::function<bool()> m_fnHubPresent;
  std::mutex m_mutex;
  std::vector<uint8_t> m_vecRegs;
  uint64_t m_ullSession = 1;
  uint64_t m_ullRequests = 0;
  std::array<uint32_t, 256> m_ulOpcodeCount{};
  std::vector<uint32_t> m_vecFaultLeft;  // commands still to strike per fault
  std::vector<bool> m_vecFaultArmed;
  bool m_bGone = false, m_bDisconnected = false, m_bStandby = false, m_bHubAway = false;
  int m_nFlushes = 0;
  std::vector<SimScsiCommand> m_vecLog;
  std::unique_ptr<CSimPDController> m_pPD;
  uint32_t m_uPowerCycles = 0;
  uint64_t m_ullAwayUntilMs = 0;  // off the bus after a power cycle until then
};

// The SCSI pass-through and the drive finder of a simulated bench: every drive name goes to
// the bridge serving it; a hub's drives are its bridge's.
class CSimScsiPlatform : public IScsiPassThroughPlatform,
                         public IStorageDriveFinder,
                         public IPowerCyclePlatform {
 public:
  // fnHubOf: the bench hub name behind a filter device name ("" when none);
  // fnHubPresent: whether a bench hub is on the bus now.
  CSimScsiPlatform(std::vector<SimStorageSpec> vecSpecs, IClock& clock,
                   std::function<std::string(const std::string&)> fnHubOf,
                   const std::function<bool(const std::string&)>& fnHubPresent);
  // The bridges of a loaded bench, read from its bench file (no file, no bridges). Null with
  // a one-line error when a "storage" object is wrong or names a drive twice.
  static std::unique_ptr<CSimScsiPlatform> pFromBench(CSimBench& bench, std::string& strError);
  // The same from the bench file's text (a bench made in code has no file).
  static std::unique_ptr<CSimScsiPlatform> pFromBenchText(CSimBench& bench, const std::string& strText,
                                                          std::string& strError);

  std::unique_ptr<IScsiDriveHandle> pOpen(const std::string& strDriveName, int* pnError = nullptr,
                                          std::string* pstrError = nullptr) override;
  int nFindStorageDrive(const std::string& strHubObjectName, StorageDriveInfo& info) override;
  bool bPowerCycle(const std::string& strDriveName) override;

  CSimStorageBridge* pBridge(const std::string& strHub);  // null when the hub carries none
  int nBridges() const { return static_cast<int>(m_vecBridges.size()); }

 private:
  std::vector<std::unique_ptr<CSimStorageBridge>> m_vecBridges;
  std::function<std::string(const std::string&)> m_fnHubOf;
};

// Checks that no two bridges share a drive; false with the error.
bool bCheckSimStorageDrives(const std::vector<SimStorageSpec>& vec, std::string& strError);
