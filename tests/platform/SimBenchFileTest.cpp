#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/sim/SimBench.h"
#include "support/SimBenchJson.h"

using nlohmann::json;

namespace {
std::string strLoadError(const TempDir& dir, const std::string& text) {
  auto path = dir.write("bench.json", text);
  std::string err;
  auto p = CSimBench::pLoad(path.string(), err);
  EXPECT_FALSE(p) << text;
  return err;
}
std::string strLoadError(const TempDir& dir, const json& bench) {
  return strLoadError(dir, bench.dump());
}
// The load error of a bench with one hub "a" on port 1 carrying extra.
std::string strHubError(const TempDir& dir, const json& extra) {
  return strLoadError(dir, jsonSimBench(json::array({jsonSimHub("a", 1, extra)})));
}
}  // namespace

TEST(SimBenchFile, ReadsTheDocumentedFormat) {
  TempDir dir;
  json hubs = json::array(
      {jsonSimHub("hubA", 1, R"({"registers": {"0x5821": "0x03"}})"_json),
       jsonSimHub("hubB", 2, R"({"faults": [{"kind": "stall", "request": "0x52", "count": 0}]})"_json,
                  {{"parent", "hubA"}})});
  SimBenchSpec def;
  std::string err;
  auto path = dir.write("b/bench.json", jsonSimBench(hubs, 0.01, 125).dump());
  ASSERT_TRUE(bReadSimBenchFile(path.string(), def, err)) << err;
  EXPECT_DOUBLE_EQ(def.dTimeScale, 0.01);
  EXPECT_EQ(def.uTransferLatencyUs, 125u);
  ASSERT_EQ(def.vecHubs.size(), 2u);
  EXPECT_EQ(def.vecHubs[1].nParentIndex, 0);
  EXPECT_EQ(def.vecHubs[1].nControllerIndex, 0);
  EXPECT_EQ(def.vecHubs[0].mapRegisters.at(0x5821), 3);
  EXPECT_EQ(def.vecHubs[0].usPIDU2, 0x55AB);
  EXPECT_EQ(def.vecHubs[0].strFlash,
            (std::filesystem::absolute(dir.path() / "b" / "hubA.flash")).lexically_normal().string());
  ASSERT_EQ(def.vecHubs[1].vecFaults.size(), 1u);
  EXPECT_EQ(def.vecHubs[1].vecFaults[0].nRequestCode, 0x52);
  EXPECT_EQ(def.vecHubs[1].vecFaults[0].uCount, 0u);
}

TEST(SimBenchFile, NamesTheProblemOfABadBench) {
  TempDir dir;
  EXPECT_NE(strLoadError(dir, std::string("{ not json")).find("not valid JSON"), std::string::npos);
  EXPECT_NE(strLoadError(dir, jsonSimBench(json::array({jsonSimHub("a", 1, {}, {{"parent", "nobody"}})})))
                .find("unknown parent \"nobody\""),
            std::string::npos);
  json cycle =
      json::array({jsonSimHub("x", 1, {}, {{"parent", "y"}}), jsonSimHub("y", 1, {}, {{"parent", "x"}})});
  EXPECT_NE(strLoadError(dir, jsonSimBench(cycle)).find("cycle"), std::string::npos);
  EXPECT_NE(
      strLoadError(dir, jsonSimBench(json::array({jsonSimHub("a", 1), jsonSimHub("b", 1)}))).find("taken"),
      std::string::npos);
  EXPECT_NE(strLoadError(dir, jsonSimBench(json::array({jsonSimHub("a", 9)}))).find("port 9"),
            std::string::npos);
  EXPECT_NE(strLoadError(dir, jsonSimBench(json::array({jsonSimHub("a", 1, {}, {{"controller", "ehci"}})})))
                .find("unknown controller"),
            std::string::npos);
  EXPECT_NE(strHubError(dir, R"({"faults": [{"kind": "melt", "at_request": 1}]})"_json).find("melt"),
            std::string::npos);
  EXPECT_NE(strHubError(dir, R"({"faults": [{"kind": "fail"}]})"_json).find("when it strikes"),
            std::string::npos);
  EXPECT_NE(strHubError(dir, {{"vid", "XYZ"}}).find("vid"), std::string::npos);
  EXPECT_NE(strHubError(
                dir, R"({"faults": [{"kind": "erase_partial", "request": "0x57", "offset": "0x100"}]})"_json)
                .find("needs \"offset\" and \"length\""),
            std::string::npos);
  EXPECT_NE(strHubError(dir, R"({"faults": [{"kind": "erase_partial", "request": "0x57", "offset": "0xFFF0",
                                             "length": 17}]})"_json)
                .find("length"),
            std::string::npos);
  // a fault by chance: a probability above 0 and at most 1, a whole seed, no second rule
  const std::pair<const char*, const char*> chance[] = {
      {R"({"probability": 0, "seed": 1})", "probability must be"},
      {R"({"probability": 1.5, "seed": 1})", "probability must be"},
      {R"({"probability": "0.1", "seed": 1})", "probability must be"},
      {R"({"probability": 0.1})", "needs a \"seed\""},
      {R"({"probability": 0.1, "seed": 1.5})", "seed must be a whole number"},
      {R"({"probability": 0.1, "seed": -1})", "seed must be"},
      {R"({"probability": 0.1, "seed": 1, "at_request": 3})", "one rule"},
      {R"({"probability": 0.1, "seed": 1, "request": "0x50", "occurrence": 3})", "one rule"},
  };
  for (const auto& [pszEntry, pszError] : chance) {
    json fault = {{"kind", "fail"}};
    fault.update(json::parse(pszEntry));
    EXPECT_NE(strHubError(dir, {{"faults", json::array({fault})}}).find(pszError), std::string::npos)
        << pszEntry;
  }
  {
    std::string err;
    auto path = dir.write(
        "bench.json",
        jsonSimBench(json::array({jsonSimHub(
                         "a", 1, R"({"faults": [{"kind": "flip", "probability": 1, "seed": 0}]})"_json)}))
            .dump());
    EXPECT_TRUE(CSimBench::pLoad(path.string(), err)) << err;
  }
  EXPECT_NE(strHubError(dir, R"({"boot": {"pid": "12345"}})"_json).find("boot.pid"), std::string::npos);
  EXPECT_NE(strLoadError(dir, R"({"controllers": [], "hubs": []})"_json).find("controllers"),
            std::string::npos);
}

// Scales whose clock conversions would overflow are refused; the ends of the range and 0 pass.
TEST(SimBenchFile, RefusesATimeScaleThatOverflowsTheClock) {
  TempDir dir;
  auto text = [](const std::string& strScale) {
    json bench = jsonSimBench(json::array({jsonSimHub("a", 1)}));
    bench["time_scale"] = json::parse(strScale);
    return bench.dump();
  };
  for (const char* psz : {"1e-300", "0.0000009", "1000.5", "1e300", "-1", "\"0.1\""})
    EXPECT_NE(strLoadError(dir, text(psz)).find("time_scale must be 0, or a number from 0.000001 to 1000"),
              std::string::npos)
        << psz;
  for (const char* psz : {"0", "0.000001", "1000", "0.01"}) {
    SimBenchSpec def;
    std::string err;
    EXPECT_TRUE(bReadSimBenchFile(dir.write("ok.json", text(psz)).string(), def, err)) << psz << ": " << err;
  }
}

TEST(SimBenchFile, RefusesAWrongSizedOrUnwritableFlashFile) {
  TempDir dir;
  dir.write("hubA.flash", std::string(1000, '\xFF'));
  std::string err = strLoadError(dir, jsonSimBench(json::array({jsonSimHub("hubA", 1)})));
  EXPECT_NE(err.find("hubA.flash"), std::string::npos);
  EXPECT_NE(err.find("1000 bytes, expected 131072"), std::string::npos);
  err = strLoadError(
      dir, jsonSimBench(json::array({jsonSimHub("hubB", 1, {{"flash", "/proc/no/such/dir/x.flash"}})})));
  EXPECT_NE(err.find("/proc/no/such/dir/x.flash"), std::string::npos);
  EXPECT_NE(err.find("cannot be opened"), std::string::npos);
  std::string missing;
  EXPECT_FALSE(CSimBench::pLoad((dir.path() / "absent.json").string(), missing));
  EXPECT_NE(missing.find("cannot be read"), std::string::npos);
}
