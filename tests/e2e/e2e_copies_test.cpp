// Copies of the built MPTool side by side: which ones serve one program folder (and so end
// one another at start-up), and what a copy that may not open a hub tells the operator.
// Every copy waits for hubs that never come (or that it may not open) until the test ends it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "support/E2EBench.h"
#include "support/E2ESpawn.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

std::string strReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// One running copy: "MPTool /S" on a bench, with its own working folder and MPTOOL_HOME;
// its standard error (the diagnostic log) goes to a file.
class CCopy {
 public:
  CCopy(const std::string& strBench, const std::string& strHome, const fs::path& cwd, const fs::path& errFile)
      : m_errFile(errFile) {
    E2ESpawn sp;
    sp.strBench = strBench;
    sp.strHome = strHome;
    sp.strCwd = cwd.string();
    sp.strErr = errFile.string();
    m_pid = pidStartMPTool(sp);
  }
  ~CCopy() {
    if (m_pid > 0 && !m_bReaped) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
  }
  // Waits (real time, bounded) until the diagnostic log holds strText.
  bool bLogged(const std::string& strText, int nMaxMs = 10000) const {
    for (int i = 0; i < nMaxMs / 5; ++i) {
      if (strReadFile(m_errFile).find(strText) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  // Past the single-instance rule: the first scan has begun.
  bool bStarted() const { return bLogged("Start Scan USB Port"); }
  bool bAlive() {
    if (m_bReaped) return false;
    int nStatus = 0;
    if (waitpid(m_pid, &nStatus, WNOHANG) == 0) return true;
    m_bReaped = true;
    m_nStatus = nStatus;
    return false;
  }
  // Waits (bounded) for the copy to end; true when a signal sig ended it.
  bool bEndedBy(int sig) {
    for (int i = 0; i < 2000 && bAlive(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return m_bReaped && WIFSIGNALED(m_nStatus) && WTERMSIG(m_nStatus) == sig;
  }
  std::string strLog() const { return strReadFile(m_errFile); }

 private:
  pid_t m_pid = -1;
  bool m_bReaped = false;
  int m_nStatus = 0;
  fs::path m_errFile;
};

}  // namespace

TEST(E2ECopies, OneCopyPerRealProgramFolder) {
  TempDir root;
  root.write("bench.json", strE2EBenchJson({"xhci0"}, {}));  // no hub: every copy waits
  const std::string strBench = root.str() + "/bench.json";
  const fs::path a = root.path() / "a" / "s5", b = root.path() / "b" / "s5";
  fs::create_directories(a);
  fs::create_directories(b);
  // a run needs its settings; each folder has its own
  E2ESettings st;
  st.strFirmware = "fw.bin";
  for (const fs::path& dir : {a, b}) {
    std::ofstream(dir / "vlnhub.ini") << strE2ESettings(st);
    std::ofstream(dir / "fw.bin") << strE2EFirmware();
  }
  // "." in two folders: two folders, so both copies run
  CCopy first(strBench, ".", a, root.path() / "first.err");
  ASSERT_TRUE(first.bStarted()) << first.strLog();
  CCopy second(strBench, ".", b, root.path() / "second.err");
  ASSERT_TRUE(second.bStarted()) << second.strLog();
  EXPECT_TRUE(first.bAlive());
  // the first folder by another name: the same folder, so the waiting copy there is ended
  CCopy third(strBench, root.str() + "/a/./s5/", root.path(), root.path() / "third.err");
  ASSERT_TRUE(third.bStarted()) << third.strLog();
  EXPECT_TRUE(first.bEndedBy(SIGTERM));
  EXPECT_TRUE(second.bAlive());
  EXPECT_TRUE(third.bAlive());
}

TEST(E2ECopies, AHubThatMayNotBeOpenedIsNamedOnceWhileTheRunWaits) {
  TempDir home;
  E2EHub locked = stE2EHub("locked", "xhci0", 1);
  locked.strPermission = "denied";
  home.write("bench.json", strE2EBenchJson({"xhci0"}, {locked}));
  E2ESettings st;
  st.strFirmware = "fw.bin";
  home.write("vlnhub.ini", strE2ESettings(st));
  home.write("fw.bin", strE2EFirmware());
  CCopy copy(home.str() + "/bench.json", home.str(), home.path(), home.path() / "copy.err");
  const std::string strText =
      "Permission to open the hub [usb:2-1] was refused. Install the udev rules "
      "\"/etc/udev/rules.d/70-vlntufdriver.rules\" that grant the operator group access to the hubs, then "
      "replug the hub.";
  ASSERT_TRUE(copy.bLogged("MPTool: " + strText)) << copy.strLog();  // standard error
  ASSERT_TRUE(copy.bLogged("Permission to open the hub [usb:1-1]"));
  for (int i = 0;
       i < 2000 && strReadFile(home.path() / "ProgramMSG.txt").find("[usb:1-1]") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const std::string strMsg = strReadFile(home.path() / "ProgramMSG.txt");
  EXPECT_NE(strMsg.find(strText + "\r\n"), std::string::npos) << strMsg;
  // it keeps waiting for a hub it may open, and says it only once per device
  EXPECT_TRUE(copy.bAlive());
  auto nCount = [](const std::string& s, const std::string& t) {
    int n = 0;
    for (size_t at = s.find(t); at != std::string::npos; at = s.find(t, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(nCount(strMsg, "Permission to open the hub [usb:2-1]"), 1);
  EXPECT_EQ(nCount(strMsg, "Permission to open the hub [usb:1-1]"), 1);
  EXPECT_EQ(strMsg.find("None of Velnor device was found!!"), std::string::npos);
}
