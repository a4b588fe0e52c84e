// A sink for the events of an object's default source interface, shared by the generic clients:
// it answers as IDispatch and the source interface, names each event and its arguments from the
// source's type information, and hands them over in declared order.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "kx/platform/comptr.h"
#include "kx/platform/typeinfo.h"

namespace kx::kxauto {

class EventSinkBase : public kx::platform::IDispatch {
 public:
  struct Argument {
    std::string name;  // from the type information, else "argN"
    const kx::platform::VARIANT* value;
  };

  EventSinkBase(const kx::platform::IID& source, kx::platform::ComPtr<kx::platform::ITypeInfo> info)
      : source_(source), info_(std::move(info)) {}

  kx::platform::HRESULT QueryInterface(kx::platform::REFIID riid, void** object) final;
  kx::platform::ULONG AddRef() final { return ++references_; }
  kx::platform::ULONG Release() final;
  kx::platform::HRESULT GetTypeInfoCount(kx::platform::UINT* count) final;
  kx::platform::HRESULT GetTypeInfo(kx::platform::UINT, kx::platform::LCID,
                                    kx::platform::ITypeInfo** info) final;
  kx::platform::HRESULT GetIDsOfNames(kx::platform::REFIID, kx::platform::LPOLESTR*,
                                      kx::platform::UINT, kx::platform::LCID,
                                      kx::platform::DISPID*) final;
  kx::platform::HRESULT Invoke(kx::platform::DISPID member, kx::platform::REFIID,
                               kx::platform::LCID, kx::platform::WORD,
                               kx::platform::DISPPARAMS* params, kx::platform::VARIANT* result,
                               kx::platform::EXCEPINFO*, kx::platform::UINT*) final;

 protected:
  virtual ~EventSinkBase() = default;
  /// One event: `name` is empty when the type information does not know `member`. Arguments
  /// that a named position outside the call's count would leave unset are dropped.
  virtual void Receive(kx::platform::DISPID member, const std::string& name,
                       const std::vector<Argument>& args) = 0;

 private:
  std::atomic<kx::platform::ULONG> references_{1};
  kx::platform::IID source_;
  kx::platform::ComPtr<kx::platform::ITypeInfo> info_;
};

}  // namespace kx::kxauto
