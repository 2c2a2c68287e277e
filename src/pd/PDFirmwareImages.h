// The in-memory firmware images of the PD/MCU update engine and the three readers that fill
// them: Cypress bootloader files (.cyacd) with rows of 128 or 256 data bytes, Intel HEX files
// for the ST microcontroller and the 16 KB Richtek image. The containers grow to what a file
// needs (reserved once from the file's size); the slot layout is the one the update and
// read-back flows walk: slot 0 is the header line, data rows follow from slot 1 in file
// order, so row k's data lies at byte (k - 1) x row size of a read-back image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Header line of a .cyacd file.
struct CypressFWHeader {
  uint32_t dwSliconID = 0;
  uint8_t ucSiliconRev = 0;
  uint8_t ucChecksumType = 0;
};

constexpr uint8_t CYACD_HEADER_ARRAY_ID = 0xFF;
constexpr size_t CCG3_ROW_SIZE = 128;  // CCG2 and CCG3
constexpr size_t CCG4_ROW_SIZE = 256;
// Shortest data line taken, for both row sizes: ":" and a whole 128-byte row.
constexpr size_t CYACD_MIN_ROW_LINE = 269;
// Slots of one image: the header and the rows a 16-bit row number can name.
constexpr size_t CYACD_MAX_SLOTS = 65535;

// One slot of a .cyacd image. Data bytes past the row's length stay 0xFF.
template <size_t ROW>
struct CypressRow {
  uint8_t ucArrayID = 0xFF;
  uint16_t wRowNum = 0;
  uint32_t dwDataLen = 0;
  std::array<uint8_t, ROW> data;
  uint8_t ucChecksum = 0;
  CypressRow() { data.fill(0xFF); }
};
using CypressRow128 = CypressRow<CCG3_ROW_SIZE>;
using CypressRow256 = CypressRow<CCG4_ROW_SIZE>;

// Intel HEX record types.
constexpr uint8_t HEX_DATA = 0;
constexpr uint8_t HEX_END_OF_FILE = 1;
constexpr uint8_t HEX_EXT_SEGMENT_ADDRESS = 2;
constexpr uint8_t HEX_START_SEGMENT_ADDRESS = 3;
constexpr uint8_t HEX_EXT_LINEAR_ADDRESS = 4;
constexpr uint8_t HEX_START_LINEAR_ADDRESS = 5;
// The microcontroller image the flows build from the data records (48 KB).
constexpr size_t MCU_IMAGE_SIZE = 0xC000;
constexpr size_t MCU_MAX_RECORDS = 4096;

struct STMHexRecord {
  uint8_t ucByteCount = 0xFF;
  uint32_t dwAddress = 0xFFFFFFFF;  // the record's 16-bit address field
  uint8_t ucDataType = 0xFF;
  std::array<uint8_t, 255> data;
  uint8_t ucChecksum = 0xFF;
  STMHexRecord() { data.fill(0xFF); }
};

constexpr size_t RICHTEK_IMAGE_SIZE = 16384;  // 4096 words as they lie in the file

class CPDFirmwareImages {
 public:
  // How a reader turns two or four hexadecimal characters into a number.
  using HexFn = std::function<uint32_t(std::string_view)>;
  explicit CPDFirmwareImages(HexFn fnHex);

  CypressFWHeader m_CypressFWHeader;
  std::vector<CypressRow128> m_CypressFWBuf;      // CCG2/CCG3
  std::vector<CypressRow256> m_CypressCCG4FWBuf;  // CCG4
  std::vector<STMHexRecord> m_STMMCUFW;
  std::array<uint8_t, RICHTEK_IMAGE_SIZE> m_RichtekFWBuf{};

  // Reads a .cyacd text into the 128-byte or 256-byte rows (nRowSize CCG3_ROW_SIZE or
  // CCG4_ROW_SIZE), after clearing the header and that image. 0, or -10 for a line that
  // cannot be a row of this size (the image then holds the slots read before it).
  int nReadCyacd(std::string_view text, size_t nRowSize);
  // Reads Intel HEX records into the MCU records, after clearing them. 0 or -10.
  int nReadIntelHex(std::string_view text);
  // Takes the Richtek image: exactly RICHTEK_IMAGE_SIZE bytes. 0 or -10 (image cleared).
  int nReadRichtek(std::span<const uint8_t> bytes);

  // Slots of the .cyacd image of that row size (header included).
  size_t nCyacdSlots(size_t nRowSize) const;
  // Array id, row number and data of a slot; null past the loaded slots, which the flows
  // treat as the end of the data rows.
  struct RowView {
    uint8_t ucArrayID;
    uint16_t wRowNum;
    uint32_t dwDataLen;
    std::span<const uint8_t> data;
  };
  bool bCyacdSlot(size_t nRowSize, size_t nSlot, RowView& out) const;
  // Array ids of data rows; any other id (the header's 0xFF included) ends the data rows.
  static bool bIsDataArrayID(uint8_t ucArrayID) { return ucArrayID == 0x40 || ucArrayID == 0x00; }
  // The data slots from slot 1 up to the first slot that is no data row, each with its row
  // number, in the order a read-back visits them: ascending row, file order within a row.
  std::vector<std::pair<uint16_t, size_t>> vecDataSlotsByRow(size_t nRowSize) const;

  // The 48 KB image the MCU flows build from the data records (0 where no record writes),
  // its length (end of the last data record) and the extended linear address of record 0.
  std::vector<uint8_t> vecMCUImage(size_t& nLength, uint16_t& wExtLinearAddress) const;

 private:
  HexFn m_fnHex;
  uint32_t dwHex(std::string_view s) const { return m_fnHex(s); }
  // Reads nCount data bytes from hex position nFirst of a record into pData and the stored
  // checksum from its end; warns when it differs from the one dwSum (the record's fields)
  // and the data give. Returns the stored checksum.
  uint8_t ucReadRecordData(const std::string& s, size_t nFirst, size_t nCount, uint8_t* pData,
                           uint32_t dwSum) const;
  template <size_t ROW>
  int nReadCyacdRows(std::string_view text, std::vector<CypressRow<ROW>>& rows);
};
