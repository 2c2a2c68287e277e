// The engine in line mode, against a scripted line: Start takes its serial numbers from the
// line before any hub is touched, is refused when the line has none, and the run's end
// hands the line one row per hub.
#include <gtest/gtest.h>

#include "RunTestRig.h"

using namespace runtest;

namespace {

class CScriptedLine : public IRunLine {
 public:
  std::string strFirst = "0000000000A0";
  std::string strRefusal;  // not empty: no serial numbers
  std::vector<LineSeries> series;
  std::vector<std::string> own;
  std::vector<int> counts;
  std::vector<LineRun> runs;

  bool bReserveSerials(const LineSeries& s, const std::string& strOwnSN, uint8_t ucCount,
                       const LineSerialAfterFn&, std::string& strOut, std::string& strWhy) override {
    series.push_back(s);
    own.push_back(strOwnSN);
    counts.push_back(ucCount);
    if (!strRefusal.empty()) {
      strWhy = strRefusal;
      return false;
    }
    strOut = strFirst;
    return true;
  }
  void vRecordRun(const LineRun& run) override { runs.push_back(run); }
};

// Scripted hubs that count the configuration writes.
class CCountingDevices : public CFakeDevices {
 public:
  using CFakeDevices::CFakeDevices;
  std::atomic<int> nConfigWrites{0};
  bool bAccessHubConfig(int n, int nOp, uint8_t* p, std::stop_token st) override {
    ++nConfigWrites;
    return CFakeDevices::bAccessHubConfig(n, nOp, p, st);
  }
};

class RunLineTest : public RunEngineRig {
 protected:
  void SetUp() override {
    RunEngineRig::SetUp();
    ini.m_pINI.ucConfig_Check = 0;  // the scripted hubs report serial numbers of their own
    counting = new CCountingDevices(list, tmp.str());
    dev.reset(counting);
    cfg.pLine = &line;
  }
  CScriptedLine line;
  CCountingDevices* counting = nullptr;
};

}  // namespace

// The line's first serial number goes into the blocks and the box, the next one after the
// run's hubs is saved; each hub's row carries its slot, port, serial number and steps.
TEST_F(RunLineTest, SerialsComeFromTheLineAndEveryHubIsARow) {
  counting->nCorruptFlashOf = 1;
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  vScanHere(e);
  ASSERT_EQ(e.OnBnClickedButtonStart(), EStartResult::Started);
  vFinish(e);
  ASSERT_EQ(line.counts, std::vector<int>{2});
  EXPECT_EQ(line.own[0], "000000000001");
  EXPECT_EQ(line.series[0].strPrefix, "");
  EXPECT_EQ(line.series[0].nBase, 16);
  EXPECT_EQ(line.series[0].nLength, 12);
  ASSERT_GE(view.serialBox.size(), 2u);
  EXPECT_EQ(view.serialBox.front(), "0000000000A0");
  EXPECT_EQ(view.serialBox.back(), "0000000000A2");
  EXPECT_EQ(ini.m_pINI.ucSerial_number, "0000000000A2");

  ASSERT_EQ(line.runs.size(), 1u);
  const LineRun& run = line.runs[0];
  EXPECT_EQ(run.nExitCode, EXIT_RUN_FAILED);
  EXPECT_EQ(run.strFirmwareFile, tmp.str() + "/fw.bin");
  ASSERT_EQ(run.vecHubs.size(), 2u);
  EXPECT_EQ(run.vecHubs[0].strSerialWritten, "0000000000A0");
  EXPECT_EQ(run.vecHubs[1].strSerialWritten, "0000000000A1");
  EXPECT_EQ(run.vecHubs[1].nSlot, 1);
  EXPECT_EQ(run.vecHubs[1].strPortPath, "usb:2-2");
  EXPECT_TRUE(run.vecHubs[0].bPassed);
  EXPECT_FALSE(run.vecHubs[1].bPassed);
  using Steps = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(run.vecHubs[0].vecSteps, (Steps{{"update", "PASS"}, {"reload", "PASS"}}));
  EXPECT_EQ(run.vecHubs[1].vecSteps[0], (std::pair<std::string, std::string>{"update", "FAIL"}));
}

// No serial numbers from the line: Start is refused before any hub is written, with the
// line's reason in a box (window) or in "ProgramMSG.txt" and -3 (command line).
TEST_F(RunLineTest, NoSerialsFromTheLineRefusesStartBeforeAnyHub) {
  line.strRefusal = "the line's database cannot be reached: no server";
  {
    CRunEngine e(*util, ini, list, *dev, view, loop, clock);
    vScanHere(e);
    EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Refused);
    EXPECT_TRUE(view.bBoxContains("line mode: the line's database cannot be reached: no server"));
    EXPECT_EQ(e.screen().strSerialNumber, "000000000001");
  }
  {
    CRunEngine e(*util, ini, list, *dev, view, loop, clock);
    EXPECT_EQ(nRun(e), EXIT_START_REFUSED);
    EXPECT_NE(tmp.read("ProgramMSG.txt").find("cannot be reached"), std::string::npos);
  }
  EXPECT_EQ(counting->nConfigWrites.load(), 0);
  EXPECT_TRUE(line.runs.empty());
  EXPECT_EQ(ini.m_pINI.ucSerial_number, "");
}

// A command-line serial number is the script's own: nothing is reserved, the row still goes.
TEST_F(RunLineTest, CommandLineSerialReservesNothing) {
  cfg.cmdLine.m_strCmdLineSN = "000000000500";
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  EXPECT_EQ(nRun(e), EXIT_RUN_PASSED);
  EXPECT_TRUE(line.counts.empty());
  ASSERT_EQ(line.runs.size(), 1u);
  EXPECT_EQ(line.runs[0].vecHubs.size(), 2u);
}
