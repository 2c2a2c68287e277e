// The PD/MCU engine's firmware side: the choices the PD dialog makes (which updates, which
// file types), the PD family the bridge reported, the loaded images, and the loader that
// fills them from the chosen files.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "pd/PDFirmwareImages.h"

class CUSBUtility;

// File type codes of the PD and MCU files.
constexpr uint8_t PD_FILE_TYPE_NONE = 0;
constexpr uint8_t PD_FILE_TYPE_RICHTEK = 1;  // ".bin"
constexpr uint8_t PD_FILE_TYPE_CYACD = 2;    // ".cyacd"
constexpr uint8_t MCU_FILE_TYPE_HEX = 20;    // ".hex"

// Chip families as the bridge reports them, and as the flows name their targets.
constexpr uint8_t PD_VENDOR_UNKNOWN = 0;
constexpr uint8_t PD_VENDOR_RICHTEK = 1;
constexpr uint8_t PD_VENDOR_CCG2 = 2;
constexpr uint8_t PD_VENDOR_CCG3 = 4;
constexpr uint8_t PD_VENDOR_CCG4 = 5;
constexpr uint8_t MCU_VENDOR_ST = 20;

// Data bytes per .cyacd row of a PD family: 128 for CCG2 and CCG3, 256 for CCG4, 0 for a
// family that takes no .cyacd file.
constexpr size_t nCyacdRowSizeOf(uint8_t ucVendor) {
  if (ucVendor == PD_VENDOR_CCG2 || ucVendor == PD_VENDOR_CCG3) return CCG3_ROW_SIZE;
  return ucVendor == PD_VENDOR_CCG4 ? CCG4_ROW_SIZE : 0;
}

// The selections and detected families are single bytes that the PD dialog and its workers
// share without a lock (the last detection wins).
class CPDFirmware {
 public:
  explicit CPDFirmware(CUSBUtility& utility);
  virtual ~CPDFirmware() = default;
  CPDFirmware(const CPDFirmware&) = delete;
  CPDFirmware& operator=(const CPDFirmware&) = delete;

  std::atomic<uint8_t> m_bPDFWEnable{0};
  std::atomic<uint8_t> m_bMCUFWEnable{0};
  std::atomic<uint8_t> m_ucPDFWFileType{PD_FILE_TYPE_NONE};
  std::atomic<uint8_t> m_ucMCUFWFileType{PD_FILE_TYPE_NONE};
  std::atomic<uint8_t> m_nPDChipVendor{PD_VENDOR_UNKNOWN};
  std::atomic<uint8_t> m_nMCUChipVendor{0};
  std::atomic<uint8_t> m_ucCCG3DeviceMode{0};
  // The chosen MCU file; empty: the MCU image is read from the file given to the loader.
  std::string m_strMCUFWFilePath;

  CPDFirmwareImages m_images;

  // Loads the PD image chosen by m_ucPDFWFileType from strPath and, with the MCU update
  // chosen, the MCU image. 0, or -10 when the file is missing, of no or the wrong type,
  // not a valid image of its kind, or of a kind the bridge's PD family does not take.
  int nCreatePDSPIROMBuffer(const std::string& strPath);

  CUSBUtility& utility() { return m_utility; }

 private:
  CUSBUtility& m_utility;
};

// Largest PD or MCU file read: a .cyacd of 65535 rows of 256 bytes takes about 35 MB.
constexpr uint64_t PD_FILE_MAX_SIZE = 64ull << 20;
