// MPTool in window mode without a display: it says what is missing and ends with -30.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/E2ESpawn.h"
#include "support/TempDir.h"

namespace {

int nRunWithout(const TempDir& dir, const std::string& strArg, const char* pszDisplay) {
  E2ESpawn s;
  s.strHome = dir.str();
  s.vecArgs = {strArg};
  s.strErr = dir.str() + "/stderr.txt";
  s.vecEnv = {{"QT_QPA_PLATFORM", std::nullopt},
              {"DISPLAY", pszDisplay ? std::optional<std::string>(pszDisplay) : std::nullopt},
              {"WAYLAND_DISPLAY", std::nullopt}};
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
