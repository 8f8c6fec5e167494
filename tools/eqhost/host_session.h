// One host session over a driver object: reads one JSON request per line and answers with one JSON
// line, calling the object late-bound by name as a host application does.
//   {"call": NAME, "in": V, "timeout": T}   function kind: Invoke(InData, OutData, Timeout), every
//       argument by reference; answered {"call": NAME, "result": BOOL, "out": V}. "in" defaults to
//       null and "timeout" to 0 (any value form is accepted, so a wrong Timeout type can be tried).
//   {"call": NAME, "args": [V ...]}         procedure kind: Invoke with these arguments, each by
//       reference; answered {"call": NAME, "result": V, "args": [V ...]} as they are after the call.
//   {"pump": MILLISECONDS}                  answered {"pumped": MILLISECONDS} after pumping messages.
// A name the object does not know, or an Invoke that fails, is answered
//   {"call": NAME, "hresult": "0x80020009", "source": TEXT, "description": TEXT}.
// A line that is not such a request (not JSON, not UTF-8, nested deeper than kMaxNesting) is
// answered {"error": TEXT} and the session goes on; a blank line is not answered.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/com.h"
#include "tools/eqhost/json_variant.h"

namespace eqhost {

class HostSession {
 public:
  using Pump = std::function<void(int milliseconds)>;

  // object: the driver object called; host: what {"host": true} stands for (may be null);
  // pump: runs the thread's messages for the given time.
  HostSession(ComPtr<IDispatch> object, ComPtr<IDispatch> host, Pump pump);

  std::optional<Json> Handle(std::string_view line);
  Json Handle(const Json& request);

 private:
  Json CallFunction(const std::string& name, const Json& request);
  Json CallProcedure(const std::string& name, const Json& request);
  // Looks the name up and invokes it as a method; false with the failure answer in answer, else
  // true with answer holding the "call" member.
  bool Call(const std::string& name, DISPPARAMS* params, OleVariant& result, Json& answer);
  Json Failure(const std::string& name, HRESULT hr, EXCEPINFO& excepInfo);
  // Looks the name up; false with the failure answer in answer when the object refuses it.
  bool Lookup(const std::string& name, DISPID& dispId, Json& answer);

  ComPtr<IDispatch> object_;
  ComPtr<IDispatch> host_;
  Pump pump_;
};

}  // namespace eqhost
