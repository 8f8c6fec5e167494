#include "tests/driver/driver_harness.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

#include <gtest/gtest.h>

#include "driver/controllers.h"
#include "platform/com_activation.h"
#include "platform/reactor.h"
#include "tools/eqhost/message_pump.h"

namespace driver_test {

DriverHarness::DriverHarness(std::vector<std::string> addresses) : addresses_(std::move(addresses)) {
  char pattern[] = "/tmp/tavo-driver-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  std::filesystem::create_directories(DevicesFolder());
  setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
  setenv("XDG_DATA_HOME", (root_ + "/data").c_str(), 1);
  setenv("TAVO_COMMON_APPDATA", CommonAppData().c_str(), 1);
  unsetenv("TAVOEQ_HEADLESS");

  ctrlsim::ControllerListener listener;
  listener.onCommand = [this](const ctrlsim::ReceivedCommand& command) {
    if (command.name == "Poll" || command.name == "HelloAnswer") return;
    std::lock_guard lock(seenMutex_);
    seen_.push_back({command.controller, command.name, command.card.value_or("")});
  };
  sim_ = std::make_unique<ctrlsim::Simulator>(listener);
  for (const std::string& address : addresses_) {
    ctrlsim::ControllerOptions options;
    options.address = address;
    options.announceInterval = ctrlsim::Millis(50);
    options.resendInterval = ctrlsim::Millis(100);
    sim_->Add(options);
  }
  sim_->Start();
}

DriverHarness::~DriverHarness() {
  Release();
  sim_->Stop();
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

void DriverHarness::CreateByProgID(bool withDevicesFolder) {
  ServerLibrary library(TAVO_DRIVER_LIBRARY);
  ASSERT_EQ(library.RegisterServer()(), S_OK);
  ComPtr<IDispatch> object;
  ASSERT_EQ(CreateObjectByProgID("TavoEq.MorvikRK4400IP", IID_IDispatch, reinterpret_cast<void**>(object.Put())),
            S_OK);
  Attach(object, withDevicesFolder);
}

void DriverHarness::Attach(ComPtr<IDispatch> object, bool withDevicesFolder) {
  eqhost::HostOptions options;
  if (withDevicesFolder) options.devicesFolder = DevicesFolder();
  options.modelsFolder = root_ + "/models";
  options.language = "ru";
  host_ = eqhost::HostCallback::Create(options, [this](const Json& line) {
    events_.push_back(line);
    if (OnEvent) OnEvent(line);
  });
  driver_ = std::move(object);
  session_ = std::make_unique<eqhost::HostSession>(driver_, ComPtr<IDispatch>(host_.Get()), eqhost::PumpFor);
}

void DriverHarness::Release() {
  session_.reset();
  driver_.Reset();
  host_.Reset();
  CoFreeUnusedLibraries();
}

Json DriverHarness::Call(const Json& request) { return session_->Handle(request); }

Json DriverHarness::Fn(const std::string& name, const Json& in) {
  return Call(Json{{"call", name}, {"in", in}, {"timeout", 0}});
}

void DriverHarness::SetSetting(const std::string& name, const Json& value) {
  const Json answer = Fn("SetSettings", Json::array({Table({Json::array({name}), Json::array({value})})}));
  ASSERT_EQ(answer.value("result", Json()), Json(true)) << answer.dump();
}

void DriverHarness::InitOpen(const std::string& deviceId) {
  Json answer = Call(Json{{"call", "Init"}, {"args", Json::array({Json{{"host", true}}, ""})}});
  ASSERT_EQ(answer.value("result", Json()), Json(true)) << answer.dump();
  answer = Call(Json{{"call", "Open"}, {"args", Json::array({deviceId, ""})}});
  ASSERT_EQ(answer.value("result", Json()), Json(true)) << answer.dump();
  SetSetting("ControllersList", ControllersXml());
}

void DriverHarness::Enable() {
  InitOpen();
  const Json answer = Fn("Enable");
  ASSERT_EQ(answer.value("result", Json()), Json(true)) << answer.dump();
  ClearSeen();
}

std::string DriverHarness::ControllersXml() const {
  TControllers list;
  for (std::size_t i = 0; i < addresses_.size(); ++i) {
    TController* c = list.Add(std::make_unique<TController>(std::to_string(i + 1), addresses_[i]));
    c->Name = "Дверь " + std::to_string(i + 1);
    c->EntranceControl = i == 0;
    c->ExitControl = true;
  }
  return list.SaveToXML();
}

void DriverHarness::QueueEvent(const std::string& address, std::uint8_t code, const std::string& card) {
  ctrlsim::EventSpec event;
  event.code = code;
  event.month = 3;
  event.day = 14;
  event.hour = 9;
  event.minute = 30;
  event.second = 15;
  event.card = card;
  sim_->Control(address, [&](ctrlsim::SimController& c) { c.QueueEvent(event); });
}

std::size_t DriverHarness::WaitEvents(std::size_t n, int milliseconds) {
  const std::uint64_t deadline = GetTickCount64() + static_cast<std::uint64_t>(milliseconds);
  while (events_.size() < n && GetTickCount64() < deadline) eqhost::PumpFor(10);
  return events_.size();
}

std::vector<SeenCommand> DriverHarness::Seen() const {
  // A command is recorded under the simulator's lock just after its acknowledgement went out:
  // taking that lock once makes sure every acknowledged command is in.
  if (!addresses_.empty()) sim_->Stats(addresses_.front());
  std::lock_guard lock(seenMutex_);
  return seen_;
}

void DriverHarness::ClearSeen() {
  if (!addresses_.empty()) sim_->Stats(addresses_.front());  // as in Seen()
  std::lock_guard lock(seenMutex_);
  seen_.clear();
}

Json Table(const std::vector<Json>& fieldRows) {
  const std::size_t items = fieldRows.empty() ? 0 : fieldRows.front().size();
  Json rows = Json::array();
  for (const Json& row : fieldRows) rows.push_back(row);
  return Json{{"dims", Json::array({Json::array({0, static_cast<int>(fieldRows.size()) - 1}),
                                    Json::array({0, static_cast<int>(items) - 1})})},
              {"rows", rows}};
}

Json Profiles(const std::vector<int>& numbers) {
  Json row = Json::array();
  for (int n : numbers) row.push_back(n);
  return Json{{"dims", Json::array({Json::array({0, 0}), Json::array({0, static_cast<int>(numbers.size()) - 1})})},
              {"rows", Json::array({row})}};
}

}  // namespace driver_test
