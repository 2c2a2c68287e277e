#include <gtest/gtest.h>

#include "ui/CmdLine.h"

TEST(CmdLineText, ArgumentsJoinWithSingleBlanksAndLoseUnderscoresTabsNewlines) {
  const char* argv[] = {"MPTool", "/S:AB_12345678", "x\ty", "a\nb c"};
  std::string raw = strJoinArguments(4, argv);
  EXPECT_EQ(raw, "/S:AB_12345678 x\ty a\nb c");
  EXPECT_EQ(strNormaliseCmdLine(raw), "/S:AB12345678 xy ab c");
  const char* none[] = {"MPTool"};
  EXPECT_EQ(strJoinArguments(1, none), "");
  EXPECT_EQ(strTrimBlanks("  a b  "), "a b");
  EXPECT_EQ(strTrimBlanks("   "), "");
}

TEST(DebugOption, LevelAndWhatIsLeftOfTheCommandLine) {
  DebugOption d = stSplitDebugOption("/DBG3");
  EXPECT_EQ(d.strCmdLine, "");
  EXPECT_EQ(d.strLevelText, "3");
  d = stSplitDebugOption("/DBG /S");  // the option and its blank go, /S stays unread
  EXPECT_EQ(d.strCmdLine, "/S");
  EXPECT_EQ(d.strLevelText, "");
  d = stSplitDebugOption("/S /DBG 2");
  EXPECT_EQ(d.strCmdLine, "/S ");
  EXPECT_EQ(d.strLevelText, "2");
  d = stSplitDebugOption("/DBGA/C:X/LED:1");  // cut before the last "/" of the tail
  EXPECT_EQ(d.strCmdLine, "/LED:1");
  EXPECT_EQ(d.strLevelText, "A/C:X");
}

namespace {
CmdLineClass c(const std::string& s) {
  return stClassifyCmdLine(s);
}
}  // namespace

TEST(ClassifyCmdLine, EveryOptionWithItsMode) {
  EXPECT_EQ(c("/?").nMode, 0);
  EXPECT_TRUE(c("/?").bShowUsage);
  EXPECT_EQ(c("/?").nExitCode, 0);

  auto fw = c("/C:0102030405AB");
  EXPECT_EQ(fw.nMode, 1);
  EXPECT_EQ(fw.strValue, "0102030405AB");
  EXPECT_FALSE(fw.nExitCode);
  EXPECT_EQ(c("/C: 1.1.2.19   ").strValue, "1.1.2.19");

  auto sn = c("/S:ABCD1234");
  EXPECT_EQ(sn.nMode, 3);
  EXPECT_EQ(sn.strValue, "ABCD1234");
  EXPECT_TRUE(sn.bHideWindow);
  EXPECT_FALSE(sn.nExitCode);

  EXPECT_EQ(c("/S").nMode, 2);
  EXPECT_TRUE(c("/S").bHideWindow);

  auto led = c("/LED:10");
  EXPECT_EQ(led.nMode, 4);
  EXPECT_EQ(led.nLED[0], 1);
  EXPECT_EQ(led.nLED[1], 0);
  EXPECT_EQ(c("/LED:01").nLED[1], 1);

  EXPECT_EQ(c("/SPD").nMode, 5);
  EXPECT_EQ(c("/PROT").nMode, 6);
  EXPECT_EQ(c("/CC").nMode, 7);
  EXPECT_EQ(c("/IC").nMode, 8);
  for (const char* s : {"/S", "/SPD", "/PROT", "/CC", "/IC", "/S:ABCD1234", "/LED:11"})
    EXPECT_FALSE(c(s).nExitCode) << s;
}

TEST(ClassifyCmdLine, SerialNumberLengthBounds) {
  EXPECT_EQ(c("/S:" + std::string(20, '9')).nMode, 3);
  EXPECT_EQ(c("/S:" + std::string(20, '9')).strValue.size(), 20u);
  EXPECT_EQ(c("/S:" + std::string(8, '1')).nMode, 3);
  // too short and too long fail the length test: usage, -10
  for (const std::string& s : {std::string("/S:1234567"), "/S:" + std::string(21, '9')}) {
    auto r = c(s);
    EXPECT_EQ(r.eOption, ECmdOption::None) << s;
    EXPECT_TRUE(r.bShowUsage) << s;
    EXPECT_EQ(r.nExitCode, -10) << s;
  }
}

TEST(ClassifyCmdLine, MalformedValuesExitWithBadArgument) {
  auto blankFw = c("/C:" + std::string(12, ' '));
  EXPECT_EQ(blankFw.nExitCode, -10);
  EXPECT_FALSE(blankFw.bShowUsage);
  EXPECT_EQ(blankFw.nMode, -1);
  for (const char* s : {"/LED:12", "/LED:1 ", "/LED: 1", "/LED:AB"}) {
    auto r = c(s);
    EXPECT_EQ(r.eOption, ECmdOption::LED) << s;
    EXPECT_EQ(r.nExitCode, -10) << s;
    EXPECT_EQ(r.nMode, -1) << s;
  }
  // a wrong length matches nothing: usage, then -10
  for (const char* s : {"/LED:1", "/SPD ", "/S ", "/?X", "/C:123", "/PROTO", "/X", "S", "/CC/IC"}) {
    auto r = c(s);
    EXPECT_EQ(r.eOption, ECmdOption::None) << s;
    EXPECT_TRUE(r.bShowUsage) << s;
    EXPECT_EQ(r.nExitCode, -10) << s;
  }
}

TEST(UsageText, VersionBlankAndTheOptionList) {
  std::string u = strUsageText("VLN6420 series 2, 0, 1, 3 ( 1.1.2.19)");
  EXPECT_EQ(u.rfind("VLN6420 series 2, 0, 1, 3 ( 1.1.2.19) command line usage: VLN725xMPTool "
                    "[ /?, /DBG, /S, /S:SN, /C:FW, /LED:xx, /SPD, /PROT, /CC, /IC ] \r\nOPTIONS:\r\n",
                    0),
            0u);
  EXPECT_NE(u.find(" /LED:xx\tSet LED status\r\n /SPD\tGet USB speed\r\n"), std::string::npos);
  EXPECT_EQ(u.substr(u.size() - 20), " /IC\tGet chip name\r\n");
}
