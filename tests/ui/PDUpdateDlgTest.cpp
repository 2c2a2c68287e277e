// The PD dialog on a simulated bench: full updates and checks of every controller family and
// of the MCU, what the operator sees per port, the refusals, a bridge that never relinks,
// several bridges at once, and the file choices with their hand-over to the settings.
#include <gtest/gtest.h>

#include <algorithm>

#include "host/USBUtility.h"
#include "platform/sim/SimBench.h"
#include "platform/sim/SimStorageBridge.h"
#include "settings/INISettings.h"
#include "support/LogCapture.h"
#include "support/PDFixtures.h"
#include "support/RecordingView.h"
#include "support/SimBenchJson.h"
#include "support/TempDir.h"
#include "ui/ControlIds.h"
#include "ui/PDUpdateDlg.h"

namespace {

using nlohmann::json;

// hubA's bridge is physical drive 1, hubB's drive 2 (when storageB names a PD controller).
struct PDDialogRig {
  TempDir tmp;
  std::unique_ptr<CSimBench> bench;
  std::unique_ptr<CSimScsiPlatform> scsi;
  RecordingView view;
  std::unique_ptr<CUSBUtility> utility;
  DeviceList list;
  std::unique_ptr<CPDUpdateDlg> dlg;

  explicit PDDialogRig(const json& storageA, const json& storageB = {{"physical_drive", 2}},
                       int nBridges = 1) {
    bench = pLoadSimBench(tmp, jsonBridgeBench(storageA, storageB));
    if (!bench) return;
    std::string err;
    scsi = CSimScsiPlatform::pFromBench(*bench, err);
    EXPECT_NE(scsi, nullptr) << err;
    if (!scsi) return;
    USBUtilityOptions opt;
    opt.strAppPath = tmp.str();
    utility = std::make_unique<CUSBUtility>(bench->clock(), opt);
    utility->vSetMessageView(&view);
    for (int i = 0; i < nBridges; ++i) {
      list.dev[i].ucIndex = static_cast<uint8_t>(i);
      list.dev[i].ucPhysicalDrive = static_cast<uint8_t>(i + 1);
    }
    dlg = std::make_unique<CPDUpdateDlg>(*scsi, bench->clock(), *utility, list, *scsi);
  }
  ~PDDialogRig() {
    if (dlg) dlg->vWindowClosed();
  }
  std::string file(const std::string& strName, const std::string& strContent) {
    return tmp.write(strName, strContent).string();
  }
  // Hands the choices over as the main window does, opens the dialog.
  bool open(int nPD, const std::string& strPD, int nMCU = 0, const std::string& strMCU = "") {
    INISettings s;
    s.ucPDFw_enablel = nPD;
    s.ucMCUFw_enablel = nMCU;
    s.ucPd_binary_name = strPD;
    s.ucMcu_binary_name = strMCU;
    dlg->vFromSettings(s);
    return dlg->OnInitDialog(view);
  }
  int run(int nButton, int nPort = 0) {
    dlg->vOnCommand(nButton);
    dlg->vWaitWorkers();
    return dlg->m_nResult[nPort];
  }
  std::string status(int nPort = 0) const { return view.text(IDC_PD_PORT_STATUS[nPort]); }
  CSimStorageBridge& bridge(const char* pszHub = "hubA") { return *scsi->pBridge(pszHub); }
  bool boxed(const std::string& strText) const {
    auto b = view.boxes();
    return std::any_of(b.begin(), b.end(), [&](const auto& x) { return x.strText == strText; });
  }
};

// The bytes of a .cyacd image's rows as they lie in a controller's flash.
std::vector<uint8_t> vecRowsOf(uint16_t wFirst, size_t nRows, size_t nRowSize, uint8_t ucSeed = 1) {
  std::vector<uint8_t> v;
  for (size_t i = 0; i < nRows; ++i) {
    auto r = pdfix::vecRowData(nRowSize, static_cast<uint8_t>(ucSeed + i));
    v.insert(v.end(), r.begin(), r.end());
  }
  (void)wFirst;
  return v;
}

struct FamilyCase {
  const char* pszName;
  json storage;
  std::string strHeader;  // empty: Richtek
  uint16_t wFirstRow;
  size_t nRowSize;
};

class PDFamilyUpdate : public ::testing::TestWithParam<FamilyCase> {};

TEST_P(PDFamilyUpdate, StartWritesChecksAndPasses) {
  const FamilyCase& c = GetParam();
  json storage = c.storage;
  storage["physical_drive"] = 1;
  storage["relink_ms"] = 1500;
  PDDialogRig rig(storage);
  ASSERT_TRUE(rig.dlg);
  const bool bRichtek = c.strHeader.empty();
  std::string strFile =
      bRichtek ? pdfix::strRichtekFile() : pdfix::strCyacdImage(c.strHeader, c.wFirstRow, 4, c.nRowSize);
  if (bRichtek) strFile[4097] = static_cast<char>(0xAB);  // letters: the file spells them lower case
  const std::string strPath = rig.file(bRichtek ? "pd.bin" : "pd.cyacd", strFile);
  ASSERT_TRUE(rig.open(1, strPath));
  EXPECT_EQ(rig.status(), "Ready");
  LogCapture log;
  EXPECT_EQ(rig.run(IDC_BUTTON_PD_START), 0) << c.pszName;
  EXPECT_EQ(rig.status(), "PASS");
  EXPECT_EQ(rig.view.textColour(IDC_PD_PORT_STATUS[0]), 0x00FF00u);
  EXPECT_EQ(rig.view.progressPos(IDC_PD_PORT_PROGRESS[0]), 100);
  EXPECT_EQ(rig.dlg->m_ucPDDone[0], 1);
  EXPECT_TRUE(rig.boxed("Please power cycling Your [0 ]device!!!"));
  EXPECT_EQ(rig.bridge().uPowerCycles(), 1u);
  // The controller runs the file's version, and the flash holds the file's rows.
  EXPECT_EQ(strcasecmp(rig.view.text(IDC_PD_PORT_VERSION[0]).c_str(), rig.dlg->m_strPDFWFileVersion.c_str()),
            0)
      << rig.view.text(IDC_PD_PORT_VERSION[0]) << " vs " << rig.dlg->m_strPDFWFileVersion;
  const auto pd = rig.bridge().stPD();
  if (bRichtek) {
    EXPECT_TRUE(std::equal(pd.vecFlash.begin(), pd.vecFlash.end(), strFile.begin(),
                           [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); }));
  } else {
    const auto rows = vecRowsOf(c.wFirstRow, 4, c.nRowSize);
    EXPECT_TRUE(std::equal(rows.begin(), rows.end(), pd.vecFlash.begin() + c.wFirstRow * c.nRowSize));
  }
  if (c.wFirstRow == 265) {
    EXPECT_TRUE(log.contains("no read-back, the FW version after the power cycle is the check"));
  }
  // Verify of what was written passes too (a Richtek's read-back goes over the path opened
  // again after its power cycle; a CCG4's check is its version).
  EXPECT_EQ(rig.run(IDC_BUTTON_PD_FW_VERIFY), 0) << c.pszName;
  EXPECT_EQ(rig.status(), "PASS");
  EXPECT_FALSE(log.contains("ERR"));
}

INSTANTIATE_TEST_SUITE_P(
    Families, PDFamilyUpdate,
    ::testing::Values(
        FamilyCase{"richtek", {{"pd", "richtek"}}, "", 0, 0},
        FamilyCase{"ccg2", {{"pd", "ccg2"}}, "140411A40000", 1, 128},
        FamilyCase{"ccg3_mode1", {{"pd", "ccg3"}, {"device_mode", 1}}, "1D0411AD0000", 512, 128},
        FamilyCase{"ccg3_mode2", {{"pd", "ccg3"}, {"device_mode", 2}}, "1D0311AD0000", 48, 128},
        FamilyCase{"ccg4_mode1", {{"pd", "ccg4"}, {"device_mode", 1}}, "1F0111AF0000", 265, 256}),
    [](const auto& info) { return std::string(info.param.pszName); });

TEST(PDDialog, McuWithPdAndMcuAlone) {
  PDDialogRig rig(json{{"pd", "ccg3"}, {"device_mode", 2}, {"mcu", true}, {"physical_drive", 1}});
  ASSERT_TRUE(rig.dlg);
  const std::string strPD = rig.file("pd.cyacd", pdfix::strCyacdImage("1D0311AD0000", 48, 4, 128));
  const std::string strMCU = rig.file("mcu.hex", pdfix::strHexFile(40));
  ASSERT_TRUE(rig.open(1, strPD, 1, strMCU));
  // The port shows the controller's version joined by the MCU's.
  EXPECT_NE(rig.view.text(IDC_PD_PORT_VERSION[0]).find("/FFFF"), std::string::npos);
  LogCapture log;
  EXPECT_EQ(rig.run(IDC_BUTTON_PD_START), 0);
  EXPECT_EQ(rig.status(), "PASS");
  EXPECT_EQ(rig.dlg->m_ucMCUDone[0], 1);
  auto mcu = rig.bridge().stPD().vecMcuFlash;
  for (size_t i = 0; i < 40; ++i) {
    auto rec = pdfix::vecRowData(16, static_cast<uint8_t>(i));
    ASSERT_TRUE(std::equal(rec.begin(), rec.end(), mcu.begin() + static_cast<long>(i * 16))) << i;
  }
  // The MCU alone, its file handed over from the settings.
  PDDialogRig alone(json{{"pd", "ccg3"}, {"device_mode", 2}, {"mcu", true}, {"physical_drive", 1}});
  ASSERT_TRUE(alone.open(0, "", 1, alone.file("mcu.hex", pdfix::strHexFile(3))));
  EXPECT_EQ(alone.run(IDC_BUTTON_PD_START), 0);
  EXPECT_EQ(alone.dlg->m_ucPDDone[0], 0);
  EXPECT_EQ(alone.dlg->m_ucMCUDone[0], 1);
}

TEST(PDDialog, VerifyOfCcg2WritesNothingAndCatchesAStaleFlash) {
  PDDialogRig rig(json{{"pd", "ccg2"}, {"physical_drive", 1}});
  ASSERT_TRUE(rig.dlg);
  const std::string strPD = rig.file("pd.cyacd", pdfix::strCyacdImage("140411A40000", 1, 4, 128));
  ASSERT_TRUE(rig.open(1, strPD));
  LogCapture log;
  EXPECT_EQ(rig.run(IDC_BUTTON_PD_FW_VERIFY), -6);  // the flash never held the file
  EXPECT_EQ(rig.status(), "FAIL");
  EXPECT_TRUE(log.contains("FW content compare Fail"));
  EXPECT_EQ(rig.view.progressColour(IDC_PD_PORT_PROGRESS[0]), 0x1414E8u);
  auto subs = [&] {
    std::vector<int> v;
    for (const auto& c : rig.bridge().vecCommands())
      if (c.vecCdb.size() == 8 && c.vecCdb[0] == 0xEC) v.push_back(c.vecCdb[1]);
    return v;
  };
  const std::vector<int> sent = subs();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), 0x23), 0);
  // Start writes; a Verify afterwards (the flag stays) reads back and passes.
  rig.dlg->m_bVerify = false;
  EXPECT_EQ(rig.run(IDC_BUTTON_PD_START), 0);
  EXPECT_EQ(rig.run(IDC_BUTTON_PD_FW_VERIFY), 0);
  EXPECT_TRUE(log.contains("Cypress FW verification Pass!!"));
}

TEST(PDDialog, FaultsEndAsFailures) {
  // Rows out of order are left out of the write and found by the check.
  {
    PDDialogRig rig(json{{"pd", "ccg3"}, {"device_mode", 2}, {"physical_drive", 1}});
    std::string s = "1D0311AD0000\r\n";
    for (uint16_t r : {48, 50, 49, 51})
      s += pdfix::strCyacdRow(0, r, pdfix::vecRowData(128, static_cast<uint8_t>(r))) + "\r\n";
    ASSERT_TRUE(rig.open(1, rig.file("pd.cyacd", s)));
    EXPECT_EQ(rig.run(IDC_BUTTON_PD_START), -6);
    EXPECT_EQ(rig.status(), "FAIL");
  }
  // A bridge that never comes back after its power cycle: time-out after 40 s of bench time.
  {
    PDDialogRig rig(json{
        {"pd", "ccg3"}, {"device_mode", 2}, {"physical_drive", 1}, {"faults", {{{"kind", "no_relink"}}}}});
    ASSERT_TRUE(rig.open(1, rig.file("pd.cyacd", pdfix::strCyacdImage("1D0311AD0000", 48, 4, 128))));
    const uint64_t ullStart = rig.bench->clock().ullNowMs();
    EXPECT_EQ(rig.run(IDC_BUTTON_PD_START), -9);
    EXPECT_EQ(rig.status(), "Time Out");
    EXPECT_TRUE(rig.boxed("PO[0] Wait relink failed, Timeout"));
    EXPECT_GE(rig.bench->clock().ullNowMs() - ullStart, PD_RELINK_TIMEOUT_MS);
    EXPECT_GE(rig.dlg->m_ucProgress, 85 + PD_RELINK_TIMEOUT_MS / PD_RELINK_POLL_MS);  // one step per poll
  }
  // A .bin on a CCG3: refused before any command reaches the controller.
  {
    PDDialogRig rig(json{{"pd", "ccg3"}, {"device_mode", 1}, {"physical_drive", 1}});
    ASSERT_TRUE(rig.open(1, rig.file("pd.bin", pdfix::strRichtekFile())));
    const auto nBefore = rig.bridge().ullRequestCount();
    rig.dlg->vOnCommand(IDC_BUTTON_PD_START);
    EXPECT_TRUE(rig.boxed("PD File is not suitable PD Chip!!!Please try to load correct PD Chip or File"));
    EXPECT_FALSE(rig.dlg->bWorkersRunning());
    EXPECT_EQ(rig.bridge().ullRequestCount(), nBefore);
  }
  // An image of the other device mode is refused by Verify.
  {
    PDDialogRig rig(json{{"pd", "ccg3"}, {"device_mode", 1}, {"physical_drive", 1}});
    ASSERT_TRUE(rig.open(1, rig.file("pd.cyacd", pdfix::strCyacdImage("1D0311AD0000", 48, 4, 128))));
    rig.dlg->vOnCommand(IDC_BUTTON_PD_FW_VERIFY);
    EXPECT_FALSE(rig.dlg->bWorkersRunning());
    EXPECT_TRUE(
        rig.boxed("PD File is not suitable PD Chip IMAGE!!!\nPlease try to Set correct PD Chip or load "
                  "correct PD File"));
  }
}

TEST(PDDialog, TwoBridgesAtOnce) {
  PDDialogRig rig(json{{"pd", "ccg3"}, {"device_mode", 2}, {"physical_drive", 1}},
                  json{{"pd", "ccg3"}, {"device_mode", 2}, {"physical_drive", 2}}, 2);
  ASSERT_TRUE(rig.open(1, rig.file("pd.cyacd", pdfix::strCyacdImage("1D0311AD0000", 48, 4, 128))));
  EXPECT_EQ(rig.status(1), "Ready");
  rig.dlg->vOnCommand(IDC_BUTTON_PD_START);
  EXPECT_FALSE(rig.dlg->OnBnClickedClose() && rig.dlg->bWorkersRunning());
  rig.dlg->vWaitWorkers();
  for (int p = 0; p < 2; ++p) {
    EXPECT_EQ(rig.dlg->m_nResult[p], 0) << p;
    EXPECT_EQ(rig.status(p), "PASS") << p;
  }
  EXPECT_TRUE(rig.boxed("Please power cycling Your [1 ]device!!!"));
  EXPECT_EQ(rig.bridge("hubB").uPowerCycles(), 1u);
}

TEST(PDDialog, NoBridgeClosesAtOnce) {
  PDDialogRig rig(json{{"physical_drive", 1}}, json{{"physical_drive", 2}}, 0);
  ASSERT_TRUE(rig.dlg);
  EXPECT_FALSE(rig.open(1, ""));
  EXPECT_TRUE(rig.boxed("Can not Found VLN725x Device"));
}

TEST(PDDialog, FileChoicesAndHandOver) {
  PDDialogRig rig(json{{"pd", "ccg3"}, {"device_mode", 2}, {"physical_drive", 1}});
  ASSERT_TRUE(rig.open(1, ""));
  std::vector<std::string> paths;
  for (int i = 0; i < 6; ++i) {
    paths.push_back(
        rig.file("f" + std::to_string(i) + ".cyacd", pdfix::strCyacdImage("1D0311AD0000", 48, 4, 128)));
    rig.view.vQueueFile(paths.back());
    rig.dlg->vOnCommand(IDC_BUTTON_PD_FIRMWARE_FWBROWSE);
  }
  EXPECT_EQ(rig.view.list(IDC_COMBO_PD_FIRMWARE_FWBROWSE),
            (std::vector<std::string>{paths[5], paths[4], paths[3], paths[2], paths[1]}));
  EXPECT_EQ(rig.dlg->engine().m_ucPDFWFileType, PD_FILE_TYPE_CYACD);
  // A Richtek file of the wrong size is refused and changes nothing.
  rig.view.vQueueFile(rig.file("short.bin", pdfix::strRichtekFile(16383)));
  rig.dlg->vOnCommand(IDC_BUTTON_PD_FIRMWARE_FWBROWSE);
  EXPECT_TRUE(rig.boxed("The PD FW file size is uncompatibie!!!"));
  EXPECT_EQ(rig.dlg->m_strPDFWFilePath, paths[5]);
  EXPECT_EQ(rig.dlg->engine().m_ucPDFWFileType, PD_FILE_TYPE_CYACD);
  // Unticking the PD box disables its list and browse button and reaches the settings.
  rig.view.vSetCheck(IDC_CHECK_PD_FWUPG_ENABLE, false);
  rig.dlg->vOnCommand(IDC_CHECK_PD_FWUPG_ENABLE);
  EXPECT_EQ(rig.view.enabled(IDC_COMBO_PD_FIRMWARE_FWBROWSE), 0);
  EXPECT_EQ(rig.view.enabled(IDC_BUTTON_PD_FIRMWARE_FWBROWSE), 0);
  rig.view.vQueueFile(rig.file("m.hex", pdfix::strHexFile(1)));
  rig.dlg->vOnCommand(IDC_BUTTON_MCU_FIRMWARE_FWBROWSE);
  INISettings s;
  s.ucPDFw_enablel = 1;
  rig.dlg->vToSettings(s);
  EXPECT_EQ(s.ucPDFw_enablel, 0);
  EXPECT_EQ(s.ucPd_binary_name, paths[5]);
  EXPECT_EQ(s.ucMcu_binary_name, rig.tmp.str() + "/m.hex");
  EXPECT_EQ(rig.dlg->engine().m_ucMCUFWFileType, MCU_FILE_TYPE_HEX);
}

}  // namespace
