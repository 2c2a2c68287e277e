#include <gtest/gtest.h>

#include "pd/PDFirmwareImages.h"
#include "support/LogCapture.h"
#include "support/PDFixtures.h"

using namespace pdfix;

namespace {

class ReadersTest : public ::testing::Test {
 protected:
  Host host;
  CPDFirmwareImages images{[this](std::string_view s) { return host.utility.vCharToHex(std::string(s)); }};
};

// ---------------------------------------------------------------- .cyacd

TEST_F(ReadersTest, CyacdHeaderAndRowsLandInTheirSlots) {
  const std::string file = strCyacdFile("1D0411AD0000", 3, 128);
  ASSERT_EQ(images.nReadCyacd(file, CCG3_ROW_SIZE), 0);
  EXPECT_EQ(images.m_CypressFWHeader.dwSliconID, 0x1D0411ADu);
  EXPECT_EQ(images.m_CypressFWHeader.ucSiliconRev, 0);
  EXPECT_EQ(images.m_CypressFWHeader.ucChecksumType, 0);
  ASSERT_EQ(images.nCyacdSlots(CCG3_ROW_SIZE), 4u);
  EXPECT_EQ(images.m_CypressFWBuf[0].ucArrayID, 0xFF);
  EXPECT_EQ(images.m_CypressFWBuf[0].wRowNum, 0);
  for (uint16_t k = 1; k <= 3; ++k) {
    CPDFirmwareImages::RowView v{};
    ASSERT_TRUE(images.bCyacdSlot(CCG3_ROW_SIZE, k, v));
    EXPECT_EQ(v.wRowNum, k);
    EXPECT_EQ(v.dwDataLen, 128u);
    const auto want = vecRowData(128, static_cast<uint8_t>(k));
    EXPECT_TRUE(std::equal(want.begin(), want.end(), v.data.begin()));
  }
  CPDFirmwareImages::RowView v{};
  EXPECT_FALSE(images.bCyacdSlot(CCG3_ROW_SIZE, 4, v));
  EXPECT_EQ(images.nCyacdSlots(CCG4_ROW_SIZE), 0u);  // the other image stays empty
}

TEST_F(ReadersTest, CyacdRowLineLengths) {
  LogCapture log;
  const std::string row = strCyacdRow(0, 1, vecRowData(128, 1));
  ASSERT_EQ(row.size(), 269u);
  EXPECT_EQ(images.nReadCyacd("140411A40000\n" + row + "\n", CCG3_ROW_SIZE), 0);
  EXPECT_EQ(images.nReadCyacd("140411A40000\n" + row.substr(0, 268) + "\n", CCG3_ROW_SIZE), -10);
  EXPECT_TRUE(log.contains("The FW ROW length too short..[268]"));
  // The shortest line for both sizes is 269 characters, but a 256-byte row needs its data.
  EXPECT_EQ(images.nReadCyacd("140411A40000\n" + strCyacdRow(0, 1, vecRowData(256, 1)).substr(0, 400) + "\n",
                              CCG4_ROW_SIZE),
            -10);
  EXPECT_TRUE(log.contains("The FW ROW length too short..[400]"));
  EXPECT_EQ(images.nReadCyacd(strCyacdFile("140411A40000", 2, 256), CCG4_ROW_SIZE), 0);
  EXPECT_EQ(images.nCyacdSlots(CCG4_ROW_SIZE), 3u);
  EXPECT_EQ(images.m_CypressCCG4FWBuf[2].data[255], vecRowData(256, 2)[255]);
}

TEST_F(ReadersTest, CyacdRowsThatDoNotFitAreRefused) {
  LogCapture log;
  // 256 data bytes claimed for a 128-byte record.
  EXPECT_EQ(images.nReadCyacd("140411A40000\n" + strCyacdRow(0, 1, vecRowData(256, 1)) + "\n", CCG3_ROW_SIZE),
            -10);
  EXPECT_TRUE(log.contains("The FW ROW data length too long..[256]"));
  // One byte over the record.
  std::string row = strCyacdRow(0, 1, vecRowData(128, 1));
  row.replace(7, 4, "0081");
  EXPECT_EQ(images.nReadCyacd("140411A40000\n" + row + "\n", CCG3_ROW_SIZE), -10);
  EXPECT_TRUE(log.contains("The FW ROW data length too long..[129]"));
  // A data row before any header would sit in the header's slot.
  EXPECT_EQ(images.nReadCyacd(strCyacdRow(0, 1, vecRowData(128, 1)) + "\n", CCG3_ROW_SIZE), -10);
  EXPECT_TRUE(log.contains("The FW ROW comes before the file header"));
}

TEST_F(ReadersTest, CyacdChecksumMismatchIsKeptWithAWarning) {
  LogCapture log(2);
  const auto data = vecRowData(128, 5);
  const std::string good = strCyacdRow(0x40, 7, data);
  const std::string bad = strCyacdRow(0x40, 7, data, 1);
  ASSERT_EQ(images.nReadCyacd("1F0111AF0000\n" + good + "\n\n" + bad + "\n", CCG3_ROW_SIZE), 0);
  ASSERT_EQ(images.nCyacdSlots(CCG3_ROW_SIZE), 3u);  // the empty line is skipped
  const uint8_t ucRight = images.m_CypressFWBuf[1].ucChecksum;
  EXPECT_EQ(images.m_CypressFWBuf[2].ucChecksum, static_cast<uint8_t>(ucRight + 1));
  EXPECT_EQ(images.m_CypressFWBuf[2].ucArrayID, 0x40);
  char sz[128];
  std::snprintf(sz, sizeof sz, " The Row checksum is different ucChkSum=[%02x], liFWCheckSum[%02x]",
                static_cast<uint8_t>(ucRight + 1), ucRight);
  EXPECT_TRUE(log.contains(sz)) << log.all();
  EXPECT_EQ(log.entries().size(), 1u);
}

TEST_F(ReadersTest, CyacdRowsOutOfOrderStayInFileOrderAndShortRowsKeepErasedBytes) {
  std::string file = "1D0311AD0000\n";
  for (uint16_t r : {3, 1, 2}) {
    // 64 data bytes; the line is filled up to the shortest line taken, the checksum last.
    std::string row = strCyacdRow(0, r, vecRowData(64, static_cast<uint8_t>(r)));
    row.insert(row.size() - 2, std::string(128, '0'));
    file += row + "\n";
  }
  ASSERT_EQ(images.nReadCyacd(file, CCG3_ROW_SIZE), 0);
  EXPECT_EQ(images.m_CypressFWBuf[1].wRowNum, 3);
  EXPECT_EQ(images.m_CypressFWBuf[2].wRowNum, 1);
  EXPECT_EQ(images.m_CypressFWBuf[3].wRowNum, 2);
  EXPECT_EQ(images.m_CypressFWBuf[1].dwDataLen, 64u);
  EXPECT_EQ(images.m_CypressFWBuf[1].data[64], 0xFF);
  // A second load starts from an empty image.
  ASSERT_EQ(images.nReadCyacd(strCyacdFile("1D0311AD0000", 1, 128), CCG3_ROW_SIZE), 0);
  EXPECT_EQ(images.nCyacdSlots(CCG3_ROW_SIZE), 2u);
}

// ---------------------------------------------------------------- Intel HEX

TEST_F(ReadersTest, HexRecordsInFileOrderWithTheirFields) {
  LogCapture log(2);
  // A record of the format's own description, checksum 0x40.
  const std::string text = "junk line\n" + strHexRecord(4, 0, {0x08, 0x00}) +
                           "\r\n:10010000214601360121470136007EFE09D2190140\r\n:00000001FF\r\n";
  ASSERT_EQ(images.nReadIntelHex(text), 0);
  ASSERT_EQ(images.m_STMMCUFW.size(), 3u);
  const STMHexRecord& r = images.m_STMMCUFW[1];
  EXPECT_EQ(r.ucByteCount, 0x10);
  EXPECT_EQ(r.dwAddress, 0x0100u);
  EXPECT_EQ(r.ucDataType, 0);
  EXPECT_EQ(r.data[0], 0x21);
  EXPECT_EQ(r.data[15], 0x01);
  EXPECT_EQ(r.ucChecksum, 0x40);
  EXPECT_EQ(images.m_STMMCUFW[2].ucDataType, HEX_END_OF_FILE);
  EXPECT_EQ(log.entries().size(), 0u) << log.all();

  size_t nLength = 0;
  uint16_t wExt = 0;
  const auto image = images.vecMCUImage(nLength, wExt);
  EXPECT_EQ(wExt, 0x0800);
  EXPECT_EQ(nLength, 0x110u);
  EXPECT_EQ(image[0x100], 0x21);
  EXPECT_EQ(image[0xFF], 0x00);
}

TEST_F(ReadersTest, HexChecksumMismatchIsKeptWithAWarning) {
  LogCapture log(2);
  ASSERT_EQ(images.nReadIntelHex(":10010000214601360121470136007EFE09D2190141\n"), 0);
  ASSERT_EQ(images.m_STMMCUFW.size(), 1u);
  EXPECT_TRUE(log.contains(" The Row checksum is different ucChkSum=[41], liFWCheckSum[40]")) << log.all();
}

TEST_F(ReadersTest, HexRecordsThatCannotBeTakenAreRefused) {
  LogCapture log;
  EXPECT_EQ(images.nReadIntelHex(strHexRecord(6, 0, {1, 2}) + "\n"), -10);
  EXPECT_TRUE(log.contains("The HEX record type is unknown..[06]"));
  // The last 16 bytes of the 48 KB image are taken, one byte further is not.
  EXPECT_EQ(images.nReadIntelHex(strHexRecord(0, 0xBFF0, vecRowData(16, 1)) + "\n"), 0);
  EXPECT_EQ(images.nReadIntelHex(strHexRecord(0, 0xBFF1, vecRowData(16, 1)) + "\n"), -10);
  EXPECT_TRUE(log.contains("The HEX record is outside the MCU image..[bff1]"));
  // Beyond the image is fine for records that carry no data for it.
  EXPECT_EQ(images.nReadIntelHex(strHexRecord(5, 0xFFFF, {0, 0, 0, 0}) + "\n"), 0);
  // A byte count the line does not hold.
  std::string rec = strHexRecord(0, 0, vecRowData(4, 1));
  rec.replace(1, 2, "FF");
  EXPECT_EQ(images.nReadIntelHex(rec + "\n"), -10);
  EXPECT_EQ(images.nReadIntelHex(":0000\n"), -10);
  EXPECT_TRUE(log.contains("The HEX record length too short..[5]"));
  // More records than the engine takes.
  std::string many;
  for (size_t i = 0; i <= MCU_MAX_RECORDS; ++i) many += strHexRecord(3, 0, {0, 0, 0, 0}) + "\n";
  EXPECT_EQ(images.nReadIntelHex(many), -10);
}

// ---------------------------------------------------------------- Richtek

TEST_F(ReadersTest, RichtekImageMustBeExactly16K) {
  const std::string file = strRichtekFile();
  const auto* p = reinterpret_cast<const uint8_t*>(file.data());
  ASSERT_EQ(images.nReadRichtek({p, file.size()}), 0);
  EXPECT_EQ(images.m_RichtekFWBuf[4096], 0x34);
  EXPECT_EQ(images.m_RichtekFWBuf[16383], static_cast<uint8_t>(16383 * 7));
  LogCapture log;
  EXPECT_EQ(images.nReadRichtek({p, file.size() - 1}), -10);
  EXPECT_TRUE(log.contains("The PD FW file size is uncompatibie!!! [3fff]"));
  EXPECT_EQ(images.m_RichtekFWBuf[4096], 0);  // no half image is left
  const std::string longer = strRichtekFile(16385);
  EXPECT_EQ(images.nReadRichtek({reinterpret_cast<const uint8_t*>(longer.data()), longer.size()}), -10);
}

}  // namespace
