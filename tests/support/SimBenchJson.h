// Bench files for tests, built as JSON values: the shapes several test folders share. Time
// passes at once unless a scale is given.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/sim/SimBench.h"
#include "support/TempDir.h"

// A hub on port nPort of controller xhci0 (or of what upstream names, such as
// {{"parent", "hubA"}}) with a whole identity, reset and erase times and its flash file
// "<name>.flash". The fields of extra are added, replacing those of the same name.
inline nlohmann::json jsonSimHub(const std::string& strName, int nPort,
                                 const nlohmann::json& extra = nlohmann::json::object(),
                                 const nlohmann::json& upstream = {{"controller", "xhci0"}}) {
  nlohmann::json h = {{"name", strName},
                      {"port", nPort},
                      {"usb3", true},
                      {"ports", 4},
                      {"vid", "2F7B"},
                      {"pid", "55AA"},
                      {"pid_u2", "55AB"},
                      {"bcdDevice", "0100"},
                      {"manufacturer", "Maker"},
                      {"product", "Hub"},
                      {"serial", "S1"},
                      {"chip_id", "0x6420"},
                      {"version", "010203040506"},
                      {"reset_ms", 1000},
                      {"erase_ms", 200},
                      {"flash", strName + ".flash"}};
  h.update(upstream);
  if (!extra.is_null()) h.update(extra);
  return h;
}

// A bench of one controller xhci0 with four ports and the hubs given: an array, made with
// nlohmann::json::array, since braces around a single hub give the hub itself.
inline nlohmann::json jsonSimBench(const nlohmann::json& hubs, double dScale = 0, int nLatencyUs = 0) {
  return {{"time_scale", dScale},
          {"transfer_latency_us", nLatencyUs},
          {"controllers", nlohmann::json::array({{{"name", "xhci0"}, {"ports", 4}}})},
          {"hubs", hubs}};
}

// Three hubs on ports 1 to 3 of xhci0, with nothing but their flash files besides: hubA
// carries the storage bridge storageA, hubB storageB, hubC none.
inline nlohmann::json jsonBridgeBench(const nlohmann::json& storageA, const nlohmann::json& storageB,
                                      double dScale = 0) {
  auto hub = [](const char* pszName, int nPort, const char* pszFlash) {
    return nlohmann::json{{"name", pszName}, {"controller", "xhci0"}, {"port", nPort}, {"flash", pszFlash}};
  };
  nlohmann::json hubs = nlohmann::json::array(
      {hub("hubA", 1, "a.flash"), hub("hubB", 2, "b.flash"), hub("hubC", 3, "c.flash")});
  hubs[0]["storage"] = storageA;
  hubs[1]["storage"] = storageB;
  nlohmann::json bench = jsonSimBench(hubs, dScale);
  bench.erase("transfer_latency_us");
  return bench;
}

// Writes the bench to "bench.json" in dir and loads it.
inline std::unique_ptr<CSimBench> pLoadSimBench(const TempDir& dir, const nlohmann::json& bench) {
  auto path = dir.write("bench.json", bench.dump());
  std::string err;
  auto p = CSimBench::pLoad(path.string(), err);
  EXPECT_TRUE(p) << err;
  return p;
}
