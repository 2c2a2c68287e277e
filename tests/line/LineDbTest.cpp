// The line's database on a private server: the schema created and upgraded, serial numbers
// reserved by concurrent stations, result rows kept in the journal while the server is away
// and sent once when it is back.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "line/LineDb.h"
#include "line/LineStation.h"
#include "settings/SerialNumber.h"
#include "support/PgCluster.h"
#include "support/TempDir.h"

namespace {

class LineDb : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string strWhy;
    if (CPgCluster::strBinDir().empty()) GTEST_SKIP() << "no PostgreSQL server installed (scripts/bootstrap)";
    ASSERT_TRUE(m_pg.bCreate(strWhy)) << strWhy;
  }
  void vInit() {
    CLineDb db;
    std::string strWhy;
    int nFrom = -1;
    ASSERT_TRUE(db.bConnect(m_pg.strConnInfo(), strWhy)) << strWhy;
    ASSERT_TRUE(db.bInitSchema(nFrom, strWhy)) << strWhy;
  }
  std::string strSql(const std::string& strQuery) const {
    std::string strOut;
    EXPECT_EQ(m_pg.nPsql(strQuery, &strOut), 0) << strOut;
    while (!strOut.empty() && strOut.back() == '\n') strOut.pop_back();
    return strOut;
  }
  CLineStation station(const std::string& strName, const TempDir& dir) const {
    return CLineStation({m_pg.strConnInfo(), strName, dir.str(), 3});
  }

  CPgCluster m_pg;
};

// Counting as a station with the given edit type and prefix length counts.
LineSerialAfterFn fnCounting(uint8_t ucEditType, int nPrefix) {
  INISettings ini;
  ini.ucSN_EditType = ucEditType;
  ini.uiSN_remain_value_enable = nPrefix > 0 ? 1 : 0;
  ini.uiSN_remain_value_length = nPrefix;
  return
      [ini](const std::string& strSN, uint8_t ucCount) { return strSerialNumberAfter(ini, strSN, ucCount); };
}

LineRun stRun(int nHubs, const std::string& strFirst) {
  LineRun run;
  run.nExitCode = 0;
  for (int i = 0; i < nHubs; ++i) {
    LineHubRow h;
    h.nSlot = i;
    h.strPortPath = "usb:2-" + std::to_string(i + 1);
    h.strSerialWritten = strFirst + std::to_string(i);
    h.bPassed = i != 1;
    h.vecSteps = {{"update", "PASS"}, {"reload", i != 1 ? "PASS" : "FAIL"}};
    run.vecHubs.push_back(h);
  }
  return run;
}

}  // namespace

// A fresh database gets the whole schema; a second init changes nothing; a database one
// version behind is upgraded; one ahead of the program is refused, untouched.
TEST_F(LineDb, SchemaIsCreatedUpgradedAndNeverDowngraded) {
  CLineDb db;
  std::string strWhy;
  ASSERT_TRUE(db.bConnect(m_pg.strConnInfo(), strWhy)) << strWhy;
  EXPECT_EQ(db.nSchemaVersion(strWhy), 0);
  int nFrom = -1;
  ASSERT_TRUE(db.bInitSchema(nFrom, strWhy)) << strWhy;
  EXPECT_EQ(nFrom, 0);
  EXPECT_EQ(db.nSchemaVersion(strWhy), LINE_SCHEMA_VERSION);
  ASSERT_TRUE(db.bInitSchema(nFrom, strWhy)) << strWhy;
  EXPECT_EQ(nFrom, LINE_SCHEMA_VERSION);
  EXPECT_EQ(strSql("SELECT count(*) FROM mptool_schema_version"), std::to_string(LINE_SCHEMA_VERSION));

  // Back to version 1: the last step's indexes gone.
  strSql(
      "DROP INDEX mptool_hub_result_serial; DROP INDEX mptool_hub_result_station_day;"
      " DELETE FROM mptool_schema_version WHERE version = 2");
  ASSERT_TRUE(db.bInitSchema(nFrom, strWhy)) << strWhy;
  EXPECT_EQ(nFrom, 1);
  EXPECT_EQ(strSql("SELECT count(*) FROM pg_indexes WHERE indexname LIKE 'mptool_hub_result_s%'"), "2");

  strSql("INSERT INTO mptool_schema_version (version) VALUES (99)");
  EXPECT_FALSE(db.bInitSchema(nFrom, strWhy));
  EXPECT_NE(strWhy.find("newer"), std::string::npos) << strWhy;
}

// The first station starts a series at its own serial number; the next takes the line's
// next one, whatever its own says; series differ by prefix, base and length.
TEST_F(LineDb, FirstStationStartsASeriesAndTheOthersFollowIt) {
  vInit();
  CLineDb db;
  std::string strWhy, strFirst;
  ASSERT_TRUE(db.bConnect(m_pg.strConnInfo(), strWhy)) << strWhy;
  const auto fnHex = fnCounting(SN_EDIT_HEX, 3);
  const LineSeries series{"SN-", 16, 8};
  ASSERT_TRUE(db.bReserve(series, "SN-00009", 3, fnHex, "a", strFirst, strWhy)) << strWhy;
  EXPECT_EQ(strFirst, "SN-00009");
  ASSERT_TRUE(db.bReserve(series, "SN-00001", 2, fnHex, "b", strFirst, strWhy)) << strWhy;
  EXPECT_EQ(strFirst, "SN-0000C");
  ASSERT_TRUE(db.bReserve(series, "SN-00001", 1, fnHex, "a", strFirst, strWhy)) << strWhy;
  EXPECT_EQ(strFirst, "SN-0000E");
  // Decimal counting of the same text is another series.
  ASSERT_TRUE(db.bReserve({"SN-", 10, 8}, "SN-00009", 2, fnCounting(SN_EDIT_DEC, 3), "a", strFirst, strWhy));
  EXPECT_EQ(strFirst, "SN-00009");
  EXPECT_EQ(strSql("SELECT next_serial FROM mptool_serial_series WHERE base = 10"), "SN-00011");
  EXPECT_EQ(strSql("SELECT string_agg(first_serial || '/' || count || '/' || station, ',' ORDER BY id)"
                   " FROM mptool_serial_reservation"),
            "SN-00009/3/a,SN-0000C/2/b,SN-0000E/1/a,SN-00009/2/a");
  // A series at its last value is used up, not started again from its lowest.
  ASSERT_TRUE(db.bReserve({"", 16, 4}, "FFFE", 1, fnCounting(SN_EDIT_HEX, 0), "a", strFirst, strWhy))
      << strWhy;
  EXPECT_FALSE(db.bReserve({"", 16, 4}, "0000", 1, fnCounting(SN_EDIT_HEX, 0), "a", strFirst, strWhy));
  EXPECT_NE(strWhy.find("used up"), std::string::npos) << strWhy;
  EXPECT_EQ(strSql("SELECT next_serial FROM mptool_serial_series WHERE length = 4"), "FFFF");
}

// Eight stations reserving at once, each from its own idea of the start: no serial number
// is handed out twice, and together they cover the series without a gap.
TEST_F(LineDb, ConcurrentStationsNeverShareASerial) {
  vInit();
  constexpr int kStations = 8, kRuns = 30;
  std::vector<std::vector<std::string>> got(kStations);
  std::vector<std::thread> threads;
  threads.reserve(kStations);
  const auto fnDec = fnCounting(SN_EDIT_DEC, 2);
  for (int s = 0; s < kStations; ++s)
    threads.emplace_back([&, s] {
      CLineDb db;
      std::string strWhy, strFirst;
      if (!db.bConnect(m_pg.strConnInfo(), strWhy)) return;
      for (int r = 0; r < kRuns; ++r) {
        const uint8_t ucCount = static_cast<uint8_t>(1 + (s + r) % 4);
        if (!db.bReserve({"LN", 10, 10}, "LN" + std::to_string(10000000 + s), ucCount, fnDec,
                         std::to_string(s), strFirst, strWhy))
          return;
        for (uint8_t i = 0; i < ucCount; ++i) got[s].push_back(fnDec(strFirst, i));
      }
    });
  for (auto& t : threads) t.join();
  std::set<std::string> all;
  size_t nTotal = 0;
  for (const auto& v : got) {
    nTotal += v.size();
    all.insert(v.begin(), v.end());
  }
  size_t nExpected = 0;
  for (int s = 0; s < kStations; ++s)
    for (int r = 0; r < kRuns; ++r) nExpected += static_cast<size_t>(1 + (s + r) % 4);
  ASSERT_EQ(nTotal, nExpected);
  EXPECT_EQ(all.size(), nTotal);
  // Contiguous from the first station's own start.
  std::string strNext = *all.begin();
  for (size_t i = 0; i < nTotal; ++i) {
    EXPECT_TRUE(all.count(strNext)) << strNext;
    strNext = fnDec(strNext, 1);
  }
}

// Without the server Start gets the reason; without a schema the reason says what to run.
TEST_F(LineDb, NoServerOrNoSchemaGivesTheReason) {
  TempDir dir;
  CLineStation st = station("s1", dir);
  std::string strFirst, strWhy;
  EXPECT_FALSE(st.bReserveSerials({"", 16, 8}, "00000001", 1, fnCounting(SN_EDIT_HEX, 0), strFirst, strWhy));
  EXPECT_NE(strWhy.find("line-init"), std::string::npos) << strWhy;
  ASSERT_TRUE(m_pg.bStop());
  EXPECT_FALSE(st.bReserveSerials({"", 16, 8}, "00000001", 1, fnCounting(SN_EDIT_HEX, 0), strFirst, strWhy));
  EXPECT_NE(strWhy.find("cannot be reached"), std::string::npos) << strWhy;
}

// Rows of runs that ended while the server was away wait in the journal, in order; the next
// reservation sends them; a journal sent again (a crash before it was removed) adds nothing.
TEST_F(LineDb, JournalKeepsRowsUntilTheServerIsBackAndSendsThemOnce) {
  vInit();
  TempDir dir;
  CLineStation st = station("s1", dir);
  st.vRecordRun(stRun(2, "A"));
  EXPECT_EQ(strSql("SELECT count(*) FROM mptool_hub_result"), "2");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / LINE_JOURNAL_NAME));

  ASSERT_TRUE(m_pg.bStop());
  st.vRecordRun(stRun(3, "B"));
  st.vRecordRun(stRun(1, "C"));
  const std::vector<nlohmann::json> kept = st.vecJournal();
  ASSERT_EQ(kept.size(), 4u);
  EXPECT_EQ(kept[0]["serial_written"], "B0");
  EXPECT_EQ(kept[3]["serial_written"], "C0");
  EXPECT_EQ(kept[1]["steps"][1]["result"], "FAIL");
  std::string strWhy, strFirst;
  EXPECT_FALSE(st.bFlushJournal(strWhy));
  EXPECT_EQ(st.vecJournal().size(), 4u);

  ASSERT_TRUE(m_pg.bStart());
  ASSERT_TRUE(st.bReserveSerials({"", 16, 8}, "00000001", 1, fnCounting(SN_EDIT_HEX, 0), strFirst, strWhy))
      << strWhy;
  EXPECT_FALSE(std::filesystem::exists(dir.path() / LINE_JOURNAL_NAME));
  EXPECT_EQ(strSql("SELECT string_agg(serial_written, ',' ORDER BY serial_written) FROM mptool_hub_result"),
            "A0,A1,B0,B1,B2,C0");
  EXPECT_EQ(
      strSql("SELECT count(*) FILTER (WHERE passed) || '/' || count(DISTINCT run_id) FROM mptool_hub_result"),
      "4/3");

  // The same rows once more, as after a crash between the send and the journal's removal.
  CLineDb db;
  ASSERT_TRUE(db.bConnect(m_pg.strConnInfo(), strWhy)) << strWhy;
  ASSERT_TRUE(db.bInsertRows(kept, strWhy)) << strWhy;
  EXPECT_EQ(strSql("SELECT count(*) FROM mptool_hub_result"), "6");

  LineReport report;
  ASSERT_TRUE(db.bReport(report, strWhy)) << strWhy;
  ASSERT_EQ(report.vecDays.size(), 1u);
  EXPECT_EQ(report.vecDays[0].nRuns, 3);
  EXPECT_EQ(report.vecDays[0].nHubs, 6);
  EXPECT_EQ(report.vecDays[0].nFail, 2);
  EXPECT_TRUE(report.vecDuplicates.empty());
  // A serial recorded for two hubs shows up.
  st.vRecordRun(stRun(1, "A"));
  ASSERT_TRUE(db.bReport(report, strWhy)) << strWhy;
  ASSERT_EQ(report.vecDuplicates.size(), 1u);
  EXPECT_EQ(report.vecDuplicates[0].strSerial, "A0");

  // The station's connection, broken by a restart of the server, is made again.
  ASSERT_TRUE(m_pg.bStop());
  ASSERT_TRUE(m_pg.bStart());
  st.vRecordRun(stRun(1, "D"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / LINE_JOURNAL_NAME));
  EXPECT_EQ(strSql("SELECT count(*) FROM mptool_hub_result"), "8");
}

// A row the database refuses for good (a hub string with a NUL character, which PostgreSQL's
// text cannot hold) is set aside with the reason; the rows beside it and those of later runs
// still reach the database, and the journal is empty again.
TEST_F(LineDb, ARowRefusedForGoodIsSetAsideAndHoldsBackNoOther) {
  vInit();
  TempDir dir;
  CLineStation st = station("s1", dir);
  LineRun run = stRun(3, "R");
  run.vecHubs[1].after.strSerial = std::string("BAD\0SN", 6);
  st.vRecordRun(run);
  EXPECT_EQ(strSql("SELECT string_agg(serial_written, ',' ORDER BY serial_written) FROM mptool_hub_result"),
            "R0,R2");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / LINE_JOURNAL_NAME));
  std::ifstream in(dir.path() / LINE_REFUSED_NAME);
  std::string strLine;
  ASSERT_TRUE(std::getline(in, strLine));
  nlohmann::json aside = nlohmann::json::parse(strLine);
  EXPECT_EQ(aside["serial_written"], "R1");
  EXPECT_EQ(aside["slot"], 1);
  EXPECT_NE(aside["refused"].get<std::string>().find("\\u0000"), std::string::npos) << aside["refused"];
  EXPECT_FALSE(std::getline(in, strLine));

  st.vRecordRun(stRun(1, "S"));
  EXPECT_EQ(strSql("SELECT count(*) FROM mptool_hub_result"), "3");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / LINE_JOURNAL_NAME));
}

// The checksum of the firmware file each row names.
TEST(LineCrc, FileChecksumIsTheZipCrc) {
  TempDir dir;
  EXPECT_EQ(strFileCrc32(dir.write("a", "123456789").string()), "CBF43926");
  EXPECT_EQ(strFileCrc32(dir.write("b", std::string(20000, 'x')).string()).size(), 8u);
  EXPECT_EQ(strFileCrc32((dir.path() / "none").string()), "");
}
