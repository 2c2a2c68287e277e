#include "log/DebugLog.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

std::atomic<int> g_nDebugLevel{0};

namespace {

constexpr size_t kBufferSize = 4096;

std::mutex& printLock() {
  static std::mutex m;  // m_PrintCriticalSection
  return m;
}

DebugSink& sink() {
  static DebugSink s;
  return s;
}

void vWriteEntry(const char* pszPrefix, const LogSite& site, const char* pszFormat, va_list args) {
  std::lock_guard<std::mutex> lock(printLock());
  // The output text lives on the stack: prefix, "Label:LINE: ", then the formatted text, all of
  // it cut to fit.
  char szOut[kBufferSize];
  size_t nPrefix = std::strlen(pszPrefix);
  std::memcpy(szOut, pszPrefix, nPrefix);
  size_t nLen = nPrefix;
  int n = std::snprintf(szOut + nLen, kBufferSize - nLen, "%s:%u: ", site.pszLabel(), site.uLine());
  if (n > 0) nLen += std::min<size_t>(static_cast<size_t>(n), kBufferSize - nLen - 1);
  if (nLen < kBufferSize - 1) {
    n = std::vsnprintf(szOut + nLen, kBufferSize - nLen, pszFormat, args);
    if (n > 0) nLen += std::min<size_t>(static_cast<size_t>(n), kBufferSize - nLen - 1);
  }
  szOut[nLen] = '\0';
  if (sink()) {
    sink()(std::string_view(szOut, nLen));
  } else {
    std::fwrite(szOut, 1, nLen, stderr);
    std::fflush(stderr);
  }
}

}  // namespace

void vDEBUG_Initial_printf() {
  (void)printLock();
}

int vDEBUG_SetLevel(int nLevel) {
  g_nDebugLevel.store(nLevel, std::memory_order_relaxed);
  return nLevel;
}

void vDEBUG_SetSink(DebugSink s) {
  std::lock_guard<std::mutex> lock(printLock());
  sink() = std::move(s);
}

#define MPTOOL_LOG_ENTRY(threshold, prefix)                                \
  if (g_nDebugLevel.load(std::memory_order_relaxed) < (threshold)) return; \
  va_list args;                                                            \
  va_start(args, pszFormat);                                               \
  vWriteEntry(prefix, site, pszFormat, args);                              \
  va_end(args)

void vDEBUG_MSG_printf(LogSite site, const char* pszFormat, ...) {
  MPTOOL_LOG_ENTRY(3, "\r\nMSG::");
}
void vDEBUG_WRN_printf(LogSite site, const char* pszFormat, ...) {
  MPTOOL_LOG_ENTRY(2, "\r\nWRN::");
}
void vDEBUG_ERR_printf(LogSite site, const char* pszFormat, ...) {
  MPTOOL_LOG_ENTRY(1, "\r\nERR::");
}
