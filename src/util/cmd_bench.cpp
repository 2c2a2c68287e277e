// mptool-util bench-new / bench-show / hub-read: make a simulated bench and look into it.
#include <cstdio>
#include <string>

#include "platform/sim/SimBenchReport.h"
#include "util/UtilCommand.h"

namespace {

int nFail(const UtilArgs& args, const std::string& strError) {
  if (args.bJson) std::printf("%s\n", nlohmann::json({{"error", strError}}).dump().c_str());
  std::fprintf(stderr, "%s\n", strError.c_str());
  return 2;
}

void vPrint(const UtilArgs& args, const nlohmann::json& j, const std::string& strText) {
  if (args.bJson)
    std::printf("%s\n", j.dump(2).c_str());
  else
    std::fwrite(strText.data(), 1, strText.size(), stdout);
}

bool bNumber(const std::string& s, long long& out) {
  try {
    size_t pos = 0;
    out = std::stoll(s, &pos, 0);
    return pos == s.size() && out >= 0;
  } catch (...) {
    return false;
  }
}

int nBenchNew(const UtilArgs& args) {
  std::string dir;
  long long n = -1;
  bool bUsb2 = false;
  for (size_t i = 0; i < args.vecArgs.size(); ++i) {
    const std::string& a = args.vecArgs[i];
    if (a == "--hubs" && i + 1 < args.vecArgs.size()) {
      if (!bNumber(args.vecArgs[++i], n)) return nFail(args, "--hubs needs a number");
    } else if (a == "--usb2") {
      bUsb2 = true;
    } else if (dir.empty() && a.rfind("--", 0) != 0) {
      dir = a;
    } else {
      return nFail(args, "unexpected argument \"" + a + "\"");
    }
  }
  if (dir.empty() || n < 0) return nFail(args, "usage: bench-new DIR --hubs N [--usb2]");
  nlohmann::json j;
  std::string err;
  if (!bWriteNewSimBench(dir, static_cast<int>(n), bUsb2, j, err)) return nFail(args, err);
  vPrint(args, j, "wrote " + j["bench"].get<std::string>() + " with " + std::to_string(n) + " hubs\n");
  return 0;
}

int nBenchShow(const UtilArgs& args) {
  if (args.vecArgs.empty() || args.vecArgs.size() > 2) return nFail(args, "usage: bench-show BENCH [HUB]");
  std::string err;
  auto bench = CSimBench::pLoad(args.vecArgs[0], err);
  if (!bench) return nFail(args, err);
  int h = -1;
  if (args.vecArgs.size() == 2 && (h = bench->nFindHub(args.vecArgs[1])) < 0)
    return nFail(args, "no hub \"" + args.vecArgs[1] + "\" on the bench");
  auto j = jsonSimBenchShow(*bench, h);
  vPrint(args, j, strSimBenchShowText(j));
  return 0;
}

int nHubRead(const UtilArgs& args) {
  if (args.vecArgs.size() < 2 || args.vecArgs.size() > 4)
    return nFail(args, "usage: hub-read BENCH HUB [OFFSET [LENGTH]]");
  long long off = 0, len = 256;
  if (args.vecArgs.size() > 2 && !bNumber(args.vecArgs[2], off))
    return nFail(args, "OFFSET must be a number");
  if (args.vecArgs.size() > 3 && !bNumber(args.vecArgs[3], len))
    return nFail(args, "LENGTH must be a number");
  if (off >= static_cast<long long>(SIM_FLASH_SIZE))
    return nFail(args, "OFFSET is past the flash (131072 bytes)");
  std::string err;
  auto bench = CSimBench::pLoad(args.vecArgs[0], err);
  if (!bench) return nFail(args, err);
  int h = bench->nFindHub(args.vecArgs[1]);
  if (h < 0) return nFail(args, "no hub \"" + args.vecArgs[1] + "\" on the bench");
  auto j = jsonSimFlashDump(*bench, h, static_cast<size_t>(off), static_cast<size_t>(len));
  vPrint(args, j, strSimFlashDumpText(j));
  return 0;
}

CUtilCommandRegistration regNew("bench-new",
                                "DIR --hubs N [--usb2]  a bench file with N blank hubs on one controller",
                                nBenchNew);
CUtilCommandRegistration regShow(
    "bench-show", "BENCH [HUB]  the hubs of a bench; for one hub its configuration block and firmware area",
    nBenchShow);
CUtilCommandRegistration regRead(
    "hub-read", "BENCH HUB [OFFSET [LENGTH]]  flash bytes of a simulated hub (CPU B from 65536)", nHubRead);

}  // namespace
