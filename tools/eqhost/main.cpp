// eqhost: a command-line stand-in for the host application's equipment manager.
//   eqhost register LIB      calls the library's DllRegisterServer and prints the result
//   eqhost unregister LIB    calls its DllUnregisterServer
//   eqhost run PROGID [--devices-folder DIR] [--models-folder DIR] [--language NAME]
//       creates the object by ProgID, prints {"ready": true}, then answers one JSON request per
//       line of standard input (see host_session.h), pumping the thread's messages between
//       requests and while it waits for input; callbacks are printed as they come. End of input
//       releases the object and ends the program with 0.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com_activation.h"
#include "platform/reactor.h"
#include "tools/eqhost/host_callback.h"
#include "tools/eqhost/host_session.h"
#include "tools/eqhost/json_variant.h"
#include "tools/eqhost/message_pump.h"

namespace {

using eqhost::Json;

// Bytes that are not UTF-8 (in a driver's text, say) are printed as U+FFFD: a line is always
// written.
void PrintLine(const Json& line) {
  std::cout << line.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n' << std::flush;
}

int Usage() {
  std::cerr << "usage: eqhost register LIB\n"
               "       eqhost unregister LIB\n"
               "       eqhost run PROGID [--devices-folder DIR] [--models-folder DIR] [--language NAME]\n";
  return 2;
}

int Registration(const std::string& command, const std::string& path) {
  Json answer = Json::object();
  answer[command] = path;
  try {
    ServerLibrary library(path);
    const HRESULT hr = command == "register" ? library.RegisterServer()() : library.UnregisterServer()();
    answer["hresult"] = eqhost::FormatHResult(hr);
    PrintLine(answer);
    return SUCCEEDED(hr) ? 0 : 1;
  } catch (const std::exception& e) {
    answer["error"] = e.what();
    PrintLine(answer);
    return 1;
  }
}

bool ParseRunOptions(int argc, char** argv, eqhost::HostOptions& options) {
  for (int i = 3; i < argc; i += 2) {
    const std::string_view name = argv[i];
    if (i + 1 >= argc) return false;
    if (name == "--devices-folder") {
      options.devicesFolder = argv[i + 1];
    } else if (name == "--models-folder") {
      options.modelsFolder = argv[i + 1];
    } else if (name == "--language") {
      options.language = argv[i + 1];
    } else {
      return false;
    }
  }
  return true;
}

// Splits what arrives on standard input into lines; the last line may lack its line feed.
class LineReader {
 public:
  // Reads what is there; false at the end of input (the rest is then in Lines()).
  bool Fill() {
    char buffer[65536];
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n == 0) {
      if (!pending_.empty()) lines_.push_back(std::move(pending_));
      pending_.clear();
      return false;
    }
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] == '\n') {
        lines_.push_back(std::move(pending_));
        pending_.clear();
      } else {
        pending_.push_back(buffer[i]);
      }
    }
    return true;
  }
  std::vector<std::string> TakeLines() { return std::exchange(lines_, {}); }

 private:
  std::string pending_;
  std::vector<std::string> lines_;
};

int Run(const std::string& progId, const eqhost::HostOptions& options) {
  // Modal boxes and dialogs of the driver have no one to answer them here.
  setenv("TAVOEQ_HEADLESS", "1", 0);
  ComPtr<IDispatch> object;
  const HRESULT hr = CreateObjectByProgID(progId, IID_IDispatch, reinterpret_cast<void**>(object.Put()));
  if (FAILED(hr) || !object) {
    PrintLine(Json{{"error", "cannot create " + progId}, {"hresult", eqhost::FormatHResult(hr)}});
    return 1;
  }
  auto host = eqhost::HostCallback::Create(options, PrintLine);
  {
    eqhost::HostSession session(object, ComPtr<IDispatch>(host.Get()), eqhost::PumpFor);
    PrintLine(Json{{"ready", true}});
    LineReader reader;
    bool open = true;
    while (open) {
      // A bounded batch, then a look at the input: the reactor's descriptor stays readable while
      // messages wait, so the poll returns at once and the next batch follows.
      eqhost::PumpPending();
      pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {ReactorFd(), POLLIN, 0}};
      if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
      if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) open = reader.Fill();
      for (const std::string& line : reader.TakeLines()) {
        if (auto answer = session.Handle(std::string_view(line))) PrintLine(*answer);
        eqhost::PumpPending();
      }
    }
  }
  object.Reset();
  host.Reset();
  CoFreeUnusedLibraries();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string command = argv[1];
  try {
    if ((command == "register" || command == "unregister") && argc == 3) return Registration(command, argv[2]);
    if (command == "run") {
      eqhost::HostOptions options;
      if (!ParseRunOptions(argc, argv, options)) return Usage();
      return Run(argv[2], options);
    }
  } catch (const std::exception& e) {
    PrintLine(Json{{"error", e.what()}});
    return 1;
  }
  return Usage();
}
