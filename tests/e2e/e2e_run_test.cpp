// Whole production runs without a window on simulated benches: the run as "/S" makes it,
// in this process (the bench file in MPTOOL_SIM, the program folder a fresh temporary one).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/ProductionRun.h"
#include "host/USBUtility.h"
#include "host/WindowThread.h"
#include "images/ConfigTable.h"
#include "images/FlashImage.h"
#include "log/DebugLog.h"
#include "platform/Clock.h"
#include "platform/sim/SimBench.h"
#include "settings/Ini.h"
#include "support/E2EBench.h"
#include "support/TempDir.h"
#include "ui/HeadlessMainView.h"
#include "ui/MPToolDlg.h"

namespace {

struct HubDef : E2EHub {
  bool bOldFlash = false;  // the flash holds an older image (not erased)
};

HubDef hubAt(const std::string& strName, const std::string& strOn, int nPort) {
  HubDef h;
  static_cast<E2EHub&>(h) = stE2EHub(strName, strOn, nPort);
  return h;
}

class RunBench {
 public:
  std::vector<HubDef> hubs;
  std::vector<std::string> controllers{"xhci0"};
  int nAutoDevNum = -1;  // -1: the number of hubs
  std::string strSNEditType = "1";
  std::string strSerial = "000000000001";
  int nFwLen = 0x5800;
  std::string strFwName = "VLN642_10_bench.bin";  // the firmware written; its name gives the image type
  int nConfigCheck = 1;
  std::optional<std::string> optSettingsText;  // the settings file as given, instead of the usual one
  std::string strFirmwareFile;                 // fw_binary_name, when not strFwName
  std::vector<std::pair<std::string, std::string>> extraFiles;  // further files of the program folder

  std::string strDir() const { return m_tmp.str(); }
  std::string strBench() const { return m_tmp.str() + "/bench.json"; }

  void vWrite() {
    std::vector<E2EHub> defs(hubs.begin(), hubs.end());
    m_tmp.write("bench.json", strE2EBenchJson(controllers, defs));
    for (const HubDef& h : hubs)
      if (h.bOldFlash) m_tmp.write(h.strName + ".flash", std::string(131072, '\x3C'));
    m_tmp.write(strFwName, strE2EFirmware(static_cast<size_t>(nFwLen)));
    for (const auto& [strName, strContent] : extraFiles) m_tmp.write(strName, strContent);
    E2ESettings st;
    st.nAutoDevNum = nAutoDevNum < 0 ? static_cast<int>(hubs.size()) : nAutoDevNum;
    st.strSNEditType = strSNEditType;
    st.strFirmware = strFirmwareFile.empty() ? strFwName : strFirmwareFile;
    st.strSerial = strSerial;
    st.nConfigCheck = nConfigCheck;
    m_tmp.write("vlnhub.ini", optSettingsText ? *optSettingsText : strE2ESettings(st));
  }

  // The run as "/S" (or "/S:" with a serial number) makes it; returns the exit code.
  int nRun(const std::string& strCmdLineSN = "") {
    vWrite();
    setenv("MPTOOL_SIM", strBench().c_str(), 1);
    std::string strOld = std::filesystem::current_path().string();
    std::filesystem::current_path(m_tmp.path());
    CScaledClock clock(0.0005);
    USBUtilityOptions o;
    o.strAppPath = m_tmp.str();
    o.strRunMarkerPath = m_tmp.str() + "/run.mark";
    CUSBUtility util(clock, o);
    Ini ini;
    CHeadlessMainView view;
    CWindowThread wt;
    CMPToolDlg dlg(util, ini, view, wt, clock);
    dlg.m_bShowGUI = 0;
    dlg.m_nCmdLineMode = strCmdLineSN.empty() ? CMDLINE_RUN : CMDLINE_RUN_SN;
    dlg.m_strCmdLineSN = strCmdLineSN;
    m_bSettingsLoaded = ini.vLoadINIFile(m_tmp.str() + "/vlnhub.ini");
    EXPECT_TRUE(m_bSettingsLoaded || optSettingsText);
    if (getenv("E2E_DEBUG")) vDEBUG_SetLevel(3);
    int nExit = nRunProductionWithoutWindow(dlg);
    m_pass = dlg.m_ToolsDevList.m_dwPassCount;
    m_fail = dlg.m_ToolsDevList.m_dwFailCount;
    std::filesystem::current_path(strOld);
    unsetenv("MPTOOL_SIM");
    return nExit;
  }

  std::vector<std::string> vecLogLines() const {
    std::time_t t = std::time(nullptr);
    std::tm tm = *std::localtime(&t);
    std::ifstream in(Ini::strMPResultLogPath(m_tmp.str(), tm));
    std::vector<std::string> lines;
    std::string l;
    while (std::getline(in, l)) {
      if (!l.empty() && l.back() == '\r') l.pop_back();
      if (!l.empty()) lines.push_back(l);
    }
    return lines;  // header first
  }
  std::string strProgramMsg() const { return m_tmp.read("ProgramMSG.txt"); }
  std::string strIni() const { return m_tmp.read("vlnhub.ini"); }
  // The identity each hub reports now that the bench is loaded again from its flash files.
  std::vector<SimHubIdentity> vecIdentities() const {
    std::string err;
    auto b = CSimBench::pLoad(strBench(), err);
    EXPECT_TRUE(b) << err;
    std::vector<SimHubIdentity> v;
    if (b)
      for (int h = 0; h < b->nHubs(); ++h) v.push_back(b->stIdentity(h));
    return v;
  }
  bool bFlashHoldsImage(const std::string& strHub) const {
    std::string err;
    auto b = CSimBench::pLoad(strBench(), err);
    if (!b) return false;
    int h = b->nFindHub(strHub);
    std::string img = m_tmp.read("VLNFW_Temp/TempBinData.bin");
    if (h < 0 || img.empty()) return false;
    auto flash = b->vecFlash(h, 256, img.size());
    return std::equal(flash.begin(), flash.end(), img.begin(),
                      [](uint8_t a, char c) { return a == static_cast<uint8_t>(c); });
  }
  uint32_t m_pass = 0, m_fail = 0;
  bool m_bSettingsLoaded = false;

 private:
  TempDir m_tmp;
};

// A configuration ROM file of type 1 with an identity of its own (not the settings'), and
// the image of a 0x5800-byte firmware behind its table.
std::string strConfigRom(uint8_t ucSignature = 0x4B) {
  ConfigTableValues v;
  v.strSerialNumber = "0000000000C0";
  v.strManufacturer = "ROM Maker";
  v.strProduct = "ROM Hub";
  v.wVID = 0x1D6B;
  v.wPID = 0xABCD;
  v.wPIDU2 = 0xABCE;
  v.wRevision = 0x0A1F;
  v.ucSignature = ucSignature;
  const ConfigTable t = stBuildConfigTable(v);
  const std::string strFw = strE2EFirmware(0x5800);
  const std::vector<uint8_t> img =
      vecBuildFlashImage(std::vector<uint8_t>(strFw.begin(), strFw.end()), 0x4B, false, 0);
  return std::string(t.begin(), t.end()) + std::string(img.begin(), img.end());
}

int nResultLines(const RunBench& r) {
  return static_cast<int>(r.vecLogLines().size()) - 1;
}

std::vector<std::string> vecFields(const std::string& s) {
  std::vector<std::string> v;
  std::stringstream in(s);
  for (std::string f; std::getline(in, f, '\t');) v.push_back(f);
  return v;
}

// The fields of a result-log entry this file looks at.
constexpr size_t F_TARGET = 2, F_PID = 6, F_SERIAL = 10, F_UPDATE = 28, F_RELOAD = 29;

// Every entry of the result log names its hub by its slot, which is the hub's place in the
// walk (the order of r.hubs here). Its identity is the one that hub reports now (from its
// flash), or the one it had before the run (a hub that was not reset, or never came back),
// never another hub's; no two entries and no two configured hubs share a serial number.
void vExpectEntriesNameTheirHubs(const RunBench& r, const std::string& strWhat) {
  auto lines = r.vecLogLines();
  auto ids = r.vecIdentities();
  ASSERT_EQ(ids.size(), r.hubs.size()) << strWhat;
  std::set<std::string> entrySerials, hubSerials;
  for (size_t k = 1; k < lines.size(); ++k) {
    auto f = vecFields(lines[k]);
    ASSERT_GT(f.size(), F_RELOAD) << strWhat;
    const size_t ulSlot = static_cast<size_t>(std::stoi(f[F_TARGET]));
    ASSERT_LT(ulSlot, r.hubs.size()) << strWhat;
    const SimHubIdentity& now = ids[ulSlot];
    char szPID[8];
    snprintf(szPID, sizeof szPID, "%04X", now.usPID);
    const bool bNow = f[F_SERIAL] == now.strSerial && f[F_PID] == szPID;
    const bool bBefore = f[F_SERIAL] == r.hubs[ulSlot].strSerial && f[F_PID] == "55AA";
    EXPECT_TRUE(bNow || bBefore) << strWhat << ": slot " << ulSlot << " logged " << f[F_SERIAL] << "/"
                                 << f[F_PID] << ", the hub reports " << now.strSerial << "/" << szPID;
    EXPECT_TRUE(entrySerials.insert(f[F_SERIAL]).second) << strWhat << ": two entries with " << f[F_SERIAL];
  }
  for (const auto& id : ids) {
    if (!id.bFromConfigBlock) continue;
    EXPECT_TRUE(hubSerials.insert(id.strSerial).second) << strWhat << ": two hubs with " << id.strSerial;
  }
}

// The result fields of the entry for a slot.
std::pair<std::string, std::string> prResults(const RunBench& r, int nSlot) {
  auto lines = r.vecLogLines();
  for (size_t k = 1; k < lines.size(); ++k) {
    auto f = vecFields(lines[k]);
    if (f.size() > F_RELOAD && std::stoi(f[F_TARGET]) == nSlot) return {f[F_UPDATE], f[F_RELOAD]};
  }
  return {};
}

std::vector<HubDef> vecFlat(int n) {
  std::vector<HubDef> v;
  for (int i = 0; i < n; ++i) {
    HubDef h;
    h.strName = "hub" + std::to_string(i + 1);
    h.strSerial = "OLDSN" + std::to_string(i + 1);  // as the walk reads it: upper case
    h.nPort = i % 4 + 1;
    if (i >= 4) h.strOn = "xhci1";
    v.push_back(h);
  }
  return v;
}

}  // namespace

TEST(E2ERun, OneAndFourHubsPassTakeTheNewIdentityAndMoveTheSerialOn) {
  for (int n : {1, 4}) {
    RunBench r;
    r.hubs = vecFlat(n);
    ASSERT_EQ(r.nRun(), 0) << "hubs " << n << "\n" << r.strProgramMsg();
    EXPECT_EQ(r.m_pass, static_cast<uint32_t>(n));
    EXPECT_EQ(r.m_fail, 0u);
    EXPECT_EQ(nResultLines(r), n);
    // Hexadecimal serial numbers counted on by the number of hubs, and saved.
    char sz[32];
    snprintf(sz, sizeof sz, "serial_number=%012X", 1 + n);
    EXPECT_NE(r.strIni().find(sz), std::string::npos) << r.strIni();
    auto ids = r.vecIdentities();
    ASSERT_EQ(ids.size(), static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(ids[i].usPID, 0x5A01);
      EXPECT_EQ(ids[i].strManufacturer, "Bench Maker");
      EXPECT_TRUE(r.bFlashHoldsImage("hub" + std::to_string(i + 1)));
    }
    // Each hub took its own serial number.
    std::set<std::string> serials;
    for (auto& id : ids) serials.insert(id.strSerial);
    EXPECT_EQ(serials.size(), ids.size());
  }
}

TEST(E2ERun, NineHubsRunOnlyTheFirstEight) {
  RunBench r;
  r.controllers = {"xhci0", "xhci1", "xhci2"};
  r.hubs = vecFlat(9);
  r.hubs[8].strOn = "xhci2";
  r.hubs[8].nPort = 1;
  for (auto& h : r.hubs) h.bUsb3 = false;
  ASSERT_EQ(r.nRun(), 0) << r.strProgramMsg();
  EXPECT_EQ(r.m_pass, 8u);
  EXPECT_EQ(nResultLines(r), 8);
  int nNew = 0;
  for (int i = 1; i <= 9; ++i) nNew += r.bFlashHoldsImage("hub" + std::to_string(i));
  EXPECT_EQ(nNew, 8);
  EXPECT_FALSE(r.bFlashHoldsImage("hub9"));
}

TEST(E2ERun, EightUsb3HubsPassFlatAndThreeDeep) {
  {
    RunBench r;
    r.controllers = {"xhci0", "xhci1"};
    r.hubs = vecFlat(8);
    ASSERT_EQ(r.nRun(), 0) << r.strProgramMsg();
    EXPECT_EQ(r.m_pass, 8u);
    EXPECT_EQ(nResultLines(r), 8);
    vExpectEntriesNameTheirHubs(r, "flat");
  }
  // Two on the controller, three behind the first, three behind the first of those; listed
  // in the order the walk meets them.
  RunBench r;
  r.hubs = {hubAt("top1", "xhci0", 1), hubAt("mid1", "top1", 1),  hubAt("leaf1", "mid1", 2),
            hubAt("leaf2", "mid1", 3), hubAt("leaf3", "mid1", 4), hubAt("mid2", "top1", 2),
            hubAt("mid3", "top1", 3),  hubAt("top2", "xhci0", 2)};
  for (size_t i = 0; i < r.hubs.size(); ++i) r.hubs[i].strSerial = "OLDSN" + std::to_string(i + 1);
  ASSERT_EQ(r.nRun(), 0) << r.strProgramMsg();
  EXPECT_EQ(r.m_pass, 8u);
  EXPECT_EQ(nResultLines(r), 8);
  vExpectEntriesNameTheirHubs(r, "three deep");
}

// A hub that never comes back after its reset fails its reload, with or without the
// descriptor check; when it is the first hub, the rescan finds the other one in its slot,
// and still each hub is logged with its own identity and result, and the run's own result
// is the exit code (not the hub count of the rescan).
TEST(E2ERun, AHubThatNeverComesBackFailsAndKeepsItsOwnEntry) {
  for (int nCheck : {1, 0}) {
    for (int nStruck : {0, 1}) {
      const std::string strWhat = "check " + std::to_string(nCheck) + ", hub " + std::to_string(nStruck + 1);
      RunBench r;
      r.nConfigCheck = nCheck;
      r.hubs = vecFlat(2);
      r.hubs[nStruck].jsonFaults = R"([{"kind": "no_return", "request": "0x54"}])"_json;
      EXPECT_EQ(r.nRun(), -1) << strWhat << "\n" << r.strProgramMsg();
      EXPECT_EQ(r.strProgramMsg().find("None of Velnor"), std::string::npos) << strWhat;
      EXPECT_EQ(r.m_pass, 1u) << strWhat;
      EXPECT_EQ(r.m_fail, 1u) << strWhat;
      EXPECT_EQ(nResultLines(r), 2) << strWhat;
      vExpectEntriesNameTheirHubs(r, strWhat);
      EXPECT_EQ(prResults(r, nStruck), std::make_pair(std::string("PASS"), std::string("FAIL"))) << strWhat;
      EXPECT_EQ(prResults(r, 1 - nStruck), std::make_pair(std::string("PASS"), std::string("PASS")))
          << strWhat;
    }
  }
}

// One failed register read anywhere in the scans and the run of one hub: the scan that met
// it looks again, so the run never ends with a refused start or a wrong hub count, and a
// read that failed in a scan costs the hub nothing.
TEST(E2ERun, OneFailedReadDuringAScanNeitherRefusesNorMiscountsTheHub) {
  int nPassed = 0;
  for (int nRead = 1; nRead <= 12; ++nRead) {
    RunBench r;
    r.hubs = vecFlat(1);
    r.hubs[0].jsonFaults =
        nlohmann::json::array({{{"kind", "fail"}, {"request", "0x52"}, {"occurrence", nRead}}});
    const int nExit = r.nRun();
    EXPECT_TRUE(nExit == 0 || nExit == -1) << "read " << nRead << " exit " << nExit << "\n"
                                           << r.strProgramMsg();
    EXPECT_EQ(nResultLines(r), 1) << "read " << nRead;
    nPassed += nExit == 0;
  }
  EXPECT_GE(nPassed, 10);  // only the reads of the run itself may fail the hub
}

TEST(E2ERun, CascadedHubsAllPass) {
  // A chain of three and a sibling: the deepest resets first, then each shallower depth.
  RunBench r;
  r.hubs = {hubAt("top", "xhci0", 1), hubAt("mid", "top", 2), hubAt("leaf", "mid", 3),
            hubAt("side", "xhci0", 2)};
  ASSERT_EQ(r.nRun(), 0) << r.strProgramMsg();
  EXPECT_EQ(r.m_pass, 4u);
  EXPECT_EQ(nResultLines(r), 4);
}

TEST(E2ERun, CommandLineSerialIsUsedAndTheSettingsStayUnsaved) {
  RunBench r;
  r.hubs = vecFlat(2);
  ASSERT_EQ(r.nRun("00000000ABC0"), 0) << r.strProgramMsg();
  EXPECT_NE(r.strIni().find("serial_number=000000000001"), std::string::npos);
  auto ids = r.vecIdentities();
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_EQ(ids[0].strSerial, "00000000ABC0");
}

TEST(E2ERun, WrongHubCountExitsMinus4AndARefusedStartMinus3) {
  {
    RunBench r;
    r.hubs = vecFlat(1);
    r.nAutoDevNum = 2;
    EXPECT_EQ(r.nRun(), -4);
    EXPECT_NE(r.strProgramMsg().find("None of Velnor device was found!!"), std::string::npos);
  }
  {
    // Serial digits that are not hexadecimal: refused once, with its reason, and the end.
    RunBench r;
    r.hubs = vecFlat(1);
    r.strSerial = "00000000XYZ1";
    EXPECT_EQ(r.nRun(), -3);
    EXPECT_NE(r.strProgramMsg().find("SN digits"), std::string::npos);
    EXPECT_EQ(nResultLines(r), -1);  // no run, no log
  }
  {
    // A firmware file too short to hold its type: no table can be built for it, the
    // command line ends with the firmware-type code and no hub is touched.
    RunBench r;
    r.hubs = vecFlat(1);
    r.nFwLen = 0x100;
    EXPECT_EQ(r.nRun(), -13);
    EXPECT_NE(r.strProgramMsg().find("Invalid hub firmware file ["), std::string::npos) << r.strProgramMsg();
    EXPECT_EQ(r.vecIdentities()[0].usPID, 0x55AA);  // untouched
  }
}

// A firmware the hub's firmware area cannot take (shorter than the hub's smallest firmware,
// or a 65,536-byte flash image whose image outgrows the area) is refused at Start with its
// reason: no hub is erased and the serial number stays.
TEST(E2ERun, AnImageOutsideTheFirmwareWindowRefusesTheStartBeforeAnyHub) {
  for (int nLen : {0x300, 0x4FFF}) {
    RunBench r;
    r.hubs = vecFlat(2);
    r.hubs[1].bOldFlash = true;
    r.nFwLen = nLen;
    EXPECT_EQ(r.nRun(), -3) << nLen;
    const std::string strMsg = r.strProgramMsg();
    EXPECT_NE(strMsg.find("cannot be written to the hub: a firmware of " + std::to_string(nLen) +
                          " bytes is outside"),
              std::string::npos)
        << strMsg;
    EXPECT_EQ(r.vecIdentities()[0].usPID, 0x55AA);
    EXPECT_EQ(r.m_pass + r.m_fail, 0u);
    EXPECT_NE(r.strIni().find("serial_number=000000000001"), std::string::npos);
    EXPECT_EQ(nResultLines(r), -1);
    std::string err;
    auto b = CSimBench::pLoad(r.strBench(), err);
    ASSERT_TRUE(b) << err;
    auto flash = b->vecFlash(b->nFindHub("hub2"), 0, 256);  // the old image, not erased
    EXPECT_EQ(std::count(flash.begin(), flash.end(), 0x3C), 256);
  }
}

// A firmware file whose name gives another type than its content makes an image the hub's
// boot code refuses: it is written and read back as it is, but the hub comes back as a blank
// chip, and the descriptor check fails it.
TEST(E2ERun, AnImageTheHubCannotBootFails) {
  RunBench r;
  r.hubs = vecFlat(1);
  r.strFwName = "VLN642_20_bench.bin";
  EXPECT_EQ(r.nRun(), -1) << r.strProgramMsg();
  EXPECT_EQ(r.m_pass, 0u);
  EXPECT_EQ(r.m_fail, 1u);
  EXPECT_TRUE(r.bFlashHoldsImage("hub1"));
  auto ids = r.vecIdentities();
  ASSERT_EQ(ids.size(), 1u);
  EXPECT_FALSE(ids[0].bFromConfigBlock);
  EXPECT_EQ(ids[0].usPID, 0x55AA);
  EXPECT_NE(prResults(r, 0), std::make_pair(std::string("PASS"), std::string("PASS")));
}

// Each fault class of the bench, striking the update, the read-back or the reset of one
// hub: that hub fails, the other passes, every hub is logged, no hang, and a failing hub is
// never shown PASS while its flash differs from the image.
TEST(E2ERun, EveryFaultFailsOnlyItsHub) {
  struct Case {
    const char* pszName;
    nlohmann::json jsonFaults;
  };
  const std::vector<Case> cases = {
      {"fail at config write", R"([{"kind": "fail", "request": "0x51", "occurrence": 3}])"_json},
      {"stall in download", R"([{"kind": "stall", "request": "0x50", "occurrence": 20}])"_json},
      {"timeout in read-back", R"([{"kind": "timeout", "request": "0x55", "occurrence": 30}])"_json},
      {"gone mid-download", R"([{"kind": "gone", "request": "0x50", "occurrence": 100}])"_json},
      {"bits flipped in flash", R"([{"kind": "flip", "request": "0x50", "occurrence": 50, "bits": 3}])"_json},
      {"erase never ends", R"([{"kind": "erase_stuck", "request": "0x57"}])"_json},
      {"erase leaves a range",
       R"([{"kind": "erase_partial", "request": "0x57", "offset": "0x2000", "length": 16}])"_json},
      {"reset without return", R"([{"kind": "no_return", "request": "0x54"}])"_json},
  };
  for (const auto& c : cases) {
    RunBench r;
    r.hubs = vecFlat(2);
    r.hubs[1].jsonFaults = c.jsonFaults;
    r.hubs[1].bOldFlash = true;  // so that an erase that did not happen shows in the flash
    EXPECT_EQ(r.nRun(), -1) << c.pszName << "\n" << r.strProgramMsg();
    EXPECT_EQ(r.m_pass, 1u) << c.pszName;
    EXPECT_EQ(r.m_fail, 1u) << c.pszName;
    auto lines = r.vecLogLines();
    EXPECT_EQ(static_cast<int>(lines.size()) - 1, 2) << c.pszName;
    EXPECT_TRUE(r.bFlashHoldsImage("hub1")) << c.pszName;
    vExpectEntriesNameTheirHubs(r, c.pszName);
    EXPECT_NE(prResults(r, 1), std::make_pair(std::string("PASS"), std::string("PASS"))) << c.pszName;
  }
}

// Every fault class striking every phase of one hub (register read, erase, configuration
// write, download, read-back, reset, the descriptor check after it): no hang, both hubs
// logged, the healthy hub passes, and the struck hub is never counted PASS while its flash
// differs from the image.
TEST(E2ERun, NoFaultInAnyPhaseYieldsPassForAWrongFlash) {
  struct Phase {
    const char* pszRequest;
    int nOccurrence;
  };
  const Phase phases[] = {{"0x52", 1},    {"0x57", 1}, {"0x51", 3}, {"0x50", 100},
                          {"0x55", 2000}, {"0x54", 1}, {"0x06", 1}};
  // Each entry is the hub's whole "faults" array: one fault.
  std::vector<nlohmann::json> faults;
  auto one = [&](nlohmann::json fault) { faults.push_back(nlohmann::json::array({std::move(fault)})); };
  for (const char* pszKind : {"fail", "stall", "timeout", "gone"})
    for (const Phase& p : phases) {
      // The first register read is the scan's: a hub gone there is never found (the hub
      // count rule's case), not a fault of the run.
      if (std::string(pszKind) == "gone" && std::string(p.pszRequest) == "0x52") continue;
      one({{"kind", pszKind}, {"request", p.pszRequest}, {"occurrence", p.nOccurrence}});
    }
  for (const char* pszRequest : {"0x51", "0x50"})
    one({{"kind", "flip"}, {"request", pszRequest}, {"occurrence", 2}, {"bits", 1}});
  one({{"kind", "erase_stuck"}, {"request", "0x57"}, {"occurrence", 2}});
  one({{"kind", "no_return"}, {"request", "0x54"}});
  for (const nlohmann::json& jsonFault : faults) {
    const std::string strFault = jsonFault.dump();
    RunBench r;
    r.hubs = vecFlat(2);
    r.hubs[1].jsonFaults = jsonFault;
    r.hubs[1].bOldFlash = true;
    const int nExit = r.nRun();
    EXPECT_TRUE(nExit == 0 || nExit == -1) << strFault << " exit " << nExit;
    EXPECT_EQ(r.m_pass + r.m_fail, 2u) << strFault;
    EXPECT_GE(r.m_pass, 1u) << strFault;
    EXPECT_EQ(nResultLines(r), 2) << strFault;
    EXPECT_TRUE(r.bFlashHoldsImage("hub1")) << strFault;
    vExpectEntriesNameTheirHubs(r, strFault);
    const auto pass = std::make_pair(std::string("PASS"), std::string("PASS"));
    EXPECT_EQ(prResults(r, 0), pass) << strFault;
    if (r.m_pass == 2) {
      EXPECT_TRUE(r.bFlashHoldsImage("hub2")) << strFault << ": PASS over a wrong flash";
      EXPECT_EQ(nExit, 0) << strFault;
      EXPECT_EQ(prResults(r, 1), pass) << strFault;
    } else {
      EXPECT_EQ(nExit, -1) << strFault;
      EXPECT_NE(prResults(r, 1), pass) << strFault << ": a failed hub logged PASS";
    }
  }
}

// A settings file without a single setting (empty, NUL bytes, UTF-16) refuses the run at
// once with its reason, instead of a misleading hub-count answer; no hub is touched.
TEST(E2ERun, SettingsWithoutAnySettingRefuseTheRun) {
  std::string strUtf16 = "\xff\xfe";
  for (char c : strE2ESettings(E2ESettings{})) strUtf16 += std::string{c, '\0'};
  for (const std::string& strText : {std::string(), std::string(3000, '\0'), strUtf16}) {
    RunBench r;
    r.hubs = vecFlat(2);
    r.optSettingsText = strText;
    EXPECT_EQ(r.nRun(), -3) << strText.size();
    EXPECT_FALSE(r.m_bSettingsLoaded);
    const std::string strMsg = r.strProgramMsg();
    EXPECT_NE(strMsg.find("holds no setting"), std::string::npos) << strMsg;
    EXPECT_NE(strMsg.find("No production run"), std::string::npos) << strMsg;
    EXPECT_EQ(strMsg.find("None of Velnor device was found!!"), std::string::npos) << strMsg;
    EXPECT_EQ(r.vecIdentities()[0].usPID, 0x55AA);  // untouched
    EXPECT_EQ(nResultLines(r), -1);
  }
}

// "/S" and "/S:" with a configuration ROM file as firmware: every hub takes the file's table
// (the command line's serial number replacing the file's) and the file's image, not an image
// left from another firmware; the serial number is not moved on.
TEST(E2ERun, ConfigRomFileGivesEveryHubItsTableAndImage) {
  const std::string strRom = strConfigRom();
  for (const std::string& strCmdSN : {std::string(), std::string("00000000ABC0")}) {
    RunBench r;
    r.hubs = vecFlat(2);
    r.hubs[1].bOldFlash = true;
    r.hubs[1].bUsb3 = false;  // its descriptor check expects the file's PID_U2
    r.strFirmwareFile = "Config_bench.rom";
    r.extraFiles = {{"Config_bench.rom", strRom}, {"VLNFW_Temp/TempBinData.bin", std::string(0x300, 's')}};
    ASSERT_EQ(r.nRun(strCmdSN), 0) << r.strProgramMsg();
    EXPECT_EQ(r.m_pass, 2u);
    EXPECT_EQ(r.strProgramMsg().find("INVALID"), std::string::npos);
    const std::string strImage = strRom.substr(256);
    std::string err;
    auto b = CSimBench::pLoad(r.strBench(), err);
    ASSERT_TRUE(b) << err;
    const auto ids = r.vecIdentities();
    const char* kSerials[2][2] = {{"0000000000C0", "0000000000C1"}, {"00000000ABC0", "00000000ABC1"}};
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(ids[i].usVID, 0x1D6B);
      EXPECT_EQ(ids[i].usPID, 0xABCD);
      EXPECT_EQ(ids[i].usPIDU2, 0xABCE);
      EXPECT_EQ(ids[i].strManufacturer, "ROM Maker");
      EXPECT_EQ(ids[i].strSerial, kSerials[strCmdSN.empty() ? 0 : 1][i]);
      auto flash = b->vecFlash(i, 256, strImage.size());
      EXPECT_TRUE(std::equal(flash.begin(), flash.end(), strImage.begin(),
                             [](uint8_t a, char c) { return a == static_cast<uint8_t>(c); }))
          << "hub " << i;
    }
    EXPECT_NE(r.strIni().find("serial_number=000000000001"), std::string::npos);  // not moved on
  }
}

// A configuration ROM file that cannot be loaded (a signature no loaded file may carry)
// refuses the run with -3 and its reason; the image left from another firmware reaches no hub.
TEST(E2ERun, ConfigRomFileThatCannotBeLoadedTouchesNoHub) {
  RunBench r;
  r.hubs = vecFlat(2);
  r.hubs[0].bOldFlash = true;
  r.strFirmwareFile = "Config_bench.rom";
  const std::string strFw = strE2EFirmware(0x6000);  // a valid image of another firmware
  const std::vector<uint8_t> img =
      vecBuildFlashImage(std::vector<uint8_t>(strFw.begin(), strFw.end()), 0x4B, false, 0);
  const std::string strStale(img.begin(), img.end());
  r.extraFiles = {{"Config_bench.rom", strConfigRom(0xAA)}, {"VLNFW_Temp/TempBinData.bin", strStale}};
  EXPECT_EQ(r.nRun(), -3);
  const std::string strMsg = r.strProgramMsg();
  EXPECT_NE(strMsg.find("File INVALID : ConfigSig !"), std::string::npos) << strMsg;
  EXPECT_NE(strMsg.find("Configuration ROM file ["), std::string::npos) << strMsg;
  EXPECT_EQ(nResultLines(r), -1);
  std::string err;
  auto b = CSimBench::pLoad(r.strBench(), err);
  ASSERT_TRUE(b) << err;
  auto flash = b->vecFlash(0, 0, 0x1000);
  EXPECT_EQ(std::count(flash.begin(), flash.end(), 0x3C), 0x1000);  // never erased
  EXPECT_EQ(r.vecIdentities()[1].usPID, 0x55AA);
}
