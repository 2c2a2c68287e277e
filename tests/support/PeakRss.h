// The peak resident memory of this process so far, for the tests and benchmarks that report it.
#pragma once

#include <fstream>
#include <string>

// In kilobytes (VmHWM of /proc/self/status); -1 where it cannot be read.
inline long lPeakRssKB() {
  std::ifstream in("/proc/self/status");
  std::string strLine;
  while (std::getline(in, strLine))
    if (strLine.rfind("VmHWM:", 0) == 0) return std::stol(strLine.substr(6));
  return -1;
}
