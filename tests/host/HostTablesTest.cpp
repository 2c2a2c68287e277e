#include <gtest/gtest.h>

#include "host/HostTables.h"
#include "host/IMessageView.h"

TEST(WindowsVersionCode, DecidesByFirstMatchingRow) {
  // platform id, reported major.minor, registry major, build -> code
  EXPECT_EQ(ucWindowsVersionCode(1, 5, 1, 0, 0), 255);        // not NT
  EXPECT_EQ(ucWindowsVersionCode(2, 5, 1, 0, 2600), 2);       // XP
  EXPECT_EQ(ucWindowsVersionCode(2, 5, 2, 0, 3790), 1);       // Server 2003
  EXPECT_EQ(ucWindowsVersionCode(2, 4, 0, 0, 1381), 255);     // NT 4
  EXPECT_EQ(ucWindowsVersionCode(2, 10, 0, 10, 19045), 255);  // major other than 5 or 6
  EXPECT_EQ(ucWindowsVersionCode(2, 6, 2, 10, 19045), 64);    // 10/11 reported as 6.2
  EXPECT_EQ(ucWindowsVersionCode(2, 6, 2, 0, 10240), 64);     // build alone tells 10 apart
  EXPECT_EQ(ucWindowsVersionCode(2, 6, 2, 0, 9600), 16);      // 8.1 without manifest
  EXPECT_EQ(ucWindowsVersionCode(2, 6, 0, 0, 6002), 4);
  EXPECT_EQ(ucWindowsVersionCode(2, 6, 1, 0, 7601), 8);
  EXPECT_EQ(ucWindowsVersionCode(2, 6, 3, 0, 9600), 32);
  EXPECT_EQ(ucWindowsVersionCode(2, 6, 4, 0, 9800), 255);
  // 5.x is decided before the registry values are looked at
  EXPECT_EQ(ucWindowsVersionCode(2, 5, 1, 10, 20000), 2);
}

TEST(RegistryConversions, DwordComesFromTheFirstByteSignExtended) {
  const uint8_t one[4] = {1, 7, 7, 7};
  const uint8_t zero[4] = {0, 0xFF, 0xFF, 0xFF};
  const uint8_t neg[4] = {0xFF, 0, 0, 0};
  EXPECT_EQ(dwRegistryDwordFromData(one), 1u);
  EXPECT_EQ(dwRegistryDwordFromData(zero), 0u);
  EXPECT_EQ(dwRegistryDwordFromData(neg), 0xFFFFFFFFu);
}

TEST(RegistryConversions, ReadTurnsNulBytesIntoBlanksExceptForDword) {
  using namespace std::string_literals;
  EXPECT_EQ(strRegistryReadCopy("A\0B\0\0"s, REG_MULTI_SZ_TYPE), "A B  ");
  EXPECT_EQ(strRegistryReadCopy("abc\0"s, REG_SZ_TYPE), "abc ");
  EXPECT_EQ(strRegistryReadCopy("\x01\0\0\0"s, REG_DWORD_TYPE), "\x01\0\0\0"s);
}

TEST(MessageCaption, CaptionAndIconByType) {
  struct Row {
    uint8_t t;
    const char* cap;
    uint32_t icon;
  };
  const Row rows[] = {{1, "Error", 0x10},
                      {2, "TimeOut", 0x10},
                      {3, "Warning", 0x30},
                      {4, "Information", 0x40},
                      {5, "Question", 0x20},
                      {0, "", 0},
                      {6, "", 0}};
  for (const auto& r : rows) {
    MessageCaption c = stMessageCaption(r.t);
    EXPECT_STREQ(c.pszCaption, r.cap) << int(r.t);
    EXPECT_EQ(c.uIconFlag, r.icon) << int(r.t);
  }
}

TEST(Wow64, OnlyA32BitBuildOnA64BitKernel) {
  EXPECT_TRUE(bIsWow64For(4, "x86_64"));
  EXPECT_TRUE(bIsWow64For(4, "aarch64"));
  EXPECT_FALSE(bIsWow64For(4, "i686"));
  EXPECT_FALSE(bIsWow64For(4, "armv7l"));
  EXPECT_FALSE(bIsWow64For(8, "x86_64"));
}

TEST(SafeAnswer, QuestionsTakeTheCautiousButton) {
  EXPECT_EQ(nSafeAnswer(MB_OK | MB_ICONERROR), IDOK);
  EXPECT_EQ(nSafeAnswer(MB_YESNO | MB_ICONQUESTION), IDNO);
  EXPECT_EQ(nSafeAnswer(MB_YESNOCANCEL), IDCANCEL);
  EXPECT_EQ(nSafeAnswer(MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(nSafeAnswer(MB_RETRYCANCEL), IDCANCEL);
  EXPECT_EQ(nSafeAnswer(MB_ABORTRETRYIGNORE), IDABORT);
}

TEST(HeadlessMessageView, PrintsTheTextOnStandardOutput) {
  CHeadlessMessageView view;
  testing::internal::CaptureStdout();
  int n = view.nMessageBox("Update config with default value ?", "Question", MB_YESNO);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Update config with default value ?\n");
  EXPECT_EQ(n, IDNO);
}
