// mptool-util line-init and line-report: the line's database (MPTOOL_LINE_DB, or --db
// CONNINFO) set up or upgraded, and what it holds per station and day.
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "line/LineDb.h"
#include "util/UtilCommand.h"

namespace {

// The connection string of the arguments or the environment; empty when neither names one.
bool bConnInfo(const UtilArgs& args, std::string& strConnInfo) {
  for (size_t i = 0; i < args.vecArgs.size(); ++i) {
    if (args.vecArgs[i] == "--db" && i + 1 < args.vecArgs.size() && args.vecArgs.size() == 2) {
      strConnInfo = args.vecArgs[i + 1];
      return true;
    }
  }
  if (!args.vecArgs.empty()) return false;
  const char* psz = std::getenv("MPTOOL_LINE_DB");
  strConnInfo = psz != nullptr ? psz : "";
  return true;
}

int nFail(const UtilArgs& args, const std::string& strWhy) {
  if (args.bJson)
    std::printf("%s\n", nlohmann::json{{"ok", false}, {"error", strWhy}}.dump().c_str());
  else
    std::fprintf(stderr, "%s\n", strWhy.c_str());
  return 1;
}

bool bOpen(const UtilArgs& args, CLineDb& db, int& nExit) {
  std::string strConnInfo, strWhy;
  if (!bConnInfo(args, strConnInfo)) {
    std::fprintf(stderr, "usage: mptool-util %s [--db CONNINFO] [--json]\n", "line-init|line-report");
    nExit = 2;
    return false;
  }
  if (strConnInfo.empty()) {
    nExit = nFail(args, "no database: set MPTOOL_LINE_DB or give --db CONNINFO");
    return false;
  }
  if (!db.bConnect(strConnInfo, strWhy)) {
    nExit = nFail(args, strWhy);
    return false;
  }
  return true;
}

int nLineInit(const UtilArgs& args) {
  CLineDb db;
  int nExit = 0;
  if (!bOpen(args, db, nExit)) return nExit;
  int nFrom = 0;
  std::string strWhy;
  if (!db.bInitSchema(nFrom, strWhy)) return nFail(args, strWhy);
  if (args.bJson) {
    std::printf(
        "%s\n",
        nlohmann::json{{"ok", true}, {"from", nFrom}, {"version", LINE_SCHEMA_VERSION}}.dump().c_str());
  } else if (nFrom == LINE_SCHEMA_VERSION) {
    std::printf("line schema at version %d already\n", nFrom);
  } else if (nFrom == 0) {
    std::printf("line schema created at version %d\n", LINE_SCHEMA_VERSION);
  } else {
    std::printf("line schema upgraded from version %d to %d\n", nFrom, LINE_SCHEMA_VERSION);
  }
  return 0;
}

int nLineReport(const UtilArgs& args) {
  CLineDb db;
  int nExit = 0;
  if (!bOpen(args, db, nExit)) return nExit;
  LineReport r;
  std::string strWhy;
  if (!db.bReport(r, strWhy)) return nFail(args, strWhy);
  if (args.bJson) {
    nlohmann::json days = nlohmann::json::array(), dups = nlohmann::json::array();
    for (const LineReportDay& d : r.vecDays)
      days.push_back({{"station", d.strStation},
                      {"day", d.strDay},
                      {"runs", d.nRuns},
                      {"hubs", d.nHubs},
                      {"pass", d.nPass},
                      {"fail", d.nFail}});
    for (const LineReportDuplicate& d : r.vecDuplicates)
      dups.push_back({{"serial", d.strSerial}, {"count", d.nCount}});
    std::printf("%s\n", nlohmann::json{{"ok", true}, {"days", days}, {"serials_twice", dups}}.dump().c_str());
  } else {
    std::printf("%-40s %-10s %6s %6s %6s %6s\n", "station", "day", "runs", "hubs", "pass", "fail");
    for (const LineReportDay& d : r.vecDays)
      std::printf("%-40s %-10s %6lld %6lld %6lld %6lld\n", d.strStation.c_str(), d.strDay.c_str(),
                  static_cast<long long>(d.nRuns), static_cast<long long>(d.nHubs),
                  static_cast<long long>(d.nPass), static_cast<long long>(d.nFail));
    if (r.vecDuplicates.empty()) std::printf("no serial number recorded twice\n");
    for (const LineReportDuplicate& d : r.vecDuplicates)
      std::printf("serial number %s recorded %lld times\n", d.strSerial.c_str(),
                  static_cast<long long>(d.nCount));
  }
  // A serial number given twice is a fault of the line: the report says so by its code too.
  return r.vecDuplicates.empty() ? 0 : 1;
}

CUtilCommandRegistration regInit("line-init",
                                 "[--db CONNINFO]  creates the line's database schema or upgrades it to this "
                                 "program's version (MPTOOL_LINE_DB when no --db)",
                                 nLineInit);
CUtilCommandRegistration regReport(
    "line-report",
    "[--db CONNINFO]  runs, hubs, pass and fail per station and day, and any serial "
    "number recorded twice (exit 1 then)",
    nLineReport);

}  // namespace
