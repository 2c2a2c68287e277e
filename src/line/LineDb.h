// The line's database on PostgreSQL (libpq): its schema, the serial-number series, the hubs'
// result rows and the report over them. One object is one connection, used by one thread at
// a time. No call throws; a failure is false with the server's reason.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "run/IRunLine.h"

struct pg_conn;

// The schema version this program creates and works with.
constexpr int LINE_SCHEMA_VERSION = 2;

// A day of a station in the report.
struct LineReportDay {
  std::string strStation;
  std::string strDay;  // YYYY-MM-DD (UTC)
  int64_t nRuns = 0, nHubs = 0, nPass = 0, nFail = 0;
};
// A serial number recorded for more than one hub (never to happen).
struct LineReportDuplicate {
  std::string strSerial;
  int64_t nCount = 0;
};
struct LineReport {
  std::vector<LineReportDay> vecDays;
  std::vector<LineReportDuplicate> vecDuplicates;
};

class CLineDb {
 public:
  CLineDb() = default;
  ~CLineDb();
  CLineDb(const CLineDb&) = delete;
  CLineDb& operator=(const CLineDb&) = delete;

  // Connects with a libpq connection string; a connection attempt gives up after
  // nTimeoutSeconds unless the string names its own connect_timeout.
  bool bConnect(const std::string& strConnInfo, std::string& strWhy, int nTimeoutSeconds = 3);
  bool bConnected() const { return m_pConn != nullptr; }
  // Connected and the connection not seen broken (a server restart breaks it).
  bool bAlive() const;

  // Creates the schema or upgrades it to LINE_SCHEMA_VERSION, one version at a time, in one
  // transaction that no other station's upgrade runs beside. nFrom gets the version found
  // (0: none).
  bool bInitSchema(int& nFrom, std::string& strWhy);
  // The schema version found (0: none), or -1 on failure.
  int nSchemaVersion(std::string& strWhy);

  // Reserves ucCount serial numbers of the series in one transaction: the series' row is
  // locked, so no two stations get the same ones. A new series starts at strOwnSN.
  bool bReserve(const LineSeries& series, const std::string& strOwnSN, uint8_t ucCount,
                const LineSerialAfterFn& fnAfter, const std::string& strStation, std::string& strFirst,
                std::string& strWhy);

  // Inserts result rows (the journal's JSON objects); a row whose run and slot are already
  // there is left as it is. All or none. *pbRefused: the database refused the rows
  // themselves (a data or constraint error), so sending them again cannot help.
  bool bInsertRows(const std::vector<nlohmann::json>& vecRows, std::string& strWhy,
                   bool* pbRefused = nullptr);

  bool bReport(LineReport& report, std::string& strWhy);

 private:
  // Runs a statement with text parameters; false with the reason on failure. pRows gets
  // the result's rows as texts when given.
  bool bExec(const std::string& strSql, const std::vector<std::string>& vecParams, std::string& strWhy,
             std::vector<std::vector<std::string>>* pRows = nullptr, std::string* pState = nullptr);
  void vRollback();

  pg_conn* m_pConn = nullptr;
};
