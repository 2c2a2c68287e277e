#include <gtest/gtest.h>

#include "pd/PDFirmware.h"
#include "pd/PDFirmwareVersion.h"
#include "support/LogCapture.h"
#include "support/PDFixtures.h"
#include "support/TempDir.h"

using namespace pdfix;

namespace {

class CollectingView : public IMessageView {
 public:
  int nMessageBox(const std::string& strText, const std::string&, uint32_t) override {
    texts.push_back(strText);
    return IDOK;
  }
  std::vector<std::string> texts;
};

class LoadTest : public ::testing::Test {
 protected:
  void SetUp() override { host.utility.vSetMessageView(&view); }
  Host host;
  CollectingView view;
  TempDir dir;
  CPDFirmware fw{host.utility};
  std::string strWrite(const std::string& name, const std::string& content) {
    return dir.write(name, content);
  }
};

// ---------------------------------------------------------------- loader

TEST_F(LoadTest, CyacdGoesToTheImageOfTheDetectedFamily) {
  const std::string p3 = strWrite("a.cyacd", strCyacdFile("1D0411AD0000", 4, 128));
  const std::string p4 = strWrite("b.cyacd", strCyacdFile("1D0411AD0000", 2, 256));
  fw.m_bPDFWEnable = 1;
  fw.m_ucPDFWFileType = PD_FILE_TYPE_CYACD;
  fw.m_nPDChipVendor = PD_VENDOR_CCG3;
  ASSERT_EQ(fw.nCreatePDSPIROMBuffer(p3), 0);
  EXPECT_EQ(fw.m_images.nCyacdSlots(CCG3_ROW_SIZE), 5u);
  EXPECT_EQ(fw.m_images.m_CypressFWHeader.dwSliconID, 0x1D0411ADu);
  fw.m_nPDChipVendor = PD_VENDOR_CCG4;
  ASSERT_EQ(fw.nCreatePDSPIROMBuffer(p4), 0);
  EXPECT_EQ(fw.m_images.nCyacdSlots(CCG4_ROW_SIZE), 3u);
  // CCG2 rows are 128 bytes as CCG3's.
  fw.m_nPDChipVendor = PD_VENDOR_CCG2;
  ASSERT_EQ(fw.nCreatePDSPIROMBuffer(p3), 0);
  // A family that takes no .cyacd loads nothing and says so.
  LogCapture log;
  fw.m_nPDChipVendor = 0;
  EXPECT_EQ(fw.nCreatePDSPIROMBuffer(p3), -10);
  fw.m_nPDChipVendor = PD_VENDOR_RICHTEK;
  EXPECT_EQ(fw.nCreatePDSPIROMBuffer(p3), -10);
  EXPECT_TRUE(log.contains("The PD chip [1] takes no .cyacd file"));
  // A short row ends the load.
  fw.m_nPDChipVendor = PD_VENDOR_CCG3;
  EXPECT_EQ(fw.nCreatePDSPIROMBuffer(strWrite("c.cyacd", "1D0411AD0000\n:00000100\n")), -10);
}

TEST_F(LoadTest, RefusedBeforeAnyImage) {
  LogCapture log;
  fw.m_bPDFWEnable = 1;
  fw.m_ucPDFWFileType = PD_FILE_TYPE_RICHTEK;
  const std::string strMissing = dir.str() + "/none.bin";
  EXPECT_EQ(fw.nCreatePDSPIROMBuffer(strMissing), -10);
  EXPECT_TRUE(log.contains("The PD FW file is not exist[" + strMissing + "]"));
  // No PD file type: refused while the PD update is chosen; an MCU-only update needs none.
  fw.m_bMCUFWEnable = 1;
  fw.m_ucPDFWFileType = PD_FILE_TYPE_NONE;
  fw.m_ucMCUFWFileType = MCU_FILE_TYPE_HEX;
  const std::string strHex = strWrite("m.hex", strHexFile(2));
  EXPECT_EQ(fw.nCreatePDSPIROMBuffer(strHex), -10);
  EXPECT_TRUE(log.contains("The PD FW file is Unknow"));
  EXPECT_TRUE(fw.m_images.m_STMMCUFW.empty());
  fw.m_bPDFWEnable = 0;
  EXPECT_EQ(fw.nCreatePDSPIROMBuffer(strHex), 0);
  EXPECT_FALSE(fw.m_images.m_STMMCUFW.empty());
}

TEST_F(LoadTest, RichtekAndMcuImages) {
  fw.m_bPDFWEnable = 1;
  fw.m_bMCUFWEnable = 1;
  fw.m_ucPDFWFileType = PD_FILE_TYPE_RICHTEK;
  fw.m_ucMCUFWFileType = MCU_FILE_TYPE_HEX;
  fw.m_strMCUFWFilePath = strWrite("m.hex", strHexFile(3));
  ASSERT_EQ(fw.nCreatePDSPIROMBuffer(strWrite("r.bin", strRichtekFile())), 0);
  EXPECT_EQ(fw.m_images.m_RichtekFWBuf[4097], 0x12);
  ASSERT_EQ(fw.m_images.m_STMMCUFW.size(), 5u);
  size_t nLength = 0;
  uint16_t wExt = 0;
  fw.m_images.vecMCUImage(nLength, wExt);
  EXPECT_EQ(nLength, 48u);
  EXPECT_EQ(wExt, 0x0800);
  // The wrong size fails the load even when the choice let it through.
  EXPECT_EQ(fw.nCreatePDSPIROMBuffer(strWrite("s.bin", strRichtekFile(16383))), -10);
  // A missing MCU file fails it too, instead of leaving an empty MCU image.
  fw.m_strMCUFWFilePath = dir.str() + "/gone.hex";
  EXPECT_EQ(fw.nCreatePDSPIROMBuffer(strWrite("r.bin", strRichtekFile())), -10);
  // A bad MCU file as well.
  fw.m_strMCUFWFilePath = strWrite("bad.hex", strHexRecord(9, 0, {}) + "\n");
  EXPECT_EQ(fw.nCreatePDSPIROMBuffer(strWrite("r.bin", strRichtekFile())), -10);
}

// ---------------------------------------------------------------- version text

TEST_F(LoadTest, FileTypesFromTheName) {
  EXPECT_EQ(ucPDFileTypeOfPath("fw.cyacd.bin"), PD_FILE_TYPE_CYACD);
  EXPECT_EQ(ucPDFileTypeOfPath("x/fw.bin"), PD_FILE_TYPE_RICHTEK);
  EXPECT_EQ(ucPDFileTypeOfPath(".bin"), PD_FILE_TYPE_NONE);
  EXPECT_EQ(ucPDFileTypeOfPath(".cyacd"), PD_FILE_TYPE_NONE);
  EXPECT_EQ(ucPDFileTypeOfPath("fw.hex"), PD_FILE_TYPE_NONE);
  EXPECT_EQ(ucMCUFileTypeOfPath("m.hex"), MCU_FILE_TYPE_HEX);
  EXPECT_EQ(ucMCUFileTypeOfPath(".hex"), PD_FILE_TYPE_NONE);
}

TEST_F(LoadTest, RichtekVersionAndSize) {
  fw.m_bPDFWEnable = 1;
  EXPECT_EQ(strGetPDFWVersionFromFile(fw, strWrite("r.bin", strRichtekFile())), "1234");
  EXPECT_EQ(fw.m_ucPDFWFileType, PD_FILE_TYPE_RICHTEK);
  EXPECT_TRUE(view.texts.empty());
  LogCapture log;
  EXPECT_EQ(strGetPDFWVersionFromFile(fw, strWrite("s.bin", strRichtekFile(16383))), "NULL");
  ASSERT_EQ(view.texts.size(), 1u);
  EXPECT_EQ(view.texts[0], "The PD FW file size is uncompatibie!!!");
  EXPECT_TRUE(log.contains("The PD FW file size is uncompatibie!!! [3fff]"));
  EXPECT_EQ(strGetPDFWVersionFromFile(fw, dir.str() + "/none.bin"), "NULL");
  EXPECT_TRUE(log.contains("The PD FW file is not exist["));
}

TEST_F(LoadTest, CyacdVersionByHeader) {
  fw.m_bPDFWEnable = 1;
  struct Case {
    const char* header;
    size_t nOffset;
  };
  for (const Case& c : {Case{"140411A40000", 567}, Case{"1D0311AD0000", 488}, Case{"1D0411AD0000", 488},
                        Case{"1F0111AF0000", 473}}) {
    std::string content = strCyacdFile(c.header, 3, 128);
    content.replace(c.nOffset, 16, "ABCDEFGH01234567");
    EXPECT_EQ(strGetPDFWVersionFromFile(fw, strWrite("v.cyacd", content)), "ABCDEFGH01234567") << c.header;
  }
  EXPECT_EQ(fw.m_ucPDFWFileType, PD_FILE_TYPE_CYACD);
  // Unknown or lower-case headers have no version: the default text, accepted.
  EXPECT_EQ(strGetPDFWVersionFromFile(fw, strWrite("u.cyacd", strCyacdFile("1d0411ad0000", 3, 128))),
            std::string("\x14NULL"));
  // A known header in a file too short for the version is no image.
  EXPECT_EQ(strGetPDFWVersionFromFile(fw, strWrite("t.cyacd", "140411A40000\n")), "NULL");
  // ".cyacd" is looked for first.
  fw.m_ucPDFWFileType = PD_FILE_TYPE_NONE;
  strGetPDFWVersionFromFile(fw, strWrite("w.cyacd.bin", strCyacdFile("1F0111AF0000", 3, 128)));
  EXPECT_EQ(fw.m_ucPDFWFileType, PD_FILE_TYPE_CYACD);
}

TEST_F(LoadTest, McuFileGetsTheDefaultText) {
  fw.m_bMCUFWEnable = 1;
  EXPECT_EQ(strGetPDFWVersionFromFile(fw, strWrite("m.hex", strHexFile(1))), std::string("\x14NULL"));
  EXPECT_EQ(fw.m_ucMCUFWFileType, MCU_FILE_TYPE_HEX);
  EXPECT_EQ(fw.m_ucPDFWFileType, PD_FILE_TYPE_NONE);
  // Without the PD update chosen, a PD file's name sets no PD type.
  strGetPDFWVersionFromFile(fw, strWrite("r.bin", strRichtekFile()));
  EXPECT_EQ(fw.m_ucPDFWFileType, PD_FILE_TYPE_NONE);
}

}  // namespace
