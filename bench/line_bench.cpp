// The latency of a Start's serial-number reservation in line mode, as a station sees it:
// reserving a run's serial numbers in one transaction (CLineStation::bReserveSerials), on
// the connection MPTool makes at start-up, and for comparison with a new connection at
// every Start. Against a private PostgreSQL server on this
// machine (Unix socket, the server's default durability: every commit flushed), one station
// alone and eight at once on the same series. Goal: median under 20 ms in both.
//   MPTOOL_BENCH_RESERVATIONS  reservations per station (default 200)
// Prints median, 95th percentile and maximum per case; exits 1 only when the server cannot
// be started or a reservation fails, never for a missed goal.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "line/LineDb.h"
#include "line/LineStation.h"
#include "settings/SerialNumber.h"
#include "support/PgCluster.h"
#include "support/TempDir.h"

namespace {

struct Figures {
  double dMedian = 0, dP95 = 0, dMax = 0;
};

Figures stFigures(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  if (v.empty()) return {};
  return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 95 / 100)], v.back()};
}

// One station's reservations one after another, each as at a Start; false on a failure.
// bAhead: the connection made at start-up, as MPTool does; otherwise each Start connects.
bool bReserveMany(const std::string& strConnInfo, const std::string& strStation, int nCount, bool bAhead,
                  std::vector<double>& vecMs) {
  TempDir dir;
  std::unique_ptr<CLineStation> pStation;
  auto vNewStation = [&] {
    pStation = std::make_unique<CLineStation>(LineStationConfig{strConnInfo, strStation, dir.str(), 3});
    if (bAhead) pStation->vConnectAhead();
  };
  vNewStation();
  INISettings ini;
  ini.ucSN_EditType = SN_EDIT_HEX;
  const LineSerialAfterFn fnAfter = [&ini](const std::string& s, uint8_t n) {
    return strSerialNumberAfter(ini, s, n);
  };
  for (int i = 0; i < nCount; ++i) {
    std::string strFirst, strWhy;
    if (!bAhead && i > 0) vNewStation();
    const auto t0 = std::chrono::steady_clock::now();
    const bool bOk = pStation->bReserveSerials({"", 16, 12}, "000000000001", static_cast<uint8_t>(1 + i % 4),
                                               fnAfter, strFirst, strWhy);
    const auto t1 = std::chrono::steady_clock::now();
    if (!bOk) {
      std::fprintf(stderr, "reservation failed: %s\n", strWhy.c_str());
      return false;
    }
    vecMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  return true;
}

void vPrint(const char* pszCase, const Figures& f, size_t n) {
  std::printf("%-40s %6zu reservations  median %6.2f ms  p95 %6.2f ms  max %7.2f ms  %s\n", pszCase, n,
              f.dMedian, f.dP95, f.dMax, f.dMedian < 20.0 ? "(goal 20 ms: met)" : "(goal 20 ms: MISSED)");
}

}  // namespace

int main() {
  const char* psz = std::getenv("MPTOOL_BENCH_RESERVATIONS");
  const int nCount = psz != nullptr && std::atoi(psz) > 0 ? std::atoi(psz) : 200;
  CPgCluster pg;
  std::string strWhy;
  if (!pg.bCreate(strWhy, true)) {
    std::fprintf(stderr, "line_bench: %s\n", strWhy.c_str());
    return 1;
  }
  {
    CLineDb db;
    int nFrom = 0;
    if (!db.bConnect(pg.strConnInfo(), strWhy) || !db.bInitSchema(nFrom, strWhy)) {
      std::fprintf(stderr, "line_bench: %s\n", strWhy.c_str());
      return 1;
    }
  }
  for (const bool bAhead : {true, false}) {
    const char* pszHow = bAhead ? "connected at start-up" : "connecting at Start";
    std::vector<double> vecOne;
    if (!bReserveMany(pg.strConnInfo(), "one", nCount, bAhead, vecOne)) return 1;
    vPrint((std::string("1 station, ") + pszHow).c_str(), stFigures(vecOne), vecOne.size());

    constexpr int kStations = 8;
    std::vector<std::vector<double>> per(kStations);
    std::vector<int> ok(kStations, 0);
    std::vector<std::thread> threads;
    threads.reserve(kStations);
    for (int s = 0; s < kStations; ++s)
      threads.emplace_back([&, s] {
        ok[s] = bReserveMany(pg.strConnInfo(), "st" + std::to_string(s), nCount, bAhead, per[s]);
      });
    for (auto& t : threads) t.join();
    std::vector<double> vecAll;
    for (int s = 0; s < kStations; ++s) {
      if (!ok[s]) return 1;
      vecAll.insert(vecAll.end(), per[s].begin(), per[s].end());
    }
    vPrint((std::string("8 stations, ") + pszHow).c_str(), stFigures(vecAll), vecAll.size());
  }
  return 0;
}
