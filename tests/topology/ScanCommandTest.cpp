// mptool-util scan on a bench file: text and JSON.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "support/TempDir.h"

namespace {

std::string strRun(const std::string& strCmd, int& nRc) {
  std::string out;
  FILE* p = ::popen(strCmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  nRc = ::pclose(p);
  return out;
}

const char* kBench = R"({ "time_scale": 0, "controllers": [ { "name": "xhci0", "ports": 4 } ],
  "hubs": [
   { "name": "hubA", "controller": "xhci0", "port": 1, "usb3": true, "ports": 4, "vid": "2F7B", "pid": "55AA",
     "pid_u2": "55AB", "manufacturer": "Velnor", "product": "Hub", "serial": "s1",
     "registers": {"0x5820": "0x31", "0x5821": "0x02", "0x6802": "0x40", "0x3038": "0x34"}, "flash": "a.flash" },
   { "name": "hubB", "parent": "hubA", "port": 2, "usb3": false, "ports": 4, "vid": "2F7B", "pid": "55AB",
     "manufacturer": "Velnor", "product": "Hub", "serial": "s2", "flash": "b.flash" } ],
  "devices": [ { "name": "disk", "controller": "xhci0", "port": 3, "usb3": true, "vid": "0BDA", "pid": "9210" } ] })";

class ScanCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    m_strTool = std::string(MPTOOL_BIN_DIR) + "/mptool-util";
    if (!std::filesystem::exists(m_strTool)) GTEST_SKIP() << "mptool-util not built";
    m_tmp.write("bench.json", kBench);
    m_strEnv = "MPTOOL_SIM=" + m_tmp.str() + "/bench.json ";
  }
  TempDir m_tmp;
  std::string m_strTool, m_strEnv;
};

TEST_F(ScanCommand, ListsTheBenchHubsAsJson) {
  int nRc = -1;
  std::string out = strRun(m_strEnv + m_strTool + " scan --json", nRc);
  ASSERT_EQ(nRc, 0) << out;
  auto j = nlohmann::json::parse(out);
  EXPECT_EQ(j["platform"], "bench");
  ASSERT_EQ(j["hub_entries"].size(), 3u);  // hubA's two halves and hubB; not the disk
  EXPECT_EQ(j["hub_entries"][1]["name"], "1-1.2");
  EXPECT_EQ(j["hub_entries"][1]["depth"], 1);
  ASSERT_EQ(j["devices"].size(), 2u);
  const auto& a = j["devices"][0];
  EXPECT_EQ(a["name"], "usb:2-1");
  EXPECT_EQ(a["serial"], "S1");
  EXPECT_EQ(a["usb_text"], "U3.2_10Gx2");
  EXPECT_EQ(a["fw_type"], 3);
  EXPECT_EQ(a["package"], 2);
  EXPECT_EQ(a["orientation"], 1);
  const auto& b = j["devices"][1];
  EXPECT_EQ(b["index"], 1);
  EXPECT_EQ(b["usb_text"], "U2.1");
  EXPECT_EQ(b["port"], 2);
  EXPECT_EQ(b["port_speeds"], nlohmann::json::parse("[1,1,1,1,1]"));
}

TEST_F(ScanCommand, ListsTheBenchHubsAsText) {
  int nRc = -1;
  std::string out = strRun(m_strEnv + m_strTool + " scan", nRc);
  ASSERT_EQ(nRc, 0) << out;
  EXPECT_NE(out.find("hub entries: 3\n"), std::string::npos) << out;
  EXPECT_NE(out.find("devices: 2\n"), std::string::npos) << out;
  EXPECT_NE(out.find("[0] usb:2-1 VID 2F7B PID 55AA serial \"S1\""), std::string::npos) << out;
  EXPECT_NE(out.find("U3.2_10Gx2"), std::string::npos) << out;
}

TEST_F(ScanCommand, BadBenchIsAnErrorNotACrash) {
  m_tmp.write("bad.json", "{ \"controllers\": 5 }");
  int nRc = -1;
  std::string out =
      strRun("MPTOOL_SIM=" + m_tmp.str() + "/bad.json " + m_strTool + " scan --json 2>/dev/null", nRc);
  EXPECT_NE(nRc, 0);
  EXPECT_TRUE(nlohmann::json::parse(out).contains("error")) << out;
}

}  // namespace
