// Whole "MPTool /S" runs, each in its own process, on random benches: 1 to 8 hubs in random
// cascades on random controllers, one fault of one class at a random place of one hub. Each
// run is judged from the outside only: the flash files, the result log and the saved
// settings. The image a hub must hold is the one the same bench gets in a run without the
// fault (same hubs, same places, so the same serial numbers).
//
//   bench_fault_campaign [--runs N] [--seed S] [--replay S] [--short] [--time-scale T]
//     --runs N       runs per fault class (default 200)
//     --seed S       the campaign's seed (default: drawn); every run prints its own seed
//     --replay S     one run with that run seed, its files kept and their folder printed
//     --short        a few runs per class with a fixed seed; exits 1 on any finding
//     --time-scale T the runs' time scale (default 0.01)
//
// Per class it prints: runs, false PASS (a hub logged PASS whose flash differs from the
// expected image and table), hangs (a run killed after its time), hubs not logged,
// duplicate serial numbers, wrong exit codes (0 exactly when every hub passed, else -1),
// wrong saved settings, runs refused before any hub was run (-4: a hub vanished during
// the scan; or every hub left before a scan found one, so the run waits for a hub: not
// findings), and references that failed (the run without the fault; its files and the
// tool's error entries are printed). A failed reference runs again at time scale 0.1; it
// is a finding only when it fails there too. A run or reference that goes wrong is printed
// with its seed.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/SimBench.h"
#include "settings/Ini.h"
#include "support/E2EBench.h"

namespace {

constexpr int HANG_LIMIT_S = 30;                      // real seconds; a healthy run takes well under one
constexpr const char* FIRST_SERIAL = "0000000000A0";  // every bench starts its serials here
constexpr double SLOW_TIME_SCALE = 0.1;               // a reference that failed runs again at this

double g_dTimeScale = 0.01;  // the runs' time scale: a tool second is 10 ms of real time

const char* const g_kinds[] = {"fail", "stall",       "timeout",   "gone",
                               "flip", "erase_stuck", "no_return", "erase_partial"};

struct Figures {
  int nRuns = 0, nFalsePass = 0, nHangs = 0, nNotLogged = 0, nDupSerials = 0, nWrongExit = 0,
      nWrongSettings = 0, nRefused = 0;
  // references that failed at the campaign's time scale, and those of them that failed at
  // the slower scale too (only these are findings)
  int nRefFailed = 0, nRefFindings = 0;
  int nFindings() const {
    return nFalsePass + nHangs + nNotLogged + nDupSerials + nWrongExit + nWrongSettings + nRefFindings;
  }
};

struct Outcome {
  int nExit = 0;
  bool bHang = false;
};

std::string strRead(const std::string& strPath) {
  std::ifstream in(strPath, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void vWrite(const std::string& strPath, const std::string& strData) {
  std::ofstream(strPath, std::ios::binary) << strData;
}

// "MPTool /S" in the folder, killed after HANG_LIMIT_S of real time.
Outcome stRunMPTool(const std::string& strDir) {
  const std::string strBin = std::string(MPTOOL_BIN_DIR) + "/MPTool";
  const std::string strBench = strDir + "/bench.json";
  std::fflush(stdout);  // the child must not write out this process's buffer
  pid_t pid = fork();
  if (pid == 0) {
    setenv("MPTOOL_SIM", strBench.c_str(), 1);
    setenv("MPTOOL_HOME", strDir.c_str(), 1);
    if (chdir(strDir.c_str()) != 0) _exit(126);
    // the diagnostic log (standard error) stays with the run's files
    if (!freopen("/dev/null", "w", stdout) || !freopen((strDir + "/MPTool.stderr").c_str(), "w", stderr))
      _exit(126);
    execl(strBin.c_str(), strBin.c_str(), "/S", static_cast<char*>(nullptr));
    _exit(127);
  }
  Outcome o;
  if (pid < 0) return {-1000, false};
  auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(HANG_LIMIT_S);
  int nStatus = 0;
  for (;;) {
    pid_t r = waitpid(pid, &nStatus, WNOHANG);
    if (r == pid) break;
    if (r < 0) return {-1000, false};
    if (std::chrono::steady_clock::now() > tEnd) {
      kill(pid, SIGKILL);
      waitpid(pid, &nStatus, 0);
      o.bHang = true;
      return o;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  o.nExit = WIFEXITED(nStatus) ? static_cast<int8_t>(WEXITSTATUS(nStatus)) : -1000;
  return o;
}

struct Bench {
  std::vector<std::string> controllers;
  std::vector<E2EHub> hubs;
  int nFaultHub = 0;
  std::string strFault;
};

// A random tree: each hub on a free port of a controller or of a hub before it.
Bench stRandomBench(std::mt19937& rng, const std::string& strKind) {
  Bench b;
  const int nControllers = std::uniform_int_distribution<int>(1, 3)(rng);
  for (int c = 0; c < nControllers; ++c) b.controllers.push_back("xhci" + std::to_string(c));
  const int nHubs = std::uniform_int_distribution<int>(1, 8)(rng);
  std::map<std::string, int> mapNextPort;
  for (int i = 0; i < nHubs; ++i) {
    std::vector<std::string> places;
    for (auto& c : b.controllers)
      if (mapNextPort[c] < 4) places.push_back(c);
    for (auto& h : b.hubs)
      if (mapNextPort[h.strName] < 4) places.push_back(h.strName);
    const std::string strOn = places[std::uniform_int_distribution<size_t>(0, places.size() - 1)(rng)];
    const int nPort = ++mapNextPort[strOn];
    b.hubs.push_back(stE2EHub("hub" + std::to_string(i + 1), strOn, nPort, rng() % 2 == 0));
  }
  b.nFaultHub = std::uniform_int_distribution<int>(0, nHubs - 1)(rng);
  // The place: a request of one phase (register read, erase, configuration write, download,
  // read-back, reset, descriptor) and its occurrence, or a chance per request.
  struct Phase {
    const char* pszRequest;
    int nMaxOccurrence;
  };
  const Phase phases[] = {{"0x52", 40},   {"0x57", 4}, {"0x51", 8}, {"0x50", 720},
                          {"0x55", 2400}, {"0x54", 2}, {"0x06", 12}};
  const Phase& pDrawn = phases[std::uniform_int_distribution<size_t>(0, std::size(phases) - 1)(rng)];
  // A flip at the reset request would change the stored image after the run has read it back
  // (it carries no data and no answer): no tool could see that, so a flip strikes the
  // descriptor check there instead.
  const Phase& p = strKind == "flip" && std::string(pDrawn.pszRequest) == "0x54" ? phases[6] : pDrawn;
  std::ostringstream f;
  f << "[{\"kind\": \"" << strKind << "\"";
  if (strKind == "erase_stuck" || strKind == "erase_partial") {
    f << ", \"request\": \"0x57\", \"occurrence\": " << std::uniform_int_distribution<int>(1, 2)(rng);
    if (strKind == "erase_partial")
      f << ", \"offset\": \"0x" << std::hex << std::uniform_int_distribution<int>(0, 0x5F00)(rng) << std::dec
        << "\", \"length\": " << std::uniform_int_distribution<int>(1, 256)(rng);
  } else if (strKind == "no_return") {
    f << ", \"request\": \"0x54\"";
  } else if (rng() % 4 == 0) {
    const double dChance = std::uniform_real_distribution<double>(0.0005, 0.02)(rng);
    f << ", \"request\": \"" << p.pszRequest << "\", \"probability\": " << dChance;
    if (strKind != "flip") f << ", \"seed\": " << rng() % 100000;
  } else {
    f << ", \"request\": \"" << p.pszRequest
      << "\", \"occurrence\": " << std::uniform_int_distribution<int>(1, p.nMaxOccurrence)(rng);
  }
  if (strKind == "flip")
    f << ", \"seed\": " << rng() % 100000 << ", \"bits\": " << std::uniform_int_distribution<int>(1, 4)(rng);
  if (strKind == "fail" || strKind == "stall" || strKind == "timeout")
    f << ", \"count\": " << std::uniform_int_distribution<int>(1, 3)(rng);
  f << "}]";
  b.strFault = f.str();
  return b;
}

std::string strSerialAfter(const std::string& strFirst, int n) {
  char sz[16];
  std::snprintf(sz, sizeof sz, "%012llX",
                std::stoull(strFirst, nullptr, 16) + static_cast<unsigned long long>(n));
  return sz;
}

// Writes the folder for one run of the bench, with or without its fault.
void vLayOut(const std::string& strDir, const Bench& b, bool bFault, double dTimeScale) {
  std::filesystem::remove_all(strDir);
  std::filesystem::create_directories(strDir);
  std::vector<E2EHub> hubs = b.hubs;
  if (bFault) hubs[b.nFaultHub].jsonFaults = nlohmann::json::parse(b.strFault);
  nlohmann::json jsonBench = nlohmann::json::parse(strE2EBenchJson(b.controllers, hubs));
  jsonBench["time_scale"] = dTimeScale;
  vWrite(strDir + "/bench.json", jsonBench.dump());
  vWrite(strDir + "/VLN642_10_campaign.bin", strE2EFirmware());
  E2ESettings st;
  st.nAutoDevNum = static_cast<int>(b.hubs.size());
  st.strFirmware = "VLN642_10_campaign.bin";
  st.strMaker = "Campaign Maker";
  st.strSerial = FIRST_SERIAL;
  vWrite(strDir + "/vlnhub.ini", strE2ESettings(st));
}

// The entries of a run's result logs. The log is named by the day an entry is written, so a
// run that crosses midnight leaves yesterday's log and maybe today's: both are read, in order.
std::vector<std::vector<std::string>> vecLogEntries(const std::string& strDir) {
  const std::time_t t = std::time(nullptr);
  std::vector<std::string> paths;
  for (std::time_t day : {t - std::time_t{24} * 3600, t}) {
    std::tm tm = *std::localtime(&day);
    const std::string strPath = Ini::strMPResultLogPath(strDir, tm);
    if (std::find(paths.begin(), paths.end(), strPath) == paths.end()) paths.push_back(strPath);
  }
  std::vector<std::vector<std::string>> v;
  for (const std::string& strPath : paths) {
    std::ifstream in(strPath);
    std::string l;
    std::getline(in, l);  // header
    while (std::getline(in, l)) {
      if (!l.empty() && l.back() == '\r') l.pop_back();
      if (l.empty()) continue;
      std::vector<std::string> f;
      std::stringstream s(l);
      for (std::string x; std::getline(s, x, '\t');) f.push_back(x);
      v.push_back(f);
    }
  }
  return v;
}

// The error entries of a run's diagnostic log (standard error): what went wrong, in the
// tool's own words.
std::vector<std::string> vecErrorEntries(const std::string& strPath) {
  std::ifstream in(strPath);
  std::vector<std::string> v;
  for (std::string l; std::getline(in, l);)
    if (l.rfind("ERR::", 0) == 0) v.push_back(l);
  return v;
}

constexpr size_t F_TARGET = 2, F_SERIAL = 10, F_UPDATE = 28, F_RELOAD = 29;

struct Flashes {
  std::vector<std::vector<uint8_t>> vecFlash;
  std::vector<SimHubIdentity> vecIdentity;
};

Flashes stFlashes(const std::string& strDir) {
  Flashes r;
  std::string err;
  auto p = CSimBench::pLoad(strDir + "/bench.json", err);
  if (!p) return r;
  for (int h = 0; h < p->nHubs(); ++h) {
    r.vecFlash.push_back(p->vecFlash(h, 0, 131072));
    r.vecIdentity.push_back(p->stIdentity(h));
  }
  return r;
}

// What the run without the fault leaves: the flash each hub must hold after the faulty run
// and which hub each logged slot names. strWhy says what went wrong, empty when it passed.
struct Reference {
  Flashes expected;
  std::map<std::string, int> mapSlotHub;
  std::string strWhy;
};

Reference stRunReference(const std::string& strDir, const Bench& b, double dTimeScale) {
  const int nHubs = static_cast<int>(b.hubs.size());
  vLayOut(strDir, b, false, dTimeScale);
  const Outcome o = stRunMPTool(strDir);
  Reference r;
  r.expected = stFlashes(strDir);
  // what must match: the configuration table and the image behind it (the flash beyond is
  // erased space the run neither writes nor reads back)
  const size_t ulImage = 256 + strRead(strDir + "/VLNFW_Temp/TempBinData.bin").size();
  for (auto& v : r.expected.vecFlash) v.resize(std::min(v.size(), ulImage));
  // slot -> hub, from the entries and the identities the hubs report
  for (auto& e : vecLogEntries(strDir)) {
    for (int h = 0; e.size() > F_RELOAD && h < static_cast<int>(r.expected.vecIdentity.size()); ++h)
      if (r.expected.vecIdentity[h].strSerial == e[F_SERIAL]) r.mapSlotHub[e[F_TARGET]] = h;
  }
  if (o.bHang)
    r.strWhy = "hung";
  else if (o.nExit != 0)
    r.strWhy = "exit " + std::to_string(o.nExit);
  else if (static_cast<int>(r.expected.vecFlash.size()) != nHubs)
    r.strWhy = "its bench file could not be read";
  else if (static_cast<int>(r.mapSlotHub.size()) != nHubs)
    r.strWhy = "entries that do not name its " + std::to_string(nHubs) + " hubs";
  return r;
}

// One run and its reference; adds what it finds to fig. False when the run found something.
bool bOneRun(uint32_t uRunSeed, const std::string& strKind, const std::string& strDir, Figures& fig,
             bool bVerbose) {
  std::mt19937 rng(uRunSeed);
  const Bench b = stRandomBench(rng, strKind);
  const int nHubs = static_cast<int>(b.hubs.size());
  // the reference: the same bench without its fault
  double dTimeScale = g_dTimeScale;
  Reference ref = stRunReference(strDir, b, dTimeScale);
  if (!ref.strWhy.empty()) {
    ++fig.nRefFailed;
    const std::string strKept = strDir + "." + std::to_string(uRunSeed) + ".reference";
    std::filesystem::remove_all(strKept);
    std::filesystem::copy(strDir, strKept, std::filesystem::copy_options::recursive);
    std::printf("seed %u (%s, %d hubs): the run without a fault failed: %s (files in %s)\n", uRunSeed,
                strKind.c_str(), nHubs, ref.strWhy.c_str(), strKept.c_str());
    for (auto& l : vecErrorEntries(strKept + "/MPTool.stderr")) std::printf("  %s\n", l.c_str());
    // Again with ten times the real time per tool millisecond: a failure that then goes
    // away came from delays of this machine that the scale made seconds of tool time (a
    // station's waits are a hundred times longer in real time still). The faulty run gets
    // the same scale.
    dTimeScale = SLOW_TIME_SCALE;
    ref = stRunReference(strDir, b, dTimeScale);
    if (!ref.strWhy.empty()) {
      std::printf("seed %u: the run without a fault fails at time scale %g too: %s\n", uRunSeed, dTimeScale,
                  ref.strWhy.c_str());
      ++fig.nRuns, ++fig.nRefFindings;
      return false;
    }
    std::printf(
        "seed %u: the run without a fault passes at time scale %g: the machine's load, not the tool\n",
        uRunSeed, dTimeScale);
  }
  if (bVerbose) {
    std::filesystem::remove_all(strDir + ".reference");
    std::filesystem::copy(strDir, strDir + ".reference", std::filesystem::copy_options::recursive);
  }
  const Flashes& expected = ref.expected;
  const std::map<std::string, int>& mapSlotHub = ref.mapSlotHub;
  vLayOut(strDir, b, true, dTimeScale);
  ++fig.nRuns;
  Outcome o = stRunMPTool(strDir);
  std::ostringstream why;
  Figures f;
  if (o.bHang) {
    f.nHangs = 1;
    why << " hang";
  }
  auto entries = vecLogEntries(strDir);
  if (!o.bHang && o.nExit == -4 && entries.empty()) {
    if (bVerbose) std::printf("seed %u: refused, a hub vanished during the scan\n", uRunSeed);
    ++fig.nRefused;
    return true;
  }
  // Every hub left the bus before a scan found one (a departing hub takes those below it
  // along): a window-less run then waits for a hub to arrive, and Start never came, so the
  // serial number is still the first one. Not a finding.
  if (o.bHang && strKind == "gone" && entries.empty() &&
      strRead(strDir + "/vlnhub.ini").find(std::string("serial_number=") + FIRST_SERIAL) !=
          std::string::npos) {
    if (bVerbose) std::printf("seed %u: every hub left before a scan found one\n", uRunSeed);
    ++fig.nRefused;
    return true;
  }
  Flashes now = stFlashes(strDir);
  int nPass = 0;
  std::map<std::string, int> mapSerials;
  for (auto& e : entries) {
    if (e.size() <= F_RELOAD) continue;
    const bool bPass = e[F_UPDATE] == "PASS" && e[F_RELOAD] == "PASS";
    if (!bPass) continue;
    ++nPass;
    // the hub this entry names: the one in its slot in the run without the fault (an entry
    // may carry the identity from before the run: a hub below one that never came back)
    const auto it = mapSlotHub.find(e[F_TARGET]);
    const int nHub = it == mapSlotHub.end() ? -1 : it->second;
    if (nHub < 0 || !std::equal(expected.vecFlash[nHub].begin(), expected.vecFlash[nHub].end(),
                                now.vecFlash[nHub].begin())) {
      ++f.nFalsePass;
      why << " false PASS (" << e[F_SERIAL] << ")";
    }
  }
  if (!o.bHang && static_cast<int>(entries.size()) < nHubs) {
    f.nNotLogged = nHubs - static_cast<int>(entries.size());
    why << " " << f.nNotLogged << " hub(s) not logged";
  }
  for (auto& id : now.vecIdentity)
    if (id.strManufacturer == "Campaign Maker") ++mapSerials[id.strSerial];
  for (auto& [s, n] : mapSerials)
    if (n > 1) {
      f.nDupSerials += n - 1;
      why << " serial " << s << " on " << n << " hubs";
    }
  const bool bAllPass = nPass == nHubs && static_cast<int>(entries.size()) == nHubs;
  if (!o.bHang && o.nExit != (bAllPass ? 0 : -1)) {
    f.nWrongExit = 1;
    why << " exit " << o.nExit << " with " << nPass << " of " << nHubs << " passed";
  }
  // the next serial number is saved at Start, whatever the run's result
  const std::string strIni = strRead(strDir + "/vlnhub.ini");
  if (!o.bHang && strIni.find("serial_number=" + strSerialAfter(FIRST_SERIAL, nHubs)) == std::string::npos) {
    f.nWrongSettings = 1;
    why << " settings not moved on by " << nHubs;
  }
  fig.nFalsePass += f.nFalsePass, fig.nHangs += f.nHangs, fig.nNotLogged += f.nNotLogged;
  fig.nDupSerials += f.nDupSerials, fig.nWrongExit += f.nWrongExit, fig.nWrongSettings += f.nWrongSettings;
  if (f.nFindings() || bVerbose)
    std::printf("seed %u (%s, %d hubs, hub%d %s):%s\n", uRunSeed, strKind.c_str(), nHubs, b.nFaultHub + 1,
                b.strFault.c_str(), f.nFindings() ? why.str().c_str() : " ok");
  return f.nFindings() == 0;
}

// The figures per class so far; returns the findings of all classes.
int nPrintFigures(std::map<std::string, Figures>& mapFig) {
  int nFindings = 0;
  std::printf("%-14s %6s %10s %6s %11s %10s %10s %9s %8s %17s\n", "class", "runs", "false PASS", "hangs",
              "not logged", "dup serial", "wrong exit", "settings", "refused", "reference failed");
  for (const char* k : g_kinds) {
    const Figures& f = mapFig[k];
    nFindings += f.nFindings();
    std::printf("%-14s %6d %10d %6d %11d %10d %10d %9d %8d %17d\n", k, f.nRuns, f.nFalsePass, f.nHangs,
                f.nNotLogged, f.nDupSerials, f.nWrongExit, f.nWrongSettings, f.nRefused, f.nRefFailed);
  }
  std::fflush(stdout);
  return nFindings;
}

int nMain(int argc, char** argv) {
  int nRuns = 200;
  bool bReplay = false;
  uint32_t uSeed = std::random_device{}();
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--short") {
      nRuns = 3, uSeed = 20261209;
    } else if (a == "--runs" && i + 1 < argc) {
      nRuns = std::atoi(argv[++i]);
    } else if (a == "--time-scale" && i + 1 < argc) {
      g_dTimeScale = std::atof(argv[++i]);
      if (!(g_dTimeScale >= 1e-6 && g_dTimeScale <= SLOW_TIME_SCALE)) {
        std::fprintf(stderr, "--time-scale: from 0.000001 to %g\n", SLOW_TIME_SCALE);
        return 2;
      }
    } else if ((a == "--seed" || a == "--replay") && i + 1 < argc) {
      uSeed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
      bReplay = a == "--replay";
    } else {
      std::fprintf(stderr, "usage: %s [--runs N] [--seed S] [--replay RUNSEED] [--short] [--time-scale T]\n",
                   argv[0]);
      return 2;
    }
  }
  char szDir[] = "/tmp/fault_campaign_XXXXXX";
  if (!mkdtemp(szDir)) return 2;
  const std::string strDir = std::string(szDir) + "/run";
  if (bReplay) {
    // the run seed names the class too: it is the class index's seed below
    Figures fig;
    const std::string strKind = g_kinds[uSeed % std::size(g_kinds)];
    const bool bOk = bOneRun(uSeed, strKind, strDir, fig, true);
    std::printf("files in %s (the run without the fault: %s.reference)\n", strDir.c_str(), strDir.c_str());
    return bOk ? 0 : 1;
  }
  std::printf("campaign seed %u, %d runs per class\n", uSeed, nRuns);
  std::mt19937 rng(uSeed);
  std::map<std::string, Figures> mapFig;
  for (int r = 0; r < nRuns; ++r) {
    for (size_t k = 0; k < std::size(g_kinds); ++k) {
      // a run seed that gives back its class: seed % classes == class index
      uint32_t uRunSeed = static_cast<uint32_t>(rng() / std::size(g_kinds) * std::size(g_kinds) + k);
      bOneRun(uRunSeed, g_kinds[k], strDir, mapFig[g_kinds[k]], false);
    }
    if ((r + 1) % 25 == 0 && r + 1 < nRuns) nPrintFigures(mapFig);  // a long campaign shows where it is
  }
  const int nFindings = nPrintFigures(mapFig);
  if (nFindings == 0) std::filesystem::remove_all(szDir);
  return nFindings ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return nMain(argc, argv);
  } catch (...) {
    std::fprintf(stderr, "fault campaign: stopped by an unexpected failure\n");
    return 2;
  }
}
