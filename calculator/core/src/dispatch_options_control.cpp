#include "kx/calculator/dispatch_options_control.h"

#include "kx/platform/activation.h"
#include "kx/platform/bstr.h"

namespace kx::calculator {

using namespace kx::platform;

HRESULT DispatchOptionsControl::Invoke(DISPID member, WORD flags,
                                       std::span<VARIANTARG> args_reversed, VARIANT* result) {
  if (!dispatch_) return E_POINTER;
  DISPID named_put = DISPID_PROPERTYPUT;
  DISPPARAMS params;
  params.rgvarg = args_reversed.data();
  params.cArgs = static_cast<UINT>(args_reversed.size());
  if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0) {
    params.rgdispidNamedArgs = &named_put;
    params.cNamedArgs = 1;
  }
  EXCEPINFO excep;
  UINT arg_error = 0;
  const HRESULT hr = dispatch_->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                       result, &excep, &arg_error);
  if (FAILED(hr)) last_error_ = BstrToUtf8(excep.bstrDescription);
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
  return hr;
}

HRESULT CreateOptionsControl(std::unique_ptr<OptionsControl>& out, const CLSID& clsid) {
  ComPtr<IDispatch> dispatch;
  const HRESULT hr =
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, dispatch.put_void());
  if (FAILED(hr)) return hr;
  if (!dispatch) return E_NOINTERFACE;
  out = std::make_unique<DispatchOptionsControl>(std::move(dispatch));
  return S_OK;
}

}  // namespace kx::calculator
