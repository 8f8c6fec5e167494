#include "tools/eqhost/host_session.h"

#include <exception>
#include <limits>
#include <utility>
#include <vector>

#include "platform/exceptions.h"
#include "platform/ole_variant.h"
#include "platform/text.h"

namespace eqhost {
namespace {

[[noreturn]] void Malformed(const std::string& message) { throw EConvertError(message); }

void OnlyMembers(const Json& request, std::initializer_list<const char*> allowed) {
  for (const auto& [key, value] : request.items()) {
    bool known = false;
    for (const char* name : allowed) known = known || key == name;
    if (!known) Malformed("unknown member \"" + key + "\"");
  }
}

// Arguments passed by reference (VT_BYREF | VT_VARIANT) to values the session owns, so the object
// can write every one of them back, as it does for a host's variables.
class ByRefArguments {
 public:
  explicit ByRefArguments(std::vector<OleVariant> values) : values_(std::move(values)) {
    const std::size_t n = values_.size();
    refs_.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
      VARIANT& ref = refs_[n - 1 - i];  // DISPPARAMS hold the arguments in reverse order
      VariantInit(&ref);
      ref.vt = VT_BYREF | VT_VARIANT;
      ref.pvarVal = &values_[i].Raw();
    }
    params_ = DISPPARAMS{refs_.empty() ? nullptr : refs_.data(), nullptr, static_cast<UINT>(n), 0};
  }
  ByRefArguments(const ByRefArguments&) = delete;
  ByRefArguments& operator=(const ByRefArguments&) = delete;

  DISPPARAMS* Params() { return &params_; }
  const OleVariant& Value(std::size_t i) const { return values_[i]; }
  std::size_t Count() const { return values_.size(); }

 private:
  std::vector<OleVariant> values_;
  std::vector<VARIANT> refs_;
  DISPPARAMS params_{};
};

}  // namespace

HostSession::HostSession(ComPtr<IDispatch> object, ComPtr<IDispatch> host, Pump pump)
    : object_(std::move(object)), host_(std::move(host)), pump_(std::move(pump)) {}

std::optional<Json> HostSession::Handle(std::string_view line) {
  if (Trim(line).empty()) return std::nullopt;
  try {
    return Handle(ParseJson(line));
  } catch (const std::exception& e) {
    return Json{{"error", e.what()}};
  }
}

Json HostSession::Handle(const Json& request) {
  try {
    if (!request.is_object()) Malformed("a request must be a JSON object");
    if (request.contains("pump")) {
      OnlyMembers(request, {"pump"});
      const Json& ms = request.at("pump");
      if (!ms.is_number_integer() || ms.get<std::int64_t>() < 0 ||
          ms.get<std::int64_t>() > std::numeric_limits<std::int32_t>::max()) {
        Malformed("\"pump\" takes a number of milliseconds");
      }
      const int milliseconds = static_cast<int>(ms.get<std::int64_t>());
      if (pump_) pump_(milliseconds);
      return Json{{"pumped", milliseconds}};
    }
    if (!request.contains("call") || !request.at("call").is_string()) {
      Malformed("a request needs \"call\" with a method name, or \"pump\"");
    }
    const std::string name = request.at("call").get<std::string>();
    if (request.contains("args")) return CallProcedure(name, request);
    return CallFunction(name, request);
  } catch (const std::exception& e) {
    return Json{{"error", e.what()}};
  }
}

bool HostSession::Lookup(const std::string& name, DISPID& dispId, Json& answer) {
  std::u16string wide = Utf8ToUtf16(name);
  LPOLESTR names[] = {wide.data()};
  dispId = DISPID_UNKNOWN;
  const HRESULT hr = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispId);
  if (SUCCEEDED(hr)) return true;
  EXCEPINFO none{};
  answer = Failure(name, hr, none);
  return false;
}

Json HostSession::CallFunction(const std::string& name, const Json& request) {
  OnlyMembers(request, {"call", "in", "timeout"});
  IDispatch* host = host_.Get();
  std::vector<OleVariant> values;
  values.push_back(request.contains("in") ? JsonToVariant(request.at("in"), host) : OleVariant());
  values.emplace_back();  // OutData
  values.push_back(request.contains("timeout") ? JsonToVariant(request.at("timeout"), host)
                                               : OleVariant(std::int32_t{0}));
  ByRefArguments args(std::move(values));
  OleVariant result;
  Json answer;
  if (!Call(name, args.Params(), result, answer)) return answer;
  answer["result"] = VariantToJson(result.Raw(), host);
  answer["out"] = VariantToJson(args.Value(1).Raw(), host);
  return answer;
}

Json HostSession::CallProcedure(const std::string& name, const Json& request) {
  OnlyMembers(request, {"call", "args"});
  const Json& list = request.at("args");
  if (!list.is_array()) Malformed("\"args\" must be an array");
  IDispatch* host = host_.Get();
  std::vector<OleVariant> values;
  for (const Json& value : list) values.push_back(JsonToVariant(value, host));
  ByRefArguments args(std::move(values));
  OleVariant result;
  Json answer;
  if (!Call(name, args.Params(), result, answer)) return answer;
  Json after = Json::array();
  for (std::size_t i = 0; i < args.Count(); ++i) after.push_back(VariantToJson(args.Value(i).Raw(), host));
  answer["result"] = VariantToJson(result.Raw(), host);
  answer["args"] = std::move(after);
  return answer;
}

bool HostSession::Call(const std::string& name, DISPPARAMS* params, OleVariant& result, Json& answer) {
  DISPID dispId = DISPID_UNKNOWN;
  if (!Lookup(name, dispId, answer)) return false;
  EXCEPINFO excepInfo{};
  UINT argErr = 0;
  const HRESULT hr = object_->Invoke(dispId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, &result.Raw(),
                                     &excepInfo, &argErr);
  if (FAILED(hr)) {
    answer = Failure(name, hr, excepInfo);
    return false;
  }
  answer = Json::object();
  answer["call"] = name;
  return true;
}

Json HostSession::Failure(const std::string& name, HRESULT hr, EXCEPINFO& excepInfo) {
  if (excepInfo.pfnDeferredFillIn != nullptr) excepInfo.pfnDeferredFillIn(&excepInfo);
  Json answer = Json::object();
  answer["call"] = name;
  answer["hresult"] = FormatHResult(hr);
  answer["source"] = BstrToUtf8(excepInfo.bstrSource);
  answer["description"] = BstrToUtf8(excepInfo.bstrDescription);
  ClearExcepInfo(&excepInfo);
  return answer;
}

}  // namespace eqhost
