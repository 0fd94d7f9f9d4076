// SPDX-License-Identifier: MIT
// A Windows program under Wine, in a private prefix on a private Xvfb, is named
// by the product name in its version resource, not by its class.
#include <gtest/gtest.h>

#include <filesystem>

#include "helper/WindowsHelper.h"
#include "support/World.h"
#include "support/XServer.h"

namespace vrk {
namespace {

TEST(Wine, ProgramNamedByItsProduct) {
  if (test::RunCommand("command -v wine").empty() || !std::filesystem::exists(VRK_WINE_PROGRAM))
    GTEST_SKIP() << "needs Wine, and mingw-w64 at configure time";
  xtest::Xvfb server;
  test::World world;
  setenv("WINEPREFIX", world.Path("prefix").c_str(), 1);
  setenv("WINEDLLOVERRIDES", "winemenubuilder.exe=d;mscoree,mshtml=", 1);  // no installers
  test::RunCommand("wine wineboot -i 2>&1");
  std::filesystem::copy_file(VRK_WINE_PROGRAM, world.Path("prefix/drive_c/Photoshop.exe"));
  test::RunCommand("wine 'C:\\Photoshop.exe' >/dev/null 2>&1 &");
  const Json front = Json::parse(R"({"choseAppName": "Photoshop", "unsupportedAppNames": ""})");
  for (int i = 0; i < 900 && WindowsHelper::EnumWindows() != front; ++i) usleep(100000);
  EXPECT_EQ(WindowsHelper::EnumWindows(), front);
  EXPECT_EQ(WindowsHelper::EnumWindowsCheckAppNameExist("Photoshop 2024").dump(),
            R"({"choseAppName":"Photoshop"})");
  test::RunCommand("wineserver -k 2>&1");  // the prefix's programs end with it
}

}  // namespace
}  // namespace vrk
