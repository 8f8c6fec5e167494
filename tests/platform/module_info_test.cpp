#include "platform/module_info.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/reactor.h"
#include "tests/platform/activation_server.h"
#include "tests/platform/temp_environment.h"

TAVO_DEFINE_VERSION_STAMP(7, 65535, 0, 258);

namespace {

std::string ThisProgram() { return std::filesystem::canonical("/proc/self/exe").string(); }

// The stamp's bytes, made at run time from a scrambled copy, so that this program's file holds the
// marker only in its own stamp.
volatile unsigned char scrambleKey = 0x33;

std::string StampBytes(WORD major, WORD minor, WORD release, WORD build) {
  static const unsigned char scrambled[16] = {0xE4, 0x67, 0x52, 0x45, 0x5C, 0x65, 0x56, 0x41,
                                              0x60, 0x47, 0x52, 0x5E, 0x43, 0x2A, 0xB7, 0x6F};
  std::string bytes;
  for (const unsigned char c : scrambled) bytes += static_cast<char>(c ^ scrambleKey);
  for (WORD w : {major, minor, release, build}) {
    bytes += static_cast<char>(w & 0xFF);
    bytes += static_cast<char>(w >> 8);
  }
  return bytes;
}

void WriteBinary(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(ModuleFileNameTest, NamesTheModuleHoldingTheAddress) {
  EXPECT_EQ(ModuleFileNameOf(reinterpret_cast<const void*>(&ThisProgram)), ThisProgram());
  const std::string platform = ModuleFileNameOf(reinterpret_cast<const void*>(&GetTickCount64));
  EXPECT_NE(platform, ThisProgram());
  EXPECT_NE(platform.find("libtavoplatform"), std::string::npos) << platform;
  EXPECT_TRUE(std::filesystem::path(platform).is_absolute());
  EXPECT_EQ(ModuleFileNameOf(nullptr), "");
}

#ifdef TAVO_TEST_SERVER_PATH
TEST(ModuleFileNameTest, NamesALoadedLibraryByItsRealPath) {
  void* handle = dlopen(TAVO_TEST_SERVER_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  const auto address = reinterpret_cast<TestServerAddressFn>(dlsym(handle, "TestServerAddress"));
  ASSERT_NE(address, nullptr);
  EXPECT_EQ(ModuleFileNameOf(address()), std::filesystem::canonical(TAVO_TEST_SERVER_PATH).string());
  dlclose(handle);
}

TEST(VersionStampTest, ReadsTheStampOfABuiltLibrary) {
  WORD words[4] = {9, 9, 9, 9};
  ASSERT_TRUE(ReadFileVersionWords(TAVO_TEST_SERVER_PATH, words));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(words[i], kTestServerVersion[i]) << i;
}
#endif

TEST(VersionStampTest, ReadsThisProgramsOwnStamp) {
  WORD words[4] = {};
  ASSERT_TRUE(ReadFileVersionWords(ThisProgram(), words));
  EXPECT_EQ(words[0], 7);
  EXPECT_EQ(words[1], 65535);
  EXPECT_EQ(words[2], 0);
  EXPECT_EQ(words[3], 258);
}

TEST(VersionStampTest, ThePlatformLibraryCarriesNoStamp) {
  WORD words[4] = {1, 2, 3, 4};
  EXPECT_FALSE(ReadFileVersionWords(ModuleFileNameOf(reinterpret_cast<const void*>(&GetTickCount64)), words));
  for (WORD w : words) EXPECT_EQ(w, 0);
}

TEST(VersionStampTest, FindsAStampAnywhereInAFileAndRejectsCutOrMissingOnes) {
  TempFolder folder;
  WORD words[4];
  WriteBinary(folder / "stamped", std::string(100000, 'x') + StampBytes(4, 1, 0, 1) + "tail");
  ASSERT_TRUE(ReadFileVersionWords(folder / "stamped", words));
  EXPECT_EQ(words[0], 4);
  EXPECT_EQ(words[1], 1);
  EXPECT_EQ(words[2], 0);
  EXPECT_EQ(words[3], 1);

  WriteBinary(folder / "first-wins", StampBytes(1, 2, 3, 4) + StampBytes(5, 6, 7, 8));
  ASSERT_TRUE(ReadFileVersionWords(folder / "first-wins", words));
  EXPECT_EQ(words[3], 4);

  const std::string cut = StampBytes(1, 2, 3, 4);
  WriteBinary(folder / "cut", cut.substr(0, cut.size() - 1));
  EXPECT_FALSE(ReadFileVersionWords(folder / "cut", words));
  WriteBinary(folder / "plain", "no stamp in here");
  EXPECT_FALSE(ReadFileVersionWords(folder / "plain", words));
  WriteBinary(folder / "empty", "");
  EXPECT_FALSE(ReadFileVersionWords(folder / "empty", words));
  EXPECT_FALSE(ReadFileVersionWords(folder / "missing", words));
  EXPECT_FALSE(ReadFileVersionWords(folder.Path(), words)) << "a folder";
  EXPECT_FALSE(ReadFileVersionWords("", words));
  for (WORD w : words) EXPECT_EQ(w, 0);
}

}  // namespace
