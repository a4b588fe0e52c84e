// Persistence media: the system's memory stream (CreateStreamOnHGlobal) and storage (a compound
// file on an ILockBytes in memory), and a property bag of the platform's own.
#include "kx/platform/persist.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "kx/platform/comptr.h"

namespace kx::platform {

HRESULT CreateMemoryStream(IStream** stream) noexcept {
  if (!stream) return E_POINTER;
  return ::CreateStreamOnHGlobal(nullptr, TRUE, stream);
}

HRESULT CreateMemoryStream(std::span<const BYTE> bytes, IStream** stream) noexcept {
  if (!stream) return E_POINTER;
  HRESULT hr = ::CreateStreamOnHGlobal(nullptr, TRUE, stream);
  if (FAILED(hr)) return hr;
  ULONG written = 0;
  hr = (*stream)->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
  LARGE_INTEGER start{};
  if (SUCCEEDED(hr)) hr = (*stream)->Seek(start, STREAM_SEEK_SET, nullptr);
  if (FAILED(hr)) {
    (*stream)->Release();
    *stream = nullptr;
  }
  return hr;
}

HRESULT ReadStreamContents(IStream* stream, std::vector<BYTE>* bytes) noexcept {
  if (!stream || !bytes) return E_POINTER;
  LARGE_INTEGER zero{};
  ULARGE_INTEGER here{};
  HRESULT hr = stream->Seek(zero, STREAM_SEEK_CUR, &here);
  if (FAILED(hr)) return hr;
  hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  if (FAILED(hr)) return hr;
  try {
    bytes->clear();
    BYTE buffer[4096];
    for (;;) {
      ULONG read = 0;
      hr = stream->Read(buffer, sizeof buffer, &read);
      if (FAILED(hr)) break;
      bytes->insert(bytes->end(), buffer, buffer + read);
      if (read < sizeof buffer) {
        hr = S_OK;
        break;
      }
    }
  } catch (...) {
    hr = E_OUTOFMEMORY;
  }
  LARGE_INTEGER back{};
  back.QuadPart = static_cast<LONGLONG>(here.QuadPart);
  (void)stream->Seek(back, STREAM_SEEK_SET, nullptr);
  return hr;
}

HRESULT CreateMemoryStorage(IStorage** storage) noexcept {
  if (!storage) return E_POINTER;
  *storage = nullptr;
  ComPtr<ILockBytes> bytes;
  HRESULT hr = ::CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.put());
  if (FAILED(hr)) return hr;
  return ::StgCreateDocfileOnILockBytes(
      bytes.get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, storage);
}

namespace {

// Names matched case-insensitively; Write keeps a copy (following VT_BYREF), Read coerces.
class MemoryPropertyBag final : public IPropertyBag {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPropertyBag) {
      return ReturnInterface(static_cast<IPropertyBag*>(this), object);
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) override {
    if (!name || !value) return E_POINTER;
    std::lock_guard lock(mutex_);
    const auto it = values_.find(Key(name));
    HRESULT hr = E_INVALIDARG;
    if (it != values_.end()) {
      const VARTYPE wanted = value->vt;
      if (wanted == VT_EMPTY) {
        hr = ::VariantCopy(value, &it->second);
      } else {
        VARIANT copy;
        ::VariantInit(&copy);
        hr = ::VariantChangeType(&copy, &it->second, 0, wanted);
        if (SUCCEEDED(hr)) {
          (void)::VariantClear(value);
          *value = copy;
        }
      }
    }
    if (FAILED(hr) && log) {
      EXCEPINFO excep{};
      excep.scode = hr;
      (void)log->AddError(name, &excep);
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
    if (!name || !value) return E_POINTER;
    VARIANT copy;
    ::VariantInit(&copy);
    const HRESULT hr = ::VariantCopyInd(&copy, value);
    if (FAILED(hr)) return hr;
    try {
      std::lock_guard lock(mutex_);
      VARIANT& slot = values_[Key(name)];
      (void)::VariantClear(&slot);
      slot = copy;
    } catch (...) {
      (void)::VariantClear(&copy);
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

 private:
  ~MemoryPropertyBag() {
    for (auto& [name, value] : values_) (void)::VariantClear(&value);
  }
  static std::wstring Key(LPCOLESTR name) {
    std::wstring key(name);
    ::CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
    return key;
  }
  std::atomic<ULONG> references_{0};
  std::mutex mutex_;
  std::map<std::wstring, VARIANT> values_;
};

}  // namespace

HRESULT CreateMemoryPropertyBag(IPropertyBag** bag) noexcept {
  if (!bag) return E_POINTER;
  auto* object = new (std::nothrow) MemoryPropertyBag();
  if (!object) return E_OUTOFMEMORY;
  object->AddRef();
  *bag = object;
  return S_OK;
}

}  // namespace kx::platform
