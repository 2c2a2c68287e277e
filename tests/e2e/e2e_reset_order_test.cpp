// The order of the CPU resets in a whole run on the bench: the run engine and the hub
// operations as the window-less run has them, once as they are and once with the tree's
// depths turned upside down, so that the engine resets the hub above first. Resetting a hub
// takes the hubs below it off the bus until they attach again after it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/PlatformSet.h"
#include "device/VLNTFILTER0.h"
#include "device/VlntUSBDev.h"
#include "host/USBUtility.h"
#include "host/WindowThread.h"
#include "images/ConfigForm.h"
#include "images/HubImages.h"
#include "log/DebugLog.h"
#include "platform/Clock.h"
#include "platform/sim/SimDeviceState.h"
#include "run/HeadlessRunView.h"
#include "run/RunDevices.h"
#include "run/RunEngine.h"
#include "settings/Ini.h"
#include "support/E2EBench.h"
#include "support/TempDir.h"
#include "ui/MPToolDlg.h"

namespace {

// The engine's hub operations, with the depths of the scan turned upside down when asked.
class CDepthsUpsideDown : public IRunDevices {
 public:
  CDepthsUpsideDown(IRunDevices& real, bool bInvert) : m_real(real), m_bInvert(bInvert) {}
  int nReadChipRegister(int n, uint8_t& v) override { return m_real.nReadChipRegister(n, v); }
  bool bAccessHubConfig(int n, int nMode, uint8_t* p, std::stop_token st) override {
    return m_real.bAccessHubConfig(n, nMode, p, st);
  }
  int vUpdateHubFirmware(int n, std::stop_token st) override { return m_real.vUpdateHubFirmware(n, st); }
  bool bReadHubSPIROM(int n, uint8_t* p, std::stop_token st) override {
    return m_real.bReadHubSPIROM(n, p, st);
  }
  int VLN318xReset(int n, std::stop_token st) override { return m_real.VLN318xReset(n, st); }
  int nReadHubIdentity(int n, HubIdentity& id) override { return m_real.nReadHubIdentity(n, id); }
  bool bScanUSB(DeviceList& l, const INISettings& ini) override {
    bool b = m_real.bScanUSB(l, ini);
    if (m_bInvert)
      for (int i = 0; i < l.DevNums && i < MAX_DEV_RECORDS; ++i)
        l.dev[i].m_ucHubDepth = static_cast<uint8_t>(l.m_MaxHubDepth - l.dev[i].m_ucHubDepth);
    return b;
  }
  uint8_t ucFirmwareType(const std::string& s) override { return m_real.ucFirmwareType(s); }
  bool bSetHubConfigInfo(uint8_t t) override { return m_real.bSetHubConfigInfo(t); }
  bool bCreateTempBinDataFile(uint8_t c, const std::string& s) override {
    return m_real.bCreateTempBinDataFile(c, s);
  }
  bool bReadConfigFromFile(const std::string& s) override { return m_real.bReadConfigFromFile(s); }
  bool bSetHubConfigFromRom() override { return m_real.bSetHubConfigFromRom(); }

 private:
  IRunDevices& m_real;
  bool m_bInvert;
};

struct RunOutcome {
  int nExit = 99;
  uint32_t ulPass = 0, ulFail = 0;
  std::vector<std::string> vecLog;  // the result log's entries
};

// A window-less "/S" run of a hub and the hub on its port 1.
RunOutcome stRun(bool bInvertDepths) {
  TempDir tmp;
  E2EHub top = stE2EHub("top", "xhci0", 1), leaf = stE2EHub("leaf", "top", 1);
  top.strSerial = "OLDSN1";
  leaf.strSerial = "OLDSN2";
  top.strProduct = "Old Hub";  // not idle: the scan does not restart it
  leaf.nAttachMs = 30000;      // slow to attach again after its hub: away for a whole reset turn
  tmp.write("bench.json", strE2EBenchJson({"xhci0"}, {top, leaf}));
  tmp.write("VLN642_10_bench.bin", strE2EFirmware());
  E2ESettings st;
  st.nAutoDevNum = 2;
  st.strFirmware = "VLN642_10_bench.bin";
  tmp.write("vlnhub.ini", strE2ESettings(st));

  RunOutcome r;
  // Messages without a window go to the working folder: the run's own.
  struct InFolder {
    std::filesystem::path old = std::filesystem::current_path();
    explicit InFolder(const std::filesystem::path& p) { std::filesystem::current_path(p); }
    ~InFolder() { std::filesystem::current_path(old); }
  } inFolder(tmp.path());
  std::string strError;
  auto pPlatform = CPlatformSet::pCreateSimulated(tmp.str() + "/bench.json", strError);
  EXPECT_TRUE(pPlatform) << strError;
  if (!pPlatform) return r;
  CPlatformSet& platform = *pPlatform;
  IClock& clock = platform.clock();
  USBUtilityOptions o;
  o.strAppPath = tmp.str();
  o.strRunMarkerPath = tmp.str() + "/run.mark";
  CUSBUtility util(clock, o);
  Ini ini;
  EXPECT_TRUE(ini.vLoadINIFile(tmp.str() + "/vlnhub.ini"));
  DeviceList list;
  CVLNTFILTER0 filter(clock);
  CVlntUSBDev dev(platform.filterDevices(), filter, clock);
  CSimFilterDriverStatus driver;
  util.vSetFilterDriver(&driver);
  dev.vSetWalkPlatform(&platform.tree(), &platform.state(), &driver, &util);
  dev.vSetAppPath(util.m_szAppPath);
  dev.vSetDevList(&list);
  CRunScreenForm form;
  CHubImages images(util, ini.m_pINI, list, form);
  images.m_bShowGUI = false;
  CRunDevices real(dev, images, platform.filterDevices(), list);
  CDepthsUpsideDown devices(real, bInvertDepths);
  CWindowThread loop;
  CHeadlessRunView view;
  if (getenv("E2E_DEBUG")) vDEBUG_SetLevel(3);
  {
    CRunEngine engine(util, ini, list, devices, view, loop, clock);
    RunEngineConfig config;
    config.cmdLine.m_bShowGUI = 0;
    config.cmdLine.m_nCmdLineMode = CMDLINE_RUN;
    config.pEvents = &platform.events();
    EXPECT_TRUE(engine.bConfigure(std::move(config)));
    form.vBind(engine.screen());
    form.vWriteConfigTexts(stConfigTextsFromSettings(ini.m_pINI));
    engine.screen().strFWPath = tmp.str() + "/" + ini.m_pINI.ucFw_binary_name;
    engine.vSetMainResultItemTable();
    engine.vRegisterDeviceNotification();
    loop.vPost([&engine] { engine.TriggerScanThread(); });
    r.nExit = loop.nRunLoop();
    platform.events().vStop();
  }
  r.ulPass = list.m_dwPassCount;
  r.ulFail = list.m_dwFailCount;
  std::time_t t = std::time(nullptr);
  std::tm tm = *std::localtime(&t);
  std::ifstream in(Ini::strMPResultLogPath(tmp.str(), tm));
  std::string l;
  for (std::getline(in, l); std::getline(in, l);)
    if (!l.empty()) r.vecLog.push_back(l);
  return r;
}

// The update and reload results of the log entry of a slot.
std::pair<std::string, std::string> prResults(const RunOutcome& r, int nSlot) {
  for (const auto& l : r.vecLog) {
    std::vector<std::string> f;
    std::stringstream in(l);
    for (std::string s; std::getline(in, s, '\t');) f.push_back(s);
    if (f.size() > 29 && std::stoi(f[2]) == nSlot) return {f[28], f[29]};
  }
  return {};
}

TEST(E2EResetOrder, DeepestFirstPassesAndTheHubAboveFirstFailsTheHubBelow) {
  const auto pass = std::make_pair(std::string("PASS"), std::string("PASS"));
  // The engine as it is: the hub below resets first, and both pass although the hub below
  // is still away when the run ends.
  RunOutcome ok = stRun(false);
  EXPECT_EQ(ok.nExit, 0);
  EXPECT_EQ(ok.ulPass, 2u);
  EXPECT_EQ(ok.ulFail, 0u);
  EXPECT_EQ(prResults(ok, 0), pass);
  EXPECT_EQ(prResults(ok, 1), pass);
  // The hub above first: its reset takes the hub below off the bus, whose turn then finds
  // no hub to reset.
  RunOutcome bad = stRun(true);
  EXPECT_EQ(bad.nExit, -1);
  EXPECT_EQ(bad.ulPass, 1u);
  EXPECT_EQ(bad.ulFail, 1u);
  EXPECT_EQ(prResults(bad, 0), pass);
  EXPECT_EQ(prResults(bad, 1), std::make_pair(std::string("PASS"), std::string("FAIL")));
}

}  // namespace
