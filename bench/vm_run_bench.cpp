// A one-hub production run on the Linux platform against its lower bound, as
// bench/run_bench.cpp measures it on the bench (from Start until the run has counted its
// hubs; the bound: the run's waits plus its transfers one after another), with the transfer
// time measured on the same device (bench_vm_transfer_bench). The VM test runs it in its
// guest against the gadget hub. Goal: run / bound <= 1.05.
//   bench_vm_run_bench FOLDER TRANSFER_US ERASE_MS RESET_MS
// FOLDER holds the station's vlnhub.ini, firmware and udev rules folder ("rules"); the other
// three are the transfer time and the chip's erase and reset times. Prints one JSON object.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "device/VLNTFILTER0.h"
#include "device/VlntUSBDev.h"
#include "host/USBUtility.h"
#include "host/WindowThread.h"
#include "images/ConfigForm.h"
#include "images/HubImages.h"
#include "platform/Clock.h"
#include "platform/linux/DeviceStateSysfs.h"
#include "platform/linux/FilterDriverLinux.h"
#include "platform/linux/LibusbFilterDevice.h"
#include "platform/linux/UsbTreeSysfs.h"
#include "run/HeadlessRunView.h"
#include "run/RunDevices.h"
#include "run/RunEngine.h"
#include "settings/Ini.h"

namespace {
// The filter devices, counting the requests of every handle they open.
class CCountingFilterDevices : public IFilterDevicePlatform {
 public:
  std::unique_ptr<IFilterDeviceHandle> pOpen(const std::string& strName, std::string* pstrError) override {
    auto h = m_real.pOpen(strName, pstrError);
    if (!h) return h;
    return std::make_unique<CHandle>(std::move(h), m_ullRequests);
  }
  uint64_t ullRequests() const { return m_ullRequests.load(); }

 private:
  class CHandle : public IFilterDeviceHandle {
   public:
    CHandle(std::unique_ptr<IFilterDeviceHandle> p, std::atomic<uint64_t>& n) : m_p(std::move(p)), m_n(n) {}
    EFilterResult eIoControl(uint32_t dwCode, const uint8_t* pIn, size_t ulInLen, uint8_t* pOut,
                             size_t ulOutLen, size_t* pulTransferred) override {
      ++m_n;
      return m_p->eIoControl(dwCode, pIn, ulInLen, pOut, ulOutLen, pulTransferred);
    }
    const std::string& strName() const override { return m_p->strName(); }
    bool bGetDeviceIdentity(FilterDeviceIdentity& id) override { return m_p->bGetDeviceIdentity(id); }

   private:
    std::unique_ptr<IFilterDeviceHandle> m_p;
    std::atomic<uint64_t>& m_n;
  };
  CLibusbFilterDevicePlatform m_real;
  std::atomic<uint64_t> m_ullRequests{0};
};

// Notes when the run counted its hubs, and the requests sent by then.
class CTimedView : public CHeadlessRunView {
 public:
  explicit CTimedView(const CCountingFilterDevices& devices) : m_devices(devices) {}
  void vSetCounters(const std::string&, const std::string&, const std::string&) override {
    if (m_bCounted) return;
    m_bCounted = true;
    m_tCounted = std::chrono::steady_clock::now();
    m_ullRequests = m_devices.ullRequests();
  }
  bool m_bCounted = false;
  std::chrono::steady_clock::time_point m_tCounted;
  uint64_t m_ullRequests = 0;

 private:
  const CCountingFilterDevices& m_devices;
};
}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s FOLDER TRANSFER_US ERASE_MS RESET_MS\n", argv[0]);
    return 2;
  }
  const std::string strDir = argv[1];
  const double dTransferUs = std::atof(argv[2]);
  const int nEraseMs = std::atoi(argv[3]), nResetMs = std::atoi(argv[4]);
  CScaledClock clock(1.0);
  USBUtilityOptions o;
  o.strAppPath = strDir;
  o.strRunMarkerPath = strDir + "/run.mark";
  CUSBUtility utility(clock, o);
  Ini ini;
  ini.vLoadINIFile(strDir + "/vlnhub.ini");
  DeviceList list;

  CUsbTreeSysfs tree;
  CDeviceStateSysfs state(clock);
  CFilterDriverStatusLinux driver(strDir + "/rules");
  CCountingFilterDevices filterDevices;
  CVLNTFILTER0 filter(clock);
  CVlntUSBDev dev(filterDevices, filter, clock);
  dev.vSetWalkPlatform(&tree, &state, &driver, &utility);
  dev.vSetAppPath(utility.m_szAppPath);
  dev.vSetDevList(&list);
  dev.vSetRescanHandler([&state] { state.nRescan(); });
  CRunScreenForm form;
  CHubImages images(utility, ini.m_pINI, list, form);
  images.m_bShowGUI = false;
  CRunDevices devices(dev, images, filterDevices, list);

  CWindowThread loop;
  CTimedView view(filterDevices);
  CRunEngine engine(utility, ini, list, devices, view, loop, clock);
  RunEngineConfig config;
  config.cmdLine.m_bShowGUI = 0;
  config.cmdLine.m_nCmdLineMode = CMDLINE_RUN;
  engine.bConfigure(std::move(config));
  form.vBind(engine.screen());
  form.vWriteConfigTexts(stConfigTextsFromSettings(ini.m_pINI));
  engine.screen().strFWPath = strDir + "/" + ini.m_pINI.ucFw_binary_name;
  engine.vSetMainResultItemTable();
  engine.vScanUSBPort({}, true);
  if (list.DevNums != 1) {
    std::fprintf(stderr, "%d hubs found, not 1\n", list.DevNums);
    return 1;
  }
  const uint64_t ullBefore = filterDevices.ullRequests();
  const auto t0 = std::chrono::steady_clock::now();
  if (engine.OnBnClickedButtonStart() != EStartResult::Started) return 1;
  const int nExit = loop.nRunLoop();
  const auto tEnd = std::chrono::steady_clock::now();
  auto dMs = [](auto a, auto b) { return std::chrono::duration<double, std::milli>(b - a).count(); };
  const double dRunMs = view.m_bCounted ? dMs(t0, view.m_tCounted) : dMs(t0, tEnd);
  const uint64_t ullRequests =
      (view.m_bCounted ? view.m_ullRequests : filterDevices.ullRequests()) - ullBefore;
  // the bound of bench/run_bench.cpp for one hub at depth 1
  const int nEraseRounded = (nEraseMs + 99) / 100 * 100;  // up to whole 100 ms
  double dBound = 2.0 * nEraseRounded + 500 + 500 + 800 + 500;
  dBound += static_cast<double>(ullRequests) * dTransferUs / 1000.0;
  dBound += 2000.0 + 250.0 + std::max(0.0, nResetMs - 2250.0);
  std::printf(
      "{\"exit\": %d, \"passed\": %u, \"run_ms\": %.0f, \"finish_ms\": %.0f, \"requests\": %llu, "
      "\"bound_ms\": "
      "%.0f, \"ratio\": %.3f}\n",
      nExit, static_cast<unsigned>(list.m_dwPassCount), dRunMs, dMs(view.m_tCounted, tEnd),
      static_cast<unsigned long long>(ullRequests), dBound, dRunMs / dBound);
  return 0;
}
