// Apartment bookkeeping and in-process activation through the registry.
#include "kx/platform/activation.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "kx/platform/interfaces.h"
#include "kx/platform/module.h"
#include "kx/platform/registry.h"
#include "kx/platform/win32error.h"

namespace kx::platform {
namespace {

// ---- apartments ----

struct Apartment {
  int count = 0;
  DWORD model = COINIT_APARTMENTTHREADED;
};
thread_local Apartment apartment;

// ---- loaded modules ----

struct LoadedModule {
  void* handle = nullptr;
  DllGetClassObjectFn get_class_object = nullptr;
  DllCanUnloadNowFn can_unload_now = nullptr;
  int calls_in_progress = 0;  // a module is never unloaded under a running call into it
};

std::mutex modules_mutex;
std::map<std::string, LoadedModule>& Modules() {
  static auto* modules = new std::map<std::string, LoadedModule>;  // outlives static destructors
  return *modules;
}

// Holds a module in the table for the length of a call into it.
class ModuleCall {
 public:
  ModuleCall() = default;
  ModuleCall(const ModuleCall&) = delete;
  ModuleCall& operator=(const ModuleCall&) = delete;
  ~ModuleCall() {
    if (module_) {
      std::lock_guard lock(modules_mutex);
      --module_->calls_in_progress;
    }
  }

  HRESULT Enter(const std::string& path) {
    std::lock_guard lock(modules_mutex);
    auto it = Modules().find(path);
    if (it == Modules().end()) {
      void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!handle) {
        std::fprintf(stderr, "kx-platform: cannot load %s: %s\n", path.c_str(), dlerror());
        return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
      }
      LoadedModule m;
      m.handle = handle;
      m.get_class_object =
          reinterpret_cast<DllGetClassObjectFn>(dlsym(handle, kDllGetClassObjectName));
      m.can_unload_now = reinterpret_cast<DllCanUnloadNowFn>(dlsym(handle, kDllCanUnloadNowName));
      if (!m.get_class_object) {
        dlclose(handle);
        return CO_E_ERRORINDLL;
      }
      it = Modules().emplace(path, m).first;
    }
    module_ = &it->second;  // std::map nodes stay put while other entries come and go
    ++module_->calls_in_progress;
    return S_OK;
  }

  [[nodiscard]] LoadedModule* module() const noexcept { return module_; }

 private:
  LoadedModule* module_ = nullptr;
};

HRESULT InprocServerPath(REFCLSID clsid, std::string* path) {
  std::string clsid_key = "CLSID\\" + FormatGuid(clsid);
  LSTATUS s = RegGetString(HKEY_CLASSES_ROOT, clsid_key + "\\InprocServer32", {}, path);
  if (s == ERROR_FILE_NOT_FOUND || s == ERROR_INVALID_DATA) return REGDB_E_CLASSNOTREG;
  if (s != ERROR_SUCCESS) return HresultFromRegistryError(s);
  if (path->empty()) return REGDB_E_CLASSNOTREG;
  return S_OK;
}

// Loads (or finds) the in-process server registered for clsid and holds it in `call`.
HRESULT EnterServerOf(ModuleCall& call, REFCLSID clsid) {
  std::string path;
  if (HRESULT hr = InprocServerPath(clsid, &path); FAILED(hr)) return hr;
  return call.Enter(path);
}

HRESULT AllocTaskString(std::string_view utf8, LPOLESTR* out) {
  std::u16string wide = Utf8ToUtf16(utf8);
  auto* text = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
  if (!text) return E_OUTOFMEMORY;
  std::memcpy(text, wide.c_str(), (wide.size() + 1) * sizeof(OLECHAR));
  *out = text;
  return S_OK;
}

std::u16string_view WideView(LPCOLESTR text) {
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return {text, n};
}

// CurVer chains longer than this are taken for a loop.
constexpr int kMaxCurVerHops = 8;

}  // namespace

HRESULT CoInitialize(void* reserved) noexcept {
  return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

HRESULT CoInitializeEx(void*, DWORD coinit) noexcept {
  const DWORD model = coinit & COINIT_APARTMENTTHREADED;
  if (apartment.count > 0 && apartment.model != model) return RPC_E_CHANGED_MODE;
  apartment.model = model;
  return apartment.count++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() noexcept {
  if (apartment.count > 0) --apartment.count;
}

HRESULT CLSIDFromProgID(std::string_view progid, CLSID* clsid) noexcept {
  if (!clsid) return E_POINTER;
  *clsid = GUID_NULL;
  try {
    std::string name(progid);
    for (int hop = 0; hop <= kMaxCurVerHops; ++hop) {
      // A backslash would walk into another key: no ProgID holds one.
      if (name.empty() || name.find('\\') != std::string::npos) return CO_E_CLASSSTRING;
      std::string text;
      LSTATUS s = RegGetString(HKEY_CLASSES_ROOT, name + "\\CLSID", {}, &text);
      if (s == ERROR_SUCCESS) {
        std::optional<GUID> parsed = ParseGuid(text);
        if (!parsed) return CO_E_CLASSSTRING;
        *clsid = *parsed;
        return S_OK;
      }
      if (s != ERROR_FILE_NOT_FOUND && s != ERROR_INVALID_DATA) return HresultFromRegistryError(s);
      s = RegGetString(HKEY_CLASSES_ROOT, name + "\\CurVer", {}, &text);
      if (s == ERROR_FILE_NOT_FOUND || s == ERROR_INVALID_DATA) return CO_E_CLASSSTRING;
      if (s != ERROR_SUCCESS) return HresultFromRegistryError(s);
      name = std::move(text);
    }
    return CO_E_CLASSSTRING;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CLSIDFromProgID(LPCOLESTR progid, CLSID* clsid) noexcept {
  if (!progid || !clsid) return E_POINTER;
  try {
    return CLSIDFromProgID(Utf16ToUtf8(WideView(progid)), clsid);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) noexcept {
  if (!text || !clsid) return E_POINTER;
  try {
    std::string narrow = Utf16ToUtf8(WideView(text));
    if (!narrow.empty() && narrow.front() == '{') {
      std::optional<GUID> parsed = ParseGuid(narrow);
      if (!parsed) {
        *clsid = GUID_NULL;
        return CO_E_CLASSSTRING;
      }
      *clsid = *parsed;
      return S_OK;
    }
    HRESULT hr = CLSIDFromProgID(narrow, clsid);
    return hr == REGDB_E_READREGDB || hr == E_OUTOFMEMORY || SUCCEEDED(hr) ? hr : CO_E_CLASSSTRING;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progid) noexcept {
  if (!progid) return E_POINTER;
  *progid = nullptr;
  try {
    std::string text;
    LSTATUS s =
        RegGetString(HKEY_CLASSES_ROOT, "CLSID\\" + FormatGuid(clsid) + "\\ProgID", {}, &text);
    if (s == ERROR_FILE_NOT_FOUND || s == ERROR_INVALID_DATA) return REGDB_E_CLASSNOTREG;
    if (s != ERROR_SUCCESS) return HresultFromRegistryError(s);
    return AllocTaskString(text, progid);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) noexcept {
  if (!text) return E_POINTER;
  *text = nullptr;
  try {
    return AllocTaskString(FormatGuid(clsid), text);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity) noexcept {
  try {
    std::string text = FormatGuid(guid);  // 38 characters
    if (!buffer || capacity < static_cast<int>(text.size()) + 1) return 0;
    for (std::size_t i = 0; i < text.size(); ++i) buffer[i] = static_cast<OLECHAR>(text[i]);
    buffer[text.size()] = 0;
    return static_cast<int>(text.size()) + 1;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID riid,
                         void** object) noexcept {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  try {
    ModuleCall call;
    if (HRESULT hr = EnterServerOf(call, clsid); FAILED(hr)) return hr;
    return call.module()->get_class_object(clsid, riid, object);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                         void** object) noexcept {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  try {
    // The module stays pinned from the factory's creation to its release.
    ModuleCall call;
    if (HRESULT hr = EnterServerOf(call, clsid); FAILED(hr)) return hr;
    void* raw = nullptr;
    HRESULT hr = call.module()->get_class_object(clsid, IID_IClassFactory, &raw);
    if (FAILED(hr)) return hr;
    if (!raw) return E_NOINTERFACE;
    auto* factory = static_cast<IClassFactory*>(raw);
    hr = factory->CreateInstance(outer, riid, object);
    factory->Release();
    if (FAILED(hr)) *object = nullptr;
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

void CoFreeUnusedLibraries() noexcept {
  std::lock_guard lock(modules_mutex);
  auto& modules = Modules();
  for (auto it = modules.begin(); it != modules.end();) {
    LoadedModule& m = it->second;
    if (m.calls_in_progress == 0 && m.can_unload_now && m.can_unload_now() == S_OK) {
      dlclose(m.handle);
      it = modules.erase(it);
    } else {
      ++it;
    }
  }
}

bool IsModuleLoaded(std::string_view path) noexcept {
  std::lock_guard lock(modules_mutex);
  for (const auto& [loaded, module] : Modules()) {
    if (loaded == path) return true;
  }
  return false;
}

}  // namespace kx::platform
