// One simulated hub chip: its registers, its SPI flash (two 64 KB images, CPU A then CPU B,
// kept in the bench's flash file), erase and download engines, CPU reset with its time off
// the bus, and the faults injected from the bench file. Both halves of a USB 3 hub (the
// USB 2.0 hub and the SuperSpeed hub) reach this one chip.
//
// Thread-safe: every member takes the chip's lock. Time comes from the bench clock; state
// that changes with time (an erase phase ending, the hub coming back) is brought up to date
// on each access.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/FileDescriptor.h"
#include "platform/FilterDevice.h"
#include "platform/sim/SimBenchFile.h"

constexpr size_t SIM_IMAGE_SIZE = 0x10000;
constexpr size_t SIM_FLASH_SIZE = 2 * SIM_IMAGE_SIZE;  // the flash file: CPU A, then CPU B
constexpr uint32_t SIM_FIRMWARE_AREA = 0x100;
constexpr uint16_t SIM_FW_LENGTH_MIN = 0x5000;
constexpr uint16_t SIM_FW_LENGTH_MAX = 0xFEF8;

// The identity a hub reports on the bus.
struct SimHubIdentity {
  uint16_t usVID = 0, usPID = 0, usPIDU2 = 0, usBcdDevice = 0;
  std::string strManufacturer, strProduct, strSerial;
  bool bUsb3 = true;
  int nPorts = 4;
  uint16_t usChipId = 0;
  std::array<uint8_t, 6> ucVersion{};  // first six bytes of the version area
  bool bFromConfigBlock = false;       // the identity came from a valid, complete image
  bool bPresent = true;                // on the bus now
  bool bSuspended = false;
};

// A configuration block as the chip reads it at power-up.
struct SimConfigBlockInfo {
  std::string strSerial, strManufacturer, strProduct;  // up to the first 0xFF byte
  uint16_t usVID = 0, usPID = 0, usPIDU2 = 0, usRevision = 0;
  std::array<uint8_t, 16> ucContainerId{};
  uint8_t ucFlags = 0xFF;
  uint8_t ucSignature = 0, ucChecksum = 0, ucChecksumComputed = 0;
  bool bSignatureValid = false;  // 0xAA, 0x4B, 0x3C or 0x2D
  bool bChecksumValid = false;   // sum of bytes 0x04..0xFE modulo 256
  int nType = -1;                // firmware type the signature stands for
  bool bValid() const { return bSignatureValid && bChecksumValid; }
};
SimConfigBlockInfo stDecodeSimConfigBlock(const uint8_t* p);

// The firmware area (image offset 0x100): 16-bit length, firmware, signature, sum, CRC-32.
struct SimFirmwareAreaInfo {
  uint16_t usLength = 0;
  bool bLengthValid = false;           // 0x5000..0xFEF8
  std::array<uint8_t, 6> ucVersion{};  // firmware bytes 0x200..0x205
  uint8_t ucSignature = 0, ucSum = 0, ucSumComputed = 0;
  bool bSumValid = false;
  int nType = -1;          // type the signature stands for; -1: no image signature
  int nFirmwareType = -1;  // type byte of the firmware (bits 4..6 of its byte 0x203)
  bool bCrc = false;       // the signature says a CRC-32 follows the sum
  uint32_t ulCrc = 0, ulCrcComputed = 0;
  bool bCrcValid = false;  // no CRC, or the CRC matches
  bool bValid() const {
    return bLengthValid && nType >= 0 && bSumValid && bCrcValid && nFirmwareType == nType;
  }
};
SimFirmwareAreaInfo stDecodeSimFirmwareArea(const uint8_t* pImage);
// What the boot code checks before it takes an image's identity: a valid configuration
// block and a valid firmware area of the same type.
bool bSimImageBoots(const SimConfigBlockInfo& cfg, const SimFirmwareAreaInfo& fw);

// What a request did to the hub's presence, for the bench's hub events.
struct SimChipEvents {
  bool bLeft = false;
  bool bReturned = false;
};

// The chip's own side of its place on the bus: whether it is on its upstream port now (the
// bench adds what the hubs above it do), its session, since when it is there (bSinceLoad:
// it has been there since the bench was loaded) and when it is due back (UINT64_MAX: not
// by itself).
struct SimChipLink {
  bool bPresent = false;
  uint64_t ullSession = 0;
  bool bSinceLoad = true;
  uint64_t ullSinceMs = 0;
  uint64_t ullReturnAtMs = UINT64_MAX;
};

class CSimHubChip {
 public:
  CSimHubChip(const SimHubSpec& def, IClock& clock);
  ~CSimHubChip();
  CSimHubChip(const CSimHubChip&) = delete;
  CSimHubChip& operator=(const CSimHubChip&) = delete;

  // Maps the flash file, creating it filled with 0xFF when missing; then powers the chip up.
  bool bOpenFlash(std::string& strError);

  // One control transfer. ulWaitMs receives the time a timed-out request blocked for (the
  // caller waits it outside the locks).
  EFilterResult eControl(uint64_t ullSession, bool bSuperSpeed, const UsbControlSetup& s, uint8_t* pOut,
                         size_t* pulTransferred, uint32_t& ulWaitMs, SimChipEvents& ev);

  SimHubIdentity stIdentity();
  std::vector<uint8_t> vecFlash(size_t ulOffset, size_t ulLen);       // whole-flash offsets
  void vSetFlash(size_t ulOffset, const std::vector<uint8_t>& data);  // raw write (tests, tools)
  uint8_t ucRegister(uint16_t usAddr);
  void vSetRegister(uint16_t usAddr, uint8_t ucValue);
  uint64_t ullRequestCount();
  void vSetSuspended(bool b);
  // Unplug (off the bus until plugged again) and plug (powers up from its flash).
  void vSetPlugged(bool bPlugged, SimChipEvents& ev);
  // Its place on the bus, brought up to date. A handle opened in one session is dead in
  // the next.
  SimChipLink stLink();
  // Enumerated again without a reset of its chip (the system restarted it): a new session
  // from now on. False when it is off the bus.
  bool bReenumerate();
  const SimHubSpec& def() const { return m_def; }

 private:
  struct FaultState {
    bool bArmed = false;
    uint32_t uLeft = 0;
    std::mt19937 rngStrike, rngFlip;  // both seeded from the fault's seed
  };
  void vPowerUp_locked();
  void vLeaveBus_locked(bool bForever, SimChipEvents& ev);
  void vRefresh_locked(SimChipEvents& ev);
  void vProgram_locked(size_t ulAt, const uint8_t* p, size_t n);
  static void vFlip(FaultState& st, const SimFaultSpec& f, uint8_t* p, size_t ulLen);
  bool bStrings_locked(uint8_t ucIndex, bool bSuperSpeed, uint8_t* pOut, size_t ulLen, size_t* pulDone);
  EFilterResult eDispatch_locked(bool bSuperSpeed, const UsbControlSetup& s, uint8_t* pOut, size_t* pulDone,
                                 SimChipEvents& ev, bool& bResetAfter, size_t& ulProgFrom, size_t& ulProgLen);

  SimHubSpec m_def;
  IClock& m_clock;
  std::mutex m_mutex;
  uint8_t* m_pFlash = nullptr;  // the mapped flash file
  CFileDescriptor m_fdFlash;    // the flash file behind the mapping
  std::vector<uint8_t> m_vecRegs;
  SimHubIdentity m_identity;
  bool m_bPresent = false;
  bool m_bPlugged = true;
  uint64_t m_ullSession = 1;
  uint64_t m_ullReturnAtMs = UINT64_MAX;
  uint64_t m_ullSinceMs = 0;  // on the bus since
  bool m_bSinceLoad = true;   // ... the bench was loaded
  // erase engine
  bool m_bEraseActive = false, m_bEraseStuck = false, m_bEraseStuckNext = false;
  int m_nErasePhase = 0, m_nEraseBlock = 0;
  bool m_bEraseOpen = false;                      // phase 0 was the last erase request: phase 1 may follow
  const SimFaultSpec* m_pErasePartial = nullptr;  // the running erase leaves this range
  const SimFaultSpec* m_pErasePartialNext = nullptr;  // ... and the next one
  uint64_t m_ullEraseDoneMs = 0;
  // download engine: the running download and its offset within its area
  int m_nDlRequest = -1;
  uint32_t m_ulDlTotal = 0, m_ulDlOffset = 0;
  bool m_bNoReturnNext = false;
  // faults
  uint64_t m_ullRequests = 0;
  std::array<uint32_t, 256> m_ulCodeCount{};
  std::vector<FaultState> m_vecFaultState;
};
