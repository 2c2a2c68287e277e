#include "line/LineDb.h"

#include <libpq-fe.h>

#include <string_view>

namespace {

std::string strTrim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

// The schema, one step per version: step i takes version i to i + 1.
const char* const kSchemaSteps[] = {
    // 1: the series, their reservations and the hubs' results.
    "CREATE TABLE mptool_serial_series ("
    "  prefix text NOT NULL, base int NOT NULL, length int NOT NULL,"
    "  next_serial text NOT NULL, created_by text NOT NULL,"
    "  created_at timestamptz NOT NULL DEFAULT now(), updated_at timestamptz NOT NULL DEFAULT now(),"
    "  PRIMARY KEY (prefix, base, length));"
    "CREATE TABLE mptool_serial_reservation ("
    "  id bigserial PRIMARY KEY, prefix text NOT NULL, base int NOT NULL, length int NOT NULL,"
    "  first_serial text NOT NULL, count int NOT NULL, station text NOT NULL,"
    "  reserved_at timestamptz NOT NULL DEFAULT now());"
    "CREATE TABLE mptool_hub_result ("
    "  run_id text NOT NULL, slot int NOT NULL, station text NOT NULL, ended_at timestamptz NOT NULL,"
    "  port_path text NOT NULL,"
    "  vid_before text, pid_before text, revision_before text, serial_before text,"
    "  vid_after text, pid_after text, revision_after text, serial_after text,"
    "  serial_written text NOT NULL, firmware_file text NOT NULL, firmware_crc32 text NOT NULL,"
    "  steps jsonb NOT NULL, passed boolean NOT NULL, exit_code int NOT NULL,"
    "  received_at timestamptz NOT NULL DEFAULT now(),"
    "  PRIMARY KEY (run_id, slot));",
    // 2: what the report looks up.
    "CREATE INDEX mptool_hub_result_serial ON mptool_hub_result (serial_written) WHERE serial_written <> '';"
    "CREATE INDEX mptool_hub_result_station_day ON mptool_hub_result (station, ended_at);",
};
static_assert(sizeof kSchemaSteps / sizeof kSchemaSteps[0] == LINE_SCHEMA_VERSION);

// Any number; the stations' schema upgrades take this advisory lock one after another.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(7131190331)";

}  // namespace

CLineDb::~CLineDb() {
  if (m_pConn != nullptr) PQfinish(m_pConn);
}

bool CLineDb::bConnect(const std::string& strConnInfo, std::string& strWhy, int nTimeoutSeconds) {
  if (m_pConn != nullptr) PQfinish(m_pConn);
  // The time-out first: a connect_timeout of the caller's string comes later and wins.
  const std::string strTimeout = std::to_string(nTimeoutSeconds);
  const char* keys[] = {"connect_timeout", "dbname", nullptr};
  const char* values[] = {strTimeout.c_str(), strConnInfo.c_str(), nullptr};
  m_pConn = PQconnectdbParams(keys, values, 1);
  if (m_pConn == nullptr) {
    strWhy = "no memory for a database connection";
    return false;
  }
  if (PQstatus(m_pConn) != CONNECTION_OK) {
    strWhy = "the line's database cannot be reached: " + strTrim(PQerrorMessage(m_pConn));
    PQfinish(m_pConn);
    m_pConn = nullptr;
    return false;
  }
  // The server's notices ("already exists, skipping") are no news to anyone.
  PQsetNoticeProcessor(
      m_pConn, [](void*, const char*) {}, nullptr);
  return true;
}

bool CLineDb::bAlive() const {
  return m_pConn != nullptr && PQstatus(m_pConn) == CONNECTION_OK;
}

bool CLineDb::bExec(const std::string& strSql, const std::vector<std::string>& vecParams, std::string& strWhy,
                    std::vector<std::vector<std::string>>* pRows, std::string* pState) {
  if (m_pConn == nullptr) {
    strWhy = "not connected to the line's database";
    return false;
  }
  std::vector<const char*> params;
  params.reserve(vecParams.size());
  for (const std::string& s : vecParams) params.push_back(s.c_str());
  PGresult* r = vecParams.empty() ? PQexec(m_pConn, strSql.c_str())
                                  : PQexecParams(m_pConn, strSql.c_str(), static_cast<int>(params.size()),
                                                 nullptr, params.data(), nullptr, nullptr, 0);
  const ExecStatusType e = PQresultStatus(r);
  const bool bOk = e == PGRES_COMMAND_OK || e == PGRES_TUPLES_OK;
  if (!bOk) {
    const char* pszState = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    if (pState != nullptr) *pState = pszState ? pszState : "";
    strWhy = strTrim(r ? PQresultErrorMessage(r) : PQerrorMessage(m_pConn));
    if (strWhy.empty()) strWhy = strTrim(PQerrorMessage(m_pConn));
    if (PQstatus(m_pConn) != CONNECTION_OK) strWhy = "the line's database went away: " + strWhy;
  } else if (pRows != nullptr) {
    pRows->clear();
    for (int i = 0; i < PQntuples(r); ++i) {
      std::vector<std::string> row;
      row.reserve(static_cast<size_t>(PQnfields(r)));
      for (int c = 0; c < PQnfields(r); ++c)
        row.emplace_back(PQgetisnull(r, i, c) ? "" : PQgetvalue(r, i, c));
      pRows->push_back(std::move(row));
    }
  }
  PQclear(r);
  return bOk;
}

void CLineDb::vRollback() {
  std::string strIgnored;
  if (m_pConn != nullptr && PQtransactionStatus(m_pConn) != PQTRANS_IDLE) bExec("ROLLBACK", {}, strIgnored);
}

int CLineDb::nSchemaVersion(std::string& strWhy) {
  try {
    std::vector<std::vector<std::string>> rows;
    if (!bExec("SELECT to_regclass('mptool_schema_version') IS NOT NULL", {}, strWhy, &rows) || rows.empty())
      return -1;
    if (rows[0][0] != "t") return 0;
    if (!bExec("SELECT coalesce(max(version), 0) FROM mptool_schema_version", {}, strWhy, &rows) ||
        rows.empty())
      return -1;
    return std::stoi(rows[0][0]);
  } catch (...) {
    strWhy = "the schema version could not be read";
    return -1;
  }
}

bool CLineDb::bInitSchema(int& nFrom, std::string& strWhy) {
  try {
    nFrom = -1;
    if (!bExec("BEGIN", {}, strWhy) || !bExec(kSchemaLock, {}, strWhy) ||
        !bExec("CREATE TABLE IF NOT EXISTS mptool_schema_version (version int NOT NULL,"
               " applied_at timestamptz NOT NULL DEFAULT now())",
               {}, strWhy)) {
      vRollback();
      return false;
    }
    const int nFound = nSchemaVersion(strWhy);
    if (nFound < 0) {
      vRollback();
      return false;
    }
    if (nFound > LINE_SCHEMA_VERSION) {
      strWhy = "the line's database has schema version " + std::to_string(nFound) +
               ", newer than this program's " + std::to_string(LINE_SCHEMA_VERSION);
      vRollback();
      return false;
    }
    for (int v = nFound; v < LINE_SCHEMA_VERSION; ++v) {
      if (!bExec(kSchemaSteps[v], {}, strWhy) ||
          !bExec("INSERT INTO mptool_schema_version (version) VALUES ($1)", {std::to_string(v + 1)},
                 strWhy)) {
        strWhy.insert(0, "schema step to version " + std::to_string(v + 1) + ": ");
        vRollback();
        return false;
      }
    }
    if (!bExec("COMMIT", {}, strWhy)) return false;
    nFrom = nFound;
    return true;
  } catch (...) {
    strWhy = "the schema could not be set up";
    vRollback();
    return false;
  }
}

bool CLineDb::bReserve(const LineSeries& series, const std::string& strOwnSN, uint8_t ucCount,
                       const LineSerialAfterFn& fnAfter, const std::string& strStation, std::string& strFirst,
                       std::string& strWhy) {
  try {
    const std::vector<std::string> key = {series.strPrefix, std::to_string(series.nBase),
                                          std::to_string(series.nLength)};
    std::vector<std::vector<std::string>> rows;
    std::string strState;
    if (!bExec("BEGIN", {}, strWhy)) return false;
    // Creates the series from this station's serial number, or locks the one there: either
    // way the row stays locked to this transaction until it commits.
    if (!bExec("INSERT INTO mptool_serial_series AS s (prefix, base, length, next_serial, created_by)"
               " VALUES ($1, $2, $3, $4, $5)"
               " ON CONFLICT (prefix, base, length) DO UPDATE SET next_serial = s.next_serial"
               " RETURNING next_serial",
               {key[0], key[1], key[2], strOwnSN, strStation}, strWhy, &rows, &strState) ||
        rows.size() != 1) {
      if (strState == "42P01")
        strWhy = "the line's database has no schema (mptool-util line-init): " + strWhy;
      vRollback();
      return false;
    }
    const std::string strStart = rows[0][0];
    const std::string strNext = fnAfter(strStart, ucCount);
    // Serial numbers keep their width: a series counted past its last value would start
    // again from its lowest and give serial numbers out twice.
    if (ucCount > 0 && (strNext.size() != strStart.size() || strNext <= strStart)) {
      strWhy = "the series [" + series.strPrefix + "] base " + key[1] + " length " + key[2] +
               " is used up at [" + strStart + "]";
      vRollback();
      return false;
    }
    // The series moves on and the reservation is noted in one statement: the row is locked
    // for as few round trips as can be.
    if (!bExec("WITH s AS (UPDATE mptool_serial_series SET next_serial = $4, updated_at = now()"
               "  WHERE prefix = $1 AND base = $2 AND length = $3 RETURNING prefix)"
               " INSERT INTO mptool_serial_reservation (prefix, base, length, first_serial, count, station)"
               " SELECT $1, $2, $3, $5, $6, $7 FROM s",
               {key[0], key[1], key[2], strNext, strStart, std::to_string(ucCount), strStation}, strWhy) ||
        !bExec("COMMIT", {}, strWhy)) {
      vRollback();
      return false;
    }
    strFirst = strStart;
    return true;
  } catch (...) {
    strWhy = "the reservation failed";
    vRollback();
    return false;
  }
}

bool CLineDb::bInsertRows(const std::vector<nlohmann::json>& vecRows, std::string& strWhy, bool* pbRefused) {
  if (pbRefused != nullptr) *pbRefused = false;
  try {
    if (vecRows.empty()) return true;
    const std::string strRows =
        nlohmann::json(vecRows).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::string strState;
    const bool bOk = bExec(
        "INSERT INTO mptool_hub_result (run_id, slot, station, ended_at, port_path,"
        " vid_before, pid_before, revision_before, serial_before, vid_after, pid_after, revision_after,"
        " serial_after, serial_written, firmware_file, firmware_crc32, steps, passed, exit_code)"
        " SELECT r->>'run_id', (r->>'slot')::int, r->>'station', (r->>'ended_at')::timestamptz, "
        "r->>'port_path',"
        " r->'before'->>'vid', r->'before'->>'pid', r->'before'->>'revision', r->'before'->>'serial',"
        " r->'after'->>'vid', r->'after'->>'pid', r->'after'->>'revision', r->'after'->>'serial',"
        " r->>'serial_written', r->>'firmware_file', r->>'firmware_crc32', r->'steps',"
        " (r->>'passed')::boolean, (r->>'exit_code')::int"
        " FROM jsonb_array_elements($1::jsonb) AS r"
        " ON CONFLICT (run_id, slot) DO NOTHING",
        {strRows}, strWhy, nullptr, &strState);
    if (!bOk && strState == "42P01")
      strWhy = "the line's database has no schema (mptool-util line-init): " + strWhy;
    // SQLSTATE classes 22 (data exception) and 23 (integrity constraint violation)
    if (!bOk && pbRefused != nullptr)
      *pbRefused = strState.rfind("22", 0) == 0 || strState.rfind("23", 0) == 0;
    return bOk;
  } catch (...) {
    strWhy = "the rows could not be sent";
    return false;
  }
}

bool CLineDb::bReport(LineReport& report, std::string& strWhy) {
  try {
    std::vector<std::vector<std::string>> rows;
    if (!bExec("SELECT station, to_char(ended_at AT TIME ZONE 'UTC', 'YYYY-MM-DD') AS day,"
               " count(DISTINCT run_id), count(*), count(*) FILTER (WHERE passed),"
               " count(*) FILTER (WHERE NOT passed)"
               " FROM mptool_hub_result GROUP BY 1, 2 ORDER BY 1, 2",
               {}, strWhy, &rows))
      return false;
    report = LineReport{};
    for (const auto& r : rows)
      report.vecDays.push_back(
          {r[0], r[1], std::stoll(r[2]), std::stoll(r[3]), std::stoll(r[4]), std::stoll(r[5])});
    if (!bExec("SELECT serial_written, count(*) FROM mptool_hub_result WHERE serial_written <> ''"
               " GROUP BY 1 HAVING count(*) > 1 ORDER BY 1",
               {}, strWhy, &rows))
      return false;
    for (const auto& r : rows) report.vecDuplicates.push_back({r[0], std::stoll(r[1])});
    return true;
  } catch (...) {
    strWhy = "the report could not be read";
    return false;
  }
}
