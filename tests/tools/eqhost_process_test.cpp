// The host program as a process: registration commands, the run loop over standard input (ready
// line, one answer per request, malformed lines, a last line without its line feed, end of input)
// with the real driver library. Nothing here opens the network.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

extern char** environ;

namespace {

using Json = nlohmann::ordered_json;

struct Outcome {
  int status = -1;  // exit status, or -1 when the program did not end in time
  std::vector<Json> lines;
};

class EqhostProcess : public ::testing::Test {
 protected:
  EqhostProcess() {
    char pattern[] = "/tmp/tavo-eqhost-XXXXXX";
    root_ = mkdtemp(pattern);
    setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
    setenv("TAVO_COMMON_APPDATA", (root_ + "/common").c_str(), 1);
    unsetenv("TAVOEQ_HEADLESS");  // the program must make itself headless
  }
  ~EqhostProcess() override {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  // Runs eqhost with the arguments, writes input to its standard input and closes it, and reads
  // its standard output to the end (at most 60 s; the program is killed after that).
  static Outcome Run(const std::vector<std::string>& args, const std::string& input = "") {
    int in[2];
    int out[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&actions, fd);
    std::vector<std::string> argv_text = {TAVO_EQHOST};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, TAVO_EQHOST, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    Outcome outcome;
    if (spawned != 0) {
      close(in[1]);
      close(out[0]);
      ADD_FAILURE() << "cannot start " << TAVO_EQHOST;
      return outcome;
    }
    signal(SIGPIPE, SIG_IGN);
    if (!input.empty()) {
      EXPECT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    }
    close(in[1]);

    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd fd{out[0], POLLIN, 0};
      if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(out[0], buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    int status = 0;
    pid_t ended = 0;
    while ((ended = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (ended != pid) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "eqhost did not end";
      return outcome;
    }
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) outcome.lines.push_back(Json::parse(line));
    return outcome;
  }

  std::string root_;
};

const std::string kLibrary = std::filesystem::canonical(TAVO_DRIVER_LIBRARY).string();
constexpr const char* kProgID = "TavoEq.MorvikRK4400IP";

TEST_F(EqhostProcess, RegisterAndUnregisterPrintTheirResult) {
  Outcome o = Run({"register", kLibrary});
  EXPECT_EQ(o.status, 0);
  ASSERT_EQ(o.lines.size(), 1u);
  EXPECT_EQ(o.lines[0], (Json{{"register", kLibrary}, {"hresult", "0x00000000"}}));

  o = Run({"unregister", kLibrary});
  EXPECT_EQ(o.status, 0);
  ASSERT_EQ(o.lines.size(), 1u);
  EXPECT_EQ(o.lines[0], (Json{{"unregister", kLibrary}, {"hresult", "0x00000000"}}));

  // A path that is not UTF-8 is still answered, the byte printed as U+FFFD.
  o = Run({"register", root_ + "/missing\xFF.so"});
  EXPECT_EQ(o.status, 1);
  ASSERT_EQ(o.lines.size(), 1u);
  EXPECT_EQ(o.lines[0].value("register", ""), root_ + "/missing\uFFFD.so") << o.lines[0].dump();
  EXPECT_TRUE(o.lines[0].contains("error")) << o.lines[0].dump();
}

TEST_F(EqhostProcess, RunAnswersEveryRequestLineAndEndsWithItsInput) {
  ASSERT_EQ(Run({"register", kLibrary}).status, 0);
  const std::string input =
      "{\"call\": \"GetDeviceInfo\"}\n"
      "\xFE\xFF is neither JSON nor text\n"
      "\n"
      "{\"call\": \"NoSuchMethod\", \"in\": null, \"timeout\": 0}\n"
      "{\"call\": \"ShowSettingsDlg\"}\n"
      "{\"pump\": 5}\n"
      "{\"call\": \"Init\", \"args\": [{\"host\": true}, \"\"]}\n"
      "{\"call\": \"Open\", \"args\": [\"dev\", \"\"]}";  // the last line has no line feed
  const Outcome o = Run({"run", kProgID, "--devices-folder", root_ + "/devices", "--language", "ru"}, input);
  EXPECT_EQ(o.status, 0);
  ASSERT_EQ(o.lines.size(), 8u);
  EXPECT_EQ(o.lines[0], (Json{{"ready", true}}));

  EXPECT_EQ(o.lines[1].at("call"), "GetDeviceInfo");
  EXPECT_EQ(o.lines[1].at("result"), true);
  EXPECT_EQ(o.lines[1].at("out").at(1), "A6758E6C-9A8A-4D86-9C3B-2C962AC3CCA7");

  EXPECT_TRUE(o.lines[2].contains("error")) << o.lines[2].dump();
  EXPECT_EQ(o.lines[3].at("call"), "NoSuchMethod");
  EXPECT_EQ(o.lines[3].at("hresult"), "0x80004001");  // the driver's answer to an unknown name
  // Headless: the settings dialog is an error, never a window that nobody can close.
  EXPECT_EQ(o.lines[4].at("result"), false);
  EXPECT_EQ(o.lines[4].at("out").at(0), 1001);
  EXPECT_EQ(o.lines[5], (Json{{"pumped", 5}}));
  // The procedure kind answers with its arguments after the call; the host object stays itself.
  EXPECT_EQ(o.lines[6].at("result"), true) << o.lines[6].dump();
  EXPECT_EQ(o.lines[6].at("args").at(0), (Json{{"host", true}}));
  EXPECT_EQ(o.lines[7].at("call"), "Open");
  EXPECT_EQ(o.lines[7].at("result"), true) << o.lines[7].dump();
  EXPECT_EQ(o.lines[7].at("args").at(0), "dev");
}

TEST_F(EqhostProcess, AnUnknownProgIDIsAnErrorLine) {
  const Outcome o = Run({"run", "No.SuchProgID"});
  EXPECT_EQ(o.status, 1);
  ASSERT_EQ(o.lines.size(), 1u);
  EXPECT_TRUE(o.lines[0].contains("error")) << o.lines[0].dump();
  EXPECT_TRUE(o.lines[0].contains("hresult")) << o.lines[0].dump();
}

TEST_F(EqhostProcess, WrongArgumentsShowTheUsage) {
  EXPECT_EQ(Run({"run"}).status, 2);
  EXPECT_EQ(Run({"run", kProgID, "--devices-folder"}).status, 2);
  EXPECT_EQ(Run({"frobnicate", "x"}).status, 2);
}

}  // namespace
