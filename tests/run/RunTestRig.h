// What the run engine's tests share: scripted hubs, a view that records what the run
// showed, and a fixture with a fresh program folder, settings and a scaled clock.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "host/IMessageView.h"
#include "host/USBUtility.h"
#include "host/WindowThread.h"
#include "images/FlashImage.h"
#include "platform/Clock.h"
#include "run/HeadlessRunView.h"
#include "run/ResultTable.h"
#include "run/RunEngine.h"
#include "settings/Ini.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace runtest {

// Hubs that do what they are told; every reset is recorded with the hub's depth.
class CFakeDevices : public IRunDevices {
 public:
  explicit CFakeDevices(DeviceList& list, std::string strAppPath)
      : m_list(list), m_strAppPath(std::move(strAppPath)) {}
  int nHubs = 2;
  std::vector<int> depths{0, 0};
  int nFailRegisterOf = -1;    // slot whose register read fails
  int nCorruptFlashOf = -1;    // slot whose flash reads back one byte off
  int nBadIdentityOf = -1;     // slot that reports an old product after its reset
  int nNoReturnOf = -1;        // slot whose hub never comes back after its reset
  int nUnidentifiedScans = 0;  // the first scans see a hub entry they cannot identify, and no hub
  std::atomic<int> nScans{0};
  // Called at the end of every scan with its number (1 = the first): a test moves hubs there.
  std::function<void(DeviceList&, int)> fnScan;
  bool bImageFails = false;
  size_t ulFirmwareBytes = 0x5000;        // firmware length of the images the fake builds
  bool bConfigRomFails = false;           // the configuration ROM file is refused
  bool bBlockReset = false;               // resets never return (until stopped)
  std::atomic<int> nHungResets{0};        // resets hanging there now
  bool bBlockConfigWrite = false;         // configuration writes never end (until stopped, then fail)
  std::atomic<int> nHungConfigWrites{0};  // configuration writes hanging there now
  int nSlowUpdateOf = -1;                 // slot whose firmware write takes a while (real time)
  std::vector<uint8_t> fwTypes;           // per slot; 1 when not given
  uint8_t ucFileType = 1;                 // what the firmware check gives for the file
  int nImageBuilds = 0;
  int nConfigRomReads = 0;
  int nConfigRomTables = 0;
  // Set by a test: at each reset, whether every deeper hub of the run had finished.
  const CRunEngine* pEngine = nullptr;
  bool bDeeperUnfinishedAtReset = false;
  std::mutex m;
  std::vector<int> resetOrder;

  int nReadChipRegister(int n, uint8_t& v) override {
    v = 0x11;
    return n == nFailRegisterOf ? -1 : 0;
  }
  bool bAccessHubConfig(int, int nMode, uint8_t*, std::stop_token st) override {
    if (!bBlockConfigWrite || nMode != 1) return true;
    ++nHungConfigWrites;
    while (!st.stop_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    --nHungConfigWrites;
    return false;
  }
  int vUpdateHubFirmware(int n, std::stop_token st) override {
    for (int i = 0; n == nSlowUpdateOf && i < 30 && !st.stop_requested(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 1;
  }
  bool bReadHubSPIROM(int n, uint8_t* p, std::stop_token) override {
    std::copy(m_list.dev[n].ucConfigBlock.begin(), m_list.dev[n].ucConfigBlock.end(), p);
    std::ifstream in(m_strAppPath + "/VLNFW_Temp/TempBinData.bin", std::ios::binary);
    std::vector<char> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::copy(f.begin(), f.end(), p + 256);
    if (n == nCorruptFlashOf) p[256 + 40] ^= 0x01;
    return true;
  }
  int VLN318xReset(int n, std::stop_token st) override {
    if (bBlockReset) {
      ++nHungResets;
      while (!st.stop_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      --nHungResets;
      return -1;
    }
    std::lock_guard<std::mutex> l(m);
    if (pEngine)
      for (int i = 0; i < nHubs && i < MAX_RUN_SLOTS; ++i)
        if (depths[i] > depths[n] && pEngine->childInfo(i).ucThreadState.load() != CHILD_THREAD_FINISH)
          bDeeperUnfinishedAtReset = true;
    resetOrder.push_back(n);
    return 0;
  }
  int nReadHubIdentity(int n, HubIdentity& id) override {
    if (n == nNoReturnOf) return -4;
    id.strVID = "2F7B";
    id.strPID = n == nBadIdentityOf ? "55AA" : "5A01";
    id.usBcdUSB = 0x0320;
    id.strManufacturer = "Maker";
    id.strProduct = "Hub";
    char sz[16];
    snprintf(sz, sizeof sz, "%012X", 1 + n);  // each hub's table got the run's serial plus its index
    id.strSerialNumber = sz;
    return 0;
  }
  bool bScanUSB(DeviceList& list, const INISettings&) override {
    const int nScan = ++nScans;
    list.ucUnidentified = 0;
    if (nScan <= nUnidentifiedScans) {
      for (auto& d : list.dev) d.vFree();
      list.DevNums = 0;
      list.m_DriverNum = 1;
      list.ucUnidentified = 1;
      return true;
    }
    list.DevNums = nHubs;
    list.m_DriverNum = static_cast<uint8_t>(nHubs);
    for (int i = 0; i < nHubs; ++i) {
      list.dev[i].ucIndex = static_cast<uint8_t>(i);
      list.dev[i].m_ucHubDepth = static_cast<uint8_t>(i < static_cast<int>(depths.size()) ? depths[i] : 0);
      list.dev[i].ucFWType = i < static_cast<int>(fwTypes.size()) ? fwTypes[i] : 1;
      list.dev[i].strUSBText = "U3.2_10Gx2";
      list.dev[i].strSerialNumber = "00000000000000000000";
      list.dev[i].m_strHubObjectName = "usb:2-" + std::to_string(i + 1);  // hub i on port i + 1
    }
    if (fnScan) fnScan(list, nScan);
    return true;
  }
  uint8_t ucFirmwareType(const std::string&) override { return ucFileType; }
  bool bSetHubConfigInfo(uint8_t) override {
    for (int i = 0; i < nHubs; ++i) m_list.dev[i].ucConfigBlock.fill(static_cast<uint8_t>(0x40 + i));
    return true;
  }
  bool bCreateTempBinDataFile(uint8_t, const std::string&) override {
    ++nImageBuilds;
    if (bImageFails) return false;
    vWriteImage();
    return true;
  }
  bool bReadConfigFromFile(const std::string&) override {
    ++nConfigRomReads;
    if (bConfigRomFails) return false;
    vWriteImage();
    return true;
  }
  bool bSetHubConfigFromRom() override {
    ++nConfigRomTables;
    for (int i = 0; i < nHubs; ++i) m_list.dev[i].ucConfigBlock.fill(static_cast<uint8_t>(0x60 + i));
    return true;
  }
  // A flash image of ulFirmwareBytes firmware bytes, as the image builder lays it out.
  void vWriteImage() {
    std::vector<uint8_t> fw(ulFirmwareBytes);
    for (size_t i = 0; i < fw.size(); ++i) fw[i] = static_cast<uint8_t>(i * 13);
    const std::vector<uint8_t> img = vecBuildFlashImage(fw, 0x4B, false, 0);
    std::filesystem::create_directories(m_strAppPath + "/VLNFW_Temp");
    std::ofstream out(m_strAppPath + "/VLNFW_Temp/TempBinData.bin", std::ios::binary);
    out.write(reinterpret_cast<const char*>(img.data()), static_cast<std::streamsize>(img.size()));
  }

 private:
  DeviceList& m_list;
  std::string m_strAppPath;
};

// Records what the run showed; message boxes answer from a script (OK when it is empty).
class CRecordingView : public CHeadlessRunView, public IMessageView {
 public:
  std::map<std::pair<int, int>, ResultCell> cells;
  std::vector<std::pair<ERunPicture, bool>> pictures;
  std::vector<uint32_t> barColours;
  std::vector<std::string> serialBox;
  std::vector<std::string> boxes;  // texts of every box, from the engine and the utility
  std::deque<int> answers;
  std::string strPass = "0", strFail = "0", strTotal = "0";

  void vSetCell(int r, int c, const std::string& t, uint32_t b, uint32_t f) override {
    cells[{r, c}] = ResultCell{t, b, f};
  }
  void vShowPicture(ERunPicture p, bool b) override { pictures.emplace_back(p, b); }
  void vSetRunProgressColour(uint32_t rgb) override { barColours.push_back(rgb); }
  void vSetSerialNumberBox(const std::string& s) override { serialBox.push_back(s); }
  void vSetCounters(const std::string& p, const std::string& f, const std::string& t) override {
    strPass = p, strFail = f, strTotal = t;
  }
  int nMessageBox(const std::string& strText, const std::string&, uint32_t) override {
    std::lock_guard<std::mutex> l(m);
    boxes.push_back(strText);
    if (answers.empty()) return IDOK;
    int n = answers.front();
    answers.pop_front();
    return n;
  }
  bool bBoxContains(const std::string& s) {
    std::lock_guard<std::mutex> l(m);
    for (auto& b : boxes)
      if (b.find(s) != std::string::npos) return true;
    return false;
  }
  ResultCell at(int r, int c) const {
    auto it = cells.find({r, c});
    return it == cells.end() ? ResultCell{} : it->second;
  }
  bool bShown(ERunPicture p) const {
    // NOLINTNEXTLINE(modernize-loop-convert): newest first
    for (auto it = pictures.rbegin(); it != pictures.rend(); ++it)
      if (it->first == p) return it->second;
    return false;
  }

 private:
  std::mutex m;
};

class RunEngineRig : public ::testing::Test {
 protected:
  TempDir tmp;
  CScaledClock clock{
      0.01};  // 40 s of tool time is 400 ms: margins that survive the thread checker on a loaded machine
  std::unique_ptr<CUSBUtility> util;
  Ini ini;
  DeviceList list;
  std::unique_ptr<CFakeDevices> dev;
  CWindowThread loop;
  CRecordingView view;
  std::string strOldCwd;
  // What vScreen configures the engine with: a window-less "/S" run unless a test changes it.
  RunEngineConfig cfg;

  void SetUp() override {
    cfg.cmdLine.m_bShowGUI = 0;
    cfg.cmdLine.m_nCmdLineMode = CMDLINE_RUN;
    USBUtilityOptions o;
    o.strAppPath = tmp.str();
    o.strRunMarkerPath = tmp.str() + "/run.mark";
    util = std::make_unique<CUSBUtility>(clock, o);
    util->vSetMessageView(&view);
    dev = std::make_unique<CFakeDevices>(list, tmp.str());
    tmp.write("fw.bin", std::string(0x5000, 'x'));
    INISettings& s = ini.m_pINI;
    s.ucFw_enablel = 1;
    s.ucFw_reload = 1;
    s.ucConfig_Check = 1;
    s.ucSN_EditType = 1;
    s.ucConfig_format = 1;
    s.ucAuto_mp = 1;
    s.ucAuto_mp_DevNum = 2;
    strOldCwd = std::filesystem::current_path();
    std::filesystem::current_path(tmp.path());
  }
  void TearDown() override {
    util->vSetMessageView(nullptr);
    std::filesystem::current_path(strOldCwd);
  }
  // Window mode: the scan runs here, on the window thread, without the auto thread; then
  // the test presses Start itself.
  void vScanHere(CRunEngine& e) {
    vScreen(e);
    RunEngineConfig window = cfg;
    window.cmdLine = CmdLineOptions{};
    EXPECT_TRUE(e.bConfigure(window));
    e.vScanUSBPort({}, true);
  }
  // Runs the window thread until the run that was started has ended.
  void vFinish(CRunEngine& e) {
    for (int i = 0; i < 200000 && e.bRunThreadRunning(); ++i) {
      loop.nRunPending();
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    loop.nRunPending();
  }

  void vScreen(CRunEngine& e) {
    EXPECT_TRUE(e.bConfigure(cfg));
    RunScreen& s = e.screen();
    s.strVID = "2F7B";
    s.strPID = "5A01";
    s.strRevision = "0100";
    s.strSerialNumber = "000000000001";
    s.strManufacturer = "Maker";
    s.strProduct = "Hub";
    s.strFWPath = tmp.str() + "/fw.bin";
  }
  // A whole window-less run: scan, auto mode, Start, the run; returns the exit code.
  int nRun(CRunEngine& e) {
    vScreen(e);
    loop.vPost([&e] { e.TriggerScanThread(); });
    return loop.nRunLoop();
  }
};

}  // namespace runtest
