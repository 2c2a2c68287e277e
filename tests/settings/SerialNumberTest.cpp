// Serial numbers: counting, digit checks, the run's rules, the Hex/Dec boxes, the entry dialog.
#include <gtest/gtest.h>

#include <set>

#include "settings/SerialNumber.h"
#include "support/LogCapture.h"

namespace {

constexpr uint8_t HEX = 1, DEC = 0;

TEST(AddLimitSN, HexadecimalCarries) {
  EXPECT_EQ(vAddLimitSN("00FF", 1, HEX), "0100");
  EXPECT_EQ(vAddLimitSN("00fe", 1, HEX), "00FF");
  EXPECT_EQ(vAddLimitSN("000A", 15, HEX), "0019");
  EXPECT_EQ(vAddLimitSN("0FFF", 2, HEX), "1001");
  EXPECT_EQ(vAddLimitSN("1234", 0, HEX), "1234");
  EXPECT_EQ(vAddLimitSN("abc", 0, HEX), "ABC");
}

TEST(AddLimitSN, DecimalCarries) {
  EXPECT_EQ(vAddLimitSN("0999", 1, DEC), "1000");
  EXPECT_EQ(vAddLimitSN("0005", 12, DEC), "0017");
  // 9 + 12 = 21: 11 is no digit, the last character stays and one unit carries.
  EXPECT_EQ(vAddLimitSN("0009", 12, DEC), "0019");
  EXPECT_EQ(vAddLimitSN("1230", 9, DEC), "1239");
}

TEST(AddLimitSN, WrapAroundIsLogged) {
  LogCapture log;
  EXPECT_EQ(vAddLimitSN("FFFF", 1, HEX), "0000");
  EXPECT_TRUE(log.contains("vAddLimitSN: strSerialNumber[FFFF] , ucCount[1] , "));
  EXPECT_EQ(vAddLimitSN("9999", 1, DEC), "0000");
  EXPECT_TRUE(log.contains("vAddLimitSN: strSerialNumber[9999] , ucCount[1] , "));
}

TEST(AddLimitSN, RefusedInputComesBackUpperCase) {
  LogCapture log;
  EXPECT_EQ(vAddLimitSN("12A4", 1, DEC), "12A4");
  EXPECT_TRUE(log.contains("vAddLimitSN: ucSerialNumberLen[4] <= 0,  bHexCheck_Result = 0"));
  EXPECT_EQ(vAddLimitSN("12a4", 1, DEC), "12A4");
  EXPECT_EQ(vAddLimitSN("", 1, HEX), "");
  EXPECT_TRUE(log.contains("vAddLimitSN: ucSerialNumberLen[0] <= 0"));
}

TEST(AddLimitSN, OtherLettersCountTheLastSevenKeepingTheWidth) {
  LogCapture log;
  EXPECT_EQ(vAddLimitSN("SN00000009", 1, HEX), "SN0000000A");
  EXPECT_TRUE(log.contains("ERR::"));
  EXPECT_TRUE(log.contains("vAddLimitSN: Not Invalid strRetSerialNumber["));
  EXPECT_EQ(vAddLimitSN("SN0000000F", 1, HEX), "SN00000010");
  EXPECT_EQ(vAddLimitSN("sn00000009", 2, HEX), "SN0000000B");
  EXPECT_EQ(vAddLimitSN("9X", 1, HEX), "0A");  // shorter than seven: its own width
  // Reading stops at the first character that is no hexadecimal digit.
  EXPECT_EQ(vAddLimitSN("AB-1234", 1, HEX), "00000AC");
  // A sum wider than the replaced characters keeps every digit.
  EXPECT_EQ(vAddLimitSN("SNFFFFFFF", 1, HEX), "SN10000000");
  for (const char* psz : {"SN00000009", "HUB-00000FFE", "Q1234567"}) {
    std::string s = psz;
    EXPECT_EQ(vAddLimitSN(s, 1, HEX).size(), s.size()) << s;
  }
}

TEST(AddLimitSN, FixedPrefixIsLeftAlone) {
  INISettings ini;
  ini.ucSN_EditType = SN_EDIT_DEC;
  ini.uiSN_remain_value_enable = 1;
  ini.uiSN_remain_value_length = 3;
  EXPECT_EQ(strSerialNumberAfter(ini, "ABC0009", 1), "ABC0010");
  ini.ucSN_EditType = SN_EDIT_HEX;
  EXPECT_EQ(strSerialNumberAfter(ini, "ABC00FF", 2), "ABC0101");
  ini.uiSN_remain_value_enable = 0;  // prefix off: the whole text counts
  EXPECT_EQ(strSerialNumberAfter(ini, "ABC00FF", 1), "ABC0100");
  ini.uiSN_remain_value_enable = 1;
  ini.uiSN_remain_value_length = 20;  // longer than the text: nothing left to count
  EXPECT_EQ(strSerialNumberAfter(ini, "ABC", 1), "ABC");
}

TEST(SNDigits, ByEditType) {
  EXPECT_TRUE(bIsValidSNDigits("0123456789ABCDEF", SN_EDIT_HEX));
  EXPECT_FALSE(bIsValidSNDigits("0123abcd", SN_EDIT_HEX));  // upper case only
  EXPECT_FALSE(bIsValidSNDigits("12G4", SN_EDIT_HEX));
  EXPECT_TRUE(bIsValidSNDigits("0123456789", SN_EDIT_DEC));
  EXPECT_FALSE(bIsValidSNDigits("12A4", SN_EDIT_DEC));
  EXPECT_TRUE(bIsValidSNDigits("anything-!", SN_EDIT_USER));
  EXPECT_TRUE(bIsValidSNDigits("anything-!", SN_EDIT_BARCODE));
  EXPECT_TRUE(bIsValidSNDigits("", SN_EDIT_DEC));
}

TEST(SNRunRules, StartChecks) {
  INISettings ini;
  ini.uiSN_fix_length = 12;
  ini.ucSN_EditType = SN_EDIT_HEX;
  EXPECT_EQ(strCheckSNFixLength(ini, "12345"), "input SN should have 12 digits");
  EXPECT_EQ(strCheckSNFixLength(ini, "0123456789AB"), "");
  ini.ucSN_EditType = SN_EDIT_HDDSN;  // not checked for disk serial numbers
  EXPECT_EQ(strCheckSNFixLength(ini, "12345"), "");
  ini.uiSN_fix_length = 0;
  ini.ucSN_EditType = SN_EDIT_HEX;
  EXPECT_EQ(strCheckSNFixLength(ini, "1"), "");

  EXPECT_EQ(strCheckSNDigits(ini, "00AB"), "");
  EXPECT_EQ(strCheckSNDigits(ini, "00ab"), "SN digits [00ab] should be all heximal");
  ini.ucSN_EditType = SN_EDIT_DEC;
  EXPECT_EQ(strCheckSNDigits(ini, "00AB"), "SN digits [00AB] should be all decimal");
  ini.ucSN_EditType = SN_EDIT_USER;  // user-defined serial numbers are taken as typed
  EXPECT_EQ(strCheckSNDigits(ini, "12X"), "");
  ini.ucSN_EditType = SN_EDIT_DEC;
  ini.uiSN_remain_value_enable = 1;
  ini.uiSN_remain_value_length = 3;
  EXPECT_EQ(strCheckSNDigits(ini, "SN-0012"), "");
  EXPECT_EQ(strCheckSNDigits(ini, "SN-00A2"), "SN digits [00A2] should be all decimal");
  ini.ucSN_EditType = SN_EDIT_BARCODE;
  EXPECT_EQ(strCheckSNDigits(ini, "anything"), "");
}

TEST(SNRunRules, StartLengthAndPadding) {
  INISettings ini;
  ini.ucSN_EditType = SN_EDIT_HEX;
  auto r = stCheckStartSNLength(ini, "ABC", "");
  EXPECT_EQ(r.strSN, "00000ABC");
  EXPECT_TRUE(r.bScreenChanged);
  EXPECT_EQ(r.strError, "");
  r = stCheckStartSNLength(ini, "", "");
  EXPECT_EQ(r.strSN, "");
  EXPECT_FALSE(r.bScreenChanged);

  ini.ucSN_EditType = SN_EDIT_HDDSN;
  ini.uiSN_Numbers = 16;
  r = stCheckStartSNLength(ini, "12345", "");
  EXPECT_EQ(r.strSN, "000000012345");
  EXPECT_TRUE(r.bScreenChanged);
  EXPECT_EQ(r.strError, "Serial Number Invalid, at least 16 digits\r\n");
  r = stCheckStartSNLength(ini, "", "12345");  // command line: padded, tested before padding
  EXPECT_EQ(r.strSN, "000000012345");
  EXPECT_FALSE(r.bScreenChanged);
  EXPECT_EQ(r.strError, "Serial Number Invalid, at least 16 digits\r\n");
  r = stCheckStartSNLength(ini, "0123456789ABCDEF", "");
  EXPECT_EQ(r.strError, "");

  ini.uiSN_Numbers = 0;
  r = stCheckStartSNLength(ini, "1234567", "");
  EXPECT_EQ(r.strSN, "1234567");  // not padded without a length
  EXPECT_EQ(r.strError, "Serial Number Invalid, at least 12 digits\r\n");
  r = stCheckStartSNLength(ini, "12345678", "");
  EXPECT_EQ(r.strError, "");
}

TEST(SNRunRules, PerDeviceAndAfterTheRun) {
  INISettings t;
  t.ucSN_EditType = SN_EDIT_HEX;
  EXPECT_EQ(strSerialNumberAfter(t, "0009", 0), "0009");
  EXPECT_EQ(strSerialNumberAfter(t, "0009", 1), "000A");
  t.ucSN_EditType = SN_EDIT_DEC;
  EXPECT_EQ(strSerialNumberAfter(t, "0009", 1), "0010");
  t.ucSN_EditType = SN_EDIT_USER;
  EXPECT_EQ(strSerialNumberAfter(t, "0009", 3), "0009");
  t.ucSN_EditType = SN_EDIT_BARCODE;
  EXPECT_EQ(strSerialNumberAfter(t, "0009", 3), "0009");

  INISettings ini;
  ini.ucFw_enablel = 1;
  ini.ucSN_EditType = SN_EDIT_HEX;
  EXPECT_TRUE(bRunAdvancesSN(ini, "/fw/VLN6420.bin"));
  EXPECT_FALSE(bRunAdvancesSN(ini, "/fw/Config_VLN6420.rom"));
  ini.ucSN_EditType = SN_EDIT_BARCODE;
  EXPECT_FALSE(bRunAdvancesSN(ini, "/fw/VLN6420.bin"));
  ini.ucSN_EditType = SN_EDIT_DEC;
  ini.ucFw_enablel = 0;
  EXPECT_FALSE(bRunAdvancesSN(ini, "/fw/VLN6420.bin"));
  // Edit type 1, a run of two hubs: increased once, by two, in hexadecimal.
  ini.ucSN_EditType = SN_EDIT_HEX;
  EXPECT_EQ(strSerialNumberAfter(ini, "00000000000F", 2), "000000000011");
}

// Hub i of a run gets the serial number i places on, the run saves the one after its last
// hub's, the prefix is never counted and the start pads after it: for prefixes, both bases
// and every run size, no two hubs share a serial number.
TEST(SNRunRules, EveryHubOfARunHasItsOwnSerialAndTheNextFollowsTheLast) {
  struct Case {
    uint8_t ucType;
    int nPrefix;  // 0: no fixed prefix
    const char* pszTyped;
    const char* pszFirst;  // after the start's padding
    const char* pszThird;  // hub 2
  };
  const Case cases[] = {
      {SN_EDIT_DEC, 3, "SN-00000009", "SN-00000009", "SN-00000011"},
      {SN_EDIT_HEX, 3, "SN-0009", "SN-00009", "SN-0000B"},
      {SN_EDIT_HEX, 4, "AB12000E", "AB12000E", "AB120010"},
      {SN_EDIT_DEC, 2, "99", "99000000", "99000002"},
      {SN_EDIT_HEX, 0, "00FE", "000000FE", "00000100"},
      {SN_EDIT_DEC, 0, "0000000000000097", "0000000000000097", "0000000000000099"},
  };
  for (const Case& c : cases) {
    INISettings ini;
    ini.ucSN_EditType = c.ucType;
    ini.uiSN_remain_value_enable = c.nPrefix > 0 ? 1 : 0;
    ini.uiSN_remain_value_length = c.nPrefix;
    const std::string strPrefix = std::string(c.pszTyped).substr(0, static_cast<size_t>(c.nPrefix));
    const std::string strFirst = stCheckStartSNLength(ini, c.pszTyped, "").strSN;
    EXPECT_EQ(strFirst, c.pszFirst) << c.pszTyped;
    EXPECT_EQ(strSerialNumberAfter(ini, strFirst, 2), c.pszThird) << c.pszTyped;
    for (uint8_t ucHubs = 1; ucHubs <= 8; ++ucHubs) {
      std::set<std::string> seen;
      for (uint8_t i = 0; i < ucHubs; ++i) {
        const std::string strHub = strSerialNumberAfter(ini, strFirst, i);
        EXPECT_EQ(strHub.substr(0, strPrefix.size()), strPrefix) << strHub;
        EXPECT_EQ(strHub.size(), strFirst.size()) << strHub;
        EXPECT_TRUE(seen.insert(strHub).second) << c.pszTyped << " hub " << int(i) << " repeats " << strHub;
      }
      // The saved value is the one a next hub would get: the next run starts after the last.
      const std::string strNext = strSerialNumberAfter(ini, strFirst, ucHubs);
      EXPECT_EQ(strNext, strSerialNumberAfter(ini, strSerialNumberAfter(ini, strFirst, ucHubs - 1), 1));
      EXPECT_FALSE(seen.count(strNext)) << strNext;
    }
  }
  // A serial number that is all prefix has nothing to count: the start refuses it.
  INISettings ini;
  ini.ucSN_EditType = SN_EDIT_DEC;
  ini.uiSN_remain_value_enable = 1;
  ini.uiSN_remain_value_length = 12;
  EXPECT_EQ(stCheckStartSNLength(ini, "ABCDEFGHIJKL", "").strError,
            "SN [ABCDEFGHIJKL] has no digits to count after its fixed prefix of 12 characters");
  EXPECT_EQ(stCheckStartSNLength(ini, "ABCDEFGHIJKL0", "").strError, "");
  ini.ucSN_EditType = SN_EDIT_USER;  // not counted: every hub carries it as typed
  EXPECT_EQ(stCheckStartSNLength(ini, "ABCDEFGHIJKL", "").strError, "");
}

TEST(SNIncreaseBoxes, HexBox) {
  INISettings ini;
  ini.ucSN_EditType = SN_EDIT_HEX;
  auto r = OnBnClickedStaticDevicedescriptorSnincHex(ini, true, "00AB");
  EXPECT_TRUE(r.bHex);
  EXPECT_FALSE(r.bDec);
  EXPECT_FALSE(r.bClearSNField);
  EXPECT_EQ(ini.ucSerial_number_increase_Hex, 1);
  EXPECT_EQ(ini.ucSerial_number_increase_Dec, 0);

  r = OnBnClickedStaticDevicedescriptorSnincHex(ini, true, "00XY");
  EXPECT_FALSE(r.bHex);
  EXPECT_TRUE(r.bDec);
  EXPECT_TRUE(r.bClearSNField);
  EXPECT_EQ(r.strWarning, "SN digits should be all heximal");
  EXPECT_EQ(ini.ucSerial_number_increase_Hex, 0);
  EXPECT_EQ(ini.ucSerial_number_increase_Dec, 1);

  r = OnBnClickedStaticDevicedescriptorSnincHex(ini, false, "00XY");  // unticking: no check
  EXPECT_FALSE(r.bHex);
  EXPECT_TRUE(r.bDec);
  EXPECT_FALSE(r.bClearSNField);
  EXPECT_EQ(r.strWarning, "");

  // The fixed prefix is not checked.
  ini.uiSN_remain_value_enable = 1;
  ini.uiSN_remain_value_length = 3;
  r = OnBnClickedStaticDevicedescriptorSnincHex(ini, true, "XY-00AB");
  EXPECT_FALSE(r.bClearSNField);
}

TEST(SNIncreaseBoxes, DecBox) {
  INISettings ini;
  ini.ucSN_EditType = SN_EDIT_DEC;
  auto r = OnBnClickedStaticDevicedescriptorSnincDec(ini, true, "0012");
  EXPECT_TRUE(r.bDec);
  EXPECT_FALSE(r.bHex);
  EXPECT_EQ(ini.ucSerial_number_increase_Dec, 1);
  r = OnBnClickedStaticDevicedescriptorSnincDec(ini, true, "00A2");
  EXPECT_TRUE(r.bHex);
  EXPECT_FALSE(r.bDec);
  EXPECT_TRUE(r.bClearSNField);
  EXPECT_EQ(r.strWarning, "SN digits should be all decimal");
  EXPECT_EQ(ini.ucSerial_number_increase_Hex, 1);
  EXPECT_EQ(ini.ucSerial_number_increase_Dec, 0);
}

TEST(SNDlgData, ChangeFiltersAndCopies) {
  INISettings ini;
  CSNDlgData dlg(ini);
  dlg.OnInitDialog();
  EXPECT_EQ(dlg.strField(), "");
  EXPECT_EQ(dlg.nFieldLimit(), 20u);
  EXPECT_EQ(dlg.OnEnChangeEditSNandPStringDlgPCBSN("12-ab", true), "12-ab");
  EXPECT_EQ(ini.ucSerial_number, "12-ab");
  ini.ucCheck_SerialNumber = 1;
  EXPECT_EQ(dlg.OnEnChangeEditSNandPStringDlgPCBSN("12-ab:Z9", true), "12ab9");
  EXPECT_EQ(dlg.m_strSNandPStringDlgPCBSN, "12ab9");
  EXPECT_EQ(ini.ucSerial_number, "12ab9");
  EXPECT_EQ(dlg.OnEnChangeEditSNandPStringDlgPCBSN("1234", false), "");
  EXPECT_EQ(dlg.m_strSNandPStringDlgPCBSN, "");
  EXPECT_EQ(ini.ucSerial_number, "");
  EXPECT_EQ(dlg.OnEnChangeEditSNandPStringDlgPCBSN(std::string(25, '1'), true).size(), 20u);
}

TEST(SNDlgData, EnterAcceptsOnlyTheExpectedLength) {
  INISettings ini;
  ini.uiSN_Numbers = 16;
  CSNDlgData dlg(ini);
  dlg.OnEnChangeEditSNandPStringDlgPCBSN("0123456789abcdef", true);
  EXPECT_TRUE(dlg.bOnEnter());
  EXPECT_EQ(dlg.m_strSNandPStringDlgPCBSN, "0123456789ABCDEF");
  dlg.OnEnChangeEditSNandPStringDlgPCBSN("0123456789abcde", true);
  EXPECT_FALSE(dlg.bOnEnter());
  EXPECT_EQ(dlg.m_strSNandPStringDlgPCBSN, "");
  EXPECT_EQ(dlg.strField(), "");

  ini.uiSN_Numbers = 0;
  dlg.OnEnChangeEditSNandPStringDlgPCBSN("123456789012", true);
  EXPECT_TRUE(dlg.bOnEnter());
  dlg.OnEnChangeEditSNandPStringDlgPCBSN("12345678901", true);
  EXPECT_FALSE(dlg.bOnEnter());
}

}  // namespace
