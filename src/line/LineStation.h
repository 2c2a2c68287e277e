// A station of a production line: the line's database (MPTOOL_LINE_DB, a libpq connection
// string) and the station's name (MPTOOL_STATION; default host name and program folder).
// Result rows go into a journal in the program folder first and leave it only once the
// database has them: rows the database cannot take now are sent with the next Start or the
// next run's end, and sending one twice leaves one row (each row is keyed by run and slot).
// A row the database refuses for good is set aside (LINE_REFUSED_NAME) and the rest are sent.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "line/LineDb.h"
#include "run/IRunLine.h"

// The journal's file name in the program folder.
inline constexpr const char* LINE_JOURNAL_NAME = "line_journal.jsonl";
// Rows the database refuses for good (a data or constraint error) are set aside here, each
// with the database's reason in "refused", so that they no longer hold back the others.
inline constexpr const char* LINE_REFUSED_NAME = "line_journal.refused.jsonl";

struct LineStationConfig {
  std::string strConnInfo;
  std::string strStation;
  std::string strAppPath;  // the program folder, where the journal lives
  int nConnectTimeoutSeconds = 3;
};

class CLineStation : public IRunLine {
 public:
  explicit CLineStation(LineStationConfig config);

  // The station of the environment, or nothing when MPTOOL_LINE_DB is not set (or empty).
  static std::unique_ptr<CLineStation> pFromEnvironment(const std::string& strAppPath);
  // Connects ahead of the first Start (at start-up), so that Start waits only for the
  // reservation itself. A failure here is only logged: Start tries again.
  void vConnectAhead();

  // The station's default name: host name and program folder.
  static std::string strDefaultStation(const std::string& strAppPath);

  bool bReserveSerials(const LineSeries& series, const std::string& strOwnSN, uint8_t ucCount,
                       const LineSerialAfterFn& fnAfter, std::string& strFirst, std::string& strWhy) override;
  void vRecordRun(const LineRun& run) override;

  // Sends what the journal holds; true when it is empty afterwards.
  bool bFlushJournal(std::string& strWhy);
  // The rows the journal holds.
  std::vector<nlohmann::json> vecJournal() const;

  // The rows of a run as the journal and the database take them (run id and time given).
  std::vector<nlohmann::json> vecRows(const LineRun& run, const std::string& strRunId,
                                      const std::string& strEndedAt) const;

  const LineStationConfig& config() const { return m_config; }

 private:
  std::string strJournalPath() const;
  bool bAppendJournal(const std::vector<nlohmann::json>& rows, std::string& strWhy);
  bool bFlushLocked(std::string& strWhy);
  // Sends rows one by one, setting aside those the database refuses; when the database goes
  // away, the journal keeps what is not sent yet. True when every row is sent or set aside.
  bool bSendEachLocked(const std::vector<nlohmann::json>& rows, std::string& strWhy);
  // Appends rows to a file of the program folder, synced; false with the reason.
  bool bAppendTo(const std::string& strPath, const std::vector<nlohmann::json>& rows, std::string& strWhy);
  // Runs fn on the station's connection, connecting first when there is none; a connection
  // found broken is made again and fn tried once more. Under m_mutex.
  bool bWithDb(const std::function<bool(CLineDb&, std::string&)>& fn, std::string& strWhy);

  LineStationConfig m_config;
  // The journal file and the connection, between Start (window thread) and a run's end (run
  // thread).
  mutable std::mutex m_mutex;
  CLineDb m_db;
};

// CRC-32 (the zip polynomial) of a file's bytes as 8 hexadecimal digits; empty when it
// cannot be read.
std::string strFileCrc32(const std::string& strPath);
