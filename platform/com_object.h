// IUnknown written once: ComObject<Interfaces...> answers QueryInterface for IUnknown and each listed
// interface and counts references. Every COM object of ours (the driver object, the class factory,
// the host program's callback object, test doubles) derives from it and writes only its own
// interface methods.
#pragma once

#include <memory>

#include "platform/com.h"

// The identifier of an interface, for QueryInterface.
template <class Interface>
const IID& InterfaceIdOf();
template <>
inline const IID& InterfaceIdOf<IUnknown>() { return IID_IUnknown; }
template <>
inline const IID& InterfaceIdOf<IDispatch>() { return IID_IDispatch; }
template <>
inline const IID& InterfaceIdOf<IClassFactory>() { return IID_IClassFactory; }
template <>
inline const IID& InterfaceIdOf<ISupportErrorInfo>() { return IID_ISupportErrorInfo; }

// Implements IUnknown for a class that implements Interfaces (the first one also serves as the
// object's IUnknown, so every query for IUnknown answers the same pointer). Objects live on one
// thread (apartment model): the count is a plain integer.
//
// When the last reference goes, LastReleased runs: by default it deletes the object, which must then
// have been made with new (std::make_unique(...).release()). An object with another lifetime (a
// static, a test double on the stack) overrides it. A Release with no reference left to give back
// answers 0 and does nothing.
template <class First, class... Rest>
class ComObject : public First, public Rest... {
 public:
  virtual ~ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown) {
      *object = static_cast<First*>(this);
    } else {
      (Offer<First>(riid, object) || ... || Offer<Rest>(riid, object));
    }
    if (*object == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    if (refs_ == 0) return 0;
    if (--refs_ != 0) return refs_;
    LastReleased();
    return 0;
  }

  ULONG RefCount() const noexcept { return refs_; }
  // The object as its IUnknown.
  IUnknown* Unknown() noexcept { return static_cast<First*>(this); }

 protected:
  // initialRefs: the references that the creator holds from the start.
  explicit ComObject(ULONG initialRefs = 0) noexcept : refs_(initialRefs) {}

  virtual void LastReleased() noexcept { std::unique_ptr<ComObject> self(this); }
  // For a teardown that may itself take and drop references: they must not end the object again.
  void SetRefCount(ULONG refs) noexcept { refs_ = refs; }

 private:
  template <class Interface>
  bool Offer(REFIID riid, void** object) {
    if (!(riid == InterfaceIdOf<Interface>())) return false;
    *object = static_cast<Interface*>(this);
    return true;
  }

  ULONG refs_;
};
