// Process-wide diagnostic log: three severities written by level to the debugging channel
// (standard error here). Entries are "%s:%d: " + text with a "Class::Method" label and a
// source line; see the callers for the texts.
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

void vDEBUG_MSG_printf(const char* pszFormat, ...) MPTOOL_PRINTF(1, 2);  // level 3 and up
void vDEBUG_WRN_printf(const char* pszFormat, ...) MPTOOL_PRINTF(1, 2);  // level 2 and up
void vDEBUG_ERR_printf(const char* pszFormat, ...) MPTOOL_PRINTF(1, 2);  // level 1 and up

// Where finished entries go. Standard error by default; tests capture entries here.
// The sink is called under the log's lock, one whole entry at a time.
using DebugSink = std::function<void(std::string_view)>;
void vDEBUG_SetSink(DebugSink sink);  // an empty sink restores standard error
