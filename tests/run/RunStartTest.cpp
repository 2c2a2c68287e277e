// Start's pre-checks, the counting, the serial number, the result table and stopping, over
// scripted hubs. Window-mode cases press Start on the test's own window thread after a scan
// made there; command-line cases run the whole scan, auto mode and Start.
#include <gtest/gtest.h>
#include <unistd.h>

#include "RunTestRig.h"

using namespace runtest;

namespace {

class RunStartTest : public RunEngineRig {
 protected:
  // Command-line run of a screen changed by fn; returns the exit code.
  template <class Fn>
  int nRunWith(CRunEngine& e, Fn fn) {
    vScreen(e);
    fn(e.screen());
    loop.vPost([&e] { e.TriggerScanThread(); });
    return loop.nRunLoop();
  }
  std::string strMsg() { return tmp.read("ProgramMSG.txt"); }
  // A command-line run on a window thread of its own, so that a test can run several.
  template <class Fn>
  int nRunOwnLoop(Fn fn) {
    CWindowThread l;
    CRunEngine e(*util, ini, list, *dev, view, l, clock);
    vScreen(e);
    fn(e.screen());
    l.vPost([&e] { e.TriggerScanThread(); });
    return l.nRunLoop();
  }
};

}  // namespace

// ---- Start pre-checks ----

TEST_F(RunStartTest, FormatTextsAreShownForHddSerialsAndEndACommandLineRun) {
  ini.m_pINI.ucSN_EditType = 4;
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  EXPECT_EQ(nRunWith(e,
                     [](RunScreen& s) {
                       s.strVID = "2F7";
                       s.strPID = "55AAA";
                       s.strRevision = "";
                     }),
            EXIT_START_REFUSED);
  EXPECT_NE(strMsg().find(
                "VID Format not valid \r\nPID Format not valid \r\nDevice Revision Format not valid \r\n"),
            std::string::npos)
      << strMsg();
  EXPECT_EQ(dev->nImageBuilds, 0);
  EXPECT_TRUE(dev->resetOrder.empty());
}

TEST_F(RunStartTest, FormatTextsRefuseOtherSerialTypesWithoutABox) {
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  vScanHere(e);
  e.screen().strPID = "55A";
  LogCapture log;
  EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Refused);
  EXPECT_FALSE(view.bBoxContains("PID Format not valid"));
  EXPECT_TRUE(log.contains("Pre-Check Fail"));
  EXPECT_FALSE(e.bRunThreadExists());
}

TEST_F(RunStartTest, FixedSerialLengthEmptiesTheBoxOrEndsTheCommandLineRun) {
  ini.m_pINI.uiSN_fix_length = 12;
  {
    CRunEngine e(*util, ini, list, *dev, view, loop, clock);
    vScanHere(e);
    e.screen().strSerialNumber = "12345";
    EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Refused);
    EXPECT_TRUE(view.bBoxContains("input SN should have 12 digits"));
    ASSERT_FALSE(view.serialBox.empty());
    EXPECT_EQ(view.serialBox.back(), "");
    EXPECT_EQ(e.screen().strSerialNumber, "");
    EXPECT_FALSE(e.bRunThreadExists());
  }
  CWindowThread l2;
  CRunEngine e(*util, ini, list, *dev, view, l2, clock);
  vScreen(e);
  e.screen().strSerialNumber = "1234567890123";
  l2.vPost([&e] { e.TriggerScanThread(); });
  EXPECT_EQ(l2.nRunLoop(), EXIT_START_REFUSED);
  EXPECT_NE(strMsg().find("input SN should have 12 digits"), std::string::npos);
}

TEST_F(RunStartTest, SerialDigitsByTypeAndKeptPrefix) {
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  vScanHere(e);
  e.screen().strSerialNumber = "00000000XYZ1";
  EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Refused);
  EXPECT_TRUE(view.bBoxContains("SN digits [00000000XYZ1] should be all heximal"));
  ini.m_pINI.ucSN_EditType = 2;
  e.screen().strSerialNumber = "00000000000A";
  EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Refused);
  EXPECT_TRUE(view.bBoxContains("SN digits [00000000000A] should be all decimal"));
  // A kept prefix is not checked.
  ini.m_pINI.ucConfig_Check = 0;  // the scripted hubs report other serial numbers
  ini.m_pINI.uiSN_remain_value_enable = 1;
  ini.m_pINI.uiSN_remain_value_length = 4;
  e.screen().strSerialNumber = "AB-C00000001";
  EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Started);
  vFinish(e);
  EXPECT_EQ(list.m_dwPassCount, 2u);
}

TEST_F(RunStartTest, NoCountedTestItemIsRefusedWithItsLogEntries) {
  ini.m_pINI.ucFw_enablel = 0;
  ini.m_pINI.ucFw_reload = 0;
  for (uint8_t ucConfigCheck : {0, 1}) {  // the descriptor check alone is not counted
    ini.m_pINI.ucConfig_Check = ucConfigCheck;
    CRunEngine e(*util, ini, list, *dev, view, loop, clock);
    vScanHere(e);
    LogCapture log;
    EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Refused);
    EXPECT_TRUE(
        log.contains("OnBnClickedButtonStart: Pre-Check Fail , ucTestItemCount[0] , m_bUpdateFW[0]="));
    EXPECT_TRUE(log.contains("No Thread [0/2] To Run"));
    EXPECT_FALSE(e.bRunThreadExists());
  }
}

TEST_F(RunStartTest, FirmwareTypeMismatchCancelRefusesOkGoesOn) {
  dev->fwTypes = {1, 2};
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  vScanHere(e);
  LogCapture log;
  view.answers = {IDCANCEL};
  EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Refused);
  const std::string strText =
      "!! MISMATCH !!\nFWfile[" + e.screen().strFWPath + "], bFwType=1.\nBut Dev[1] is[2]";
  EXPECT_TRUE(view.bBoxContains(strText));
  EXPECT_TRUE(log.contains(strText));
  EXPECT_EQ(dev->nImageBuilds, 0);
  view.answers = {IDOK};
  EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Started);
  vFinish(e);
  EXPECT_EQ(list.m_dwTotalCount, 2u);
}

// A configuration ROM file as firmware: Start loads it (its table for every hub, its own
// image) instead of building an image from it, and the serial number is not moved on.
TEST_F(RunStartTest, ConfigRomFileGivesEveryHubItsTableAndImage) {
  tmp.write("Config_fw.rom", std::string(0x5000, 'x'));
  std::filesystem::create_directories(tmp.path() / "VLNFW_Temp");
  tmp.write("VLNFW_Temp/TempBinData.bin", std::string(0x300, 's'));  // left from another firmware
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  vScanHere(e);
  e.screen().strFWPath = tmp.str() + "/Config_fw.rom";
  ini.m_pINI.ucSerial_number = e.screen().strSerialNumber;
  EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Started);
  vFinish(e);
  EXPECT_EQ(dev->nConfigRomReads, 1);
  EXPECT_EQ(dev->nConfigRomTables, 1);
  EXPECT_EQ(dev->nImageBuilds, 0);
  EXPECT_EQ(list.dev[1].ucConfigBlock[0], 0x61);  // the ROM's tables, not the window's
  EXPECT_EQ(tmp.read("VLNFW_Temp/TempBinData.bin").size(), 0x5008u);
  EXPECT_EQ(list.m_dwPassCount, 2u);
  EXPECT_EQ(e.screen().strSerialNumber, "000000000001");
  EXPECT_EQ(ini.m_pINI.ucSerial_number, "000000000001");
  EXPECT_EQ(list.m_strFWName, "fw.rom");
}

// A configuration ROM file that cannot be loaded refuses the Start: in the window without
// touching a hub, on the command line with -3 and the reason, never with a stale image.
TEST_F(RunStartTest, ConfigRomFileThatCannotBeLoadedRefusesTheStart) {
  tmp.write("Config_fw.rom", std::string(0x5000, 'x'));
  dev->bConfigRomFails = true;
  {
    CRunEngine e(*util, ini, list, *dev, view, loop, clock);
    vScanHere(e);
    e.screen().strFWPath = tmp.str() + "/Config_fw.rom";
    EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Refused);
    EXPECT_FALSE(e.bRunThreadExists());
  }
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  EXPECT_EQ(nRunWith(e, [this](RunScreen& s) { s.strFWPath = tmp.str() + "/Config_fw.rom"; }),
            EXIT_START_REFUSED);
  EXPECT_NE(strMsg().find("Configuration ROM file [" + tmp.str() + "/Config_fw.rom] could not be loaded"),
            std::string::npos)
      << strMsg();
  EXPECT_EQ(dev->nConfigRomReads, 2);
  EXPECT_EQ(dev->nConfigRomTables, 0);
  EXPECT_EQ(dev->nImageBuilds, 0);
  EXPECT_TRUE(dev->resetOrder.empty());
}

// An image whose firmware the hub cannot take is refused at Start, before any hub: a
// 65,536-byte flash image (its image outgrows the area) and one below the hub's smallest
// firmware, built from a firmware file or taken from a configuration ROM file.
TEST_F(RunStartTest, ImageOutsideTheFirmwareWindowIsRefusedBeforeAnyHub) {
  tmp.write("Config_fw.rom", std::string(0x5000, 'x'));
  struct Case {
    size_t ulFirmware;
    const char* pszFile;
    const char* pszWhy;
  };
  for (Case c :
       {Case{65536, "fw.bin",
             "the image of 65544 bytes is larger than the hub's firmware area of 65280 bytes"},
        Case{0x300, "fw.bin", "a firmware of 768 bytes is outside the 20480 to 65272 bytes the hub takes"},
        Case{0x300, "Config_fw.rom", "a firmware of 768 bytes is outside"}}) {
    dev->ulFirmwareBytes = c.ulFirmware;
    const std::string strFW = tmp.str() + "/" + c.pszFile;
    EXPECT_EQ(nRunOwnLoop([&](RunScreen& s) { s.strFWPath = strFW; }), EXIT_START_REFUSED) << c.ulFirmware;
    EXPECT_NE(strMsg().find("Flash image of [" + strFW + "] cannot be written to the hub: " + c.pszWhy),
              std::string::npos)
        << strMsg();
    EXPECT_TRUE(dev->resetOrder.empty());
    EXPECT_EQ(list.m_dwTotalCount, 0u);
  }
  // The window's refusal says the same in a box.
  dev->ulFirmwareBytes = 0x300;
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  vScanHere(e);
  EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Refused);
  EXPECT_TRUE(view.bBoxContains("cannot be written to the hub: a firmware of 768 bytes"));
  EXPECT_FALSE(e.bRunThreadExists());
}

// A firmware file outside types 0 to 3 (or of a size the check refuses) ends a
// command-line run with the firmware-type code, before any table or image is made.
TEST_F(RunStartTest, InvalidFirmwareTypeEndsTheCommandLineWithItsCode) {
  for (uint8_t ucType : {0xFF, 0xF2, 0xF6}) {
    dev->ucFileType = ucType;
    EXPECT_EQ(nRunOwnLoop([](RunScreen&) {}), -13);
    EXPECT_NE(strMsg().find("Invalid hub firmware file [" + tmp.str() + "/fw.bin]"), std::string::npos)
        << strMsg();
    EXPECT_EQ(dev->nImageBuilds, 0);
    EXPECT_TRUE(dev->resetOrder.empty());
  }
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  vScanHere(e);
  EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Refused);
  EXPECT_TRUE(view.bBoxContains("Invalid hub firmware file ["));
}

TEST_F(RunStartTest, NineHubsRunTheFirstEight) {
  dev->nHubs = 9;
  dev->depths.assign(9, 0);
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  vScanHere(e);
  EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Started);
  vFinish(e);
  EXPECT_EQ(dev->resetOrder.size(), 8u);
  EXPECT_EQ(std::count(dev->resetOrder.begin(), dev->resetOrder.end(), 8), 0);
  EXPECT_EQ(list.m_dwTotalCount, 8u);
  EXPECT_EQ(e.childInfo(8).ucThreadState.load(), CHILD_THREAD_IDLE);
  // Hexadecimal serial counted on by the eight that ran.
  EXPECT_EQ(ini.m_pINI.ucSerial_number, "000000000009");
}

// ---- counting, pictures, bar colours, speed words ----

TEST_F(RunStartTest, OneFailingHubOfTwoCountsOnFromTheCountersAndShowsFail) {
  dev->nCorruptFlashOf = 1;
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  vScanHere(e);
  list.m_dwPassCount = 5, list.m_dwFailCount = 3, list.m_dwTotalCount = 8;
  EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Started);
  vFinish(e);
  EXPECT_EQ(view.strPass, "6");
  EXPECT_EQ(view.strFail, "4");
  EXPECT_EQ(view.strTotal, "10");
  EXPECT_EQ(e.ucRunStatus(), 2);
  EXPECT_TRUE(view.bShown(ERunPicture::Fail));
  EXPECT_FALSE(view.bShown(ERunPicture::Pass));
  EXPECT_EQ(view.barColours.back(), RUN_RGB_RED);
  EXPECT_EQ(view.at(1, COL_UPDATE).strText, "FAIL");
  EXPECT_EQ(view.at(0, COL_UPDATE).strText, "PASS");
  EXPECT_EQ(view.at(0, COL_RELINK).rgbBack, RUN_RGB_GREEN);
}

TEST_F(RunStartTest, AFormatItemFailsEveryHubSinceNothingDoesIt) {
  ini.m_pINI.ucFormat_enable = 1;
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  vScanHere(e);
  EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Started);
  vFinish(e);
  EXPECT_EQ(list.m_dwFailCount, 2u);
  EXPECT_EQ(list.m_dwPassCount, 0u);
  EXPECT_EQ(list.dev[0].results.ucUpdateResult, 1);  // the hubs themselves were updated
}

TEST_F(RunStartTest, SpeedWordsOfTheBarAndTheStatusCheckAreTheSharedOnes) {
  ini.m_pINI.ucCheck_USBStatus_enable = 1;
  struct Case {
    const char* pszText;
    const char* pszSelection;
    uint32_t rgbBar;
    uint8_t ucStatus;
  };
  // Two lanes at 5 Gbit/s are SuperSpeed Plus.
  for (Case c : {Case{"U3.2_5Gx2", "USB 3.1", RUN_RGB_BLUE, 1}, Case{"U3.2_5Gx2", "USB 3.0", RUN_RGB_BLUE, 0},
                 Case{"U3.2_5Gx1", "USB 3.0", RUN_RGB_BLUE, 1}, Case{"U2.1", "USB 2.0", RUN_RGB_ORANGE, 1},
                 Case{"U3.2_Unknown", "USB 3.0", RUN_RGB_ORANGE, 0}}) {
    view.barColours.clear();
    CRunEngine e(*util, ini, list, *dev, view, loop, clock);
    vScanHere(e);
    for (int i = 0; i < 2; ++i) list.dev[i].strUSBText = c.pszText;
    e.screen().strUSBStatus = c.pszSelection;
    EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Started);
    vFinish(e);
    ASSERT_FALSE(view.barColours.empty());
    EXPECT_EQ(view.barColours.front(), c.rgbBar) << c.pszText;
    EXPECT_EQ(list.dev[0].results.ucUSBStatusResult, c.ucStatus) << c.pszText << " " << c.pszSelection;
    EXPECT_EQ(view.at(0, COL_STATUS).strText, c.ucStatus ? "PASS" : "FAIL");
  }
}

// ---- serial number ----

TEST_F(RunStartTest, HexSerialMovesOnByTheHubsAndIsSaved) {
  ini.m_pINI.ucConfig_Check = 0;  // the scripted hubs report other serial numbers
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  vScanHere(e);
  e.screen().strSerialNumber = "0000000000FF";
  EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Started);
  vFinish(e);
  EXPECT_EQ(e.screen().strSerialNumber, "000000000101");
  EXPECT_EQ(view.serialBox.back(), "000000000101");
  EXPECT_NE(tmp.read("vlnhub.ini").find("serial_number=000000000101"), std::string::npos);
}

TEST_F(RunStartTest, CommandLineSerialIsNotSaved) {
  ini.m_pINI.ucConfig_Check = 0;
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  cfg.cmdLine.m_strCmdLineSN = "0000000000F0";
  EXPECT_EQ(nRunWith(e, [](RunScreen& s) { s.strSerialNumber = "0000000000F0"; }), EXIT_RUN_PASSED);
  EXPECT_EQ(tmp.read("vlnhub.ini").find("serial_number="), std::string::npos);
}

// ---- the run mark ----

TEST_F(RunStartTest, StartMeetingAnotherCopysRunMarkRefusesBeforeAnyHubIsTouched) {
  // Another copy's start-up holds the mark just as this copy's run starts.
  CRunMarker probe(tmp.str() + "/run.mark");
  ASSERT_TRUE(probe.bAcquire(clock));
  {
    CRunEngine e(*util, ini, list, *dev, view, loop, clock);
    EXPECT_EQ(nRunWith(e, [](RunScreen&) {}), EXIT_START_REFUSED);
  }
  EXPECT_NE(strMsg().find("Production run refused: another copy of MPTool (process " +
                          std::to_string(getpid()) + ") holds the run mark [" + tmp.str() + "/run.mark]"),
            std::string::npos)
      << strMsg();
  EXPECT_EQ(dev->nImageBuilds, 0);
  EXPECT_TRUE(dev->resetOrder.empty());
  EXPECT_FALSE(util->bProductionRunHeld());
  // window mode: a box says it, and a later Start runs once the mark is free
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  vScanHere(e);
  EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Refused);
  EXPECT_TRUE(view.bBoxContains("Production run refused"));
  EXPECT_FALSE(e.bRunThreadExists());
  probe.vRelease();
  EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Started);
  EXPECT_FALSE(probe.bAcquire(clock));  // the run holds it
  vFinish(e);
  EXPECT_FALSE(util->bProductionRunHeld());
  EXPECT_TRUE(probe.bAcquire(clock));
}

TEST_F(RunStartTest, WithoutAWindowTheRunMarkStaysUntilTheProcessHasDone) {
  ini.m_pINI.ucConfig_Check = 0;
  {
    CRunEngine e(*util, ini, list, *dev, view, loop, clock);
    EXPECT_EQ(nRunWith(e, [](RunScreen&) {}), EXIT_RUN_PASSED);
  }  // every thread of the run has ended
  CRunMarker other(tmp.str() + "/run.mark");
  EXPECT_TRUE(util->bProductionRunHeld());
  EXPECT_FALSE(other.bAcquire(clock));
  util.reset();  // the process ends
  EXPECT_FALSE(std::filesystem::exists(tmp.str() + "/run.mark"));
  EXPECT_TRUE(other.bAcquire(clock));
  USBUtilityOptions o;
  o.strAppPath = tmp.str();
  o.strRunMarkerPath = tmp.str() + "/other.mark";
  util = std::make_unique<CUSBUtility>(clock, o);  // for the fixture's tear-down
}

// ---- result table ----

TEST(ResultTableCells, CodesClearingIdentityAndCounters) {
  uint32_t b, t;
  vCellColours("PASS", CELL_PASS_OR_RED, b, t);
  EXPECT_EQ(b, RUN_RGB_GREEN);
  vCellColours("fail", CELL_PLAIN, b, t);
  EXPECT_EQ(b, RUN_RGB_RED);
  EXPECT_EQ(t, RUN_RGB_WHITE);
  vCellColours("U3.2", CELL_BLUE, b, t);
  EXPECT_EQ(b, RUN_RGB_BLUE);
  vCellColours("other", CELL_PLAIN, b, t);
  EXPECT_EQ(b, RUN_RGB_WHITE);
  EXPECT_EQ(t, RUN_RGB_BLACK);

  CRecordingView v;
  CResultTable table(v);
  DeviceList list;
  INISettings ini;
  list.dev[0].ucIndex = 0;
  list.dev[0].strUSBText = "U3.2_10Gx1";
  list.dev[0].ucCcOrientation = 0xFF;
  list.dev[1].ucIndex = 1;
  list.dev[1].strUSBText = "U2.1";
  list.dev[1].ucCcOrientation = 2;
  list.DevNums = 2;
  table.vUpdateMainResultItemTable(0, COL_UPDATE, "PASS", CELL_PLAIN);
  table.vUpdateMainResultSubItemTable(true, list, ini);
  EXPECT_EQ(table.cell(0, COL_CC).strText, "X");
  EXPECT_EQ(table.cell(1, COL_CC).strText, "2");
  EXPECT_EQ(table.cell(0, COL_STATUS).rgbBack, RUN_RGB_BLUE);
  EXPECT_EQ(table.cell(1, COL_STATUS).rgbBack, RUN_RGB_ORANGE);
  EXPECT_EQ(table.cell(0, COL_UPDATE).strText, "");  // the clearing fill cleared the status columns
  EXPECT_EQ(table.cell(0, COL_UPDATE).rgbBack, RUN_RGB_WHITE);
  EXPECT_EQ(v.at(1, COL_CC).strText, "2");  // every change reaches the view
  list.m_dwPassCount = 7;
  table.OnBnClickedButtonClearcount(list);
  EXPECT_EQ(list.m_dwPassCount, 0u);
  EXPECT_EQ(v.strPass, "0");
  EXPECT_EQ(v.strTotal, "0");
}

// ---- depth order and stopping ----

TEST_F(RunStartTest, ThreeLevelCascadeResetsParentsOnlyAfterTheirChildrenFinished) {
  dev->nHubs = 5;
  dev->depths = {0, 1, 2, 1, 0};
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  dev->pEngine = &e;
  vScanHere(e);
  EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Started);
  vFinish(e);
  EXPECT_EQ(dev->resetOrder.size(), 5u);
  EXPECT_EQ(dev->resetOrder.front(), 2);
  EXPECT_FALSE(dev->bDeeperUnfinishedAtReset);
  EXPECT_EQ(list.m_dwPassCount, 5u);
}

TEST_F(RunStartTest, StopWhileAHubWaitsForItsTurnEndsEveryThreadAndFreesTheLock) {
  dev->depths = {0, 1};
  dev->bBlockReset = true;  // the deeper hub's reset hangs: the other waits for its turn
  dev->nSlowUpdateOf = 1;   // and is ready before the deeper hub has even written its flash
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  cfg.timings.uResetReadyTimeoutMs = 100000000;  // only the stop ends the wait
  vScanHere(e);
  EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Started);
  // The stop comes once both are where the test wants them: the upper hub waiting for its
  // turn, the deeper one inside its reset (so its update is written).
  for (int i = 0; i < 200000 && !(e.childInfo(0).ucThreadState.load() == CHILD_THREAD_RST_READY &&
                                  dev->nHungResets.load() == 1);
       ++i) {
    loop.nRunPending();
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  ASSERT_EQ(e.childInfo(0).ucThreadState.load(), CHILD_THREAD_RST_READY);
  ASSERT_EQ(dev->nHungResets.load(), 1);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_TRUE(e.bDeleteAllThread());
  // Ended at their next wait, not at a time-out.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  EXPECT_FALSE(e.bRunThreadRunning());
  EXPECT_EQ(e.childInfo(0).ucThreadState.load(), CHILD_THREAD_FINISH);
  EXPECT_EQ(e.childInfo(1).ucThreadState.load(), CHILD_THREAD_FINISH);
  EXPECT_EQ(list.dev[0].results.ucUpdateResult, 1);
  EXPECT_EQ(list.dev[1].results.ucUpdateResult, 1);
  EXPECT_EQ(list.dev[0].results.ucRelinkResult, 0);
  EXPECT_TRUE(util->m_ReloadFWCriticalSection.try_lock());
  util->m_ReloadFWCriticalSection.unlock();
}
