// Whole "MPTool /S" runs of stations on one line: the built program in its own process on a
// simulated bench, its line a private PostgreSQL server. Serial numbers stay unique across
// stations, every hub is one row, the report agrees with the flash files, the server away
// refuses Start or delays the rows without losing one, and without line mode a station's
// files are what they always were.
#include <gtest/gtest.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <thread>

#include "line/LineStation.h"
#include "platform/sim/SimBench.h"
#include "support/E2EBench.h"
#include "support/E2ESpawn.h"
#include "support/PgCluster.h"
#include "support/TempDir.h"

namespace {

std::string strCapture(const std::string& strCmd) {
  FILE* p = popen(strCmd.c_str(), "r");
  if (p == nullptr) return {};
  std::string s;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) s.append(buf, n);
  pclose(p);
  return s;
}

std::string strFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// One station: its program folder, settings and firmware; each run gets a bench of its own
// whose flash files stay for the checks.
class CStation {
 public:
  std::string strName;
  std::string strConnInfo;  // empty: no line mode
  double dTimeScale = 0.01;

  explicit CStation(std::string name, std::string conn = {})
      : strName(std::move(name)), strConnInfo(std::move(conn)) {
    E2ESettings st;
    st.strFirmware = "VLN642_10_line.bin";
    m_dir.write(st.strFirmware, strE2EFirmware());
    m_dir.write("vlnhub.ini", strE2ESettings(st));
  }

  // Lays out run nRun's bench of nHubs hubs and starts MPTool on it.
  pid_t pidStart(int nRun, int nHubs) {
    std::vector<E2EHub> hubs;
    hubs.reserve(static_cast<size_t>(nHubs));
    for (int i = 0; i < nHubs; ++i) hubs.push_back(stE2EHub(strHub(nRun, i), "xhci0", i + 1));
    nlohmann::json bench = nlohmann::json::parse(strE2EBenchJson({"xhci0"}, hubs));
    bench["time_scale"] = dTimeScale;
    const std::string strBenchName = "bench_" + std::to_string(nRun) + ".json";
    m_dir.write(strBenchName, bench.dump());
    m_benches.push_back(strBenchName);
    // The run expects as many hubs as its bench has; the rest of the file is as the last
    // run left it. (No std::regex here: the stations' threads lay out their runs at once.)
    std::string strIni = m_dir.read("vlnhub.ini");
    const std::string strKey = "auto_mp_DevNum=";
    const size_t ulAt = strIni.find(strKey) + strKey.size();
    strIni.replace(ulAt, strIni.find_first_not_of("0123456789", ulAt) - ulAt, std::to_string(nHubs));
    m_dir.write("vlnhub.ini", strIni);
    E2ESpawn sp;
    sp.strHome = m_dir.str();
    sp.strBench = sp.strHome + "/" + strBenchName;
    sp.strErr = sp.strHome + "/MPTool_" + std::to_string(nRun) + ".stderr";
    sp.vecEnv = {{"MPTOOL_STATION", strName}};
    if (!strConnInfo.empty()) sp.vecEnv.emplace_back("MPTOOL_LINE_DB", strConnInfo);
    return pidStartMPTool(sp);
  }
  // The run's exit code as MPTool returned it (-3 for a refused Start), -1000 when it did
  // not exit by itself within a minute.
  static int nWait(pid_t pid) { return nToolExit(nWaitMPTool(pid, 60)); }
  int nRun(int nRunNo, int nHubs) { return nWait(pidStart(nRunNo, nHubs)); }
  // The error entries of a run's diagnostic log, for a failure's message.
  std::string strErrors(int nRunNo) const {
    return strLogProblems(m_dir.read("MPTool_" + std::to_string(nRunNo) + ".stderr"));
  }

  // The serial number each hub of each run reports from its flash, in run order.
  std::vector<std::string> vecSerials() const {
    std::vector<std::string> v;
    for (const std::string& b : m_benches) {
      std::string err;
      auto pBench = CSimBench::pLoad(m_dir.str() + "/" + b, err);
      if (!pBench) {
        v.push_back("<" + err + ">");
        continue;
      }
      for (int h = 0; h < pBench->nHubs(); ++h) v.push_back(pBench->stIdentity(h).strSerial);
    }
    return v;
  }
  std::string strMsg() const { return m_dir.read("ProgramMSG.txt"); }
  std::string strIni() const { return m_dir.read("vlnhub.ini"); }
  bool bJournal() const { return std::filesystem::exists(m_dir.path() / LINE_JOURNAL_NAME); }
  size_t nJournalRows() const {
    const std::string s = m_dir.read(LINE_JOURNAL_NAME);
    return static_cast<size_t>(std::count(s.begin(), s.end(), '\n'));
  }
  const TempDir& dir() const { return m_dir; }

 private:
  std::string strHub(int nRun, int i) const { return "r" + std::to_string(nRun) + "h" + std::to_string(i); }

  TempDir m_dir;
  std::vector<std::string> m_benches;
};

class LineStations : public ::testing::Test {
 protected:
  void SetUp() override {
    if (CPgCluster::strBinDir().empty()) GTEST_SKIP() << "no PostgreSQL server installed (scripts/bootstrap)";
    std::string strWhy;
    ASSERT_TRUE(m_pg.bCreate(strWhy)) << strWhy;
    const std::string strOut = strUtil("line-init");
    ASSERT_NE(strOut.find("created at version"), std::string::npos) << strOut;
  }
  std::string strUtil(const std::string& strCommand) const {
    return strCapture(std::string(MPTOOL_BIN_DIR) + "/mptool-util " + strCommand + " --db \"" +
                      m_pg.strConnInfo() + "\" 2>&1");
  }
  std::string strSql(const std::string& strQuery) const {
    std::string strOut;
    EXPECT_EQ(m_pg.nPsql(strQuery, &strOut), 0) << strOut;
    while (!strOut.empty() && strOut.back() == '\n') strOut.pop_back();
    return strOut;
  }

  CPgCluster m_pg;
};

}  // namespace

// Four stations, all set to start at the same serial number, run 25 runs each at the same
// time with 1 to 4 hubs: no serial number is in two flash files, the line holds one row per
// hub with the serial number that hub's flash holds, and the report counts what ran.
TEST_F(LineStations, FourStationsAtOnceNeverShareASerial) {
  constexpr int kStations = 4, kRuns = 25;
  std::vector<std::unique_ptr<CStation>> stations;
  stations.reserve(kStations);
  for (int s = 0; s < kStations; ++s) {
    stations.push_back(std::make_unique<CStation>("st" + std::to_string(s), m_pg.strConnInfo()));
    // Four programs at once on two cores (under the thread checker too): at 0.01 or 0.03 a
    // delay of a few tens of milliseconds is seconds of tool time, beyond the tool's own
    // time-outs (the 3 s erase poll).
    stations.back()->dTimeScale = 0.05;
  }
  std::vector<std::vector<int>> codes(kStations);
  std::vector<int> hubs(kStations, 0);
  std::vector<std::thread> threads;
  threads.reserve(kStations);
  for (int s = 0; s < kStations; ++s)
    threads.emplace_back([&, s] {
      for (int r = 0; r < kRuns; ++r) {
        const int nHubs = (s + r) % 4 + 1;
        codes[s].push_back(stations[s]->nRun(r, nHubs));
        if (codes[s].back() != 0)
          ADD_FAILURE() << "station " << s << " run " << r << ":\n" << stations[s]->strErrors(r);
        hubs[s] += nHubs;
      }
    });
  for (auto& t : threads) t.join();

  std::multiset<std::string> flash;
  for (int s = 0; s < kStations; ++s) {
    EXPECT_EQ(codes[s], std::vector<int>(kRuns, 0)) << stations[s]->strMsg();
    for (const std::string& sn : stations[s]->vecSerials()) flash.insert(sn);
    EXPECT_FALSE(stations[s]->bJournal());
  }
  const size_t nHubs = flash.size();
  EXPECT_EQ(nHubs, static_cast<size_t>(hubs[0] + hubs[1] + hubs[2] + hubs[3]));
  EXPECT_EQ(std::set<std::string>(flash.begin(), flash.end()).size(), nHubs);
  EXPECT_EQ(flash.count(""), 0u);

  // One row per hub, each with its flash's serial number.
  std::string strRows = strSql("SELECT serial_written FROM mptool_hub_result ORDER BY 1");
  std::multiset<std::string> rows;
  for (size_t p = 0, q; p < strRows.size(); p = q + 1) {
    q = strRows.find('\n', p);
    if (q == std::string::npos) q = strRows.size();
    rows.insert(strRows.substr(p, q - p));
  }
  EXPECT_EQ(rows, flash);

  const nlohmann::json report = nlohmann::json::parse(strUtil("line-report --json"), nullptr, false);
  ASSERT_TRUE(report.is_object()) << strUtil("line-report --json");
  EXPECT_TRUE(report["serials_twice"].empty());
  std::map<std::string, int> runs, reportHubs, pass;
  for (const auto& d : report["days"]) {
    runs[d["station"]] += d["runs"].get<int>();
    reportHubs[d["station"]] += d["hubs"].get<int>();
    pass[d["station"]] += d["pass"].get<int>();
  }
  for (int s = 0; s < kStations; ++s) {
    const std::string strName = "st" + std::to_string(s);
    EXPECT_EQ(runs[strName], kRuns) << strName;
    EXPECT_EQ(reportHubs[strName], hubs[s]) << strName;
    EXPECT_EQ(pass[strName], hubs[s]) << strName;
  }
}

// The server away at Start: refused with -3 and the reason, no hub touched, the settings as
// they were. Back again: the station goes on from the line's next serial number.
TEST_F(LineStations, ServerAwayBetweenRunsRefusesStart) {
  CStation st("st", m_pg.strConnInfo());
  ASSERT_EQ(st.nRun(0, 2), 0) << st.strMsg();
  const std::string strIni = st.strIni();
  ASSERT_TRUE(m_pg.bStop());
  EXPECT_EQ(st.nRun(1, 2), -3);
  EXPECT_NE(st.strMsg().find("line mode"), std::string::npos) << st.strMsg();
  EXPECT_NE(st.strMsg().find("cannot be reached"), std::string::npos) << st.strMsg();
  EXPECT_EQ(st.strIni(), strIni);
  ASSERT_TRUE(m_pg.bStart());
  ASSERT_EQ(st.nRun(2, 1), 0) << st.strMsg();
  EXPECT_EQ(st.vecSerials(),
            (std::vector<std::string>{"000000000001", "000000000002", "", "", "000000000003"}));
  EXPECT_EQ(strSql("SELECT count(*) FROM mptool_hub_result"), "3");
}

// The server stopped while a run goes on: the run ends as it would, its rows wait in the
// journal, and the next run after the restart brings them in, once.
TEST_F(LineStations, ServerAwayDuringARunLosesNoRow) {
  CStation st("st", m_pg.strConnInfo());
  st.dTimeScale = 0.1;  // a run long enough to stop the server in the middle of it
  const pid_t pid = st.pidStart(0, 3);
  // The reservation is the run's Start.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (strSql("SELECT count(*) FROM mptool_serial_reservation") != "1" &&
         std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(m_pg.bStop());
  ASSERT_EQ(CStation::nWait(pid), 0) << st.strMsg();
  ASSERT_TRUE(st.bJournal());
  EXPECT_EQ(st.nJournalRows(), 3u);

  ASSERT_TRUE(m_pg.bStart());
  EXPECT_EQ(strSql("SELECT count(*) FROM mptool_hub_result"), "0");
  st.dTimeScale = 0.01;
  ASSERT_EQ(st.nRun(1, 2), 0) << st.strMsg();
  EXPECT_FALSE(st.bJournal());
  EXPECT_EQ(strSql("SELECT count(*) || '/' || count(DISTINCT serial_written) || '/' || count(DISTINCT run_id)"
                   " FROM mptool_hub_result"),
            "5/5/2");
  // Another run sends nothing of those again.
  ASSERT_EQ(st.nRun(2, 1), 0) << st.strMsg();
  EXPECT_EQ(strSql("SELECT count(*) FROM mptool_hub_result"), "6");
}

// The same station without MPTOOL_LINE_DB and with it (the first of its series): the same
// flash files, settings file and result log, and no other file; only the line-mode run
// reaches the database.
TEST_F(LineStations, WithoutLineModeAStationIsAsBefore) {
  CStation plain("plain"), line("line", m_pg.strConnInfo());
  for (int r = 0; r < 2; ++r) {
    ASSERT_EQ(plain.nRun(r, 3), 0) << plain.strMsg();
    ASSERT_EQ(line.nRun(r, 3), 0) << line.strMsg();
  }
  std::set<std::string> plainFiles, lineFiles;
  for (const auto& e : std::filesystem::recursive_directory_iterator(plain.dir().path()))
    plainFiles.insert(std::filesystem::relative(e.path(), plain.dir().path()).string());
  for (const auto& e : std::filesystem::recursive_directory_iterator(line.dir().path()))
    lineFiles.insert(std::filesystem::relative(e.path(), line.dir().path()).string());
  EXPECT_EQ(plainFiles, lineFiles);
  // The log's time column may differ by the second the runs took.
  const std::regex time("\t[0-9]{2}:[0-9]{2}:[0-9]{2}\t");
  for (const std::string& f : plainFiles) {
    // The diagnostic log names the folder and the times.
    if (f.find(".stderr") != std::string::npos || std::filesystem::is_directory(plain.dir().path() / f))
      continue;
    std::string a = strFile(plain.dir().path() / f), b = strFile(line.dir().path() / f);
    if (f.size() == 12 && f.substr(8) == ".log")
      a = std::regex_replace(a, time, "\tT\t"), b = std::regex_replace(b, time, "\tT\t");
    EXPECT_EQ(a, b) << f;
  }
  EXPECT_EQ(strSql("SELECT string_agg(DISTINCT station, ',') || '/' || count(*) FROM mptool_hub_result"),
            "line/6");
}
