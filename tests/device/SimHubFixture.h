// A test fixture with one simulated hub "hubA" on a bench, reached through a recording
// filter device platform, and the filter command channel on the bench's clock.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "RecordingPlatform.h"
#include "device/VLNTFILTER0.h"
#include "platform/sim/SimFilterDevice.h"
#include "support/SimBenchJson.h"
#include "support/TempDir.h"

class SimHubFixture : public ::testing::Test {
 protected:
  // Loads the bench anew; extra's fields are added to the hub's (faults, registers, ...).
  // Call through ASSERT_NO_FATAL_FAILURE when the test goes on after it.
  void vLoadBench(const nlohmann::json& extra) {
    m_rec.reset();
    m_sim.reset();
    m_bench.reset();
    m_bench = pLoadSimBench(m_dir, jsonSimBench(nlohmann::json::array({jsonSimHub("hubA", 1, extra)})));
    ASSERT_TRUE(m_bench);
    m_sim = std::make_unique<CSimFilterDevicePlatform>(*m_bench);
    m_rec = std::make_unique<CRecordingPlatform>(*m_sim);
    m_filter = std::make_unique<CVLNTFILTER0>(m_bench->clock());
  }

  TempDir m_dir;
  std::unique_ptr<CSimBench> m_bench;
  std::unique_ptr<CSimFilterDevicePlatform> m_sim;
  std::unique_ptr<CRecordingPlatform> m_rec;
  std::unique_ptr<CVLNTFILTER0> m_filter;
};
