// Process-wide diagnostic log: three severities written by level to the debugging channel
// (standard error here). Entries are "Label:LINE: " + text, with the "Class::Method" label the
// caller names and the caller's source line; see the callers for the texts.
#pragma once

#include <atomic>
#include <functional>
#include <string_view>

#define MPTOOL_PRINTF(f, a) __attribute__((format(printf, f, a)))

// Level read by every entry before anything else: a disabled entry costs one comparison.
extern std::atomic<int> g_nDebugLevel;

// Creates the lock that serialises entries. Safe to call more than once.
void vDEBUG_Initial_printf();
// Stores the level and returns it. Levels above 3 behave as 3; negative levels write nothing.
int vDEBUG_SetLevel(int nLevel);

// Where an entry comes from. Built implicitly from the label at the call, so the compiler fills
// in the line of that call: vDEBUG_MSG_printf("CMPToolDlg::vExitProcess", "exit code %d", n).
// __builtin_LINE() rather than std::source_location: the clang of the thread-safety check
// cannot compile libstdc++'s source_location, and both compilers give the caller's line.
class LogSite {
 public:
  LogSite(const char* pszLabel, unsigned uLine = __builtin_LINE()) : m_pszLabel(pszLabel), m_uLine(uLine) {}
  const char* pszLabel() const { return m_pszLabel; }
  unsigned uLine() const { return m_uLine; }

 private:
  const char* m_pszLabel;
  unsigned m_uLine;
};

void vDEBUG_MSG_printf(LogSite site, const char* pszFormat, ...) MPTOOL_PRINTF(2, 3);  // level 3 and up
void vDEBUG_WRN_printf(LogSite site, const char* pszFormat, ...) MPTOOL_PRINTF(2, 3);  // level 2 and up
void vDEBUG_ERR_printf(LogSite site, const char* pszFormat, ...) MPTOOL_PRINTF(2, 3);  // level 1 and up

// Where finished entries go. Standard error by default; tests capture entries here.
// The sink is called under the log's lock, one whole entry at a time.
using DebugSink = std::function<void(std::string_view)>;
void vDEBUG_SetSink(DebugSink sink);  // an empty sink restores standard error
