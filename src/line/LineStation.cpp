#include "line/LineStation.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <random>

#include "host/FileIO.h"
#include "log/DebugLog.h"
#include "platform/FileDescriptor.h"

namespace {
const char* L = "CLineStation";

std::string strNowUtc() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  gmtime_r(&t, &tm);
  char sz[96];
  std::snprintf(sz, sizeof sz, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  return sz;
}

// A run's key among all stations' runs: 128 random bits.
std::string strNewRunId() {
  std::random_device rd;
  char sz[40];
  std::snprintf(sz, sizeof sz, "%08x%08x%08x%08x", rd(), rd(), rd(), rd());
  return sz;
}

nlohmann::json jsonIdentity(const LineIdentity& id) {
  return {{"vid", id.strVID}, {"pid", id.strPID}, {"revision", id.strRevision}, {"serial", id.strSerial}};
}
}  // namespace

std::string strFileCrc32(const std::string& strPath) {
  std::ifstream f(strPath, std::ios::binary);
  if (!f) return {};
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  char buf[8192];
  while (f.read(buf, sizeof buf) || f.gcount() > 0) {
    for (std::streamsize i = 0; i < f.gcount(); ++i)
      crc = table[(crc ^ static_cast<uint8_t>(buf[i])) & 0xFF] ^ (crc >> 8);
    if (!f) break;
  }
  char sz[16];
  std::snprintf(sz, sizeof sz, "%08X", crc ^ 0xFFFFFFFFu);
  return sz;
}

CLineStation::CLineStation(LineStationConfig config) : m_config(std::move(config)) {}

std::string CLineStation::strDefaultStation(const std::string& strAppPath) {
  char szHost[256] = {};
  if (gethostname(szHost, sizeof szHost - 1) != 0) std::strcpy(szHost, "localhost");
  return std::string(szHost) + ":" + strAppPath;
}

std::unique_ptr<CLineStation> CLineStation::pFromEnvironment(const std::string& strAppPath) {
  const char* pszDb = std::getenv("MPTOOL_LINE_DB");
  if (pszDb == nullptr || *pszDb == '\0') return nullptr;
  LineStationConfig c;
  c.strConnInfo = pszDb;
  const char* pszStation = std::getenv("MPTOOL_STATION");
  c.strStation = pszStation != nullptr && *pszStation != '\0' ? pszStation : strDefaultStation(strAppPath);
  c.strAppPath = strAppPath;
  return std::make_unique<CLineStation>(std::move(c));
}

bool CLineStation::bWithDb(const std::function<bool(CLineDb&, std::string&)>& fn, std::string& strWhy) {
  const bool bHad = m_db.bAlive();
  if (!bHad && !m_db.bConnect(m_config.strConnInfo, strWhy, m_config.nConnectTimeoutSeconds)) return false;
  if (fn(m_db, strWhy)) return true;
  // A connection made before a server restart only shows it is broken when used.
  if (!bHad || m_db.bAlive()) return false;
  return m_db.bConnect(m_config.strConnInfo, strWhy, m_config.nConnectTimeoutSeconds) && fn(m_db, strWhy);
}

void CLineStation::vConnectAhead() {
  try {
    std::lock_guard<std::mutex> l(m_mutex);
    std::string strWhy;
    if (!m_db.bAlive() && !m_db.bConnect(m_config.strConnInfo, strWhy, m_config.nConnectTimeoutSeconds))
      vDEBUG_WRN_printf(L, "line database not reached at start-up: %s", strWhy.c_str());
  } catch (...) {
    vDEBUG_ERR_printf(L, "line database: connecting ahead failed");
  }
}

std::string CLineStation::strJournalPath() const {
  return m_config.strAppPath + "/" + LINE_JOURNAL_NAME;
}

bool CLineStation::bReserveSerials(const LineSeries& series, const std::string& strOwnSN, uint8_t ucCount,
                                   const LineSerialAfterFn& fnAfter, std::string& strFirst,
                                   std::string& strWhy) {
  try {
    std::lock_guard<std::mutex> l(m_mutex);
    if (!bWithDb(
            [&](CLineDb& db, std::string& strErr) {
              return db.bReserve(series, strOwnSN, ucCount, fnAfter, m_config.strStation, strFirst, strErr);
            },
            strWhy))
      return false;
    vDEBUG_MSG_printf(L, "station [%s] reserved %u serial numbers from [%s]", m_config.strStation.c_str(),
                      ucCount, strFirst.c_str());
    // The database is there: rows an earlier run could not send go now.
    std::string strFlushWhy;
    if (!bFlushLocked(strFlushWhy)) vDEBUG_ERR_printf(L, "journal not sent: %s", strFlushWhy.c_str());
    return true;
  } catch (...) {
    strWhy = "the reservation failed";
    return false;
  }
}

std::vector<nlohmann::json> CLineStation::vecRows(const LineRun& run, const std::string& strRunId,
                                                  const std::string& strEndedAt) const {
  const std::string strCrc = run.strFirmwareFile.empty() ? std::string() : strFileCrc32(run.strFirmwareFile);
  std::vector<nlohmann::json> rows;
  for (const LineHubRow& h : run.vecHubs) {
    nlohmann::json steps = nlohmann::json::array();
    for (const auto& [strName, strResult] : h.vecSteps)
      steps.push_back({{"step", strName}, {"result", strResult}});
    rows.push_back({{"run_id", strRunId},
                    {"slot", h.nSlot},
                    {"station", m_config.strStation},
                    {"ended_at", strEndedAt},
                    {"port_path", h.strPortPath},
                    {"before", jsonIdentity(h.before)},
                    {"after", jsonIdentity(h.after)},
                    {"serial_written", h.strSerialWritten},
                    {"firmware_file", run.strFirmwareFile},
                    {"firmware_crc32", strCrc},
                    {"steps", steps},
                    {"passed", h.bPassed},
                    {"exit_code", run.nExitCode}});
  }
  return rows;
}

void CLineStation::vRecordRun(const LineRun& run) {
  try {
    const std::vector<nlohmann::json> rows = vecRows(run, strNewRunId(), strNowUtc());
    std::lock_guard<std::mutex> l(m_mutex);
    std::string strWhy;
    if (!bAppendJournal(rows, strWhy)) {
      // Without the journal the rows can only go straight to the database.
      vDEBUG_ERR_printf(L, "journal [%s]: %s", strJournalPath().c_str(), strWhy.c_str());
      if (!bWithDb([&rows](CLineDb& db, std::string& strErr) { return db.bInsertRows(rows, strErr); },
                   strWhy))
        vDEBUG_ERR_printf(L, "%zu result rows lost: %s", rows.size(), strWhy.c_str());
      return;
    }
    if (!bFlushLocked(strWhy))
      vDEBUG_WRN_printf(L, "result rows kept in [%s] for later: %s", strJournalPath().c_str(),
                        strWhy.c_str());
  } catch (...) {
    vDEBUG_ERR_printf(L, "the run's rows could not be recorded");
  }
}

bool CLineStation::bAppendJournal(const std::vector<nlohmann::json>& rows, std::string& strWhy) {
  return bAppendTo(strJournalPath(), rows, strWhy);
}

bool CLineStation::bAppendTo(const std::string& strPath, const std::vector<nlohmann::json>& rows,
                             std::string& strWhy) {
  std::string strText;
  for (const nlohmann::json& r : rows)
    strText += r.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  CFileDescriptor fd(open(strPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (!fd.bValid() || !bWriteAll(fd.get(), strText.data(), strText.size()) || fsync(fd.get()) != 0) {
    strWhy = std::strerror(errno);
    return false;
  }
  if (const int nErr = fd.nClose(); nErr != 0) {
    strWhy = std::strerror(nErr);
    return false;
  }
  return true;
}

bool CLineStation::bSendEachLocked(const std::vector<nlohmann::json>& rows, std::string& strWhy) {
  const std::string strRefusedPath = m_config.strAppPath + "/" + LINE_REFUSED_NAME;
  for (size_t i = 0; i < rows.size(); ++i) {
    bool bRefused = false;
    std::string strErr;
    const std::vector<nlohmann::json> one = {rows[i]};
    if (bWithDb([&](CLineDb& db, std::string& s) { return db.bInsertRows(one, s, &bRefused); }, strErr))
      continue;
    std::string strAsideWhy;
    if (bRefused) {
      nlohmann::json aside = rows[i];
      aside["refused"] = strErr;
      if (bAppendTo(strRefusedPath, {aside}, strAsideWhy)) {
        vDEBUG_ERR_printf(
            L, "result row of run [%s] slot %d refused by the line's database, set aside in [%s]: %s",
            rows[i].value("run_id", "").c_str(), rows[i].value("slot", -1), strRefusedPath.c_str(),
            strErr.c_str());
        continue;
      }
      strErr += "; and it could not be set aside: " + strAsideWhy;
    }
    // What is not sent yet stays in the journal, in a new one written beside it first.
    const std::string strNew = strJournalPath() + ".new";
    unlink(strNew.c_str());
    const std::vector<nlohmann::json> left(rows.begin() + static_cast<std::ptrdiff_t>(i), rows.end());
    std::string strWriteWhy;
    if (!bAppendTo(strNew, left, strWriteWhy) || rename(strNew.c_str(), strJournalPath().c_str()) != 0)
      vDEBUG_ERR_printf(L, "journal not shortened (%s): rows already sent are sent again later",
                        strWriteWhy.empty() ? std::strerror(errno) : strWriteWhy.c_str());
    strWhy = strErr;
    return false;
  }
  return true;
}

std::vector<nlohmann::json> CLineStation::vecJournal() const {
  std::vector<nlohmann::json> rows;
  std::ifstream f(strJournalPath());
  std::string strLine;
  while (std::getline(f, strLine)) {
    // A line cut off by a crash while it was written was never complete: it is skipped.
    nlohmann::json j = nlohmann::json::parse(strLine, nullptr, false);
    if (j.is_object()) rows.push_back(std::move(j));
  }
  return rows;
}

bool CLineStation::bFlushJournal(std::string& strWhy) {
  try {
    std::lock_guard<std::mutex> l(m_mutex);
    return bFlushLocked(strWhy);
  } catch (...) {
    strWhy = "the journal could not be sent";
    return false;
  }
}

bool CLineStation::bFlushLocked(std::string& strWhy) {
  if (access(strJournalPath().c_str(), F_OK) != 0) return true;
  const std::vector<nlohmann::json> rows = vecJournal();
  bool bRefused = false;
  if (!rows.empty() &&
      !bWithDb([&](CLineDb& db, std::string& strErr) { return db.bInsertRows(rows, strErr, &bRefused); },
               strWhy) &&
      !(bRefused && bSendEachLocked(rows, strWhy)))
    return false;
  // The database has every row now; should the removal fail, the next send finds them there.
  if (unlink(strJournalPath().c_str()) != 0 && errno != ENOENT) {
    strWhy = "journal sent but not removed: " + std::string(std::strerror(errno));
    return false;
  }
  vDEBUG_MSG_printf(L, "%zu result rows sent", rows.size());
  return true;
}
