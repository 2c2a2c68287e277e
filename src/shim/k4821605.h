// The logging shim: a library that a launcher links in place of the system's, so that the
// launcher's command line and every library it loads are recorded in the system log under
// the ident "RUNDLL32.EXE". GetCommandLineW and LoadLibraryW log, then do the real work; the
// other exports pass straight through to their Linux counterparts. Wide texts are wchar_t.
//
// The text buffer and the log state are module-wide and unguarded: the launcher calls the
// two logging exports from one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {
// Where the logged texts go; null gives back syslog. For tests, which run without a log daemon.
using K4821605LogSink = void (*)(int nPriority, const char* pszIdent, const char* pszText);
void k4821605_SetLogSink(K4821605LogSink pSink);

const wchar_t* GetCommandLineW(void);
void* LoadLibraryW(const wchar_t* pszName);

void ExitProcess(unsigned int uExitCode);
uint32_t FormatMessageW(uint32_t dwFlags, const void* pSource, uint32_t dwMessageId, uint32_t dwLanguageId,
                        wchar_t* pszBuffer, uint32_t nSize, void* pArguments);
int FreeLibrary(void* hModule);
uint32_t GetLastError(void);
void* GetModuleHandleW(const wchar_t* pszName);
void* GetProcAddress(void* hModule, const char* pszName);
void GetStartupInfoW(void* pInfo);
void* LocalAlloc(unsigned int uFlags, size_t uBytes);
void* LocalFree(void* hMem);
void RtlUnwind(void* pTargetFrame, void* pTargetIp, void* pExceptionRecord, void* pReturnValue);
unsigned int SetErrorMode(unsigned int uMode);
int WideCharToMultiByte(unsigned int uCodePage, uint32_t dwFlags, const wchar_t* pszWide, int cchWide,
                        char* pszMulti, int cbMulti, const char* pszDefault, int* pbUsedDefault);
wchar_t* lstrcpyW(wchar_t* pszTo, const wchar_t* pszFrom);
int lstrlenA(const char* psz);
int lstrlenW(const wchar_t* psz);
}

// The flags of LocalAlloc that matter here.
constexpr unsigned int K4821605_LMEM_ZEROINIT = 0x40;
// FormatMessageW takes the text of the system error dwMessageId with this flag.
constexpr uint32_t K4821605_FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;
// The size of the startup record GetStartupInfoW fills (zeros, its first word the size).
constexpr size_t K4821605_STARTUP_INFO_SIZE = 68;
