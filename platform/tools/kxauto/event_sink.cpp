#include "event_sink.h"

#include <new>

#include "kx/platform/interfaces.h"
#include "type_members.h"

namespace kx::kxauto {

using namespace kx::platform;

HRESULT EventSinkBase::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == source_) {
    return ReturnInterface(static_cast<IDispatch*>(this), object);
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG EventSinkBase::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT EventSinkBase::GetTypeInfoCount(UINT* count) {
  if (count) *count = 0;
  return S_OK;
}

HRESULT EventSinkBase::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT EventSinkBase::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT EventSinkBase::Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params,
                              VARIANT* result, EXCEPINFO*, UINT*) {
  if (result) VariantInit(result);
  try {
    const UINT count = params ? params->cArgs : 0;
    const UINT named = params ? params->cNamedArgs : 0;
    const std::vector<std::string> names = NamesOf(info_.get(), member, count + 1);
    std::vector<Argument> args(count, Argument{{}, nullptr});
    auto put = [&](UINT position, const VARIANT& value) {
      if (position >= count) return;
      args[position].name =
          position + 1 < names.size() ? names[position + 1] : "arg" + std::to_string(position);
      args[position].value = &value;
    };
    // Positional arguments stand in reverse order after the named ones.
    for (UINT k = 0; k + named < count; ++k) put(k, params->rgvarg[count - 1 - k]);
    for (UINT i = 0; i < named; ++i) {
      put(static_cast<UINT>(params->rgdispidNamedArgs[i]), params->rgvarg[i]);
    }
    std::erase_if(args, [](const Argument& a) { return a.value == nullptr; });
    Receive(member, names.empty() ? std::string() : names[0], args);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace kx::kxauto
