// A main-window view for tests: remembers the state every control was given, logs each call
// in order, and answers boxes, dialogs and file choices from scripts. Header-only so that
// tests/support stays free of the ui library. Thread-safe.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "ui/IMainView.h"

class RecordingView : public IMainView {
 public:
  struct Box {
    std::string strText, strCaption;
    uint32_t uFlags;
  };
  struct Cell {
    std::string strText;
    uint32_t rgbText, rgbBackground;
  };

  // ---- scripts ----
  void vQueueAnswer(int nAnswer) {
    std::lock_guard l(m_mutex);
    m_answers.push_back(nAnswer);
  }
  void vQueueModal(int nAnswer) {
    std::lock_guard l(m_mutex);
    m_modalAnswers.push_back(nAnswer);
  }
  void vQueueFile(std::string strPath) {
    std::lock_guard l(m_mutex);
    m_files.push_back(std::move(strPath));
  }
  int nDefaultAnswer = IDOK;  // when no answer is queued

  // ---- what was recorded ----
  std::vector<Box> boxes() const {
    std::lock_guard l(m_mutex);
    return m_boxes;
  }
  std::vector<std::string> calls() const {
    std::lock_guard l(m_mutex);
    return m_calls;
  }
  std::string text(int nId) const { return find(m_texts, nId, std::string()); }
  // Visibility and enabling of a control never touched are unknown: -1.
  int shown(int nId) const { return find(m_shown, nId, -1); }
  int enabled(int nId) const { return find(m_enabled, nId, -1); }
  int readOnly(int nId) const { return find(m_readOnly, nId, -1); }
  std::vector<std::string> list(int nId) const { return find(m_lists, nId, std::vector<std::string>()); }
  uint32_t textColour(int nId) const { return find(m_textColours, nId, 0xFFFFFFFFu); }
  FontSpec font(int nId) const { return find(m_fonts, nId, FontSpec()); }
  std::string toolTip(int nId) const { return find(m_toolTips, nId, std::string()); }
  std::pair<int, int> progressRange(int nId) const {
    return find(m_ranges, nId, std::pair<int, int>(-1, -1));
  }
  int progressPos(int nId) const { return find(m_positions, nId, -1); }
  uint32_t progressColour(int nId) const { return find(m_barColours, nId, 0xFFFFFFFFu); }
  std::string picture(int nId) const { return find(m_pictures, nId, std::string()); }
  Cell cell(int nId, int nRow, int nCol) const {
    return find(m_cells, std::make_tuple(nId, nRow, nCol), Cell{"", 0, 0});
  }
  std::vector<std::string> columns(int nId) const { return find(m_columns, nId, std::vector<std::string>()); }
  int windowShown() const {
    std::lock_guard l(m_mutex);
    return m_nWindowShown;
  }
  std::string title() const {
    std::lock_guard l(m_mutex);
    return m_strTitle;
  }
  // Every file dialog asked for, in order.
  std::vector<FilePick> picks() const {
    std::lock_guard l(m_mutex);
    return m_picks;
  }
  std::vector<EModalDialog> modals() const {
    std::lock_guard l(m_mutex);
    return m_modals;
  }
  bool bCalled(const std::string& strPrefix) const {
    std::lock_guard l(m_mutex);
    for (const auto& c : m_calls)
      if (c.rfind(strPrefix, 0) == 0) return true;
    return false;
  }

  // ---- IMainView ----
  int nMessageBox(const std::string& strText, const std::string& strCaption, uint32_t uFlags) override {
    std::lock_guard l(m_mutex);
    m_boxes.push_back({strText, strCaption, uFlags});
    m_calls.push_back("box " + strCaption + ": " + strText);
    if (m_answers.empty()) return nDefaultAnswer;
    int n = m_answers.front();
    m_answers.pop_front();
    return n;
  }
  void vSetText(int nId, const std::string& s) override { set(m_texts, nId, s, "text"); }
  std::string strGetText(int nId) override { return text(nId); }
  void vShowControl(int nId, bool b) override { set(m_shown, nId, int(b), "show"); }
  void vEnableControl(int nId, bool b) override { set(m_enabled, nId, int(b), "enable"); }
  void vSetReadOnly(int nId, bool b) override { set(m_readOnly, nId, int(b), "readonly"); }
  void vSetCheck(int nId, bool b) override { set(m_checks, nId, int(b), "check"); }
  bool bGetCheck(int nId) override { return find(m_checks, nId, 0) == 1; }
  void vSetList(int nId, const std::vector<std::string>& items) override { set(m_lists, nId, items, "list"); }
  void vSetListSelection(int nId, int n) override { set(m_selections, nId, n, "select"); }
  int nGetListSelection(int nId) override { return find(m_selections, nId, -1); }
  void vSetFont(int nId, const FontSpec& f) override { set(m_fonts, nId, f, "font"); }
  void vSetTextColour(int nId, uint32_t rgb) override { set(m_textColours, nId, rgb, "colour"); }
  void vSetToolTip(int nId, const std::string& s) override { set(m_toolTips, nId, s, "tooltip"); }
  void vSetFocus(int nId) override { log("focus", nId); }
  void vShowWindow(bool b) override {
    std::lock_guard l(m_mutex);
    m_nWindowShown = b;
    m_calls.push_back(std::string("window ") + (b ? "show" : "hide"));
  }
  void vSetTitle(const std::string& s) override {
    std::lock_guard l(m_mutex);
    m_strTitle = s;
    m_calls.push_back("title " + s);
  }
  void vSetTableColumns(int nId, const std::vector<std::string>& titles, const std::vector<int>&) override {
    set(m_columns, nId, titles, "columns");
  }
  void vSetTableCell(int nId, int nRow, int nCol, const std::string& s, uint32_t fg, uint32_t bg) override {
    std::lock_guard l(m_mutex);
    m_cells[std::make_tuple(nId, nRow, nCol)] = Cell{s, fg, bg};
    m_calls.push_back("cell " + std::to_string(nRow) + "," + std::to_string(nCol) + " " + s);
  }
  void vClearTable(int nId) override {
    std::lock_guard l(m_mutex);
    for (auto it = m_cells.begin(); it != m_cells.end();)
      it = std::get<0>(it->first) == nId ? m_cells.erase(it) : std::next(it);
    m_calls.push_back("cleartable " + std::to_string(nId));
  }
  void vSetProgressRange(int nId, int lo, int hi) override { set(m_ranges, nId, std::pair(lo, hi), "range"); }
  void vSetProgressPos(int nId, int n) override { set(m_positions, nId, n, "pos"); }
  void vSetProgressColour(int nId, uint32_t rgb) override { set(m_barColours, nId, rgb, "barcolour"); }
  void vShowPicture(int nId, const std::string& s) override { set(m_pictures, nId, s, "picture"); }
  int nRunModal(EModalDialog e) override {
    std::lock_guard l(m_mutex);
    m_modals.push_back(e);
    m_calls.push_back("modal " + std::to_string(static_cast<int>(e)));
    if (m_modalAnswers.empty()) return IDCANCEL;
    int n = m_modalAnswers.front();
    m_modalAnswers.pop_front();
    return n;
  }
  std::string strPickFile(const FilePick& pick) override {
    std::lock_guard l(m_mutex);
    m_calls.push_back("pickfile " + pick.strTitle);
    m_picks.push_back(pick);
    if (m_files.empty()) return {};
    std::string s = m_files.front();
    m_files.pop_front();
    return s;
  }

 private:
  template <class M, class K, class V>
  V find(const M& m, const K& k, V def) const {
    std::lock_guard l(m_mutex);
    auto it = m.find(k);
    return it == m.end() ? def : it->second;
  }
  template <class M, class V>
  void set(M& m, int nId, const V& v, const char* what) {
    std::lock_guard l(m_mutex);
    m[nId] = v;
    m_calls.push_back(std::string(what) + " " + std::to_string(nId));
  }
  void log(const char* what, int nId) {
    std::lock_guard l(m_mutex);
    m_calls.push_back(std::string(what) + " " + std::to_string(nId));
  }

  mutable std::mutex m_mutex;
  std::deque<int> m_answers, m_modalAnswers;
  std::deque<std::string> m_files;
  std::vector<Box> m_boxes;
  std::vector<FilePick> m_picks;
  std::vector<std::string> m_calls;
  std::map<int, std::string> m_texts, m_toolTips, m_pictures;
  std::map<int, int> m_shown, m_enabled, m_readOnly, m_checks, m_selections, m_positions;
  std::map<int, std::vector<std::string>> m_lists, m_columns;
  std::map<int, uint32_t> m_textColours, m_barColours;
  std::map<int, FontSpec> m_fonts;
  std::map<int, std::pair<int, int>> m_ranges;
  std::map<std::tuple<int, int, int>, Cell> m_cells;
  std::vector<EModalDialog> m_modals;
  int m_nWindowShown = -1;
  std::string m_strTitle;
};
