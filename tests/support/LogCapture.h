// Captures diagnostic log entries for a test and restores the level and sink afterwards.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "log/DebugLog.h"

class LogCapture {
 public:
  explicit LogCapture(int nLevel = 3) : m_nOldLevel(g_nDebugLevel.load()) {
    vDEBUG_SetLevel(nLevel);
    vDEBUG_SetSink([this](std::string_view s) {
      std::lock_guard<std::mutex> l(m_mutex);
      m_entries.emplace_back(s);
    });
  }
  ~LogCapture() {
    vDEBUG_SetSink({});
    vDEBUG_SetLevel(m_nOldLevel);
  }
  std::vector<std::string> entries() const {
    std::lock_guard<std::mutex> l(m_mutex);
    return m_entries;
  }
  // True when some entry contains the text.
  bool contains(const std::string& text) const {
    std::lock_guard<std::mutex> l(m_mutex);
    for (const auto& e : m_entries)
      if (e.find(text) != std::string::npos) return true;
    return false;
  }
  std::string all() const {
    std::lock_guard<std::mutex> l(m_mutex);
    std::string s;
    for (const auto& e : m_entries) s += e;
    return s;
  }

 private:
  int m_nOldLevel;
  mutable std::mutex m_mutex;
  std::vector<std::string> m_entries;
};
