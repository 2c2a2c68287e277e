// The operator-message side of the view: message boxes and program messages. The host
// utilities talk to the operator only through it, so the window (Qt), the window-less
// command-line modes and the tests each bring their own.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// Box flags, with the values of the classic message-box style bits the callers pass.
constexpr uint32_t MB_OK = 0x00;
constexpr uint32_t MB_OKCANCEL = 0x01;
constexpr uint32_t MB_ABORTRETRYIGNORE = 0x02;
constexpr uint32_t MB_YESNOCANCEL = 0x03;
constexpr uint32_t MB_YESNO = 0x04;
constexpr uint32_t MB_RETRYCANCEL = 0x05;
constexpr uint32_t MB_TYPEMASK = 0x0F;
constexpr uint32_t MB_ICONERROR = 0x10;
constexpr uint32_t MB_ICONQUESTION = 0x20;
constexpr uint32_t MB_ICONWARNING = 0x30;
constexpr uint32_t MB_ICONINFORMATION = 0x40;
constexpr uint32_t MB_ICONMASK = 0xF0;

// Answers of a box.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Message types of ShowProgramMSG and ShowMessageBox.
constexpr uint8_t MSG_TYPE_ERROR = 1;
constexpr uint8_t MSG_TYPE_TIMEOUT = 2;
constexpr uint8_t MSG_TYPE_WARNING = 3;
constexpr uint8_t MSG_TYPE_INFORMATION = 4;
constexpr uint8_t MSG_TYPE_QUESTION = 5;

class IMessageView {
 public:
  virtual ~IMessageView() = default;
  // Shows a box with the text, caption and flags (buttons and icon) and returns the
  // operator's answer (IDOK, IDYES, ...). May be called from any thread; window views
  // hand the call to the window thread themselves.
  virtual int nMessageBox(const std::string& strText, const std::string& strCaption, uint32_t uFlags) = 0;
};

// The answer that never lets an unattended run take a risk: No, Cancel or Abort where the
// box offers them, otherwise OK.
int nSafeAnswer(uint32_t uFlags);

// The view of the window-less modes: the text of every box goes to standard output, one
// line each, and a question takes its safe answer. Thread-safe.
class CHeadlessMessageView : public IMessageView {
 public:
  int nMessageBox(const std::string& strText, const std::string& strCaption, uint32_t uFlags) override;
};

// The view of the maintenance commands: boxes are collected, never shown, so that standard
// output stays the command's; a question takes its safe answer. Thread-safe.
class CCollectingMessageView : public IMessageView {
 public:
  int nMessageBox(const std::string& strText, const std::string&, uint32_t uFlags) override {
    std::lock_guard<std::mutex> l(m_mutex);
    m_vecTexts.push_back(strText);
    return nSafeAnswer(uFlags);
  }
  std::vector<std::string> vecTexts() const {
    std::lock_guard<std::mutex> l(m_mutex);
    return m_vecTexts;
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<std::string> m_vecTexts;
};
