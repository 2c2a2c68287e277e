#include "k4821605.h"

#include <dlfcn.h>
#include <syslog.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <string>

namespace {
constexpr const char* MODULE_NAME = "libk4821605.so";
constexpr const char* LOG_IDENT = "RUNDLL32.EXE";
constexpr size_t TEXT_BUFFER_SIZE = 1024;

char g_szText[TEXT_BUFFER_SIZE];  // the module's own path, then the text logged
bool g_bLogOpen = false;
K4821605LogSink g_pSink = nullptr;
unsigned int g_uErrorMode = 0;
std::wstring g_strCommandLine;  // kept for the process, as the system's is

// Opens the log when the module runs under its own name; a copy loaded under another file
// name logs nothing.
bool bRegister() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&bRegister), &info) == 0 || !info.dli_fname) return false;
  std::snprintf(g_szText, sizeof g_szText, "%s", info.dli_fname);
  const char* pszBase = std::strrchr(g_szText, '/');
  pszBase = pszBase ? pszBase + 1 : g_szText;
  if (g_szText[0] == '\0' || std::strcmp(pszBase, MODULE_NAME) != 0) return false;
  if (!g_pSink) openlog(LOG_IDENT, LOG_PID, LOG_USER);
  g_bLogOpen = true;
  return true;
}

void vReport() {
  if (!g_bLogOpen) return;
  if (g_pSink)
    g_pSink(LOG_INFO, LOG_IDENT, g_szText);
  else
    syslog(LOG_INFO, "%s", g_szText);
}

void vDeregister() {
  if (g_bLogOpen && !g_pSink) closelog();
  g_bLogOpen = false;
}

std::string strNarrow(const wchar_t* psz) {
  std::string s;
  if (!psz) return s;
  std::mbstate_t st{};
  char buf[MB_LEN_MAX];
  for (; *psz; ++psz) {
    size_t n = std::wcrtomb(buf, *psz, &st);
    if (n == static_cast<size_t>(-1)) {
      s += '?';
      st = std::mbstate_t{};
    } else {
      s.append(buf, n);
    }
  }
  return s;
}

const std::wstring& strReadCommandLine() {
  if (!g_strCommandLine.empty()) return g_strCommandLine;
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!raw.empty() && raw.back() == '\0') raw.pop_back();
  for (char& c : raw)
    if (c == '\0') c = ' ';
  g_strCommandLine.assign(raw.begin(), raw.end());
  return g_strCommandLine;
}
}  // namespace

extern "C" {

void k4821605_SetLogSink(K4821605LogSink pSink) {
  g_pSink = pSink;
}

const wchar_t* GetCommandLineW(void) {
  const std::wstring& strLine = strReadCommandLine();
  if (!bRegister()) return strLine.c_str();
  std::snprintf(g_szText, sizeof g_szText, "GetCommandLineW():%ls", strLine.c_str());
  vReport();
  vDeregister();
  return strLine.c_str();
}

void* LoadLibraryW(const wchar_t* pszName) {
  if (bRegister()) {
    std::snprintf(g_szText, sizeof g_szText, "MyLoadLibraryW():%ls", pszName ? pszName : L"");
    vReport();
    vDeregister();
  }
  if (!pszName) return nullptr;
  return dlopen(strNarrow(pszName).c_str(), RTLD_NOW);
}

void ExitProcess(unsigned int uExitCode) {
  std::exit(static_cast<int>(uExitCode));
}

uint32_t FormatMessageW(uint32_t dwFlags, const void*, uint32_t dwMessageId, uint32_t, wchar_t* pszBuffer,
                        uint32_t nSize, void*) {
  if (!(dwFlags & K4821605_FORMAT_MESSAGE_FROM_SYSTEM) || !pszBuffer || nSize == 0) return 0;
  const char* pszText = std::strerror(static_cast<int>(dwMessageId));
  int n = std::swprintf(pszBuffer, nSize, L"%s", pszText);
  return n < 0 ? 0 : static_cast<uint32_t>(n);
}

int FreeLibrary(void* hModule) {
  return hModule && dlclose(hModule) == 0 ? 1 : 0;
}

uint32_t GetLastError(void) {
  return static_cast<uint32_t>(errno);
}

void* GetModuleHandleW(const wchar_t* pszName) {
  if (!pszName) return dlopen(nullptr, RTLD_NOW);
  void* h = dlopen(strNarrow(pszName).c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h) dlclose(h);  // a module handle is not a reference of its own
  return h;
}

void* GetProcAddress(void* hModule, const char* pszName) {
  return hModule && pszName ? dlsym(hModule, pszName) : nullptr;
}

void GetStartupInfoW(void* pInfo) {
  if (!pInfo) return;
  std::memset(pInfo, 0, K4821605_STARTUP_INFO_SIZE);
  const uint32_t cb = K4821605_STARTUP_INFO_SIZE;
  std::memcpy(pInfo, &cb, sizeof cb);
}

void* LocalAlloc(unsigned int uFlags, size_t uBytes) {
  return (uFlags & K4821605_LMEM_ZEROINIT) ? std::calloc(1, uBytes ? uBytes : 1)
                                           : std::malloc(uBytes ? uBytes : 1);
}

void* LocalFree(void* hMem) {
  std::free(hMem);
  return nullptr;
}

void RtlUnwind(void*, void*, void*, void*) {
  // Linux unwinds through the C++ runtime; there is no frame chain of this kind to walk.
}

unsigned int SetErrorMode(unsigned int uMode) {
  unsigned int uOld = g_uErrorMode;
  g_uErrorMode = uMode;
  return uOld;
}

int WideCharToMultiByte(unsigned int, uint32_t, const wchar_t* pszWide, int cchWide, char* pszMulti,
                        int cbMulti, const char*, int* pbUsedDefault) {
  if (!pszWide) return 0;
  std::wstring strIn =
      cchWide < 0 ? std::wstring(pszWide) + L'\0' : std::wstring(pszWide, static_cast<size_t>(cchWide));
  std::string strOut;
  for (wchar_t c : strIn) {
    wchar_t one[2] = {c, 0};
    strOut += c == 0 ? std::string(1, '\0') : strNarrow(one);
  }
  if (pbUsedDefault) *pbUsedDefault = 0;
  if (cbMulti == 0) return static_cast<int>(strOut.size());
  if (!pszMulti || static_cast<size_t>(cbMulti) < strOut.size()) return 0;
  // The count is the caller's: the text carries its terminator only when the input did.
  std::memcpy(pszMulti, strOut.data(), strOut.size());  // NOLINT(bugprone-not-null-terminated-result)
  return static_cast<int>(strOut.size());
}

wchar_t* lstrcpyW(wchar_t* pszTo, const wchar_t* pszFrom) {
  return pszTo && pszFrom ? std::wcscpy(pszTo, pszFrom) : nullptr;
}

int lstrlenA(const char* psz) {
  return psz ? static_cast<int>(std::strlen(psz)) : 0;
}

int lstrlenW(const wchar_t* psz) {
  return psz ? static_cast<int>(std::wcslen(psz)) : 0;
}
}
