#include "object_test_support.h"

#include "kx/platform/activation.h"

namespace kx::component::object_test {

using namespace kx::platform;

namespace {
HRESULT CallExport(void* export_address) {
  if (!export_address) return E_UNEXPECTED;
  return reinterpret_cast<HRESULT (*)()>(export_address)();
}
}  // namespace

HRESULT ModuleHandle::Register() const { return CallExport(Export("DllRegisterServer")); }
HRESULT ModuleHandle::Unregister() const { return CallExport(Export("DllUnregisterServer")); }
HRESULT ModuleHandle::CanUnloadNow() const { return CallExport(Export("DllCanUnloadNow")); }
HRESULT ModuleHandle::GetClassObject(REFCLSID clsid, REFIID riid, void** object) const {
  using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
  auto fn = reinterpret_cast<GetClassObjectFn>(Export("DllGetClassObject"));
  return fn ? fn(clsid, riid, object) : E_UNEXPECTED;
}

void RegisteredModuleTest::SetUp() { ASSERT_EQ(module_.Register(), S_OK); }

ComPtr<IDispatch> RegisteredModuleTest::Create(const char* progid) const {
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID(progid, &clsid), S_OK) << progid;
  ComPtr<IDispatch> object;
  EXPECT_EQ(
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.put_void()),
      S_OK);
  return object;
}

DISPID IdOf(IDispatch* object, const char16_t* name) {
  std::u16string copy(name);
  LPOLESTR names[1] = {OleText(copy.data())};
  DISPID id = DISPID_UNKNOWN;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK)
      << Utf16ToUtf8(name);
  return id;
}

namespace {
CallResult Run(IDispatch* object, const char16_t* name, std::vector<VARIANT> args, WORD flags,
               bool put) {
  CallResult r;
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{.rgvarg = reversed.data(),
                    .rgdispidNamedArgs = put ? &named : nullptr,
                    .cArgs = static_cast<UINT>(reversed.size()),
                    .cNamedArgs = put ? 1u : 0u};
  EXCEPINFO excep{};
  r.hr = object->Invoke(IdOf(object, name), IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                        put ? nullptr : &r.value, &excep, &r.arg_err);
  r.source = BstrToUtf8(excep.bstrSource);
  r.description = BstrToUtf8(excep.bstrDescription);
  r.scode = excep.scode;
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
  return r;
}
}  // namespace

CallResult CallByName(IDispatch* object, const char16_t* name, std::vector<VARIANT> args,
                      WORD flags) {
  return Run(object, name, std::move(args), flags, false);
}

CallResult PutByName(IDispatch* object, const char16_t* name, VARIANT value) {
  return Run(object, name, {value}, DISPATCH_PROPERTYPUT, true);
}

LONG BaseOf(IDispatch* object) {
  CallResult r = CallByName(object, u"Base", {}, DISPATCH_PROPERTYGET);
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.value.vt, VT_I4);
  return r.value.lVal;
}

SHORT BlockingOf(IDispatch* object) {
  CallResult r = CallByName(object, u"BlockingMode", {}, DISPATCH_PROPERTYGET);
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.value.vt, VT_I2);
  return r.value.iVal;
}

HRESULT DoneRecorder::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch ||
      (answers_ && riid == DIID__IKvQuantorbEvents)) {
    return ReturnInterface(static_cast<IDispatch*>(this), object);
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT DoneRecorder::GetTypeInfoCount(UINT* count) {
  *count = 0;
  return S_OK;
}
HRESULT DoneRecorder::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  *info = nullptr;
  return E_NOTIMPL;
}
HRESULT DoneRecorder::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT DoneRecorder::Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                             VARIANT*, EXCEPINFO*, UINT*) {
  if (member != kDispidDone) faults.push_back("DISPID " + std::to_string(member));
  if (riid != IID_NULL) faults.push_back("riid is not IID_NULL");
  if (lcid != LOCALE_USER_DEFAULT) faults.push_back("lcid " + std::to_string(lcid));
  if (flags != DISPATCH_METHOD) faults.push_back("flags " + std::to_string(flags));
  if (!params || params->cArgs != 3 || params->cNamedArgs != 0) {
    faults.push_back("not three positional arguments");
    return S_OK;
  }
  // Reverse order: ErrorString first.
  const VARIANT* a = params->rgvarg;
  if (a[2].vt != VT_I2 || a[1].vt != VT_I2 || a[0].vt != VT_BSTR) {
    faults.push_back("argument types " + std::to_string(a[2].vt) + "," + std::to_string(a[1].vt) +
                     "," + std::to_string(a[0].vt));
    return S_OK;
  }
  events.push_back({a[2].iVal, a[1].iVal, BstrToUtf8(a[0].bstrVal)});
  return S_OK;
}

EventConnection::EventConnection(IDispatch* object, IUnknown* sink) {
  ComPtr<IConnectionPointContainer> container;
  hr_ = object->QueryInterface(IID_IConnectionPointContainer, container.put_void());
  if (FAILED(hr_)) return;
  hr_ = container->FindConnectionPoint(DIID__IKvQuantorbEvents, point_.put());
  if (FAILED(hr_)) return;
  hr_ = point_->Advise(sink, &cookie_);
}

EventConnection::~EventConnection() {
  if (point_ && cookie_) {
    EXPECT_EQ(point_->Unadvise(cookie_), S_OK);
  }
}

}  // namespace kx::component::object_test
