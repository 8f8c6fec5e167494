// The debug log: file names, line format, on/off rules, header, and lost lines.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "framework/base_device.h"
#include "framework/debug_log.h"
#include "platform/exceptions.h"
#include "tests/framework/test_support.h"

namespace {

using fwtest::CallFunction;
using fwtest::FakeHost;
using fwtest::HostCall;

TDateTime FixedNow() { return EncodeDateTime({2014, 7, 29, 12, 34, 56, 789}); }

class LogDevice : public TBaseDevice {
 public:
  bool failInit = false;
  void SetFolder(const std::string& folder) { FLogPath = folder; }

 protected:
  std::int32_t DoInit(std::string&) override {
    if (failInit) throw EConvertError("плохой вызов");
    return 0;
  }
};

class DebugLog : public ::testing::Test {
 protected:
  void SetUp() override {
    device->SetDebugLogClock(FixedNow);
    host.properties["DevicesFolder"] = {true, dir.path()};
    HostCall init;
    init.Arg(OleVariant::FromDispatch(&host)).RefVariant();
    ASSERT_EQ(init.Call(dispatch, "Init"), S_OK);
    HostCall open;
    open.Arg(OleVariant("dev")).RefVariant();
    ASSERT_EQ(open.Call(dispatch, "Open"), S_OK);  // the device's folder is not made yet
  }
  std::string LogFile() const { return dir.path() + "dev/Debug_2014.07.29.log"; }
  std::vector<std::string> Lines() const { return fwtest::ReadLines(LogFile()); }
  // The part of each line after the instance identifier and its tab.
  std::vector<std::string> Bodies() const {
    std::vector<std::string> bodies;
    for (const std::string& line : Lines()) bodies.push_back(line.substr(line.find('\t') + 1));
    return bodies;
  }
  void EnableLog() {
    device->SetSettingValue("DebugLogEnabled", OleVariant(true));
    ASSERT_TRUE(CallFunction(dispatch, "Enable").result.AsBoolean());
  }
  int Headers() const {
    int count = 0;
    for (const std::string& body : Bodies()) count += body == "============Begin debug log=============";
    return count;
  }

  fwtest::TempDir dir;
  FakeHost host;
  ComPtr<LogDevice> device = CreateComObject<LogDevice>();
  IDispatch* dispatch = AsDispatch(device.Get());
};

TEST_F(DebugLog, OffWritesNoFile) {
  EXPECT_FALSE(device->WriteDebugLog("x", "y"));
  CallFunction(dispatch, "GetSettings");
  EXPECT_FALSE(fwtest::FileExists(LogFile()));
}

// The first Enable makes the device's folder, so the header goes there with the rest.
TEST_F(DebugLog, EnableWritesTheHeaderInTheDeviceFolder) {
  EnableLog();
  EXPECT_EQ(device->DebugLogFileName(), LogFile());
  const std::vector<std::string> expected = {
      std::string(40, ' '),
      "============Begin debug log=============",
      "driver ver.: \t" + std::to_string(TAVO_TEST_VERSION_MAJOR) + "." +
          std::to_string(TAVO_TEST_VERSION_MINOR) + "." + std::to_string(TAVO_TEST_VERSION_BUILD),
      "device ID: \tdev",
      "----------------Settings----------------",
      "DefaultTimeOut: \t120",
      "EventLogEnabled: \tFalse",
      "DebugLogEnabled: \tTrue",
      "----------------------------------------"};
  EXPECT_EQ(Bodies(), expected);  // the Enable call itself gets no lines
}

TEST_F(DebugLog, LinesHaveTheExactFormat) {
  EnableLog();
  const std::string id = device->InstanceID();
  const std::vector<std::string> lines = Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[3], "2014.07.29 12:34:56.789 Inst.: " + id + "\tdevice ID: \tdev");
  EXPECT_EQ(lines[1], "2014.07.29 12:34:56.789 Inst.: " + id + "\t============Begin debug log=============");
  std::FILE* f = std::fopen(LogFile().c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::string raw(4096, '\0');
  raw.resize(std::fread(raw.data(), 1, raw.size(), f));
  std::fclose(f);
  EXPECT_EQ(raw.substr(raw.size() - 2), "\r\n");
}

TEST_F(DebugLog, CallAndReturnLinesOfBothKinds) {
  EnableLog();
  const std::size_t before = Lines().size();
  CallFunction(dispatch, "GetDeviceInfo", OleVariant::VarArrayOf({OleVariant(std::int32_t{1})}));
  HostCall close;
  close.Arg(OleVariant("p"));
  close.Call(dispatch, "Close");
  std::vector<std::string> bodies = Bodies();
  bodies.erase(bodies.begin(), bodies.begin() + before);
  ASSERT_EQ(bodies.size(), 4u);
  EXPECT_EQ(bodies[0], "> GetDeviceInfo: \tInData: [(1)]");
  EXPECT_EQ(bodies[1].rfind("< GetDeviceInfo: \tResult=True; OutData: [('Unknown'; ''; ''; ", 0), 0u)
      << bodies[1];
  EXPECT_EQ(bodies[2], "> Close: \tParams: [('p')]");
  EXPECT_EQ(bodies[3], "< Close: \tResult=True; Params: [('p')]");
}

TEST_F(DebugLog, FailedFunctionShowsTheErrorArray) {
  EnableLog();
  const std::size_t before = Lines().size();
  CallFunction(dispatch, "ShowSettingsDlg");
  const std::vector<std::string> bodies = Bodies();
  ASSERT_EQ(bodies.size(), before + 2);
  EXPECT_EQ(bodies.back(),
            "< ShowSettingsDlg: \tResult=False; OutData: [(1003; 'Команда не поддерживаеся устройством')]");
}

TEST_F(DebugLog, DisableGetsItsCallLineOnly) {
  EnableLog();
  const std::size_t before = Lines().size();
  CallFunction(dispatch, "Disable");
  const std::vector<std::string> bodies = Bodies();
  ASSERT_EQ(bodies.size(), before + 1);
  EXPECT_EQ(bodies.back(), "> Disable: \tInData: EMPTY");
  EXPECT_FALSE(device->DebugLogEnabled());
}

TEST_F(DebugLog, HeaderOncePerSwitchOn) {
  EnableLog();
  EnableLog();
  EXPECT_EQ(Headers(), 1);
  CallFunction(dispatch, "Disable");
  EnableLog();
  EXPECT_EQ(Headers(), 2);
}

TEST_F(DebugLog, ProcedureExceptionWritesTwoExceptionLinesAndNoReturnLine) {
  EnableLog();
  const std::size_t before = Lines().size();
  device->failInit = true;
  HostCall init;
  init.Arg(OleVariant::FromDispatch(&host)).RefVariant();
  EXPECT_EQ(init.Call(dispatch, "Init"), DISP_E_EXCEPTION);
  std::vector<std::string> bodies = Bodies();
  bodies.erase(bodies.begin(), bodies.begin() + before);
  ASSERT_EQ(bodies.size(), 3u);
  EXPECT_EQ(bodies[0].rfind("> Init: \tParams: [($", 0), 0u) << bodies[0];
  EXPECT_EQ(bodies[1], "EXCEPTION: \tплохой вызов");
  EXPECT_EQ(bodies[2], "EXCEPTION: \tEConvertError: плохой вызов");
}

TEST_F(DebugLog, PrefixOnlyLineHasNoColonAndNoTab) {
  device->SetFolder(dir.path());
  device->SetDebugLogEnabled(true);
  device->WriteDebugLog("banner", "ignored", true);
  const std::vector<std::string> lines = fwtest::ReadLines(dir.path() + "Debug_2014.07.29.log");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().substr(lines.back().size() - 7), "\tbanner");
  EXPECT_EQ(FormatDebugLogLine(FixedNow(), "{ID}", "p", "t", true),
            "2014.07.29 12:34:56.789 Inst.: {ID}\tp\r\n");
  EXPECT_EQ(FormatDebugLogLine(FixedNow(), "{ID}", "p", "t", false),
            "2014.07.29 12:34:56.789 Inst.: {ID}\tp: \tt\r\n");
  // Every field keeps its width; the hours run to 23.
  EXPECT_EQ(FormatDebugLogLine(EncodeDateTime({2003, 1, 2, 3, 4, 5, 6}), "{ID}", "p", "", true),
            "2003.01.02 03:04:05.006 Inst.: {ID}\tp\r\n");
  EXPECT_EQ(FormatDebugLogLine(EncodeDateTime({2003, 1, 2, 23, 0, 0, 0}), "{ID}", "p", "", true),
            "2003.01.02 23:00:00.000 Inst.: {ID}\tp\r\n");
}

TEST_F(DebugLog, MissingFolderFallsBackToTheModuleFolder) {
  device->SetDebugLogClock([] { return EncodeDateTime({1999, 1, 2, 3, 4, 5, 6}); });
  device->SetFolder(dir.path() + "no-such-folder");
  device->SetDebugLogEnabled(true);
  const std::string module = GetModuleFileNameStr();
  const std::string expected = module.substr(0, module.rfind('/') + 1) + "Debug_1999.01.02.log";
  EXPECT_EQ(device->DebugLogFileName(), expected);
  EXPECT_TRUE(fwtest::FileExists(expected));
  std::remove(expected.c_str());
}

TEST_F(DebugLog, UnwritableFileLosesTheLineButNeverFailsTheCall) {
  ::mkdir((dir.path() + "dev").c_str(), 0755);
  ::mkdir(LogFile().c_str(), 0755);  // a directory where the file should be
  device->SetSettingValue("DebugLogEnabled", OleVariant(true));
  auto r = CallFunction(dispatch, "Enable");
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_TRUE(r.result.AsBoolean());
  EXPECT_FALSE(device->WriteDebugLog("x", "y"));
  r = CallFunction(dispatch, "GetSettings");
  EXPECT_TRUE(r.result.AsBoolean());
  HostCall close;
  EXPECT_EQ(close.Call(dispatch, "Close"), S_OK);
  r = CallFunction(dispatch, "Disable");
  EXPECT_TRUE(r.result.AsBoolean());
  EXPECT_FALSE(device->DebugLogEnabled());
}

}  // namespace
