// MPTool in window mode without a display: it says what is missing and ends with -30.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "support/E2ESpawn.h"
#include "support/TempDir.h"

namespace {

// Sets or unsets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* pszName, const char* pszValue) : m_strName(pszName) {
    if (const char* p = std::getenv(pszName)) m_old = p;
    if (pszValue)
      setenv(pszName, pszValue, 1);
    else
      unsetenv(pszName);
  }
  ~ScopedEnv() {
    if (m_old)
      setenv(m_strName.c_str(), m_old->c_str(), 1);
    else
      unsetenv(m_strName.c_str());
  }

 private:
  std::string m_strName;
  std::optional<std::string> m_old;
};

int nRunWithout(const TempDir& dir, const std::string& strArg, const char* pszDisplay) {
  ScopedEnv platform("QT_QPA_PLATFORM", nullptr), display("DISPLAY", pszDisplay),
      wayland("WAYLAND_DISPLAY", nullptr);
  E2ESpawn s;
  s.strHome = dir.str();
  s.strArg = strArg;
  s.strErr = dir.str() + "/stderr.txt";
  s.uAlarmSeconds = 60;
  return nRunMPTool(s);
}

TEST(WindowModeProcessTest, WithoutADisplayTheWindowNamesWhatIsMissingAndEndsWithItsCode) {
  TempDir dir;
  dir.write("vlnhub.ini", "[usb_config]\nvendor_id=2F7B\n");
  EXPECT_EQ(nRunWithout(dir, "", nullptr), 256 - 30);
  EXPECT_NE(dir.read("stderr.txt").find("no display: neither DISPLAY (X11) nor WAYLAND_DISPLAY is set"),
            std::string::npos);
  EXPECT_EQ(nRunWithout(dir, "/DBG", nullptr), 256 - 30);
  // A display that is named but does not answer.
  EXPECT_EQ(nRunWithout(dir, "", ":97"), 256 - 30);
  EXPECT_NE(dir.read("stderr.txt").find("the display did not answer"), std::string::npos);
}

}  // namespace
