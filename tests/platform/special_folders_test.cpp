#include "platform/special_folders.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/platform/temp_environment.h"

namespace {

class SpecialFoldersTest : public ::testing::Test {
 protected:
  TempFolder folder;
  ScopedEnv home{"HOME", folder / "home"};
  ScopedEnv data{"XDG_DATA_HOME", std::nullopt};
  ScopedEnv common{"TAVO_COMMON_APPDATA", std::nullopt};
};

TEST_F(SpecialFoldersTest, CommonAppDataComesFromTheVariableWithoutTrailingSlash) {
  ScopedEnv set("TAVO_COMMON_APPDATA", folder / "common/sub//");
  std::string path = "stale";
  EXPECT_FALSE(GetSpecialFolderPath(CSIDL_COMMON_APPDATA, false, path)) << "missing and not created";
  EXPECT_EQ(path, "");
  ASSERT_TRUE(GetSpecialFolderPath(CSIDL_COMMON_APPDATA, true, path));
  EXPECT_EQ(path, folder / "common/sub");
  EXPECT_TRUE(std::filesystem::is_directory(path));
  ASSERT_TRUE(GetSpecialFolderPath(CSIDL_COMMON_APPDATA, false, path));
  EXPECT_EQ(path, folder / "common/sub");
}

TEST_F(SpecialFoldersTest, FolderThatCannotBeMadeFails) {
  std::ofstream(folder / "plain-file") << "x";
  ScopedEnv set("TAVO_COMMON_APPDATA", folder / "plain-file/below");
  std::string path;
  EXPECT_FALSE(GetSpecialFolderPath(CSIDL_COMMON_APPDATA, true, path));
  ScopedEnv notAFolder("TAVO_COMMON_APPDATA", folder / "plain-file");
  EXPECT_FALSE(GetSpecialFolderPath(CSIDL_COMMON_APPDATA, true, path));
  EXPECT_TRUE(path.empty());
}

TEST_F(SpecialFoldersTest, UserAppDataDefaultsUnderHomeAndFollowsXdgDataHome) {
  std::string path;
  EXPECT_FALSE(GetSpecialFolderPath(CSIDL_APPDATA, false, path));
  ASSERT_TRUE(GetSpecialFolderPath(CSIDL_APPDATA, true, path));
  EXPECT_EQ(path, folder / "home/.local/share");

  ScopedEnv xdg("XDG_DATA_HOME", folder / "data/");
  ASSERT_TRUE(GetSpecialFolderPath(CSIDL_APPDATA, true, path));
  EXPECT_EQ(path, folder / "data");

  ScopedEnv relative("XDG_DATA_HOME", "not/absolute");
  ASSERT_TRUE(GetSpecialFolderPath(CSIDL_APPDATA, false, path));
  EXPECT_EQ(path, folder / "home/.local/share") << "a relative XDG_DATA_HOME is ignored";
}

TEST_F(SpecialFoldersTest, OtherFolderNumbersAreUnknown) {
  std::string path;
  EXPECT_FALSE(GetSpecialFolderPath(0, true, path));
  EXPECT_FALSE(GetSpecialFolderPath(5, true, path));
}

TEST_F(SpecialFoldersTest, XdgBaseFolderFallsBackToHome) {
  EXPECT_EQ(XdgBaseFolder("XDG_DATA_HOME", ".local/share"), folder / "home/.local/share");
  EXPECT_EQ(HomeFolder(), folder / "home");
  ScopedEnv noHome("HOME", std::nullopt);
  EXPECT_FALSE(HomeFolder().empty()) << "the password database knows the home folder";
}

}  // namespace
