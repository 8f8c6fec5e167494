#include "platform/registry.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

using namespace std::string_literals;

#include <gtest/gtest.h>

#include "tests/platform/temp_environment.h"

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  TempFolder folder;
  ScopedEnv config{"XDG_CONFIG_HOME", folder.Path()};

  std::string FileText() const {
    std::ifstream in(RegistryFilePath());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void WriteFile(const std::string& text) const {
    std::filesystem::create_directories(std::filesystem::path(RegistryFilePath()).parent_path());
    std::ofstream(RegistryFilePath(), std::ios::binary) << text;
  }
  static std::string Query(const std::string& key, const std::string& name) {
    std::string data = "<none>";
    RegQueryValue(key, name, data);
    return data;
  }
};

TEST_F(RegistryTest, FileLivesUnderTheConfigFolder) {
  EXPECT_EQ(RegistryFilePath(), folder.Path() + "/tavoeq/registry");
  ScopedEnv relative("XDG_CONFIG_HOME", "relative/path");
  ScopedEnv home("HOME", folder.Path() + "/home");
  EXPECT_EQ(RegistryFilePath(), folder.Path() + "/home/.config/tavoeq/registry");
}

TEST_F(RegistryTest, SetQueryAndOverwriteValues) {
  std::string data;
  EXPECT_FALSE(RegQueryValue("CLSID\\{X}", "", data)) << "no file yet";
  ASSERT_TRUE(RegSetValue("CLSID\\{X}\\InprocServer32", "", "/opt/lib/libx.so"));
  ASSERT_TRUE(RegSetValue("CLSID\\{X}\\InprocServer32", "ThreadingModel", "Apartment"));
  EXPECT_EQ(Query("CLSID\\{X}\\InprocServer32", ""), "/opt/lib/libx.so");
  EXPECT_EQ(Query("CLSID\\{X}\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(Query("CLSID\\{X}\\InprocServer32", "Other"), "<none>");
  EXPECT_EQ(Query("CLSID\\{X}", ""), "<none>") << "a parent key has no default value of its own";
  EXPECT_TRUE(RegKeyExists("CLSID\\{X}"));
  EXPECT_TRUE(RegKeyExists("CLSID"));
  EXPECT_FALSE(RegKeyExists("CLSID\\{Y}"));

  ASSERT_TRUE(RegSetValue("CLSID\\{X}\\InprocServer32", "", "/new path/with spaces.so"));
  EXPECT_EQ(Query("CLSID\\{X}\\InprocServer32", ""), "/new path/with spaces.so");
}

TEST_F(RegistryTest, KeysAndNamesIgnoreAsciiCaseAndKeepTheirFirstSpelling) {
  ASSERT_TRUE(RegSetValue("TavoEq.Morvik\\Clsid", "", "{A}"));
  EXPECT_EQ(Query("TAVOEQ.MORVIK\\CLSID", ""), "{A}");
  ASSERT_TRUE(RegSetValue("tavoeq.morvik\\clsid", "", "{B}"));
  EXPECT_EQ(Query("TavoEq.Morvik\\Clsid", ""), "{B}");
  ASSERT_TRUE(RegSetValue("TavoEq.Morvik", "ThreadingModel", "Apartment"));
  EXPECT_EQ(Query("TavoEq.Morvik", "threadingmodel"), "Apartment");
  const std::string text = FileText();
  EXPECT_NE(text.find("TavoEq.Morvik\\Clsid\t@\t{B}"), std::string::npos) << text;
  EXPECT_EQ(text.find("tavoeq.morvik"), std::string::npos) << text;
}

TEST_F(RegistryTest, DeleteLeavesKeysWithSubkeysAlone) {
  ASSERT_TRUE(RegSetValue("CLSID\\{X}", "", "Driver"));
  ASSERT_TRUE(RegSetValue("CLSID\\{X}\\ProgID", "", "Tavo.X"));
  ASSERT_TRUE(RegSetValue("CLSID\\{X}.other", "", "a sibling whose name sorts between"));
  EXPECT_FALSE(RegDeleteKey("CLSID\\{X}"));
  EXPECT_EQ(Query("CLSID\\{X}", ""), "Driver");
  EXPECT_TRUE(RegDeleteKey("clsid\\{x}\\progid"));
  EXPECT_FALSE(RegKeyExists("CLSID\\{X}\\ProgID"));
  EXPECT_FALSE(RegDeleteKey("CLSID\\{X}\\ProgID")) << "already gone";
  EXPECT_TRUE(RegDeleteKey("CLSID\\{X}"));
  EXPECT_FALSE(RegKeyExists("CLSID\\{X}"));
  EXPECT_EQ(Query("CLSID\\{X}.other", ""), "a sibling whose name sorts between");
}

TEST_F(RegistryTest, MalformedKeyPathsAreRefused) {
  for (const char* bad : {"", "\\", "A\\", "\\A", "A\\\\B"}) {
    EXPECT_FALSE(RegSetValue(bad, "", "x")) << bad;
    EXPECT_FALSE(RegKeyExists(bad)) << bad;
    EXPECT_FALSE(RegDeleteKey(bad)) << bad;
  }
  EXPECT_FALSE(std::filesystem::exists(RegistryFilePath()));
}

TEST_F(RegistryTest, AwkwardTextSurvivesTheFile) {
  const std::string data = "tab\there\nnewline\r%25 percent @ at \\ backslash, кириллица";
  const std::string name = "@";
  ASSERT_TRUE(RegSetValue("K\tey%", name, data));
  ASSERT_TRUE(RegSetValue("K\tey%", "", "default"));
  ASSERT_TRUE(RegSetValue("K\tey%", "x", ""));
  EXPECT_EQ(Query("K\tey%", name), data);
  EXPECT_EQ(Query("K\tey%", ""), "default");
  EXPECT_EQ(Query("K\tey%", "x"), "");
  const std::string text = FileText();
  EXPECT_NE(text.find("K%09ey%25"), std::string::npos) << text;
  EXPECT_NE(text.find("кириллица"), std::string::npos) << "UTF-8 stays readable";

  // A key whose line would begin like a comment line is kept all the same.
  ASSERT_TRUE(RegSetValue("#Key\\#Sub", "", "hash"));
  ASSERT_TRUE(RegSetValue("Other", "", "v"));
  EXPECT_EQ(Query("#Key\\#Sub", ""), "hash");
  EXPECT_TRUE(RegKeyExists("#Key"));
}

TEST_F(RegistryTest, MalformedLinesAreIgnoredAndDroppedOnTheNextWrite) {
  WriteFile(
      "# comment\n"
      "Good\t@\tkept\n"
      "only\ttwo fields\n"
      "Bad%zz\t@\tx\n"
      "Trailing%2\t@\tx\n"
      "\\leading\t@\tx\n"
      "Good\t\tempty name is malformed\n"
      "Four\tfields\tare\ttoo many\n"
      "Crlf\t@\tline\r\n"
      "\n"
      "\x01\xff\xfe binary junk \x00 more\n"
      "Implicit\\Parent\\Child\n"s);
  EXPECT_EQ(Query("Good", ""), "kept");
  EXPECT_EQ(Query("Crlf", ""), "line");
  EXPECT_TRUE(RegKeyExists("Implicit\\Parent"));
  EXPECT_FALSE(RegKeyExists("only"));
  EXPECT_FALSE(RegKeyExists("Four"));
  ASSERT_TRUE(RegSetValue("New", "", "value"));
  EXPECT_EQ(Query("Good", ""), "kept");
  EXPECT_EQ(Query("New", ""), "value");
  EXPECT_EQ(FileText().find("too many"), std::string::npos);
}

TEST_F(RegistryTest, UnwritableFolderFailsTheWrite) {
  WriteFile("");
  ScopedEnv blocked("XDG_CONFIG_HOME", folder.Path() + "/tavoeq/registry");  // a file, not a folder
  EXPECT_FALSE(RegSetValue("K", "", "v"));
  EXPECT_FALSE(RegDeleteKey("K"));
}

TEST_F(RegistryTest, WritesLeaveNoTemporaryFilesBehind) {
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(RegSetValue("K" + std::to_string(i), "", "v"));
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path() + "/tavoeq")) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "registry" || name == "registry.lock") << name;
    ++files;
  }
  EXPECT_EQ(files, 2);
}

TEST_F(RegistryTest, ConcurrentWritersFromTwoProcessesKeepEveryValue) {
  constexpr int kValues = 40;
  pid_t children[2];
  for (int child = 0; child < 2; ++child) {
    children[child] = fork();
    ASSERT_GE(children[child], 0);
    if (children[child] == 0) {
      bool ok = true;
      for (int i = 0; i < kValues; ++i) {
        ok = RegSetValue("Writer" + std::to_string(child) + "\\Values", "v" + std::to_string(i), std::to_string(i)) && ok;
      }
      _exit(ok ? 0 : 1);
    }
  }
  for (const pid_t pid : children) {
    int status = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (done == 0) kill(pid, SIGKILL), waitpid(pid, &status, 0);
    ASSERT_EQ(done, pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int child = 0; child < 2; ++child) {
    for (int i = 0; i < kValues; ++i) {
      EXPECT_EQ(Query("Writer" + std::to_string(child) + "\\Values", "v" + std::to_string(i)), std::to_string(i));
    }
  }
}

}  // namespace
