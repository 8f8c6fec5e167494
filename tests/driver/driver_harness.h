// What the driver's end-to-end tests share: a private registry and data folders, the simulated
// controllers on loopback, and a host session that creates the driver by ProgID (or takes an
// object made in-process) and calls it by name with the host program's JSON requests.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com.h"
#include "tools/eqhost/host_callback.h"
#include "tools/eqhost/host_session.h"
#include "tools/eqhost/json_variant.h"
#include "tools/simulator/simulator.h"

namespace driver_test {

using eqhost::Json;

// One command as a controller received it, in the order of arrival over all controllers.
struct SeenCommand {
  std::string controller;
  std::string name;
  std::string card;
};

class DriverHarness {
 public:
  static constexpr const char* kA = "127.0.0.2";
  static constexpr const char* kB = "127.0.0.3";
  static constexpr const char* kDevice = "dev1";

  // Fresh folders under /tmp, the environment pointed at them, the simulator started with the
  // given controllers (identifiers "1", "2" ... in this order).
  explicit DriverHarness(std::vector<std::string> addresses = {kA, kB});
  ~DriverHarness();
  DriverHarness(const DriverHarness&) = delete;
  DriverHarness& operator=(const DriverHarness&) = delete;

  const std::string& Root() const { return root_; }
  std::string DevicesFolder() const { return root_ + "/devices"; }
  std::string CommonAppData() const { return root_ + "/common"; }

  // Registers the shipped library and creates the driver by ProgID (host without devices folder
  // when withDevicesFolder is false).
  void CreateByProgID(bool withDevicesFolder = true);
  // Uses an object made in this process instead.
  void Attach(ComPtr<IDispatch> object, bool withDevicesFolder = true);
  // Releases the driver object and the host object.
  void Release();

  // The driver object as the host holds it.
  IDispatch* Driver() const { return driver_.Get(); }

  Json Call(const Json& request);
  // A function-kind call with the timeout 0.
  Json Fn(const std::string& name, const Json& in = nullptr);
  // Init with the host object, Open with the device identifier, the controller list set.
  void InitOpen(const std::string& deviceId = kDevice);
  void SetSetting(const std::string& name, const Json& value);
  // InitOpen and Enable; the answer of Enable is checked.
  void Enable();

  // The XML of the controller list for the simulated controllers (identifiers "1", "2" ...).
  std::string ControllersXml() const;

  ctrlsim::Simulator& Sim() { return *sim_; }
  void QueueEvent(const std::string& address, std::uint8_t code, const std::string& card = "");
  // Pumps the thread's messages until n callbacks arrived or the time is up; answers the count.
  std::size_t WaitEvents(std::size_t n, int milliseconds = 5000);
  const std::vector<Json>& Events() const { return events_; }
  // Called with every callback line as it arrives (inside the driver's call that pushed it).
  std::function<void(const Json& line)> OnEvent;
  void ClearEvents() { events_.clear(); }

  // Commands of the driver's work (announcement answers and polls left out), in arrival order.
  std::vector<SeenCommand> Seen() const;
  void ClearSeen();

 private:
  std::string root_;
  std::vector<std::string> addresses_;
  std::vector<SeenCommand> seen_;
  mutable std::mutex seenMutex_;
  std::unique_ptr<ctrlsim::Simulator> sim_;
  ComPtr<IDispatch> driver_;
  ComPtr<eqhost::HostCallback> host_;
  std::unique_ptr<eqhost::HostSession> session_;
  std::vector<Json> events_;
};

// 2-D host table {"dims": [[0, fields - 1], [0, n - 1]], "rows": ...} from rows given per field.
Json Table(const std::vector<Json>& fieldRows);
// A card row's time profiles: the two-dimensional array [0..0, 0..n-1].
Json Profiles(const std::vector<int>& numbers);

}  // namespace driver_test
