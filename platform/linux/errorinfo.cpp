#include "kx/platform/errorinfo.h"

#include <mutex>

#include "kx/platform/comptr.h"
#include "object_base.h"

namespace kx::platform {
namespace {

class ErrorObject final : public IErrorInfo, public ICreateErrorInfo {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IErrorInfo) return ReturnInterface(static_cast<IErrorInfo*>(this), object);
    if (riid == IID_ICreateErrorInfo) return ReturnInterface(static_cast<ICreateErrorInfo*>(this), object);
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return refs_.Add(); }
  ULONG Release() override {
    const ULONG n = refs_.Drop();
    if (n == 0) delete this;
    return n;
  }

  HRESULT GetGUID(GUID* guid) override {
    if (!guid) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    *guid = guid_;
    return S_OK;
  }
  HRESULT GetSource(BSTR* text) override { return Get(source_, text); }
  HRESULT GetDescription(BSTR* text) override { return Get(description_, text); }
  HRESULT GetHelpFile(BSTR* text) override { return Get(help_file_, text); }
  HRESULT GetHelpContext(DWORD* context) override {
    if (!context) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    *context = help_context_;
    return S_OK;
  }

  HRESULT SetGUID(REFGUID guid) override {
    std::lock_guard lock(mutex_);
    guid_ = guid;
    return S_OK;
  }
  HRESULT SetSource(LPOLESTR text) override { return Set(source_, text); }
  HRESULT SetDescription(LPOLESTR text) override { return Set(description_, text); }
  HRESULT SetHelpFile(LPOLESTR text) override { return Set(help_file_, text); }
  HRESULT SetHelpContext(DWORD context) override {
    std::lock_guard lock(mutex_);
    help_context_ = context;
    return S_OK;
  }

 private:
  ~ErrorObject() = default;

  HRESULT Get(const Bstr& field, BSTR* out) {
    if (!out) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    *out = nullptr;
    if (field.get()) {
      *out = SysAllocStringLen(field.get(), field.size());
      if (!*out) return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  HRESULT Set(Bstr& field, LPCOLESTR text) {
    Bstr copy = Bstr::Attach(SysAllocString(text));
    if (text && !copy.get()) return E_OUTOFMEMORY;
    std::lock_guard lock(mutex_);
    field = std::move(copy);
    return S_OK;
  }

  internal::RefCount refs_;
  std::mutex mutex_;
  GUID guid_{};
  Bstr source_;
  Bstr description_;
  Bstr help_file_;
  DWORD help_context_ = 0;
};

// The error object of this thread.
thread_local ComPtr<IErrorInfo> t_error_info;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** info) noexcept {
  if (!info) return E_POINTER;
  auto* object = new (std::nothrow) ErrorObject;
  *info = object ? static_cast<ICreateErrorInfo*>(object) : nullptr;
  return object ? S_OK : E_OUTOFMEMORY;
}

HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info) noexcept {
  if (reserved != 0) return E_INVALIDARG;
  t_error_info = ComPtr<IErrorInfo>(info);
  return S_OK;
}

HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info) noexcept {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (reserved != 0) return E_INVALIDARG;
  *info = t_error_info.Detach();
  return *info ? S_OK : S_FALSE;
}

HRESULT PostErrorInfo(REFGUID guid, LPCOLESTR source, LPCOLESTR description) noexcept {
  ComPtr<ICreateErrorInfo> create;
  HRESULT hr = CreateErrorInfo(create.put());
  if (FAILED(hr)) return hr;
  hr = create->SetGUID(guid);
  if (SUCCEEDED(hr) && source) hr = create->SetSource(const_cast<LPOLESTR>(source));
  if (SUCCEEDED(hr) && description) hr = create->SetDescription(const_cast<LPOLESTR>(description));
  if (FAILED(hr)) return hr;
  ComPtr<IErrorInfo> info;
  hr = create.As(&info);
  if (FAILED(hr)) return hr;
  hr = SetErrorInfo(0, info.get());
  return FAILED(hr) ? hr : DISP_E_EXCEPTION;
}

}  // namespace kx::platform
