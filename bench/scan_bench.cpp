// One scan (walk and identification) of a bench with 15 hub entries, 8 of them from USB 3
// hubs (some cascaded), and 30 other devices, at time scale 0. Goal: 5 ms CPU or less.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include "device/VlntUSBDev.h"
#include "host/USBUtility.h"
#include "platform/sim/SimBench.h"
#include "platform/sim/SimDeviceState.h"
#include "platform/sim/SimFilterDevice.h"
#include "platform/sim/SimUsbTree.h"

namespace {

struct ScanBench {
  std::filesystem::path dir;
  std::unique_ptr<CSimBench> bench;
  std::unique_ptr<CSimUsbTree> tree;
  std::unique_ptr<CSimDeviceState> state;
  CSimFilterDriverStatus driver;
  std::unique_ptr<CSimFilterDevicePlatform> fdp;
  std::unique_ptr<CVLNTFILTER0> filter;
  std::unique_ptr<CUSBUtility> util;
  std::unique_ptr<CVlntUSBDev> dev;
  DeviceList list;

  ScanBench() {
    dir = std::filesystem::temp_directory_path() / ("scan_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    SimBenchSpec def;
    def.dTimeScale = 0;
    for (int c = 0; c < 2; ++c) def.vecControllers.push_back({"xhci" + std::to_string(c), 8});
    // 4 USB 3 hubs on each controller; on each controller one is cascaded behind another;
    // 7 USB 2 hubs: 15 hub entries in all
    auto add = [&](const std::string& n, int c, int parent, int port, bool usb3) {
      SimHubSpec h;
      h.strName = n;
      if (parent < 0)
        h.strController = def.vecControllers[c].strName;
      else
        h.strParent = def.vecHubs[parent].strName;
      h.nPort = port;
      h.bUsb3 = usb3;
      h.strManufacturer = "Velnor";
      h.strProduct = "Hub";
      h.strSerial = "S" + n;
      h.strFlash = (dir / (n + ".flash")).string();
      h.nParentIndex = parent;
      h.nControllerIndex = parent < 0 ? c : def.vecHubs[parent].nControllerIndex;
      def.vecHubs.push_back(h);
      return static_cast<int>(def.vecHubs.size()) - 1;
    };
    int a0 = add("a0", 0, -1, 1, true);
    add("a1", 0, a0, 1, true);  // cascaded
    add("a2", 0, -1, 2, true);
    add("a3", 0, -1, 3, true);
    int b0 = add("b0", 1, -1, 1, true);
    add("b1", 1, b0, 2, true);  // cascaded
    add("b2", 1, -1, 2, true);
    add("b3", 1, -1, 3, true);
    // The eighth USB 3 hub sits behind another maker's USB 2 hub, so only its USB 2 half
    // shows: 7 x 2 + 1 = 15 hub entries (the foreign hub does not answer the chip id).
    def.vecHubs.pop_back();
    int u0 = add("u0", 1, -1, 3, false);
    add("u3", 1, u0, 1, true);
    std::string strError;
    bench = CSimBench::pFromSpec(def, strError);
    if (!bench) return;
    tree = std::make_unique<CSimUsbTree>(*bench);
    tree->vSetQuirks(u0, {true, false});
    for (int i = 0; i < 30; ++i) {
      SimPlainDevice d;
      d.strName = "dev" + std::to_string(i);
      if (i < 8) {
        d.strController = def.vecControllers[i % 2].strName;
        d.nPort = 4 + i / 2;
        d.bUsb3 = i % 4 == 0;
      } else {
        d.strParent = def.vecHubs[(i - 8) % static_cast<int>(def.vecHubs.size())].strName;
        d.nPort = 2 + (i - 8) / static_cast<int>(def.vecHubs.size());
        d.bUsb3 = i % 3 == 0;
      }
      d.usVID = 0x0BDA;
      d.usPID = static_cast<uint16_t>(i);
      d.strProduct = "Device";
      tree->bAddDevice(d);
    }
    state = std::make_unique<CSimDeviceState>(*bench);
    fdp = std::make_unique<CSimFilterDevicePlatform>(*bench);
    filter = std::make_unique<CVLNTFILTER0>(bench->clock());
    USBUtilityOptions o;
    o.strAppPath = dir.string();
    util = std::make_unique<CUSBUtility>(bench->clock(), o);
    dev = std::make_unique<CVlntUSBDev>(*fdp, *filter, bench->clock());
    dev->vSetWalkPlatform(tree.get(), state.get(), &driver, util.get());
  }
  ~ScanBench() {
    dev.reset();
    bench.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

void BM_ScanFifteenHubEntries(benchmark::State& st) {
  ScanBench b;
  if (!b.bench) {
    st.SkipWithError("bench could not be made");
    return;
  }
  for (auto _ : st) {
    b.dev->Open(&b.list, "");
    b.dev->vTestHandleFromDriverInfo(&b.list);
    benchmark::DoNotOptimize(b.list.DevNums);
  }
  st.counters["hub_entries"] = b.list.m_DriverNum;
  st.counters["devices"] = b.list.DevNums;
}
BENCHMARK(BM_ScanFifteenHubEntries)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
