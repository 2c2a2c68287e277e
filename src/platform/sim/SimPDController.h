// A simulated USB Power Delivery controller (and, on some boards, the ST microcontroller)
// behind a simulated storage bridge, reached by the bridge's vendor command 0xEC with an
// 8-byte CDB: EC sub A-high A-low B-high B-low b6 b7.
//
// Families and their flash:
//   richtek  16384 bytes, written as 4-byte words (0x01, word address 0..0x0FFF), read in
//            32-byte pieces (0x06); the version (0x03) is bytes 4096 and 4097 of the running
//            image
//   ccg2     256 rows of 128 bytes (0x23 write, 0x24 read; the row in CDB byte 2)
//   ccg3     1024 rows of 128 bytes (0x2B write with B 0, 0x2A read; the row low byte first)
//   ccg4     512 rows of 256 bytes (0x2B write with B 0x100; no row read)
//   MCU      48 KiB (0xC000) at upper address 0x0800, written (0x34) and read (0x35) in pieces
//            of 1 to 12 bytes
// The Cypress families answer their version (0x21 for ccg2 and for ccg3/ccg4 in device mode
// 1, 0x2C for ccg3/ccg4 in device mode 2) with the 8 version bytes in bytes 8..15. Every
// family reads its version from the image it runs, where its firmware keeps it: relative to
// the image's first row (ccg2 1, ccg3 512 in device mode 1 and 48 in mode 2, ccg4 265 and 20),
// ccg2 bytes 0..7 of the third row, ccg3 bytes 96..103 of the second, ccg4 bytes 224..231 of
// the first (where the version characters of a .cyacd file with CR LF line ends land);
// richtek bytes 4096 and 4097. The bench's "pd_version" is what the flash holds there at start.
//
// The controller is strict: it refuses (the bridge answers CHECK CONDITION, ILLEGAL REQUEST)
//   - a sub-command its family does not have, MCU commands without an MCU (ASC 0x20),
//   - any field other than the one layout of its sub-command: CDB length 8, A and B values,
//     bytes 6 and 7, direction, data length, a row or address outside the flash (ASC 0x24),
//   - commands out of order (ASC 0x2C): anything but I2C open and close while the bridge's
//     I2C path is closed; a flash write outside flash mode; the MCU's second bootloader step
//     without the first, or sooner than 1000 ms after it; MCU writes and reads outside the
//     bootloader.
// A power cycle closes the I2C path, leaves flash mode and the bootloader, and runs what the
// flash holds then (the version answers come from the running image).
//
// Not thread-safe: the bridge calls it under its own lock.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/ScsiPassThrough.h"

enum class ESimPDFamily : uint8_t { kNone = 0, kRichtek = 1, kCCG2 = 2, kCCG3 = 4, kCCG4 = 5 };

struct SimPDSpec {
  ESimPDFamily eFamily = ESimPDFamily::kNone;
  uint8_t ucDeviceMode = 1;            // ccg3 and ccg4: 1 or 2
  bool bMCU = false;                   // an ST microcontroller sits behind the bridge too
  std::array<uint8_t, 8> ucVersion{};  // Cypress version bytes the flash holds at start
};

// Parses a family name ("richtek", "ccg2", "ccg3", "ccg4"); false for anything else.
bool bParseSimPDFamily(const std::string& strName, ESimPDFamily& eFamily);

constexpr uint8_t SIM_PD_ASC_INVALID_OPCODE = 0x20;
constexpr uint8_t SIM_PD_ASC_INVALID_FIELD = 0x24;
constexpr uint8_t SIM_PD_ASC_SEQUENCE = 0x2C;
constexpr uint32_t SIM_PD_MCU_BOOT_MS = 1000;  // the MCU takes this long after its first step
constexpr uint16_t SIM_PD_MCU_UPPER = 0x0800;
constexpr size_t SIM_PD_MCU_SIZE = 0xC000;

enum class ESimMcuState : uint8_t { kApplication, kStarting, kBootloader };

class CSimPDController {
 public:
  CSimPDController(SimPDSpec def, IClock& clock);

  // One 0xEC command. 0 when carried out (read data in req.pData, res.ulTransferred set by
  // the caller), else the additional sense code of the refusal.
  uint8_t ucExecute(const ScsiRequest& req, size_t& ulTransferred);
  void vPowerCycle();

  const SimPDSpec& def() const { return m_def; }
  bool bI2COpen() const { return m_bI2COpen; }
  bool bFlashMode() const { return m_bFlashMode; }
  ESimMcuState eMcuState() const { return m_eMcu; }
  const std::vector<uint8_t>& vecFlash() const { return m_vecFlash; }
  const std::vector<uint8_t>& vecMcuFlash() const { return m_vecMcu; }
  size_t ulRowSize() const;  // 0 for richtek
  size_t ulRows() const;
  size_t ulFirstRow() const;       // first row of the firmware image (the version's reference)
  size_t ulVersionOffset() const;  // flash byte of the version

 private:
  SimPDSpec m_def;
  IClock& m_clock;
  std::vector<uint8_t> m_vecFlash;    // what the flash holds
  std::vector<uint8_t> m_vecRunning;  // what the controller runs (the flash at its power-up)
  std::vector<uint8_t> m_vecMcu;
  bool m_bI2COpen = false;
  bool m_bFlashMode = false;
  ESimMcuState m_eMcu = ESimMcuState::kApplication;
  uint64_t m_ullMcuStartMs = 0;
};
