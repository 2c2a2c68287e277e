// Which command lines open the window, and what a missing display is called.
#include <gtest/gtest.h>

#include "app/WindowMode.h"

TEST(WindowModeTest, OnlyAnEmptyCommandLineOrTheDebugOptionOpensTheWindow) {
  EXPECT_TRUE(bCmdLineOpensWindow(""));
  EXPECT_TRUE(bCmdLineOpensWindow("/DBG"));
  EXPECT_TRUE(bCmdLineOpensWindow("/dbg3"));
  EXPECT_TRUE(bCmdLineOpensWindow("/S /DBG 2"));
  for (const char* psz : {"/S", "/?", "/C:010203100506", "/LED:11", "/SPD", " ", "/DB"})
    EXPECT_FALSE(bCmdLineOpensWindow(psz)) << psz;
}

TEST(WindowModeTest, AMissingDisplayIsNamed) {
  EXPECT_EQ(strMissingDisplay(nullptr, nullptr, nullptr),
            "no display: neither DISPLAY (X11) nor WAYLAND_DISPLAY is set");
  EXPECT_EQ(strMissingDisplay(nullptr, "", ""),
            "no display: neither DISPLAY (X11) nor WAYLAND_DISPLAY is set");
  EXPECT_EQ(strMissingDisplay(nullptr, ":0", nullptr), "");
  EXPECT_EQ(strMissingDisplay(nullptr, nullptr, "wayland-0"), "");
  EXPECT_EQ(strMissingDisplay("xcb", nullptr, "wayland-0"), "no X display: DISPLAY is not set");
  EXPECT_EQ(strMissingDisplay("wayland", ":0", nullptr), "no Wayland display: WAYLAND_DISPLAY is not set");
  EXPECT_EQ(strMissingDisplay("wayland-egl", nullptr, "wayland-1"), "");
  EXPECT_EQ(strMissingDisplay("offscreen", nullptr, nullptr), "");
  EXPECT_EQ(strMissingDisplay("vnc:size=800x600", nullptr, nullptr), "");
}
