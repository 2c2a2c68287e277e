#include "pd/PDFirmwareImages.h"

#include <algorithm>

#include "log/DebugLog.h"

namespace {

constexpr const char* LOG_LABEL = "CPowerDelivery::nCreatePDSPIROMBuffer";

// The next text line without its line end (LF, CR LF); false at the end of the text.
bool bNextLine(std::string_view text, size_t& nPos, std::string_view& line) {
  if (nPos >= text.size()) return false;
  size_t nEnd = text.find('\n', nPos);
  if (nEnd == std::string_view::npos) nEnd = text.size();
  line = text.substr(nPos, nEnd - nPos);
  nPos = nEnd + 1;
  while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return true;
}

std::string strWithoutColons(std::string_view line) {
  std::string s;
  s.reserve(line.size());
  for (char ch : line)
    if (ch != ':') s.push_back(ch);
  return s;
}

// A field of the line; short or empty past its end, never read beyond it.
std::string_view field(std::string_view s, size_t nPos, size_t nLen) {
  return nPos >= s.size() ? std::string_view{} : s.substr(nPos, nLen);
}

// The checksum both file kinds carry: the two's complement of the sum, to 8 bits.
uint8_t ucTwosComplement(uint32_t dwSum) {
  return static_cast<uint8_t>(0x100u - (dwSum & 0xFFu));
}

void vWarnChecksum(uint8_t ucStored, uint8_t ucComputed) {
  vDEBUG_WRN_printf(LOG_LABEL, " The Row checksum is different ucChkSum=[%02x], liFWCheckSum[%02x]", ucStored,
                    ucComputed);
}

}  // namespace

CPDFirmwareImages::CPDFirmwareImages(HexFn fnHex) : m_fnHex(std::move(fnHex)) {}

template <size_t ROW>
int CPDFirmwareImages::nReadCyacdRows(std::string_view text, std::vector<CypressRow<ROW>>& rows) {
  m_CypressFWHeader = {};
  rows.clear();
  // One slot per line of a whole row (":" + 10 field characters + the data + the checksum).
  rows.reserve(std::min(CYACD_MAX_SLOTS, text.size() / (2 * ROW + 13) + 2));
  size_t nPos = 0;
  std::string_view line;
  while (bNextLine(text, nPos, line)) {
    if (line.empty()) continue;
    if (rows.size() >= CYACD_MAX_SLOTS) {
      vDEBUG_ERR_printf(LOG_LABEL, "The FW ROW count is over [%d]", static_cast<int>(CYACD_MAX_SLOTS));
      return -10;
    }
    if (line.front() != ':') {
      // Header: silicon id (four bytes, most significant first), revision, checksum type.
      uint32_t dwId = 0;
      for (size_t i = 0; i < 4; ++i) dwId = (dwId << 8) | (dwHex(field(line, 2 * i, 2)) & 0xFFu);
      m_CypressFWHeader.dwSliconID = dwId;
      m_CypressFWHeader.ucSiliconRev = static_cast<uint8_t>(dwHex(field(line, 8, 2)));
      m_CypressFWHeader.ucChecksumType = static_cast<uint8_t>(dwHex(field(line, 10, 2)));
      CypressRow<ROW>& r = rows.emplace_back();
      r.ucArrayID = CYACD_HEADER_ARRAY_ID;
      r.wRowNum = 0;
      continue;
    }
    if (line.size() < CYACD_MIN_ROW_LINE) {
      vDEBUG_ERR_printf(LOG_LABEL, "The FW ROW length too short..[%d]", static_cast<int>(line.size()));
      return -10;
    }
    if (rows.empty()) {
      // Slot 0 belongs to the header: a row there would be read back before the image.
      vDEBUG_ERR_printf(LOG_LABEL, "The FW ROW comes before the file header");
      return -10;
    }
    const std::string s = strWithoutColons(line);
    const uint32_t dwArrayId = dwHex(field(s, 0, 2));
    const uint32_t dwRowNum = dwHex(field(s, 2, 4));
    const uint32_t dwLength = dwHex(field(s, 6, 4));
    if (dwLength > ROW) {
      vDEBUG_ERR_printf(LOG_LABEL, "The FW ROW data length too long..[%u], row size [%u]", dwLength,
                        static_cast<unsigned>(ROW));
      return -10;
    }
    if (s.size() < 10 + 2 * size_t{dwLength} + 2) {
      vDEBUG_ERR_printf(LOG_LABEL, "The FW ROW length too short..[%d]", static_cast<int>(line.size()));
      return -10;
    }
    CypressRow<ROW>& r = rows.emplace_back();
    r.ucArrayID = static_cast<uint8_t>(dwArrayId);
    r.wRowNum = static_cast<uint16_t>(dwRowNum);
    r.dwDataLen = dwLength;
    const uint32_t dwSum = dwArrayId + dwRowNum + dwLength;
    r.ucChecksum = ucReadRecordData(s, 10, dwLength, r.data.data(), dwSum);
  }
  return 0;
}

uint8_t CPDFirmwareImages::ucReadRecordData(const std::string& s, size_t nFirst, size_t nCount,
                                            uint8_t* pData, uint32_t dwSum) const {
  for (size_t i = 0; i < nCount; ++i) {
    pData[i] = static_cast<uint8_t>(dwHex(field(s, nFirst + 2 * i, 2)));
    dwSum += pData[i];
  }
  const auto ucStored = static_cast<uint8_t>(dwHex(field(s, s.size() - 2, 2)));
  const uint8_t ucExpected = ucTwosComplement(dwSum);
  if (ucExpected != ucStored) vWarnChecksum(ucStored, ucExpected);
  return ucStored;
}

int CPDFirmwareImages::nReadCyacd(std::string_view text, size_t nRowSize) {
  if (nRowSize == CCG3_ROW_SIZE) return nReadCyacdRows(text, m_CypressFWBuf);
  if (nRowSize == CCG4_ROW_SIZE) return nReadCyacdRows(text, m_CypressCCG4FWBuf);
  return -10;
}

int CPDFirmwareImages::nReadIntelHex(std::string_view text) {
  m_STMMCUFW.clear();
  // The shortest record line is ":00000001FF".
  m_STMMCUFW.reserve(std::min(MCU_MAX_RECORDS, text.size() / 11 + 1));
  size_t nPos = 0;
  std::string_view line;
  while (bNextLine(text, nPos, line)) {
    if (line.empty() || line.front() != ':') continue;
    const std::string s = strWithoutColons(line);
    if (s.size() < 10) {
      vDEBUG_ERR_printf(LOG_LABEL, "The HEX record length too short..[%d]", static_cast<int>(line.size()));
      return -10;
    }
    const uint32_t dwCount = dwHex(field(s, 0, 2)) & 0xFFu;
    const uint32_t dwAddress = dwHex(field(s, 2, 4)) & 0xFFFFu;
    const uint32_t dwType = dwHex(field(s, 6, 2)) & 0xFFu;
    if (dwType > HEX_START_LINEAR_ADDRESS) {
      vDEBUG_ERR_printf(LOG_LABEL, "The HEX record type is unknown..[%02x]", dwType);
      return -10;
    }
    if (s.size() < 8 + 2 * size_t{dwCount} + 2) {
      vDEBUG_ERR_printf(LOG_LABEL, "The HEX record length too short..[%d]", static_cast<int>(line.size()));
      return -10;
    }
    if (dwType == HEX_DATA && dwAddress + dwCount > MCU_IMAGE_SIZE) {
      vDEBUG_ERR_printf(LOG_LABEL, "The HEX record is outside the MCU image..[%04x] count [%u]", dwAddress,
                        dwCount);
      return -10;
    }
    if (m_STMMCUFW.size() >= MCU_MAX_RECORDS) {
      vDEBUG_ERR_printf(LOG_LABEL, "The HEX record count is over [%d]", static_cast<int>(MCU_MAX_RECORDS));
      return -10;
    }
    STMHexRecord& r = m_STMMCUFW.emplace_back();
    r.ucByteCount = static_cast<uint8_t>(dwCount);
    r.dwAddress = dwAddress;
    r.ucDataType = static_cast<uint8_t>(dwType);
    const uint32_t dwSum = dwCount + (dwAddress >> 8) + (dwAddress & 0xFFu) + dwType;
    r.ucChecksum = ucReadRecordData(s, 8, dwCount, r.data.data(), dwSum);
  }
  return 0;
}

int CPDFirmwareImages::nReadRichtek(std::span<const uint8_t> bytes) {
  m_RichtekFWBuf.fill(0);
  if (bytes.size() != RICHTEK_IMAGE_SIZE) {
    vDEBUG_ERR_printf(LOG_LABEL, "The PD FW file size is uncompatibie!!! [%x]",
                      static_cast<unsigned>(bytes.size()));
    return -10;
  }
  std::copy(bytes.begin(), bytes.end(), m_RichtekFWBuf.begin());
  return 0;
}

size_t CPDFirmwareImages::nCyacdSlots(size_t nRowSize) const {
  if (nRowSize == CCG3_ROW_SIZE) return m_CypressFWBuf.size();
  if (nRowSize == CCG4_ROW_SIZE) return m_CypressCCG4FWBuf.size();
  return 0;
}

bool CPDFirmwareImages::bCyacdSlot(size_t nRowSize, size_t nSlot, RowView& out) const {
  auto fill = [&](const auto& rows) {
    if (nSlot >= rows.size()) return false;
    const auto& r = rows[nSlot];
    out = {r.ucArrayID, r.wRowNum, r.dwDataLen, std::span<const uint8_t>(r.data)};
    return true;
  };
  if (nRowSize == CCG3_ROW_SIZE) return fill(m_CypressFWBuf);
  if (nRowSize == CCG4_ROW_SIZE) return fill(m_CypressCCG4FWBuf);
  return false;
}

std::vector<std::pair<uint16_t, size_t>> CPDFirmwareImages::vecDataSlotsByRow(size_t nRowSize) const {
  std::vector<std::pair<uint16_t, size_t>> order;
  RowView rec{};
  for (size_t k = 1; bCyacdSlot(nRowSize, k, rec) && bIsDataArrayID(rec.ucArrayID); ++k)
    order.emplace_back(rec.wRowNum, k);
  std::stable_sort(order.begin(), order.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  return order;
}

std::vector<uint8_t> CPDFirmwareImages::vecMCUImage(size_t& nLength, uint16_t& wExtLinearAddress) const {
  std::vector<uint8_t> image(MCU_IMAGE_SIZE, 0);
  nLength = 0;
  wExtLinearAddress = 0;
  if (!m_STMMCUFW.empty() && m_STMMCUFW[0].ucByteCount == 2 &&
      m_STMMCUFW[0].ucDataType == HEX_EXT_LINEAR_ADDRESS)
    wExtLinearAddress = static_cast<uint16_t>(m_STMMCUFW[0].data[0] << 8 | m_STMMCUFW[0].data[1]);
  for (const STMHexRecord& r : m_STMMCUFW) {
    if (r.ucByteCount == 0) break;
    if (r.ucDataType != HEX_DATA) continue;
    // The reader refuses data outside the image; the bound keeps this copy safe on its own.
    const size_t nEnd = std::min<size_t>(MCU_IMAGE_SIZE, size_t{r.dwAddress} + r.ucByteCount);
    if (r.dwAddress >= nEnd) continue;
    std::copy_n(r.data.begin(), nEnd - r.dwAddress, image.begin() + r.dwAddress);
    nLength = nEnd;
  }
  return image;
}
