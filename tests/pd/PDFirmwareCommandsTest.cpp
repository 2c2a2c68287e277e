#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "pd/PDFirmwareCommands.h"
#include "support/PDFixtures.h"
#include "support/TempDir.h"

using namespace pdfix;

namespace {

class CommandsTest : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST_F(CommandsTest, PdVersionTextAndJson) {
  const std::string hex = dir.write("m.hex", strHexFile(1));
  CommandOutput r = stRunPdVersion({hex, "--mcu"}, false);
  EXPECT_EQ(r.nExitCode, 0);
  EXPECT_NE(r.strOut.find("version: \\x14NULL\n"), std::string::npos) << r.strOut;
  EXPECT_NE(r.strOut.find("mcu_file_type: 20\n"), std::string::npos) << r.strOut;
  r = stRunPdVersion({hex, "--mcu"}, true);
  EXPECT_NE(r.strOut.find("\"version\": \"\\u0014NULL\""), std::string::npos) << r.strOut;
  const auto j = nlohmann::json::parse(r.strOut);
  EXPECT_EQ(j["version"], "\x14NULL");
  EXPECT_EQ(j["pd_file_type"], 0);
  EXPECT_EQ(j["mcu_file_type"], 20);

  // The PD update is the default choice.
  r = stRunPdVersion({dir.write("r.bin", strRichtekFile())}, true);
  EXPECT_EQ(r.nExitCode, 0);
  EXPECT_EQ(nlohmann::json::parse(r.strOut)["version"], "1234");
  r = stRunPdVersion({dir.write("s.bin", strRichtekFile(100))}, true);
  EXPECT_EQ(r.nExitCode, 1);
  const auto k = nlohmann::json::parse(r.strOut);
  EXPECT_EQ(k["version"], "NULL");
  EXPECT_EQ(k["messages"][0], "The PD FW file size is uncompatibie!!!");
  EXPECT_EQ(stRunPdVersion({}, false).nExitCode, 2);
  EXPECT_EQ(stRunPdVersion({hex, "--pdx"}, true).nExitCode, 2);
}

TEST_F(CommandsTest, PdLoadReportsHeaderRowsAndWarnings) {
  std::string file = strCyacdFile("1D0411AD0000", 3, 128);
  file += strCyacdRow(0, 2, vecRowData(128, 9), 1) + "\n";  // out of order, wrong checksum
  const std::string path = dir.write("f.cyacd", file);
  CommandOutput r = stRunPdLoad({path, "--family", "ccg3"}, true);
  EXPECT_EQ(r.nExitCode, 0) << r.strOut;
  auto j = nlohmann::json::parse(r.strOut);
  EXPECT_EQ(j["result"], 0);
  EXPECT_EQ(j["silicon_id"], "1D0411AD");
  EXPECT_EQ(j["slots"], 5);
  EXPECT_EQ(j["rows"], 4);
  EXPECT_EQ(j["rows_out_of_order"], 1);
  ASSERT_EQ(j["log"].size(), 1u);
  EXPECT_NE(j["log"][0].get<std::string>().find("WRN::"), std::string::npos);
  EXPECT_NE(j["log"][0].get<std::string>().find("The Row checksum is different"), std::string::npos);

  // 256-byte rows do not fit CCG3's records: the load fails with its error.
  const std::string path4 = dir.write("g.cyacd", strCyacdFile("1D0411AD0000", 1, 256));
  r = stRunPdLoad({path4, "--family", "ccg3"}, false);
  EXPECT_EQ(r.nExitCode, 1);
  EXPECT_NE(r.strOut.find("result: -10\n"), std::string::npos) << r.strOut;
  EXPECT_NE(r.strErr.find("The FW ROW data length too long..[256]"), std::string::npos) << r.strErr;
  EXPECT_EQ(stRunPdLoad({path4, "--family", "ccg4"}, false).nExitCode, 0);

  const std::string hex = dir.write("m.hex", strHexFile(2));
  r = stRunPdLoad({path, "--family", "ccg3", "--mcu", hex}, true);
  EXPECT_EQ(r.nExitCode, 0) << r.strOut;
  j = nlohmann::json::parse(r.strOut);
  EXPECT_EQ(j["mcu_records"], 4);
  EXPECT_EQ(j["mcu_extended_address"], "0800");
  EXPECT_EQ(j["mcu_image_length"], 32);
  // The MCU file alone has no PD file type.
  EXPECT_EQ(stRunPdLoad({hex, "--family", "ccg3", "--mcu"}, false).nExitCode, 1);

  EXPECT_EQ(stRunPdLoad({path}, false).nExitCode, 2);
  EXPECT_EQ(stRunPdLoad({path, "--family", "ccg9"}, false).nExitCode, 2);
  EXPECT_EQ(stRunPdLoad({path, "--family"}, true).nExitCode, 2);
}

}  // namespace
