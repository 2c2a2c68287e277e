// CPU cost of hub access on the simulated bench: one 32-byte transfer through the filter
// channel, and one hub's production sequence at time scale 0 with zero latency.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>

#include "device/VlntUSBDev.h"
#include "platform/sim/SimFilterDevice.h"

namespace {
struct Bench {
  std::filesystem::path dir;
  std::unique_ptr<CSimBench> bench;
  std::unique_ptr<CSimFilterDevicePlatform> platform;
  std::unique_ptr<CVLNTFILTER0> filter;
  std::unique_ptr<CVlntUSBDev> dev;
  DeviceList list;
  Bench() {
    dir = std::filesystem::temp_directory_path() / ("mptool_hub_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "VLNFW_Temp");
    std::ofstream(dir / "bench.json") << R"({"time_scale": 0, "transfer_latency_us": 0,
      "controllers": [{"name": "xhci0", "ports": 4}],
      "hubs": [{"name": "hubA", "controller": "xhci0", "port": 1, "flash": "hubA.flash"}]})";
    std::vector<char> img(0x6000 + 8, 0x11);
    img[0] = 0x00, img[1] = 0x60;
    std::ofstream(dir / "VLNFW_Temp" / "TempBinData.bin", std::ios::binary)
        .write(img.data(), static_cast<std::streamsize>(img.size()));
    std::string err;
    bench = CSimBench::pLoad((dir / "bench.json").string(), err);
    platform = std::make_unique<CSimFilterDevicePlatform>(*bench);
    filter = std::make_unique<CVLNTFILTER0>(bench->clock());
    dev = std::make_unique<CVlntUSBDev>(*platform, *filter, bench->clock());
    list.m_DriverNum = 1;
    list.DevNums = 1;
    list.drv[0].ObjectName = list.dev[0].m_strHubObjectName = bench->strDeviceName(0, true);
    list.dev[0].ucIndex = 0;
    dev->vSetDevList(&list);
    dev->vSetAppPath(dir.string());
  }
  ~Bench() {
    dev.reset();
    platform.reset();
    bench.reset();
    std::filesystem::remove_all(dir);
  }
};

void BM_Transfer32(benchmark::State& state) {
  Bench b;
  auto h = b.platform->pOpen(b.bench->strDeviceName(0, true));
  uint8_t buf[32];
  for (auto _ : state) {
    b.filter->ReadConfigFWCmd(h.get(), buf, 32, 0x100, 0, true);
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_Transfer32);

void BM_RegisterAccessWithOpen(benchmark::State& state) {
  Bench b;
  uint8_t buf[32];
  for (auto _ : state) {
    b.dev->VLN318xAccessRegister(0, buf, 32, 0x7F0, false);
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_RegisterAccessWithOpen);

void BM_ProductionSequence(benchmark::State& state) {
  Bench b;
  std::array<uint8_t, 256> cfg;
  cfg.fill(0xFF);
  std::vector<uint8_t> rom(0x10000);
  for (auto _ : state) {
    b.dev->bAccessHubConfig(0, 1, cfg.data(), 0, true);
    b.dev->bAccessHubConfig(0, 0, cfg.data(), 0, true);
    b.dev->vUpdateHubFirmware(0, 0, true);
    b.dev->bReadHubSPIROM(0, rom.data(), 0, true);
  }
}
BENCHMARK(BM_ProductionSequence)->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
