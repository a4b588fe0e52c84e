// Creates Korvane.Quantorb by its ProgID through the registry, prices a call through the vtable
// and the put through IDispatch, and checks put-call parity between the two.
#include <cmath>
#include <cstdio>

#include "korvanex/ikvquantorb.h"
#include "kx/platform/activation.h"
#include "kx/platform/hresult.h"
#include "kx/platform/variant.h"

using namespace kx::platform;
using kx::component::IKvQuantorb;

namespace {

int Fail(const char* what, HRESULT hr) {
  std::fprintf(stderr, "%s failed: %s (0x%08X)\n", what, HresultName(hr),
               static_cast<unsigned>(hr));
  return 1;
}

}  // namespace

int main() {
  const double stock = 100, strike = 95, rate = 0.05, time = 0.5, volatility = 0.25, dividend = 0;
  if (HRESULT hr = CoInitialize(nullptr); FAILED(hr)) return Fail("CoInitialize", hr);
  CLSID clsid{};
  if (HRESULT hr = CLSIDFromProgID(u"Korvane.Quantorb", &clsid); FAILED(hr))
    return Fail("CLSIDFromProgID(Korvane.Quantorb)", hr);
  IKvQuantorb* quantorb = nullptr;
  if (HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IKvQuantorb::kIid,
                                    reinterpret_cast<void**>(&quantorb));
      FAILED(hr))
    return Fail("CoCreateInstance", hr);

  // Early bound: the vtable.
  double call = 0;
  if (HRESULT hr = quantorb->BSCallPrice(stock, strike, rate, time, volatility, dividend, &call);
      FAILED(hr))
    return Fail("BSCallPrice", hr);

  // Late bound: the member's DISPID by name, then Invoke with the arguments last to first; the
  // price is the call's return value.
  OLECHAR name[] = u"BSPutPrice";
  LPOLESTR names[] = {name};
  DISPID dispid = 0;
  if (HRESULT hr = quantorb->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid);
      FAILED(hr))
    return Fail("GetIDsOfNames(BSPutPrice)", hr);
  VARIANT args[6];
  const double inputs[6] = {stock, strike, rate, time, volatility, dividend};
  for (int i = 0; i < 6; ++i) {
    VariantInit(&args[5 - i]);
    args[5 - i].vt = VT_R8;
    args[5 - i].dblVal = inputs[i];
  }
  DISPPARAMS params{args, nullptr, 6, 0};
  VARIANT result;
  VariantInit(&result);
  if (HRESULT hr = quantorb->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                    &params, &result, nullptr, nullptr);
      FAILED(hr))
    return Fail("Invoke(BSPutPrice)", hr);
  if (result.vt != VT_R8) return Fail("BSPutPrice's result type", E_UNEXPECTED);
  const double put = result.dblVal;
  quantorb->Release();
  CoUninitialize();

  const double parity = stock * std::exp(-dividend * time) - strike * std::exp(-rate * time);
  std::printf("call %.10f put %.10f call-put %.10f parity %.10f\n", call, put, call - put, parity);
  if (!(call > 0 && put > 0) || std::fabs(call - put - parity) > 1e-9) {
    std::fprintf(stderr, "put-call parity does not hold\n");
    return 1;
  }
  return 0;
}
