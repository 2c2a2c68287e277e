#include <dlfcn.h>
#include <gtest/gtest.h>
#include <syslog.h>

#include <cwchar>
#include <filesystem>
#include <string>
#include <vector>

#include "shim/k4821605.h"
#include "support/TempDir.h"

namespace {
struct Entry {
  int nPriority;
  std::string strIdent, strText;
};
std::vector<Entry> g_entries;
void vSink(int nPriority, const char* pszIdent, const char* pszText) {
  g_entries.push_back({nPriority, pszIdent, pszText});
}

// One copy of the shim, loaded from a path, its logging sent to the test.
struct Shim {
  void* h = nullptr;
  template <typename F>
  F* fn(const char* pszName) {
    return reinterpret_cast<F*>(dlsym(h, pszName));
  }
  explicit Shim(const std::string& strPath) {
    h = dlopen(strPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (h) fn<void(K4821605LogSink)>("k4821605_SetLogSink")(vSink);
  }
  ~Shim() {
    if (h) dlclose(h);
  }
};
}  // namespace

TEST(Shim, LoggingExportsLogUnderTheLauncherIdentAndDoTheRealWork) {
  g_entries.clear();
  Shim shim(MPTOOL_SHIM_PATH);
  ASSERT_TRUE(shim.h) << dlerror();
  const wchar_t* pszLine = shim.fn<const wchar_t*()>("GetCommandLineW")();
  ASSERT_TRUE(pszLine);
  EXPECT_NE(std::wstring(pszLine).find(L"test_shim"), std::wstring::npos);
  ASSERT_EQ(g_entries.size(), 1u);
  EXPECT_EQ(g_entries[0].strIdent, "RUNDLL32.EXE");
  EXPECT_EQ(g_entries[0].nPriority, LOG_INFO);
  EXPECT_EQ(g_entries[0].strText.rfind("GetCommandLineW():", 0), 0u);
  EXPECT_NE(g_entries[0].strText.find("test_shim"), std::string::npos);

  auto* pLoad = shim.fn<void*(const wchar_t*)>("LoadLibraryW");
  void* hLib = pLoad(L"libc.so.6");
  EXPECT_TRUE(hLib);
  ASSERT_EQ(g_entries.size(), 2u);
  EXPECT_EQ(g_entries[1].strText, "MyLoadLibraryW():libc.so.6");
  // A library that is not there is logged too, and answered as the system answers it.
  EXPECT_EQ(pLoad(L"libnothing-here.so"), nullptr);
  ASSERT_EQ(g_entries.size(), 3u);
  EXPECT_EQ(g_entries[2].strText, "MyLoadLibraryW():libnothing-here.so");

  // The log entry is cut at the buffer; the name loaded is the whole one.
  std::wstring strLong(2000, L'x');
  EXPECT_EQ(pLoad(strLong.c_str()), nullptr);
  ASSERT_EQ(g_entries.size(), 4u);
  EXPECT_EQ(g_entries[3].strText.size(), 1023u);

  // Forwarders.
  auto* pProc = shim.fn<void*(void*, const char*)>("GetProcAddress");
  EXPECT_EQ(pProc(hLib, "strlen"), dlsym(hLib, "strlen"));
  EXPECT_EQ(shim.fn<int(void*)>("FreeLibrary")(hLib), 1);
  EXPECT_EQ(shim.fn<int(const wchar_t*)>("lstrlenW")(L"abc"), 3);
  EXPECT_EQ(shim.fn<int(const char*)>("lstrlenA")("abcd"), 4);
  wchar_t buf[8] = {};
  EXPECT_EQ(shim.fn<wchar_t*(wchar_t*, const wchar_t*)>("lstrcpyW")(buf, L"hub"), buf);
  EXPECT_EQ(std::wstring(buf), L"hub");
  auto* pMode = shim.fn<unsigned(unsigned)>("SetErrorMode");
  pMode(5);
  EXPECT_EQ(pMode(0), 5u);
  auto* pAlloc = shim.fn<void*(unsigned, size_t)>("LocalAlloc");
  auto* p = static_cast<unsigned char*>(pAlloc(K4821605_LMEM_ZEROINIT, 16));
  ASSERT_TRUE(p);
  EXPECT_EQ(p[15], 0);
  EXPECT_EQ(shim.fn<void*(void*)>("LocalFree")(p), nullptr);
  char narrow[8] = {};
  auto* pToMulti = shim.fn<int(unsigned, uint32_t, const wchar_t*, int, char*, int, const char*, int*)>(
      "WideCharToMultiByte");
  EXPECT_EQ(pToMulti(0, 0, L"ab", -1, nullptr, 0, nullptr, nullptr), 3);
  EXPECT_EQ(pToMulti(0, 0, L"ab", -1, narrow, 8, nullptr, nullptr), 3);
  EXPECT_STREQ(narrow, "ab");
  EXPECT_EQ(pToMulti(0, 0, L"abc", -1, narrow, 2, nullptr, nullptr), 0);  // too small
  wchar_t msg[64] = {};
  EXPECT_GT(shim.fn<uint32_t(uint32_t, const void*, uint32_t, uint32_t, wchar_t*, uint32_t, void*)>(
                "FormatMessageW")(K4821605_FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 2, 0, msg, 64, nullptr),
            0u);
  uint32_t info[17] = {};
  shim.fn<void(void*)>("GetStartupInfoW")(info);
  EXPECT_EQ(info[0], K4821605_STARTUP_INFO_SIZE);
  for (const char* pszName : {"ExitProcess", "GetLastError", "GetModuleHandleW", "RtlUnwind"})
    EXPECT_TRUE(dlsym(shim.h, pszName)) << pszName;
}

TEST(Shim, UnderAnotherFileNameItLogsNothingAndStillAnswers) {
  g_entries.clear();
  TempDir tmp;
  const auto copy = tmp.path() / "librenamed.so";
  std::filesystem::copy_file(MPTOOL_SHIM_PATH, copy);
  Shim shim(copy.string());
  ASSERT_TRUE(shim.h) << dlerror();
  EXPECT_TRUE(shim.fn<const wchar_t*()>("GetCommandLineW")());
  EXPECT_TRUE(shim.fn<void*(const wchar_t*)>("LoadLibraryW")(L"libc.so.6"));
  EXPECT_TRUE(g_entries.empty());
}
