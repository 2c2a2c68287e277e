// USB texts as speed words, /SPD, /PROT and /IC codes, the USB status check and bar colour.
#include <gtest/gtest.h>

#include "device/UsbSpeedWords.h"

TEST(UsbSpeedWords, EveryTextIdentificationGives) {
  struct {
    const char* pszText;
    const char* pszWord;
    const char* pszClass;
    int nSpd;
    uint8_t ucProt;
  } cases[] = {
      {"U1.1", "FULL", "FULL", 6, PROTOCOL_CODE_USB2},
      {"U2.0", "HIGH", "HIGH", 7, PROTOCOL_CODE_USB2},
      {"U2.1", "HIGH", "HIGH", 7, PROTOCOL_CODE_USB2},
      {"U3.2_5Gx1", "SUPER", "SUPER", 8, PROTOCOL_CODE_USB3},
      {"U3.2_5Gx2", "PLUS", "PLUS", 9, PROTOCOL_CODE_USB3},
      {"U3.1_10Gx1", "PLUS", "PLUS", 9, PROTOCOL_CODE_USB3},
      {"U3.2_10Gx2", "PLUS x2", "PLUS", 11, PROTOCOL_CODE_USB3},
      {"u3.2_10gx2", "PLUS x2", "PLUS", 11, PROTOCOL_CODE_USB3},
      {"U3.2_Unknown", "", "", -1, PROTOCOL_CODE_USB3},  // link unread, still a USB 3 hub
      {"U3.2", "", "", -1, PROTOCOL_CODE_USB3},
      {"U?.?", "", "", -1, QUERY_CODE_UNKNOWN},
      {"U2.0_5Gx1", "", "", -1, QUERY_CODE_UNKNOWN},
      {"U4.0", "", "", -1, QUERY_CODE_UNKNOWN},
      {"", "", "", -1, QUERY_CODE_UNKNOWN},
      // speed words stand for themselves
      {"super", "SUPER", "SUPER", 8, PROTOCOL_CODE_USB3},
      {"Super x1", "SUPER x1", "SUPER", 8, PROTOCOL_CODE_USB3},
      {"PLUS x1", "PLUS x1", "PLUS", 9, PROTOCOL_CODE_USB3},
      {"high", "HIGH", "HIGH", 7, PROTOCOL_CODE_USB2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(strUsbSpeedWord(c.pszText), c.pszWord) << c.pszText;
    EXPECT_EQ(strUsbSpeedClass(c.pszText), c.pszClass) << c.pszText;
    EXPECT_EQ(nUsbTextSpeedExitCode(c.pszText), c.nSpd) << c.pszText;
    EXPECT_EQ(ucProtocolCodeFromUsbText(c.pszText), c.ucProt) << c.pszText;
  }
  EXPECT_EQ(nSpeedWordExitCode("PLUS X2"), 11);
  EXPECT_EQ(nSpeedWordExitCode("SUPER x2"), -1);
  EXPECT_EQ(nSpeedWordExitCode("PLUS  x2"), -1);
}

TEST(UsbSpeedWords, StatusCheckAndBarColourCompareTheClass) {
  EXPECT_TRUE(bUsbTextMeetsDemand("U2.1", "USB 2.0"));
  EXPECT_FALSE(bUsbTextMeetsDemand("U2.1", "USB 3.0"));  // a USB 3 hub linked at high speed
  EXPECT_TRUE(bUsbTextMeetsDemand("U3.2_5Gx1", "usb 3.0"));
  EXPECT_FALSE(bUsbTextMeetsDemand("U3.2_5Gx1", "USB 3.1"));
  EXPECT_TRUE(bUsbTextMeetsDemand("U3.2_10Gx2", "USB 3.1"));
  EXPECT_FALSE(bUsbTextMeetsDemand("U3.2_Unknown", "USB 3.0"));
  EXPECT_TRUE(bUsbTextMeetsDemand("U3.2_Unknown", "Any"));  // no demand
  EXPECT_EQ(pszUsbStatusDemand("USB 1.1"), nullptr);

  EXPECT_TRUE(bUsbTextIsSuperSpeed("U3.2_5Gx1"));
  EXPECT_TRUE(bUsbTextIsSuperSpeed("U3.2_10Gx2"));
  EXPECT_FALSE(bUsbTextIsSuperSpeed("U2.1"));
  EXPECT_FALSE(bUsbTextIsSuperSpeed("U3.2_Unknown"));
}

TEST(QueryCodes, ChipVariantAndProtocolIntoTheRecord) {
  DevRecord r;
  r.strUSBText = "U3.2_10Gx1";
  vFillQueryCodes(r, 0x31);  // variant 3
  EXPECT_EQ(r.ucChipCode, 3);
  EXPECT_EQ(r.ucProtocolCode, PROTOCOL_CODE_USB3);
  r.strUSBText = "U2.0";
  vFillQueryCodes(r, 0xFF);  // the read failed: variant 7, which /IC reports as 255
  EXPECT_EQ(r.ucChipCode, 7);
  EXPECT_EQ(r.ucProtocolCode, PROTOCOL_CODE_USB2);
  EXPECT_EQ(ucChipCodeFromChipRegister(0x8F), 0);  // bit 7 and the low bits are not the variant
  EXPECT_EQ(ucChipCodeFromChipRegister(0x50), 5);
}
