// Test helpers: calling a driver object exactly as a host does (DISPPARAMS in reverse order, by-value
// and by-reference arguments), and a fake host callback object that records what it is sent.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com.h"
#include "platform/ole_variant.h"
#include "platform/oleauto.h"
#include "tests/platform/ole_test_support.h"

namespace fwtest {

// One host call: arguments in call order, owned here (like a host's own variables).
class HostCall {
 public:
  HostCall() = default;
  HostCall(const HostCall&) = delete;
  HostCall& operator=(const HostCall&) = delete;
  ~HostCall();

  // A by-value argument.
  HostCall& Arg(const OleVariant& value);
  // A VARIANT passed by reference (VT_VARIANT|VT_BYREF) to a variable owned here.
  HostCall& RefVariant(const OleVariant& initial = OleVariant());
  // A typed by-reference argument (vt|VT_BYREF) whose storage holds the value of type vt.
  HostCall& RefTyped(VARTYPE vt, const OleVariant& initial);
  // A raw argument VARIANT taken over as it is (for null references and the like).
  HostCall& Raw(const VARIANT& raw);

  HRESULT Invoke(IDispatch* target, DISPID dispId, WORD flags = DISPATCH_METHOD,
                 bool wantResult = true);
  // GetIDsOfNames for the name, then Invoke; E_NOTIMPL when the name is unknown.
  HRESULT Call(IDispatch* target, std::string_view name, WORD flags = DISPATCH_METHOD);

  // The argument slot as the host sees it after the call (call order).
  const VARIANT& Slot(std::size_t index) const { return args_.at(index); }
  // The value the argument now holds, references followed.
  OleVariant Value(std::size_t index) const;
  const OleVariant& Result() const { return result_; }
  const EXCEPINFO& Excep() const { return excep_; }
  std::string ExcepDescription() const;
  std::string ExcepSource() const;
  std::size_t Count() const { return args_.size(); }

 private:
  std::vector<VARIANT> args_;       // call order
  std::deque<VARIANT> variables_;   // targets of by-reference arguments
  OleVariant result_;
  EXCEPINFO excep_{};
};

// Calls a function-kind method: InData by value, OutData by reference, Timeout 0.
struct FunctionResult {
  HRESULT hr = E_FAIL;
  OleVariant result;
  OleVariant outData;
};
FunctionResult CallFunction(IDispatch* target, std::string_view name,
                            const OleVariant& inData = OleVariant(),
                            const OleVariant& timeout = OleVariant(std::int32_t{0}));
// The [code, text] array of a failed function-kind call.
std::int32_t ErrorCodeOf(const OleVariant& outData);
std::string ErrorTextOf(const OleVariant& outData);

DISPID DispIdOf(IDispatch* target, std::string_view name, HRESULT* hr = nullptr);

// A host callback object: answers DataEvent, ErrorEvent and GetAppProperty by name and records
// every call. Lives on the stack of a test; its reference count is checked, never used to free.
class FakeHost : public ole_test::Counted<IDispatch> {
 public:
  struct Call {
    std::string method;
    std::vector<VARTYPE> types;     // argument types in call order, as received
    std::vector<OleVariant> args;   // argument values in call order, references followed
  };

  std::vector<Call> calls;
  std::map<std::string, std::pair<bool, std::string>> properties;  // name -> (answer, value)
  bool eventAnswer = true;
  bool writeIntoData = false;        // DataEvent/ErrorEvent overwrite their by-reference data
  HRESULT failure = S_OK;            // answer every Invoke with this (DISP_E_EXCEPTION: failureText)
  std::string failureText;
  std::function<void()> duringCall;  // runs inside every Invoke

  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep, UINT*) override;
};

// A unique empty directory under the test's temporary folder, removed at scope end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }  // ends in '/'

 private:
  std::string path_;
};

std::vector<std::string> ReadLines(const std::string& fileName);  // CR LF stripped
bool FileExists(const std::string& fileName);

}  // namespace fwtest
