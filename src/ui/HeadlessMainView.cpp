#include "ui/HeadlessMainView.h"

int CHeadlessMainView::nMessageBox(const std::string& strText, const std::string& strCaption,
                                   uint32_t uFlags) {
  return m_messages.nMessageBox(strText, strCaption, uFlags);
}

void CHeadlessMainView::vSetText(int nId, const std::string& strText) {
  std::lock_guard<std::mutex> l(m_mutex);
  m_texts[nId] = strText;
}

std::string CHeadlessMainView::strGetText(int nId) {
  std::lock_guard<std::mutex> l(m_mutex);
  auto it = m_texts.find(nId);
  return it == m_texts.end() ? std::string() : it->second;
}

void CHeadlessMainView::vSetCheck(int nId, bool bChecked) {
  std::lock_guard<std::mutex> l(m_mutex);
  m_checks[nId] = bChecked;
}

bool CHeadlessMainView::bGetCheck(int nId) {
  std::lock_guard<std::mutex> l(m_mutex);
  auto it = m_checks.find(nId);
  return it != m_checks.end() && it->second;
}

void CHeadlessMainView::vSetListSelection(int nId, int nIndex) {
  std::lock_guard<std::mutex> l(m_mutex);
  m_selections[nId] = nIndex;
}

int CHeadlessMainView::nGetListSelection(int nId) {
  std::lock_guard<std::mutex> l(m_mutex);
  auto it = m_selections.find(nId);
  return it == m_selections.end() ? -1 : it->second;
}
