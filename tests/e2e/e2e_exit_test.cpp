// The exit sequence on a simulated bench: the scan keeps the idle target hubs awake; the
// exit gives each its power setting back, tells the operator, and reboots only when the tool
// installs the driver itself (the bench counts the reboot).
#include <gtest/gtest.h>

#include <filesystem>

#include "app/HubAccess.h"
#include "app/PlatformSet.h"
#include "platform/sim/SimDeviceState.h"
#include "settings/Ini.h"
#include "support/E2EBench.h"
#include "support/RecordingView.h"
#include "support/TempDir.h"
#include "ui/MPToolDlg.h"

namespace {
struct ExitBench {
  TempDir tmp;
  std::unique_ptr<CPlatformSet> pPlatform;
  CSimFilterDriverStatus driver;
  std::unique_ptr<CUSBUtility> pUtil;
  Ini ini;
  RecordingView view;
  CWindowThread wt;
  std::unique_ptr<CMPToolDlg> pDlg;
  CRunScreenForm form;
  std::unique_ptr<CHubStack> pHubs;
  CVlntUSBDev* pDev = nullptr;

  bool bStart(int nHubs) {
    std::vector<E2EHub> hubs;
    for (int i = 0; i < nHubs; ++i) {
      E2EHub h;
      h.strName = "hub" + std::to_string(i);
      h.nPort = i + 1;
      hubs.push_back(h);
    }
    tmp.write("bench.json", strE2EBenchJson({"xhci0"}, hubs));
    std::string strError;
    pPlatform = CPlatformSet::pCreateSimulated(tmp.str() + "/bench.json", strError);
    if (!pPlatform) {
      ADD_FAILURE() << strError;
      return false;
    }
    IClock& clock = pPlatform->clock();
    USBUtilityOptions o;
    o.strAppPath = tmp.str();
    o.strRunMarkerPath = tmp.str() + "/run.lock";
    o.rebootCommand = {"false"};  // never used: the bench's driver platform takes the reboot
    pUtil = std::make_unique<CUSBUtility>(clock, o);
    pUtil->vSetFilterDriver(&driver);
    pDlg = std::make_unique<CMPToolDlg>(*pUtil, ini, view, wt, clock);
    pDlg->m_strDriverBase = tmp.str() + "/tmp/";
    pHubs = std::make_unique<CHubStack>(*pPlatform, *pUtil, ini.m_pINI, pDlg->m_ToolsDevList, form,
                                        CVlntUSBDev::EOperatorMessages::StderrOnly);
    pDev = &pHubs->dev;
    pDlg->m_pUSBDev = pDev;
    pDev->Open(&pDlg->m_ToolsDevList, "");
    pDev->vTestHandleFromDriverInfo(&pDlg->m_ToolsDevList);
    return true;
  }
  // The hubs' suspend settings as the bench holds them, by hub entry.
  std::vector<int> settings() {
    std::vector<int> v;
    const DeviceList& dl = pDlg->m_ToolsDevList;
    for (int n = 0; n < dl.m_DriverNum; ++n) {
      int s = -1;
      pPlatform->state().nGetSuspendSetting(dl.drv[n].DriverName, s);
      v.push_back(s);
    }
    return v;
  }
};
}  // namespace

TEST(E2EExit, ExitGivesEveryHubItsPowerSettingBackAndAsksForAReplug) {
  ExitBench b;
  ASSERT_TRUE(b.bStart(2));
  // Two hub entries a hub: its USB 2.0 and its SuperSpeed half.
  ASSERT_EQ(b.pDlg->m_ToolsDevList.m_DriverNum, 4);
  EXPECT_EQ(b.settings(), (std::vector<int>{0, 0, 0, 0}));  // kept awake while the tool runs
  b.tmp.write("tmp/VLN318xFW/FilterDriver/70-vlntufdriver.rules", "# VLNTFilter\n");

  EXPECT_EQ(b.pDlg->vExitSequence(), 0);
  EXPECT_EQ(b.settings(), (std::vector<int>{1, 1, 1, 1}));
  ASSERT_EQ(b.view.boxes().size(), 1u);
  EXPECT_EQ(b.view.boxes()[0].strText,
            "OK! please reboot your computer or replug your hubs to recovery registry setting of hubs");
  EXPECT_EQ(b.view.boxes()[0].strCaption, " ** WARNING ** ");
  EXPECT_EQ(b.view.boxes()[0].uFlags & MB_ICONMASK, MB_ICONWARNING);
  EXPECT_EQ(b.driver.nRebootCount(), 0);
  EXPECT_EQ(b.driver.nRemoveCount(), 0);
  EXPECT_FALSE(std::filesystem::exists(b.tmp.path() / "tmp/VLN318xFW/FilterDriver/70-vlntufdriver.rules"));
}

TEST(E2EExit, SelfInstalledDriverIsRemovedAndTheMachineRebooted) {
  ExitBench b;
  ASSERT_TRUE(b.bStart(1));
  b.pUtil->m_bAutoInstallFilterDriver = true;
  EXPECT_EQ(b.pDlg->vExitSequence(), 0);
  EXPECT_EQ(b.driver.nRemoveCount(), 1);
  EXPECT_EQ(b.driver.nRebootCount(), 1);
  ASSERT_EQ(b.view.boxes().size(), 2u);
  EXPECT_EQ(b.view.boxes()[1].strText, "** Click OK to REBOOT IMMEDIATELY **\r\n");
}

TEST(E2EExit, WithoutHubsTheOperatorIsToldTheRecoveryFailed) {
  ExitBench b;
  ASSERT_TRUE(b.bStart(0));
  EXPECT_EQ(b.pDlg->vExitSequence(), -4);
  ASSERT_EQ(b.view.boxes().size(), 1u);
  EXPECT_EQ(b.view.boxes()[0].strText, "RecoveryPS...");
}

// The walk installs the driver when the tool may do so and it is missing.
TEST(E2EExit, WalkInstallsAMissingDriverWhenAllowed) {
  ExitBench b;
  b.driver.nInstall(false);
  ASSERT_TRUE(b.bStart(1));
  EXPECT_EQ(b.driver.nInstallCount(), 0);  // not allowed: nothing installed
  b.pUtil->m_bAutoInstallFilterDriver = true;
  b.pDev->Open(&b.pDlg->m_ToolsDevList, "");
  EXPECT_EQ(b.driver.nInstallCount(), 1);
  EXPECT_TRUE(b.driver.bIsRegistered());
}
