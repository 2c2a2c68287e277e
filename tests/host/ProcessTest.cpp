#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "host/USBUtility.h"
#include "platform/Clock.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {
// A child process that waits until it is signalled; killed and reaped at the end.
class Child {
 public:
  Child() {
    m_pid = fork();
    if (m_pid == 0) {
      for (;;) pause();
    }
  }
  ~Child() {
    if (!m_reaped) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
  }
  pid_t pid() const { return m_pid; }
  // Waits (briefly, polling) for the child to end; true with its terminating signal.
  bool bEndedBy(int sig) {
    for (int i = 0; i < 200; ++i) {
      int status = 0;
      pid_t r = waitpid(m_pid, &status, WNOHANG);
      if (r == m_pid) {
        m_reaped = true;
        return WIFSIGNALED(status) && WTERMSIG(status) == sig;
      }
      usleep(5000);
    }
    return false;
  }
  bool bAlive() {
    int status = 0;
    return waitpid(m_pid, &status, WNOHANG) == 0;
  }

 private:
  pid_t m_pid;
  bool m_reaped = false;
};

struct ProcessTest : testing::Test {
  TempDir dir;
  CScaledClock clock{0.001};
  fs::path proc() const { return dir.path() / "proc"; }
  // An entry of the fake process list whose executable is target, serving strHome
  // (this test's program folder unless given).
  void vAddProcess(uint32_t pid, const std::string& target, std::string strHome = "",
                   const std::string& strCwd = "") {
    fs::create_directories(proc() / std::to_string(pid));
    fs::create_symlink(target, proc() / std::to_string(pid) / "exe");
    if (!strCwd.empty()) fs::create_symlink(strCwd, proc() / std::to_string(pid) / "cwd");
    if (strHome.empty()) strHome = dir.str();
    std::ofstream env(proc() / std::to_string(pid) / "environ", std::ios::binary);
    std::string strEnv = "PATH=/usr/bin";
    strEnv += '\0';
    strEnv += "MPTOOL_HOME=" + strHome;
    strEnv += '\0';
    env << strEnv;
  }
  USBUtilityOptions opts() {
    USBUtilityOptions o;
    o.strAppPath = dir.str();
    o.strProcRoot = proc().string();
    o.strRunMarkerPath = (dir.path() / "run.lock").string();
    return o;
  }
};
}  // namespace

TEST_F(ProcessTest, LookupMatchesTheExecutableFileNameExactlyInIdOrder) {
  fs::create_directories(proc() / "self");
  fs::create_directories(proc() / "acpi");
  vAddProcess(100, "/opt/line/MPTool");
  vAddProcess(20, "/home/op/build/bin/MPTool (deleted)");  // rebuilt while running
  vAddProcess(300, "/opt/line/mptool");                    // case matters
  vAddProcess(400, "/opt/line/MPTool.exe");
  vAddProcess(500, "/usr/bin/MPTool-old");
  fs::create_directories(proc() / "600");  // exe unreadable: skipped
  CUSBUtility u(clock, opts());
  EXPECT_EQ(u.DetectProcess("MPTool"), 2);
  EXPECT_EQ(u.GetProcessID("MPTool"), 20u);  // numeric order, not text order
  EXPECT_EQ(u.GetProcessID("MPTool", 20), 100u);
  EXPECT_EQ(u.GetProcessID("mptool"), 300u);
  EXPECT_EQ(u.GetProcessID("vlnhub"), 0u);
  EXPECT_EQ(u.DetectProcess("vlnhub"), 0);
}

TEST_F(ProcessTest, OnlyCopiesServingThisProgramFolderCount) {
  vAddProcess(100, "/opt/line/MPTool");
  vAddProcess(200, "/opt/line/MPTool", "/srv/other-station");
  fs::create_directories(proc() / "300");
  fs::create_symlink(dir.path() / "MPTool", proc() / "300" / "exe");  // no MPTOOL_HOME: exe's folder
  fs::create_directories(proc() / "400");
  fs::create_symlink("/elsewhere/MPTool", proc() / "400" / "exe");
  CUSBUtility u(clock, opts());
  EXPECT_EQ(u.DetectProcess("MPTool"), 2);
  EXPECT_EQ(u.GetProcessID("MPTool"), 100u);
  EXPECT_EQ(u.GetProcessID("MPTool", 100), 300u);
}

TEST_F(ProcessTest, CopiesAreCountedByTheRealFolderTheyServe) {
  const fs::path s5 = dir.path() / "x" / "s5";
  fs::create_directories(s5);
  fs::create_directories(dir.path() / "x" / "other");
  fs::create_directory_symlink(s5, dir.path() / "x" / "link");
  const std::string x = (dir.path() / "x").string();
  vAddProcess(100, "/opt/line/MPTool", x + "/./s5");
  vAddProcess(200, "/opt/line/MPTool", x + "/link/");
  vAddProcess(300, "/opt/line/MPTool", ".", s5.string());   // relative: its working folder
  vAddProcess(400, "/opt/line/MPTool", ".", x + "/other");  // the same text, another folder
  vAddProcess(500, "/opt/line/MPTool", "s5", x);
  vAddProcess(600, "/opt/line/MPTool", ".");  // working folder unknown: not ours
  vAddProcess(700, "/opt/line/MPTool", x + "/other/../s5");
  auto o = opts();
  o.strAppPath = x + "/link/./";
  CUSBUtility u(clock, o);
  EXPECT_EQ(u.m_szAppPath, s5.string());
  EXPECT_EQ(u.DetectProcess("MPTool"), 5);
  EXPECT_EQ(u.GetProcessID("MPTool", 100), 200u);
  // the run mark is the real folder's too
  USBUtilityOptions a, b;
  a.strAppPath = x + "/./s5";
  b.strAppPath = x + "/link";
  EXPECT_EQ(CUSBUtility(clock, a).runMarker().strPath(), CUSBUtility(clock, b).runMarker().strPath());
  EXPECT_EQ(CUSBUtility(clock, a).runMarker().strPath(), CRunMarker::strDefaultPath(s5.string()));
}

TEST_F(ProcessTest, RunMarksThatNoLiveProcessHoldsAreRemoved) {
  const std::string strStale = (dir.path() / "MPTool.00000000000000aa.run.lock").string();
  const std::string strHeld = (dir.path() / "MPTool.00000000000000bb.run.lock").string();
  dir.write("MPTool.00000000000000aa.run.lock", "99999999\n");  // its holder died
  dir.write("notes.run.lock", "");                              // not a run mark
  CRunMarker held(strHeld);
  ASSERT_TRUE(held.bAcquire(clock));
  EXPECT_EQ(CRunMarker::nRemoveStaleMarks(dir.str()), 1);
  EXPECT_FALSE(fs::exists(strStale));
  EXPECT_TRUE(fs::exists(strHeld));
  EXPECT_TRUE(fs::exists(dir.path() / "notes.run.lock"));
  held.vRelease();  // a holder that lets go leaves nothing behind
  EXPECT_FALSE(fs::exists(strHeld));
  // the start-up rule sweeps the folder of its own mark, and that mark itself
  dir.write("MPTool.00000000000000cc.run.lock", "1\n");
  dir.write("run.lock", "1\n");
  CUSBUtility u(clock, opts());
  u.stEnforceSingleInstance("MPTool");
  EXPECT_FALSE(fs::exists(dir.path() / "MPTool.00000000000000cc.run.lock"));
  EXPECT_FALSE(fs::exists(dir.path() / "run.lock"));
}

TEST_F(ProcessTest, RunMarkHoldsAreCountedAndAnotherCopyWaitsForTheLast) {
  CUSBUtility u(clock, opts());
  CRunMarker other((dir.path() / "run.lock").string());
  ASSERT_TRUE(u.bBeginProductionRun(0));  // the run
  ASSERT_TRUE(u.bBeginProductionRun(0));  // the safe removal it sends
  u.vEndProductionRun();                  // the run thread ends first
  EXPECT_TRUE(u.bProductionRunHeld());
  EXPECT_FALSE(other.bAcquire(clock));
  u.vEndProductionRun();
  u.vEndProductionRun();  // one too many changes nothing
  EXPECT_FALSE(u.bProductionRunHeld());
  EXPECT_TRUE(other.bAcquire(clock));
  // a copy whose run starts while another copy's start-up holds the mark does not get it
  EXPECT_FALSE(u.bBeginProductionRun(200));
  EXPECT_FALSE(u.bProductionRunHeld());
  other.vRelease();
  EXPECT_TRUE(u.bBeginProductionRun(0));
  u.vEndProductionRun();
}

TEST_F(ProcessTest, RunMarksOfDifferentProgramFoldersAreApart) {
  EXPECT_NE(CRunMarker::strDefaultPath("/srv/a"), CRunMarker::strDefaultPath("/srv/b"));
  EXPECT_EQ(CRunMarker::strDefaultPath("/srv/a"), CRunMarker::strDefaultPath("/srv/a"));
}

TEST_F(ProcessTest, MissingProcessListFindsNothing) {
  CUSBUtility u(clock, opts());
  EXPECT_EQ(u.DetectProcess("MPTool"), 0);
  EXPECT_EQ(u.GetProcessID("MPTool"), 0u);
}

TEST_F(ProcessTest, RealProcessListFindsThisTestProgram) {
  auto o = opts();
  o.strProcRoot = "/proc";
  o.strAppPath = CUSBUtility::strResolveAppPath("");  // the folder this test program serves
  CUSBUtility u(clock, o);
  std::string self = fs::read_symlink("/proc/self/exe").filename().string();
  EXPECT_GE(u.DetectProcess(self.c_str()), 1);
  EXPECT_NE(u.GetProcessID(self.c_str()), 0u);
}

TEST_F(ProcessTest, KillEndsAnotherProcessButNeverThisOne) {
  CUSBUtility u(clock, opts());
  EXPECT_FALSE(u.KillProcess(static_cast<uint32_t>(getpid()), 0));
  EXPECT_FALSE(u.KillProcess(0, 0));
  Child child;
  EXPECT_TRUE(u.KillProcess(static_cast<uint32_t>(child.pid()), 0));
  EXPECT_TRUE(child.bEndedBy(SIGTERM));
  EXPECT_FALSE(u.KillProcess(static_cast<uint32_t>(child.pid()), 0));  // gone now
}

TEST_F(ProcessTest, SingleInstanceEndsTheStaleCopyAndNeverItself) {
  Child stale;
  // this process comes first in the list, so a rule taking "the first copy" would end us
  vAddProcess(static_cast<uint32_t>(getpid()), "/opt/line/MPTool");
  vAddProcess(static_cast<uint32_t>(stale.pid()), "/opt/line/MPTool");
  ASSERT_LT(getpid(), stale.pid());
  CUSBUtility u(clock, opts());
  SingleInstanceResult r = u.stEnforceSingleInstance("MPTool");
  EXPECT_EQ(r.eOutcome, ESingleInstance::EndedStale);
  EXPECT_EQ(r.iProcessCount, 2);
  EXPECT_EQ(r.dwProcessID, static_cast<uint32_t>(stale.pid()));
  EXPECT_TRUE(stale.bEndedBy(SIGTERM));
  // the rule released the mark it held while ending the copy, and left no file
  EXPECT_FALSE(fs::exists(dir.path() / "run.lock"));
  EXPECT_TRUE(u.bBeginProductionRun(0));
  u.vEndProductionRun();
}

TEST_F(ProcessTest, SingleInstanceNeverEndsACopyInAProductionRun) {
  Child running;
  vAddProcess(static_cast<uint32_t>(getpid()), "/opt/line/MPTool");
  vAddProcess(static_cast<uint32_t>(running.pid()), "/opt/line/MPTool");
  // the other copy's utilities hold the run mark (a second lock on the same file)
  CUSBUtility other(clock, opts());
  ASSERT_TRUE(other.bBeginProductionRun(0));
  CUSBUtility u(clock, opts());
  SingleInstanceResult r = u.stEnforceSingleInstance("MPTool");
  EXPECT_EQ(r.eOutcome, ESingleInstance::RunInProgress);
  EXPECT_EQ(r.dwRunHolderPid, static_cast<uint32_t>(getpid()));
  EXPECT_TRUE(running.bAlive());
  // once the run is over the stale copy goes
  other.vEndProductionRun();
  EXPECT_EQ(u.stEnforceSingleInstance("MPTool").eOutcome, ESingleInstance::EndedStale);
  EXPECT_TRUE(running.bEndedBy(SIGTERM));
}

TEST_F(ProcessTest, SingleInstanceAloneDoesNothing) {
  vAddProcess(static_cast<uint32_t>(getpid()), "/opt/line/MPTool");
  vAddProcess(1, "/sbin/init");
  CUSBUtility u(clock, opts());
  SingleInstanceResult r = u.stEnforceSingleInstance("MPTool");
  EXPECT_EQ(r.eOutcome, ESingleInstance::NoOther);
  EXPECT_EQ(r.iProcessCount, 1);
}

TEST_F(ProcessTest, RunMarkIsExclusiveAndWaitsOnTheClock) {
  CRunMarker a((dir.path() / "run.lock").string());
  CRunMarker b((dir.path() / "run.lock").string());
  EXPECT_TRUE(a.bAcquire(clock));
  EXPECT_TRUE(a.bAcquire(clock));  // already held
  uint64_t t0 = clock.ullNowMs();
  EXPECT_FALSE(b.bAcquire(clock, 300));
  EXPECT_GE(clock.ullNowMs() - t0, 300u);
  EXPECT_EQ(b.dwHolderPid(), static_cast<uint32_t>(getpid()));
  a.vRelease();
  EXPECT_FALSE(a.bHeld());
  EXPECT_TRUE(b.bAcquire(clock));
  EXPECT_TRUE(b.bHeld());
}

TEST_F(ProcessTest, RunMarkHeldByAnotherProcessIsSeenAndFreedWhenItDies) {
  std::string path = (dir.path() / "run.lock").string();
  int pipefd[2];
  ASSERT_EQ(pipe(pipefd), 0);
  pid_t pid = fork();
  if (pid == 0) {
    CScaledClock c(0.001);
    CRunMarker m(path);
    char ok = m.bAcquire(c) ? 1 : 0;
    if (write(pipefd[1], &ok, 1) != 1) _exit(1);
    for (;;) pause();
  }
  char ok = 0;
  ASSERT_EQ(read(pipefd[0], &ok, 1), 1);
  ASSERT_EQ(ok, 1);
  CRunMarker m(path);
  EXPECT_FALSE(m.bAcquire(clock));
  EXPECT_EQ(m.dwHolderPid(), static_cast<uint32_t>(pid));
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  EXPECT_TRUE(m.bAcquire(clock));  // no stale mark after a crash
  close(pipefd[0]);
  close(pipefd[1]);
}
