#include <gtest/gtest.h>

#include <filesystem>

#include "platform/sim/SimBenchReport.h"
#include "platform/sim/SimFilterDevice.h"
#include "support/TempDir.h"

TEST(SimBenchReport, NewBenchLoadsWithBlankHubsAndIsNotOverwritten) {
  TempDir dir;
  nlohmann::json j;
  std::string err;
  ASSERT_TRUE(bWriteNewSimBench(dir.str(), 3, false, j, err)) << err;
  EXPECT_EQ(j["hubs"].size(), 3u);
  EXPECT_EQ(std::filesystem::file_size(dir.path() / "hub3.flash"), 131072u);
  auto bench = CSimBench::pLoad((dir.path() / "bench.json").string(), err);
  ASSERT_TRUE(bench) << err;
  EXPECT_EQ(bench->nHubs(), 3);
  EXPECT_TRUE(bench->bHasSuperSpeedHalf(2));
  EXPECT_EQ(bench->ucRegister(0, 0x3038), 0x34);
  EXPECT_FALSE(bWriteNewSimBench(dir.str(), 3, true, j, err));
  EXPECT_NE(err.find("exists already"), std::string::npos);
  EXPECT_FALSE(bWriteNewSimBench((dir.path() / "x").string(), 0, false, j, err));
}

TEST(SimBenchReport, ShowDecodesAWrittenConfigurationBlock) {
  TempDir dir;
  nlohmann::json j;
  std::string err;
  ASSERT_TRUE(bWriteNewSimBench(dir.str(), 1, true, j, err));
  auto bench = CSimBench::pLoad((dir.path() / "bench.json").string(), err);
  ASSERT_TRUE(bench);
  std::vector<uint8_t> cfg(256, 0xFF);
  cfg[4] = 'A', cfg[5] = 'B';
  cfg[0x74] = 0x78, cfg[0x75] = 0x56, cfg[0x76] = 0x34, cfg[0x77] = 0x12;
  cfg[0x84] = 0x7B, cfg[0x85] = 0x2F, cfg[0xFE] = 0x3C;
  unsigned s = 0;
  for (int i = 4; i <= 0xFE; ++i) s += cfg[i];
  cfg[0xFF] = static_cast<uint8_t>(s);
  bench->vSetFlash(0, 0, cfg);
  auto all = jsonSimBenchShow(*bench, -1);
  EXPECT_FALSE(all["hubs"][0].contains("config"));
  EXPECT_TRUE(all["hubs"][0]["config_valid"].get<bool>());
  EXPECT_FALSE(all["hubs"][0]["usb3"].get<bool>());
  EXPECT_EQ(all["hubs"][0]["device_names"].size(), 1u);
  // the hub reports the block once it powers up again
  EXPECT_EQ(all["hubs"][0]["identity"]["serial"], "");
  auto one = jsonSimBenchShow(*bench, 0);
  const auto& c = one["hubs"][0]["config"];
  EXPECT_EQ(c["serial"], "AB");
  EXPECT_EQ(c["vid"], "2F7B");
  EXPECT_EQ(c["container_id"].get<std::string>().substr(0, 8), "12345678");
  EXPECT_TRUE(c["checksum_valid"].get<bool>());
  std::string text = strSimBenchShowText(one);
  EXPECT_NE(text.find("hub1: xhci0 port 1, USB 2, usb:1-1\n"), std::string::npos);
  EXPECT_NE(text.find("    signature 0x3C valid\n"), std::string::npos);
  // without firmware behind it the block does not boot; with a firmware area of its type it does
  bench->vSetPlugged(0, false);
  bench->vSetPlugged(0, true);
  EXPECT_EQ(jsonSimBenchShow(*bench, 0)["hubs"][0]["identity"]["serial"], "");
  EXPECT_FALSE(one["hubs"][0]["image_boots"].get<bool>());
  std::vector<uint8_t> fw(2 + 0x5000 + 2, 0x00);
  fw[0] = 0x00, fw[1] = 0x50, fw[2 + 0x203] = 0x20, fw[2 + 0x5000] = 0x3C, fw[3 + 0x5000] = 0x20;
  bench->vSetFlash(0, 0x100, fw);
  bench->vSetPlugged(0, false);
  bench->vSetPlugged(0, true);
  auto after = jsonSimBenchShow(*bench, 0);
  EXPECT_TRUE(after["hubs"][0]["image_boots"].get<bool>());
  EXPECT_EQ(after["hubs"][0]["firmware"]["type"], 2);
  EXPECT_EQ(after["hubs"][0]["identity"]["serial"], "AB");
  auto dump = jsonSimFlashDump(*bench, 0, 0, 8);
  EXPECT_EQ(dump["hex"], "FFFFFFFF4142FFFF");
  EXPECT_EQ(strSimFlashDumpText(dump), "00000  FF FF FF FF 41 42 FF FF\n");
}
