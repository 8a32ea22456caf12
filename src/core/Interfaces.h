#pragma once
// A small COM-like object model: interfaces identified by GUIDs, reference counting,
// objects freed with their last reference.
#include <atomic>
#include <cstdint>
#include <cstring>

#include "core/Exceptions.h"

struct TGUID {
  uint32_t D1;
  uint16_t D2;
  uint16_t D3;
  uint8_t D4[8];
  bool operator==(const TGUID& o) const { return std::memcmp(this, &o, sizeof(TGUID)) == 0; }
};

using HResult = int32_t;
constexpr HResult S_OK_ = 0;
constexpr HResult E_NOINTERFACE_ = static_cast<HResult>(0x80004002u);

// The basic interface: query, add reference, release (slots 0-2).
struct IInterface {
  virtual HResult QueryInterface(const TGUID& iid, void** obj) = 0;
  virtual int32_t _AddRef() = 0;
  virtual int32_t _Release() = 0;

protected:
  ~IInterface() = default;
};

constexpr TGUID IID_IInterface = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Reference-counted base. Derived classes list their interfaces and add GB_INTERFACED
// to route the three basic slots of every interface base to this one counter.
class TInterfacedObject {
public:
  TInterfacedObject() = default;
  TInterfacedObject(const TInterfacedObject&) = delete;
  TInterfacedObject& operator=(const TInterfacedObject&) = delete;
  virtual ~TInterfacedObject() = default;

  int32_t AddRefImpl() { return ++FRefCount; }
  int32_t ReleaseImpl() {
    int32_t r = --FRefCount;
    if (r == 0) delete this;
    return r;
  }
  int32_t RefCount() const { return FRefCount; }

private:
  std::atomic<int32_t> FRefCount{0};
};

#define GB_INTERFACED                                          \
  int32_t _AddRef() override { return AddRefImpl(); }         \
  int32_t _Release() override { return ReleaseImpl(); }       \
  HResult QueryInterface(const TGUID& iid, void** obj) override;

// A counted reference to an interface.
template <class I>
class TIntfPtr {
public:
  TIntfPtr() = default;
  TIntfPtr(I* p) : FPtr(p) { if (FPtr) FPtr->_AddRef(); }  // NOLINT: implicit on purpose
  TIntfPtr(const TIntfPtr& o) : FPtr(o.FPtr) { if (FPtr) FPtr->_AddRef(); }
  TIntfPtr(TIntfPtr&& o) noexcept : FPtr(o.FPtr) { o.FPtr = nullptr; }
  ~TIntfPtr() { Reset(); }
  TIntfPtr& operator=(const TIntfPtr& o) {
    if (o.FPtr) o.FPtr->_AddRef();
    Reset();
    FPtr = o.FPtr;
    return *this;
  }
  TIntfPtr& operator=(TIntfPtr&& o) noexcept {
    if (this != &o) { Reset(); FPtr = o.FPtr; o.FPtr = nullptr; }
    return *this;
  }
  void Reset() {
    if (FPtr) { I* p = FPtr; FPtr = nullptr; p->_Release(); }
  }
  I* Get() const { return FPtr; }
  I* operator->() const { return FPtr; }
  I& operator*() const { return *FPtr; }
  explicit operator bool() const { return FPtr != nullptr; }
  // Takes over a reference already counted (as QueryInterface hands one out).
  static TIntfPtr Attach(I* p) { TIntfPtr r; r.FPtr = p; return r; }

private:
  I* FPtr = nullptr;
};

// Queries src for interface J (with J::IID); empty when not supported.
template <class J, class I>
TIntfPtr<J> Supports(const TIntfPtr<I>& src) {
  void* obj = nullptr;
  if (src && src->QueryInterface(J::IID, &obj) == S_OK_ && obj) return TIntfPtr<J>::Attach(static_cast<J*>(obj));
  return {};
}

// Like Supports, but raises the interface-cast error when the interface is missing.
template <class J, class I>
TIntfPtr<J> QueryIntf(const TIntfPtr<I>& src) {
  TIntfPtr<J> r = Supports<J>(src);
  if (!r) throw EIntfCastError("Interface not supported");
  return r;
}
