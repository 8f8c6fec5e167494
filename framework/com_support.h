// The COM object at the root of every driver object: reference counting, QueryInterface, two-phase
// creation and a destruction protocol that runs the derived teardown before any destructor; and
// TBaseObject, the late-bound name dispatch with its method table, settings table and debug log.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "framework/tavo2_lib.h"
#include "platform/com.h"
#include "platform/com_object.h"
#include "platform/date_time.h"
#include "platform/ole_variant.h"
#include "platform/oleauto.h"

// Reference-counted COM object answering IUnknown, IDispatch and ISupportErrorInfo. Objects are
// made by CreateComObject only: construction, then the virtual Initialize (so that virtual calls
// made there reach the most derived class). When the last reference goes, BeforeDestruction runs
// on the complete object, then the object is deleted.
class TComObject : public ComObject<IDispatch, ISupportErrorInfo> {
 public:
  TComObject();
  ~TComObject() override;

  HRESULT InterfaceSupportsErrorInfo(REFIID riid) override;

  // Runs Initialize once; used by CreateComObject (and a class factory).
  void InitializeObject();
  // Number of live objects of every class (for the server's unload check).
  static long ObjectCount() noexcept;

 protected:
  virtual void Initialize() {}
  // The derived teardown, run when the last reference is released and before any destructor;
  // only for an object whose Initialize completed. Must not throw.
  virtual void BeforeDestruction() noexcept {}

 private:
  void LastReleased() noexcept override;

  bool initialized_ = false;
};

// Makes an object of class T (derived from TComObject) and initialises it. The returned pointer
// holds the only reference. An exception of Initialize destroys the object and passes on.
template <class T, class... Args>
ComPtr<T> CreateComObject(Args&&... args) {
  static_assert(std::is_base_of_v<TComObject, T>);
  ComPtr<T> object = ComPtr<T>::Attach(std::make_unique<T>(std::forward<Args>(args)...).release());
  object->InitializeObject();
  return object;
}

// The IDispatch of a driver object (IDispatch is its first base, so this is also its IUnknown).
inline IDispatch* AsDispatch(TComObject* object) { return static_cast<IDispatch*>(object); }

// Handlers bound to an object's member functions; a virtual member binds the override.
template <class C>
TFunctionHandler BindFunction(C* self, std::int32_t (C::*method)(OleVariant&, OleVariant&,
                                                                  std::int32_t, std::string&)) {
  return [self, method](OleVariant& inData, OleVariant& outData, std::int32_t timeout,
                        std::string& errText) {
    return (self->*method)(inData, outData, timeout, errText);
  };
}

template <class C>
TProcedureHandler BindProcedure(C* self, void (C::*method)(SAFEARRAY*, OleVariant&)) {
  return [self, method](SAFEARRAY* args, OleVariant& result) { (self->*method)(args, result); };
}

class TBaseObject : public TComObject {
 public:
  // IDispatch
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT nameCount, LCID lcid,
                        DISPID* dispIds) override;
  HRESULT Invoke(DISPID dispId, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) override;

  // Runs table entry DispID on the argument array (element 0 = the host's first argument).
  // S_OK, E_INVALIDARG (function kind with a Timeout that is not ordinal) or E_FAIL (no handler);
  // an exception of a procedure-kind handler passes on.
  HRESULT CallMethod(DISPID DispID, OleVariant& Result, SAFEARRAY* Args);
  std::string GetErrorDescription(std::int32_t Code) const;

  // --- Method table ---
  void AddProcedure(std::string_view Name, TProcedureHandler Handler);
  void AddFunction(std::string_view Name, TFunctionHandler Handler);
  const TMethodArray& Methods() const noexcept { return FMethods; }

  // --- Settings table ---
  void AddSetting(std::string_view Name, std::uint8_t SettingType, const OleVariant& Value,
                  bool Flag, std::string_view Caption, std::string_view Description);
  OleVariant GetSettingValue(std::string_view Name) const;
  bool GetSettingAsBoolean(std::string_view Name) const;
  std::int32_t GetSettingAsInteger(std::string_view Name) const;
  std::string GetSettingAsString(std::string_view Name) const;
  void SetSettingValue(std::string_view Name, const OleVariant& Value);
  void ResetSettingsToDefaults();
  const TSettingArray& Settings() const noexcept { return FSettings; }

  // --- Debug log ---
  void SetDebugLogEnabled(bool Value);
  bool DebugLogEnabled() const noexcept { return FDebugLogEnabled; }
  // Appends one line; false when the log is off or the line was lost to an I/O error.
  bool WriteDebugLog(std::string_view Prefix, std::string_view Text, bool PrefixOnly = false);
  // The file that a line written now would go to.
  std::string DebugLogFileName() const;
  const std::string& InstanceID() const noexcept { return FInstanceID; }
  const std::string& LogPath() const noexcept { return FLogPath; }
  // The clock of the log's time stamps and file names (the wall clock unless replaced).
  void SetDebugLogClock(std::function<TDateTime()> Clock) { FLogClock = std::move(Clock); }

 protected:
  void Initialize() override;
  // Writes the header when the log is switched on; nothing here.
  virtual void WriteDebugLogHeader() {}
  // Index of the first setting of that name, or -1.
  int FindSettingIndex(std::string_view Name) const;

  std::string FInstanceID;
  TMethodArray FMethods;
  TSettingArray FSettings;
  bool FDebugLogEnabled = false;
  std::string FLogPath;

 private:
  HRESULT InvokeMethod(DISPID dispId, DISPPARAMS* params, VARIANT* result);
  HRESULT CallFunction(const TMethodRec& method, OleVariant& Result, SAFEARRAY* Args);
  HRESULT CallProcedure(const TMethodRec& method, OleVariant& Result, SAFEARRAY* Args);
  // DISP_E_EXCEPTION with scode 1001, the message and the class name (error null: unknown).
  HRESULT AnswerException(const std::exception* error, EXCEPINFO* excepInfo) noexcept;
  TDateTime LogNow() const;

  std::function<TDateTime()> FLogClock;
};

// --- Argument routines of a call (all on the call's DISPPARAMS) ---------------------------------
UINT GetParamCount(const DISPPARAMS* Params);
// Host argument Index (0 = first in call order), references followed and copied out, VT_I2 made
// VT_I4. Raises "Wrong index!" outside the argument list.
OleVariant GetParam(const DISPPARAMS* Params, UINT Index);
// Writes Value into host argument Index with AssignToByRefVariant; "invalid index" outside.
void SetParam(DISPPARAMS* Params, UINT Index, const VARIANT& Value);
void ParamsToSafeArray(const DISPPARAMS* Params, SAFEARRAY* Args);
// Writes every element back into the host's arguments; the elements are moved out.
void SafeArrayToParams(SAFEARRAY* Args, DISPPARAMS* Params);
void SetInvokeResult(VARIANT* VarResult, OleVariant& Result);
