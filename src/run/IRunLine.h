// The production line a station may belong to: serial numbers reserved for the whole line
// and every hub's result kept in one place. The engine sees only this interface; without a
// line (RunEngineConfig::pLine empty) a run is what it is on a station of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A series of serial numbers: its fixed prefix, counting base (16 or 10) and serial length.
struct LineSeries {
  std::string strPrefix;
  int nBase = 16;
  int nLength = 0;
};

// The serial number nCount places after a given one, by the station's counting rules.
using LineSerialAfterFn = std::function<std::string(const std::string& strSN, uint8_t ucCount)>;

// A hub's identity as a scan reads it.
struct LineIdentity {
  std::string strVID, strPID, strRevision, strSerial;
};

// One hub of a run as the line records it.
struct LineHubRow {
  int nSlot = 0;
  std::string strPortPath;
  LineIdentity before, after;
  std::string strSerialWritten;
  bool bPassed = false;
  // Each step the run carried out, in order: its name and "PASS" or "FAIL".
  std::vector<std::pair<std::string, std::string>> vecSteps;
};

struct LineRun {
  std::string strFirmwareFile;  // empty: no firmware written
  int nExitCode = 0;
  std::vector<LineHubRow> vecHubs;
};

class IRunLine {
 public:
  virtual ~IRunLine() = default;
  // Start: reserves ucCount serial numbers of the series for this station, all or none. The
  // first station of a series starts it at strOwnSN; strFirst gets the first reserved one.
  // False with the reason when none could be reserved.
  virtual bool bReserveSerials(const LineSeries& series, const std::string& strOwnSN, uint8_t ucCount,
                               const LineSerialAfterFn& fnAfter, std::string& strFirst,
                               std::string& strWhy) = 0;
  // The run's end: its hubs' rows. Rows that cannot be sent now are kept and sent later; the
  // call never blocks the run for longer than a connection attempt.
  virtual void vRecordRun(const LineRun& run) = 0;
};
