// The run's serial numbers and the files it keeps: the next serial number is saved before
// any hub is written, a save that cannot be made refuses the start, and a result log that
// cannot be written fails the run.
#include <gtest/gtest.h>

#include <cerrno>

#include "RunTestRig.h"

using namespace runtest;

namespace {

// Scripted hubs that note what the settings file held when the first hub was written.
class CWatchingDevices : public CFakeDevices {
 public:
  CWatchingDevices(DeviceList& list, const std::string& strAppPath)
      : CFakeDevices(list, strAppPath), m_strIni(strAppPath + "/vlnhub.ini") {}
  std::vector<std::string> iniAtFirstWrite;  // one entry per run
  int nConfigWrites = 0;

  bool bAccessHubConfig(int n, int nOp, uint8_t* p, std::stop_token st) override {
    {
      std::lock_guard<std::mutex> l(m);
      if (nConfigWrites++ == 0) {
        std::ifstream in(m_strIni, std::ios::binary);
        iniAtFirstWrite.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      }
    }
    return CFakeDevices::bAccessHubConfig(n, nOp, p, st);
  }

 private:
  std::string m_strIni;
};

class RunSerialTest : public RunEngineRig {
 protected:
  void SetUp() override {
    RunEngineRig::SetUp();
    ini.m_pINI.ucConfig_Check = 0;  // the scripted hubs report serial numbers of their own
    watch = new CWatchingDevices(list, tmp.str());
    dev.reset(watch);
    ini.m_fnLocalTime = [] {
      std::tm t{};
      t.tm_year = 126;
      t.tm_mon = 11;
      t.tm_mday = 9;
      return t;
    };
  }
  CWatchingDevices* watch = nullptr;
  std::string strMsg() { return tmp.read("ProgramMSG.txt"); }
  // Presses Start in window mode and waits for the run; the Start's result.
  EStartResult eStartAndFinish(CRunEngine& e) {
    EStartResult r = e.OnBnClickedButtonStart();
    vFinish(e);
    return r;
  }
};

}  // namespace

// A station that dies between writing a hub and the end of the run must not hand the same
// serial numbers out again: the next one is on disk before the first hub is written, and a
// run that never finishes has still consumed its own.
TEST_F(RunSerialTest, NextSerialIsSavedBeforeTheFirstHubIsWritten) {
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  vScanHere(e);
  e.screen().strSerialNumber = "0000000000FF";
  ASSERT_EQ(eStartAndFinish(e), EStartResult::Started);
  ASSERT_EQ(watch->iniAtFirstWrite.size(), 1u);
  EXPECT_NE(watch->iniAtFirstWrite[0].find("serial_number=000000000101\r\n"), std::string::npos);
  EXPECT_EQ(e.screen().strSerialNumber, "000000000101");
  // The next run starts after the last hub of this one, in the box and on disk.
  watch->nConfigWrites = 0;
  ASSERT_EQ(eStartAndFinish(e), EStartResult::Started);
  ASSERT_EQ(watch->iniAtFirstWrite.size(), 2u);
  EXPECT_NE(watch->iniAtFirstWrite[1].find("serial_number=000000000103\r\n"), std::string::npos);
  EXPECT_EQ(view.serialBox.back(), "000000000103");
}

// When the next serial number cannot be stored at all, no hub is touched: the window shows
// why and keeps its serial number; a command-line run ends with -3 and the reason.
TEST_F(RunSerialTest, SerialThatCannotBeSavedRefusesTheStartBeforeAnyHub) {
  tmp.write("vlnhub.ini", "serial_number=keep\r\n");
  ini.m_storeFaults.nMakeTempErrno = EACCES;
  ini.m_storeFaults.nInPlaceErrno = EACCES;
  {
    CRunEngine e(*util, ini, list, *dev, view, loop, clock);
    vScanHere(e);
    e.screen().strSerialNumber = "000000000010";
    EXPECT_EQ(e.OnBnClickedButtonStart(), EStartResult::Refused);
    EXPECT_TRUE(view.bBoxContains("could not be saved")) << (view.boxes.empty() ? "" : view.boxes.back());
    EXPECT_EQ(e.screen().strSerialNumber, "000000000010");
    EXPECT_EQ(ini.m_pINI.ucSerial_number, "");
  }
  {
    CRunEngine e(*util, ini, list, *dev, view, loop, clock);
    EXPECT_EQ(nRun(e), EXIT_START_REFUSED);
    EXPECT_NE(strMsg().find("could not be saved"), std::string::npos) << strMsg();
  }
  EXPECT_EQ(watch->nConfigWrites, 0);
  EXPECT_EQ(tmp.read("vlnhub.ini"), "serial_number=keep\r\n");
}

// Hubs that all passed, but a result that cannot be put on record: the run fails, with the
// reason where the operator looks.
TEST_F(RunSerialTest, ResultLogThatCannotBeWrittenFailsTheRun) {
  std::filesystem::create_directories(Ini::strMPResultLogPath(tmp.str(), ini.m_fnLocalTime()));
  {
    CRunEngine e(*util, ini, list, *dev, view, loop, clock);
    vScanHere(e);
    ASSERT_EQ(eStartAndFinish(e), EStartResult::Started);
    EXPECT_EQ(e.ucRunStatus(), 2);
    EXPECT_TRUE(view.bShown(ERunPicture::Fail));
    EXPECT_TRUE(view.bBoxContains("could not be written"));
  }
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  EXPECT_EQ(nRun(e), EXIT_RUN_FAILED);
  EXPECT_NE(strMsg().find("MP result log " + tmp.str() + "/20261209.log could not be written"),
            std::string::npos)
      << strMsg();
}
