#pragma once
// Small objects with observable reference counts for the automation runtime tests.
#include <atomic>

#include "kx/platform/unknown.h"
#include "kx/platform/variant.h"

namespace kx::platform::test_support {

// An IDispatch whose only member is a DISPID_VALUE property get returning value; it is never
// deleted through Release, so a test can read its count after the last reference went.
class ValueObject final : public IDispatch {
 public:
  explicit ValueObject(double value = 0) : value_(value) {}
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override { return --refs_; }
  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  HRESULT Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                 UINT*) override {
    if (member != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    result->vt = VT_R8;
    result->dblVal = value_;
    return S_OK;
  }
  [[nodiscard]] ULONG refs() const { return refs_; }

 private:
  std::atomic<ULONG> refs_{1};  // the test's own reference
  double value_;
};

}  // namespace kx::platform::test_support
