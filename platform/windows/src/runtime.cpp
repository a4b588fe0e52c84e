// The small pieces the system does not offer under the names the component calls: error-info
// posting, message-only windows, module paths, the module's type library and dispatch through it.
#include <atomic>
#include <string>

#include "kx/platform/activation.h"
#include "kx/platform/bstr.h"
#include "kx/platform/comptr.h"
#include "kx/platform/errorinfo.h"
#include "kx/platform/messages.h"
#include "kx/platform/module.h"
#include "kx/platform/threads.h"
#include "kx/platform/typeinfo.h"

namespace kx::platform {

HRESULT PostErrorInfo(REFGUID guid, LPCOLESTR source, LPCOLESTR description) noexcept {
  ComPtr<ICreateErrorInfo> create;
  HRESULT hr = ::CreateErrorInfo(create.put());
  if (FAILED(hr)) return hr;
  (void)create->SetGUID(guid);
  if (source) (void)create->SetSource(const_cast<LPOLESTR>(source));
  if (description) (void)create->SetDescription(const_cast<LPOLESTR>(description));
  ComPtr<IErrorInfo> info;
  hr = create.As(&info);
  if (FAILED(hr)) return hr;
  hr = ::SetErrorInfo(0, info.get());
  return FAILED(hr) ? hr : DISP_E_EXCEPTION;
}

namespace {
std::atomic<MessagePumpHook*> g_pump_hook{nullptr};

// The module (DLL or program) that holds this code: windows and resources are registered
// against it.
HMODULE ModuleOf(const void* address) noexcept {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      static_cast<LPCWSTR>(address), &module);
  return module;
}

struct WindowData {
  WNDPROC proc;
  void* user_data;
};

LRESULT CALLBACK MessageWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* data = reinterpret_cast<WindowData*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    data = static_cast<WindowData*>(create->lpCreateParams);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data));
  }
  LRESULT result = data ? data->proc(window, message, wparam, lparam)
                        : ::DefWindowProcW(window, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    delete data;
  }
  return result;
}

const wchar_t kMessageWindowClass[] = L"KxPlatformMessageWindow";
}  // namespace

MessagePumpHook* SetMessagePumpHook(MessagePumpHook* hook) noexcept {
  return g_pump_hook.exchange(hook);
}
MessagePumpHook* GetMessagePumpHook() noexcept { return g_pump_hook.load(); }

HWND CreateMessageWindow(WNDPROC proc, void* user_data) noexcept {
  if (!proc) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HINSTANCE instance = ModuleOf(reinterpret_cast<const void*>(&MessageWindowProc));
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = &MessageWindowProc;
  cls.hInstance = instance;
  cls.lpszClassName = kMessageWindowClass;
  if (!::RegisterClassExW(&cls) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
  auto* data = new (std::nothrow) WindowData{proc, user_data};
  if (!data) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  HWND window = ::CreateWindowExW(0, kMessageWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, instance, data);
  if (!window) delete data;
  return window;
}

void* GetWindowUserData(HWND window) noexcept {
  auto* data = reinterpret_cast<WindowData*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  return data ? data->user_data : nullptr;
}

std::string ModulePathOf(const void* address) {
  HMODULE module = ModuleOf(address);
  if (!module) return {};
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return Utf16ToUtf8(std::wstring_view(path));
}

bool IsModuleLoaded(std::string_view path) noexcept {
  try {
    const std::u16string wide = Utf8ToUtf16(path);
    return ::GetModuleHandleW(reinterpret_cast<const wchar_t*>(wide.c_str())) != nullptr;
  } catch (...) {
    return false;
  }
}

HRESULT LoadModuleTypeLib(const void* address, ITypeLib** lib) noexcept {
  if (!lib) return E_POINTER;
  *lib = nullptr;
  HMODULE module = ModuleOf(address);
  if (!module) return TYPE_E_CANTLOADLIBRARY;
  wchar_t path[MAX_PATH + 1];
  const DWORD n = ::GetModuleFileNameW(module, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return TYPE_E_CANTLOADLIBRARY;
  return ::LoadTypeLibEx(path, REGKIND_NONE, lib);
}

HRESULT GetDualInterfaceTypeInfo(ITypeLib* lib, REFIID iid, ITypeInfo** info) noexcept {
  if (!lib || !info) return E_POINTER;
  *info = nullptr;
  ComPtr<ITypeInfo> dispatch;
  HRESULT hr = lib->GetTypeInfoOfGuid(iid, dispatch.put());
  if (FAILED(hr)) return hr;
  // A dual interface answers with its dispatch half; the vtable half is its reference -1.
  HREFTYPE ref = 0;
  hr = dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref);
  if (FAILED(hr)) return dispatch.CopyTo(info);
  return dispatch->GetRefTypeInfo(ref, info);
}

HRESULT DispGetIDsOfNames(const InterfaceDescription& description, LPOLESTR* names, UINT count,
                          DISPID* ids) noexcept {
  if (!description.info) return TYPE_E_CANTLOADLIBRARY;
  return ::DispGetIDsOfNames(description.info.get(), names, count, ids);
}

HRESULT DispInvoke(void* object, const InterfaceDescription& description, DISPID member,
                   WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                   UINT* arg_err) noexcept {
  if (!description.info) return TYPE_E_CANTLOADLIBRARY;
  return ::DispInvoke(object, description.info.get(), member, flags, params, result, excep,
                      arg_err);
}

}  // namespace kx::platform
