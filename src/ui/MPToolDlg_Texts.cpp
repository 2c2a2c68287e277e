// The window's captions, list entries and result-table titles from the UI text table, where
// the table has the window's text; the other captions and every tool tip stay the window's.
#include <cerrno>

#include "log/DebugLog.h"
#include "run/ResultTable.h"
#include "ui/ControlIds.h"
#include "ui/MPToolDlg.h"
#include "ui/UiTextTable.h"

void CMPToolDlg::vSetTextsFromTextTable() {
  try {
    const CUiTextTable& t = uiTexts();
    IMainView& v = view();
    struct Caption {
      int nId;
      size_t nBlock, n;
    };
    for (const Caption& c : {Caption{IDC_GROUP_DEVICE_CONFIG, t.m_nCaptionTexts, 0},
                             {IDC_GROUP_SERIAL_NUMBER, t.m_nCaptionTexts, 5},
                             {IDC_STATIC_SN_EDIT_TYPE, t.m_nCaptionTexts, 9},
                             {IDC_GROUP_DEVICE_FUNCTION, t.m_nFunctionTexts, 2},
                             {IDC_CHECK_AUTO_MP, t.m_nFunctionTexts, 3},
                             {IDC_CHECK_UPDATE_CONFIG, t.m_nFunctionTexts, 4},
                             {IDC_CHECK_USB_STATUS, t.m_nFunctionTexts, 7},
                             {IDC_CHECK_FORMAT, t.m_nFunctionTexts, 8},
                             {IDC_CHECK_WR_TEST, t.m_nFunctionTexts, 10},
                             {IDC_STATIC_PASS, t.m_nResultWords, 6},
                             {IDC_STATIC_FAIL, t.m_nResultWords, 7},
                             {IDC_STATIC_TOTAL, t.m_nResultWords, 8},
                             {IDC_STATIC_PROGRESS, t.m_nResultWords, 9}})
      v.vSetText(c.nId, t.str(c.nBlock, c.n));

    struct Entries {
      int nId;
      size_t nBlock, n, nCount;
    };
    for (const Entries& e : {Entries{IDC_COMBO_SN_EDIT_TYPE, t.m_nCaptionTexts, 10, 4},
                             {IDC_COMBO_SN_INCREASE, t.m_nChoiceTexts, 0, 2},
                             {IDC_COMBO_CONFIG_FORMAT, t.m_nChoiceTexts, 5, 3},
                             {IDC_COMBO_FORMAT_TYPE, t.m_nChoiceTexts, 8, 3},
                             {IDC_COMBO_USB_STATUS, t.m_nChoiceTexts, 11, 3},
                             {IDC_COMBO_PARTITION_TYPE, t.m_nChoiceTexts, 14, 2}})
      v.vSetList(e.nId, t.vecRange(e.nBlock, e.n, e.nCount));
    // the idle timer's list begins with "Never", the table's last idle-timer text
    std::vector<std::string> idle{t.str(t.m_nIdleTimerTexts, 11)};
    for (const std::string& s : t.vecRange(t.m_nIdleTimerTexts, 0, 11)) idle.push_back(s);
    v.vSetList(IDC_COMBO_IDLE_TIMER, idle);

    std::vector<int> widths;
    widths.reserve(g_ResultColumns.size());
    for (const ResultColumn& c : g_ResultColumns) widths.push_back(c.nWidth);
    v.vSetTableColumns(IDC_LIST_RESULT, t.vecRange(t.m_nColumnTitles, 0, g_ResultColumns.size()), widths);
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::vSetTextsFromTextTable", "vSetTextsFromTextTable: dwErrorCode %d", errno);
  }
}
