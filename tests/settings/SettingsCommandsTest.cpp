// The check-ini and sn-next commands: text and JSON output, exit codes, bad arguments.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "settings/SettingsCommands.h"
#include "support/TempDir.h"

namespace {

std::string strComplete() {
  return std::string(MPTOOL_TEST_DATA) + "/settings/complete.ini";
}

TEST(CheckIni, CompleteFileSucceeds) {
  auto r = stRunCheckIni({strComplete()}, false);
  EXPECT_EQ(r.nExitCode, 0);
  EXPECT_NE(r.strOut.find("messages: 0\n"), std::string::npos);
  EXPECT_NE(r.strOut.find("  vendor_id=2F7B\n"), std::string::npos);
  EXPECT_NE(r.strOut.find("  SN_Numbers=0\n"), std::string::npos);
  EXPECT_NE(r.strOut.find("load: succeeded\n"), std::string::npos);
  EXPECT_EQ(r.strErr, "");
}

TEST(CheckIni, JsonIsOneObjectKeyedBySettingsKeys) {
  auto r = stRunCheckIni({strComplete()}, true);
  EXPECT_EQ(r.nExitCode, 0);
  auto j = nlohmann::json::parse(r.strOut);
  EXPECT_TRUE(j["loaded"].get<bool>());
  EXPECT_EQ(j["fields"]["vendor_id"], "2F7B");
  EXPECT_EQ(j["fields"]["version"], 1005);
  EXPECT_EQ(j["fields"]["rescan_after_relink"], -7);
  EXPECT_EQ(j["fields"]["LPM"], 1);
  EXPECT_EQ(j["fields"].size(), 77u);  // every key, SN_Numbers included
  EXPECT_TRUE(j["messages"].empty());
}

TEST(CheckIni, FailedLoadShowsEveryMessage) {
  TempDir dir;
  auto p = dir.write("bad.ini",
                     "abc=1\r\nformat_drive_type=1\r\ndrive_label_name=ABCDEFGHIJKL\r\n"
                     "serial_number=123456789012345678901\r\nproduct_string=\xff\xfe\r\n");
  auto r = stRunCheckIni({p.string()}, true);
  EXPECT_EQ(r.nExitCode, 1);
  auto j = nlohmann::json::parse(r.strOut);  // invalid bytes replaced, still valid JSON
  EXPECT_FALSE(j["loaded"].get<bool>());
  ASSERT_EQ(j["messages"].size(), 3u);
  EXPECT_EQ(j["messages"][0]["text"], "0 Line of Configuration String in INI file is invalid !\r\n");
  EXPECT_EQ(j["messages"][0]["type_name"], "Warning");
  EXPECT_EQ(j["messages"][1]["text"], "Invalid SN Size");
  EXPECT_EQ(j["messages"][2]["text"], "Invalid DiskLabel Size");
  EXPECT_EQ(j["fields"]["serial_number"], "");

  auto t = stRunCheckIni({p.string()}, false);
  EXPECT_EQ(t.nExitCode, 1);
  EXPECT_NE(t.strOut.find("  [Warning]\n    0 Line of Configuration String in INI file is invalid !\n"),
            std::string::npos);
  EXPECT_NE(t.strOut.find("    Invalid SN Size\n"), std::string::npos);
  EXPECT_NE(t.strOut.find("load: failed\n"), std::string::npos);
}

TEST(CheckIni, MissingFileAndBadArguments) {
  auto r = stRunCheckIni({"/nonexistent/x.ini"}, false);
  EXPECT_EQ(r.nExitCode, 1);
  EXPECT_NE(r.strOut.find("/nonexistent/x.ini File/Path Not Read/Write"), std::string::npos);
  auto u = stRunCheckIni({}, false);
  EXPECT_EQ(u.nExitCode, 2);
  EXPECT_NE(u.strErr.find("FILE"), std::string::npos);
  EXPECT_EQ(u.strOut, "");
  auto uj = stRunCheckIni({"a", "b"}, true);
  EXPECT_EQ(uj.nExitCode, 2);
  EXPECT_TRUE(nlohmann::json::parse(uj.strOut).contains("error"));
}

TEST(SNNext, TextAndJson) {
  auto r = stRunSNNext({"SN00000009", "1", "hex"}, false);
  EXPECT_EQ(r.nExitCode, 0);
  EXPECT_EQ(r.strOut, "SN0000000A\n");
  EXPECT_EQ(stRunSNNext({"0999", "1", "DEC"}, false).strOut, "1000\n");
  EXPECT_EQ(stRunSNNext({"", "1", "dec"}, false).strOut, "\n");
  EXPECT_EQ(stRunSNNext({"0000", "9", "dec"}, false).strOut, "0009\n");
  auto j = nlohmann::json::parse(stRunSNNext({"00ff", "15", "hex"}, true).strOut);
  EXPECT_EQ(j["serial"], "00ff");
  EXPECT_EQ(j["count"], 15);
  EXPECT_EQ(j["result"], "010E");
  EXPECT_EQ(j["base"], "hex");
  EXPECT_TRUE(j["result"].is_string());
}

TEST(SNNext, BadArgumentsExitTwo) {
  for (const std::vector<std::string>& a :
       std::vector<std::vector<std::string>>{{"0001", "1"},
                                             {"0001", "256", "hex"},
                                             {"00ff", "255", "hex"},  // would give no digit
                                             {"0001", "16", "hex"},
                                             {"0001", "10", "dec"},
                                             {"0001", "-1", "hex"},
                                             {"0001", "1x", "dec"},
                                             {"0001", "", "dec"},
                                             {"0001", "1", "oct"},
                                             {std::string(300, '1'), "1", "dec"},
                                             {"0001", "1", "hex", "extra"}}) {
    auto r = stRunSNNext(a, false);
    EXPECT_EQ(r.nExitCode, 2) << a.size();
    EXPECT_EQ(r.strOut, "");
    EXPECT_NE(r.strErr.find("mptool-util sn-next: "), std::string::npos);
  }
}

}  // namespace
