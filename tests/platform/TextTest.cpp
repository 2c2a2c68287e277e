#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/Text.h"

TEST(Text, UpperCaseTouchesOnlyAsciiLetters) {
  EXPECT_EQ(strUpper("/s:abcd1234"), "/S:ABCD1234");
  EXPECT_EQ(strUpper("usb#vid_2f7b&pid_55aa#{f18a0e88}"), "USB#VID_2F7B&PID_55AA#{F18A0E88}");
  // Bytes of other scripts (here UTF-8 for "é") and the characters next to the letters stay.
  EXPECT_EQ(strUpper("\xC3\xA9@[`{z"), "\xC3\xA9@[`{Z");
  EXPECT_EQ(strUpper(std::string("a\0b", 3)), std::string("A\0B", 3));
  EXPECT_EQ(strUpper(""), "");
}

TEST(Text, HexDigitValues) {
  for (int c = 0; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    int nWant = -1;
    if (c >= '0' && c <= '9') nWant = c - '0';
    if (c >= 'a' && c <= 'f') nWant = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') nWant = c - 'A' + 10;
    EXPECT_EQ(nHexDigit(ch), nWant) << c;
  }
}

TEST(Text, HexTextsAreUpperCaseAndFixedWidth) {
  EXPECT_EQ(strHex4(0x2F7B), "2F7B");
  EXPECT_EQ(strHex4(0x000A), "000A");
  EXPECT_EQ(strHex4(0xFFFF), "FFFF");
  EXPECT_EQ(strHexByte(0x0F), "0x0F");
  EXPECT_EQ(strHexByte(0xA5), "0xA5");
  const uint8_t bytes[] = {0x00, 0x2F, 0x7B, 0xA0, 0xFF};
  EXPECT_EQ(strHexBytes(bytes, sizeof bytes), "002F7BA0FF");
  EXPECT_EQ(strHexBytes(bytes, 0), "");
}
