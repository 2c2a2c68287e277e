// Bench files for tests: one controller, hubs on its ports, instant time unless asked.
#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/sim/SimBench.h"
#include "support/TempDir.h"

// A hub entry; extra is spliced into the hub object (for example faults).
inline std::string strSimHub(const std::string& name, int port, const std::string& extra = "",
                             const std::string& upstream = "\"controller\": \"xhci0\"") {
  return "{\"name\": \"" + name + "\", " + upstream + ", \"port\": " + std::to_string(port) +
         ", \"usb3\": true, \"ports\": 4, \"vid\": \"2F7B\", \"pid\": \"55AA\", \"pid_u2\": \"55AB\", \"bcdDevice\": \"0100\","
         " \"manufacturer\": \"Maker\", \"product\": \"Hub\", \"serial\": \"S1\", \"chip_id\": \"0x6420\","
         " \"version\": \"010203040506\", \"reset_ms\": 1000, \"erase_ms\": 200, \"flash\": \"" + name + ".flash\"" +
         (extra.empty() ? "" : ", " + extra) + "}";
}

inline std::string strSimBench(const std::string& hubs, double scale = 0, int latencyUs = 0) {
  return "{\"time_scale\": " + std::to_string(scale) + ", \"transfer_latency_us\": " + std::to_string(latencyUs) +
         ", \"controllers\": [{\"name\": \"xhci0\", \"ports\": 4}], \"hubs\": [" + hubs + "]}";
}

inline std::unique_ptr<CSimBench> pLoadSimBench(const TempDir& dir, const std::string& text) {
  auto path = dir.write("bench.json", text);
  std::string err;
  auto p = CSimBench::pLoad(path.string(), err);
  EXPECT_TRUE(p) << err;
  return p;
}
