// Serial numbers and the settings file of "MPTool /S" runs as a production script starts
// them (the built program in its own process, on a simulated bench): every hub of a run
// gets its own serial number, the next one is saved, settings the run cannot carry out
// refuse it before any hub is touched, and a settings file that takes no temporary file is
// still written.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/SimBench.h"
#include "settings/Ini.h"
#include "support/E2EBench.h"
#include "support/E2ESpawn.h"
#include "support/TempDir.h"

namespace {

class CSerialRun {
 public:
  std::vector<E2EHub> hubs;
  E2ESettings settings;
  std::string strExtraIni;  // lines after the usual ones (a later key replaces an earlier)

  explicit CSerialRun(int nHubs) {
    for (int i = 0; i < nHubs; ++i) hubs.push_back(stE2EHub("hub" + std::to_string(i + 1), "xhci0", i + 1));
    settings.nAutoDevNum = nHubs;
    settings.strFirmware = "VLN642_10_serial.bin";
  }

  // Writes the bench, the firmware and the settings file (once).
  void vLayOut() {
    if (m_bLaidOut) return;
    m_tmp.write("bench.json", strE2EBenchJson({"xhci0"}, hubs));
    m_tmp.write(settings.strFirmware, strE2EFirmware());
    m_tmp.write("vlnhub.ini", strE2ESettings(settings) + strExtraIni);
    m_bLaidOut = true;
  }
  // Runs MPTool with the argument; returns the exit code.
  int nRun(const std::string& strArg) {
    vLayOut();
    E2ESpawn sp;
    sp.strBench = m_tmp.str() + "/bench.json";
    sp.strHome = m_tmp.str();
    sp.vecArgs = {strArg};
    return nToolExit(nRunMPTool(sp));
  }

  std::vector<std::string> vecSerials() const {
    std::string err;
    auto pBench = CSimBench::pLoad(m_tmp.str() + "/bench.json", err);
    std::vector<std::string> v;
    if (pBench)
      for (int h = 0; h < pBench->nHubs(); ++h) v.push_back(pBench->stIdentity(h).strSerial);
    return v;
  }
  std::string strIni() const { return m_tmp.read("vlnhub.ini"); }
  std::string strMsg() const { return m_tmp.read("ProgramMSG.txt"); }
  std::string strLogPath() const {
    std::time_t t = std::time(nullptr);
    return Ini::strMPResultLogPath(m_tmp.str(), *std::localtime(&t));
  }
  const TempDir& dir() const { return m_tmp; }

 private:
  TempDir m_tmp;
  bool m_bLaidOut = false;
};

bool bContains(const std::string& s, const std::string& strPart) {
  return s.find(strPart) != std::string::npos;
}

}  // namespace

// A fixed prefix stays, only the rest counts, padding goes after the prefix, and the saved
// value follows the last hub's.
TEST(E2ESerial, HubsOfARunWithAFixedPrefixGetTheirOwnSerials) {
  {
    CSerialRun r(3);
    r.settings.strSNEditType = "2";
    r.settings.strSerial = "SN-00000009";
    r.strExtraIni = "SN_remain_value_enable=1\nSN_remain_value_length=3\n";
    ASSERT_EQ(r.nRun("/S"), 0) << r.strMsg();
    EXPECT_EQ(r.vecSerials(), (std::vector<std::string>{"SN-00000009", "SN-00000010", "SN-00000011"}));
    EXPECT_TRUE(bContains(r.strIni(), "serial_number=SN-00000012\r\n")) << r.strIni();
  }
  {
    CSerialRun r(3);
    r.settings.strSNEditType = "1";
    r.settings.strSerial = "SN-0009";
    r.strExtraIni = "SN_remain_value_enable=1\nSN_remain_value_length=3\n";
    ASSERT_EQ(r.nRun("/S"), 0) << r.strMsg();
    EXPECT_EQ(r.vecSerials(), (std::vector<std::string>{"SN-00009", "SN-0000A", "SN-0000B"}));
    EXPECT_TRUE(bContains(r.strIni(), "serial_number=SN-0000C\r\n")) << r.strIni();
  }
}

// The disk-serial type pads a command-line serial number to 12 characters.
TEST(E2ESerial, DiskSerialTypePadsTheCommandLineSerial) {
  CSerialRun r(1);
  r.settings.strSNEditType = "4";
  ASSERT_EQ(r.nRun("/S:12345678"), 0) << r.strMsg();
  EXPECT_EQ(r.vecSerials(), std::vector<std::string>{"000012345678"});
}

// The barcode dialog needs the window: refused at once, with the reason, no hub touched.
TEST(E2ESerial, BarcodeTypeWithoutAWindowIsRefusedAtOnce) {
  CSerialRun r(2);
  r.settings.strSNEditType = "3";
  EXPECT_EQ(r.nRun("/S"), -3);
  EXPECT_TRUE(bContains(r.strMsg(), "Barcode")) << r.strMsg();
  EXPECT_EQ(r.vecSerials(), (std::vector<std::string>{"", ""}));
  EXPECT_FALSE(std::filesystem::exists(r.strLogPath()));
}

// Texts the load refused are not written empty into the hubs, and the user's file keeps them.
TEST(E2ESerial, RefusedSettingsRefuseTheRunAndStayInTheFile) {
  struct Case {
    const char* pszName;
    std::string strExtra;
    const char* pszKey;
  };
  const Case cases[] = {
      {"long serial", "serial_number=" + std::string(21, '1') + "\n", "serial_number"},
      {"serial not hex", "Check_SerialNumber=1\nserial_number=00000000XYZ1\n", "serial_number"},
      {"long maker", "manufacturer_string=" + std::string(45, 'M') + "\n", "manufacturer_string"},
  };
  for (const Case& c : cases) {
    CSerialRun r(1);
    r.strExtraIni = c.strExtra;
    r.vLayOut();
    const std::string strBefore = r.strIni();
    EXPECT_EQ(r.nRun("/S"), -3) << c.pszName;
    EXPECT_TRUE(bContains(r.strMsg(), std::string("Start refused: ") + c.pszKey)) << c.pszName << r.strMsg();
    EXPECT_EQ(r.strIni(), strBefore) << c.pszName;
    EXPECT_TRUE(bContains(r.strIni(), c.strExtra)) << c.pszName;
    EXPECT_EQ(r.vecSerials(), std::vector<std::string>{""}) << c.pszName;
  }
  // A command-line serial number replaces a refused one: that run goes on.
  CSerialRun r(1);
  r.strExtraIni = "serial_number=" + std::string(21, '1') + "\n";
  EXPECT_EQ(r.nRun("/S:00000000ABC0"), 0) << r.strMsg();
  EXPECT_EQ(r.vecSerials(), std::vector<std::string>{"00000000ABC0"});
}

// A settings file whose folder takes no temporary file beside it (here: the link's target
// has a name too long for one) is rewritten in place: two runs in a row give two serials,
// and the link stays a link.
TEST(E2ESerial, SettingsThatCannotBeReplacedAreRewrittenInPlace) {
  CSerialRun r(1);
  r.vLayOut();
  const std::filesystem::path link = r.dir().path() / "vlnhub.ini";
  const std::filesystem::path target = r.dir().path() / std::string(250, 's');
  std::filesystem::rename(link, target);
  std::filesystem::create_symlink(target.filename(), link);
  ASSERT_EQ(r.nRun("/S"), 0) << r.strMsg();
  EXPECT_EQ(r.vecSerials(), std::vector<std::string>{"000000000001"});
  ASSERT_EQ(r.nRun("/S"), 0) << r.strMsg();
  EXPECT_EQ(r.vecSerials(), std::vector<std::string>{"000000000002"});
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_TRUE(bContains(r.strIni(), "serial_number=000000000003\r\n"));
}
