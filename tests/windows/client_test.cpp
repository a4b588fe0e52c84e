// A C++ client of the registered KorvaneX.dll, written as any Windows program would be: the class
// by ProgID, the interface from the header widl writes from the type library's .idl, calls through
// the vtable and through IDispatch::Invoke, events through a connection point, Abort from a
// second thread, persistence, drawing and the About box on the system's own media, GDI and
// dialogs. Every number is compared with the Linux build's (reference_values.h).
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "korvanex_h.h"
#include "reference_values.h"

namespace {

// Distance in representable doubles (0 for bit-equal values).
std::int64_t UlpDistance(double a, double b) {
  std::int64_t ia, ib;
  std::memcpy(&ia, &a, 8);
  std::memcpy(&ib, &b, 8);
  if (ia < 0) ia = INT64_MIN - ia;
  if (ib < 0) ib = INT64_MIN - ib;
  return ia > ib ? ia - ib : ib - ia;
}

// A reference value and how far the Windows C library's exp/log/pow may take the result from it.
void ExpectReference(const char* name, double got) {
  const kx::windows_test::Reference* ref = kx::windows_test::FindReference(name);
  ASSERT_NE(ref, nullptr) << "no reference for " << name;
  const std::int64_t ulps = UlpDistance(got, ref->value);
  EXPECT_LE(ulps, ref->max_ulps) << name << ": " << got << " vs Linux " << ref->value;
  std::printf("%-34s %-24.17g ulps %lld\n", name, got, static_cast<long long>(ulps));
}

template <class T>
struct Com {
  T* p = nullptr;
  Com() = default;
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  ~Com() {
    if (p) p->Release();
  }
  T* operator->() const { return p; }
  T** put() { return &p; }
};

struct Apartment {
  explicit Apartment(DWORD model = COINIT_APARTMENTTHREADED) { hr = CoInitializeEx(nullptr, model); }
  ~Apartment() {
    if (SUCCEEDED(hr)) CoUninitialize();
  }
  HRESULT hr;
};

VARIANT R8(double d) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = d;
  return v;
}
VARIANT I4(LONG l) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = l;
  return v;
}
VARIANT ByRef(double* d) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8 | VT_BYREF;
  v.pdblVal = d;
  return v;
}
VARIANT ByRef(SAFEARRAY** array) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8 | VT_ARRAY | VT_BYREF;
  v.pparray = array;
  return v;
}
VARIANT ByRef(VARIANT* inner) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_VARIANT | VT_BYREF;
  v.pvarVal = inner;
  return v;
}

// A VT_R8 array with the given bounds (first index fastest, as the system stores it).
SAFEARRAY* Doubles(const std::vector<SAFEARRAYBOUND>& bounds, const std::vector<double>& values) {
  // The system takes the bounds leftmost first.
  SAFEARRAY* array = SafeArrayCreate(VT_R8, static_cast<UINT>(bounds.size()),
                                     const_cast<SAFEARRAYBOUND*>(bounds.data()));
  double* data = nullptr;
  SafeArrayAccessData(array, reinterpret_cast<void**>(&data));
  std::memcpy(data, values.data(), values.size() * sizeof(double));
  SafeArrayUnaccessData(array);
  return array;
}

struct ArrayRead {
  VARTYPE vt = VT_EMPTY;
  LONG lower = -1;
  std::vector<double> values;
};
ArrayRead Read(const VARIANT& v) {
  ArrayRead r;
  r.vt = v.vt;
  SAFEARRAY* a = (v.vt & VT_BYREF) ? *v.pparray : v.parray;
  if (!(v.vt & VT_ARRAY) || !a || SafeArrayGetDim(a) != 1) return r;
  LONG upper = 0;
  SafeArrayGetLBound(a, 1, &r.lower);
  SafeArrayGetUBound(a, 1, &upper);
  for (LONG i = r.lower; i <= upper; ++i) {
    double d = 0;
    SafeArrayGetElement(a, &i, &d);
    r.values.push_back(d);
  }
  return r;
}

struct CallResult {
  HRESULT hr;
  VARIANT result;
  EXCEPINFO excep;
};

// IDispatch::Invoke by name with positional arguments in their declared order.
CallResult Call(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args,
                WORD flags = DISPATCH_METHOD) {
  CallResult r{};
  VariantInit(&r.result);
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  r.hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(r.hr)) return r;
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (flags == DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &put;
    params.cNamedArgs = 1;
  }
  UINT arg_err = 0;
  r.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                        flags == DISPATCH_PROPERTYPUT ? nullptr : &r.result, &r.excep, &arg_err);
  return r;
}

std::string Narrow(BSTR s) {
  std::string out;
  for (UINT i = 0; s && i < SysStringLen(s); ++i) out += static_cast<char>(s[i]);
  return out;
}

// Records Done(LastMethod, ErrorCode, ErrorString).
class DoneSink final : public IDispatch {
 public:
  struct Event {
    int last_method, error_code;
    std::string error_string;
  };
  std::vector<Event> events;
  std::atomic<ULONG> references{0};

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__IKvQuantorbEvents) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                   EXCEPINFO*, UINT*) override {
    if (member != 1 || !params || params->cArgs != 3) return DISP_E_MEMBERNOTFOUND;
    const VARIANT* a = params->rgvarg;  // reversed: ErrorString, ErrorCode, LastMethod
    events.push_back({a[2].iVal, a[1].iVal, a[0].vt == VT_BSTR ? Narrow(a[0].bstrVal) : "?"});
    return S_OK;
  }
};

class ClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(apartment_.hr, S_OK);
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(L"Korvane.Quantorb", &clsid), S_OK) << "not registered";
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKvQuantorb,
                               reinterpret_cast<void**>(object_.put())),
              S_OK);
    dispatch_ = object_.p;
  }
  Apartment apartment_;
  Com<IKvQuantorb> object_;
  IDispatch* dispatch_ = nullptr;
};

TEST_F(ClientTest, BothProgIdsNameTheOneClass) {
  CLSID a{}, b{};
  ASSERT_EQ(CLSIDFromProgID(L"Korvane.Quantorb", &a), S_OK);
  ASSERT_EQ(CLSIDFromProgID(L"Korvane.Quantorb.1", &b), S_OK);
  EXPECT_TRUE(IsEqualCLSID(a, CLSID_KvQuantorb));
  EXPECT_TRUE(IsEqualCLSID(b, CLSID_KvQuantorb));
  Com<IProvideClassInfo2> info;
  ASSERT_EQ(object_->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(info.put())),
            S_OK);
  GUID events{};
  EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events), S_OK);
  EXPECT_TRUE(IsEqualIID(events, DIID__IKvQuantorbEvents));
}

TEST_F(ClientTest, EveryFamilyThroughTheVtable) {
  double call = 0, put = 0, cd = 0, pd = 0, iv = 0;
  ASSERT_EQ(object_->BSCallPrice(100, 100, 0.05, 1, 0.2, 0, &call), S_OK);
  ExpectReference("BSCallPrice", call);
  ASSERT_EQ(object_->BSPutPrice(100, 95, 0.05, 0.5, 0.3, 0.02, &put), S_OK);
  ExpectReference("BSPutPrice", put);
  ASSERT_EQ(object_->BSDelta(100, 100, 0.05, 1, 0.2, 0, &cd, &pd), S_OK);
  ExpectReference("BSDelta.C", cd);
  ExpectReference("BSDelta.P", pd);
  ASSERT_EQ(object_->BSImpliedVolatility(100, 100, 0.05, 1, 0, 10.45, 0, &iv), S_OK);
  ExpectReference("BSImpliedVolatility", iv);
  ASSERT_EQ(object_->BinCallPrice(100, 100, 0.05, 1, 0.2, 0, 1, 0, 200, 1, &call), S_OK);
  ExpectReference("BinCallPrice", call);
  ASSERT_EQ(object_->BinPutPrice(100, 110, 0.05, 1, 0.25, 0.01, 1, 0, 150, 0, &put), S_OK);
  ExpectReference("BinPutPrice.American", put);
  ASSERT_EQ(object_->BJECallPrice(100, 100, 0.05, 1, 0.2, 0.03, 1, 0, &call), S_OK);
  ExpectReference("BJECallPrice", call);
  ASSERT_EQ(object_->BJEPutPrice(100, 110, 0.05, 1, 0.25, 0.01, 1, 0, &put), S_OK);
  ExpectReference("BJEPutPrice", put);

  SAFEARRAY* prices = Doubles({{5, 0}}, {100, 110, 100, 105, 99});
  VARIANT series;
  VariantInit(&series);
  series.vt = VT_ARRAY | VT_R8;
  series.parray = prices;
  double hv = 0;
  ASSERT_EQ(object_->HistoricalVolatility1(&series, 252, &hv), S_OK);
  ExpectReference("HistoricalVolatility1", hv);
  VariantClear(&series);
}

TEST_F(ClientTest, EveryFamilyThroughInvokeByName) {
  // Optional MaxIter left out; [out] doubles by reference.
  CallResult r = Call(dispatch_, L"BSCallPrice", {R8(100), R8(100), R8(0.05), R8(1), R8(0.2), R8(0)});
  ASSERT_EQ(r.hr, S_OK);
  ASSERT_EQ(r.result.vt, VT_R8);
  ExpectReference("BSCallPrice", r.result.dblVal);
  r = Call(dispatch_, L"BSImpliedVolatility", {R8(100), R8(100), R8(0.05), R8(1), R8(0), R8(10.45)});
  ASSERT_EQ(r.hr, S_OK);
  ExpectReference("BSImpliedVolatility", r.result.dblVal);
  double cd = 0, pd = 0;
  r = Call(dispatch_, L"BSDelta",
           {R8(100), R8(100), R8(0.05), R8(1), R8(0.2), R8(0), ByRef(&cd), ByRef(&pd)});
  ASSERT_EQ(r.hr, S_OK);
  ExpectReference("BSDelta.C", cd);
  ExpectReference("BSDelta.P", pd);
  // Integers given as doubles are coerced by the type library, as a script's would be.
  r = Call(dispatch_, L"BinCallPrice",
           {R8(100), R8(100), R8(0.05), R8(1), R8(0.2), R8(0), I4(1), R8(0), R8(200), I4(1)});
  ASSERT_EQ(r.hr, S_OK);
  ExpectReference("BinCallPrice", r.result.dblVal);
  r = Call(dispatch_, L"BJECallPrice",
           {R8(100), R8(100), R8(0.05), R8(1), R8(0.2), R8(0.03), I4(1), R8(0)});
  ASSERT_EQ(r.hr, S_OK);
  ExpectReference("BJECallPrice", r.result.dblVal);
}

TEST_F(ClientTest, SkewsTakeDoubleArraysByReferenceAndAnswerFromBase) {
  ASSERT_EQ(Call(dispatch_, L"Base", {I4(1)}, DISPATCH_PROPERTYPUT).hr, S_OK);
  SAFEARRAY* strikes = Doubles({{3, 1}}, {95, 100, 105});
  SAFEARRAY* calls = Doubles({{3, 1}}, {10.5, 6.5, 4.5});
  SAFEARRAY* puts = Doubles({{3, 1}}, {4.0, 6.0, 8.5});
  VARIANT iv_call, iv_put;
  VariantInit(&iv_call);
  VariantInit(&iv_put);
  struct Family {
    const wchar_t* name;
    std::vector<VARIANT> args;
    const char* reference;
  };
  const Family families[] = {
      {L"BSImpliedVolatilitySkew",
       {R8(100), ByRef(&strikes), R8(0.05), R8(1), R8(0), ByRef(&calls), ByRef(&puts), I4(0),
        ByRef(&iv_call), ByRef(&iv_put)},
       "BSImpliedVolatilitySkew"},
      {L"BinImpliedVolatilitySkew",
       {R8(100), ByRef(&strikes), R8(0.05), R8(1), R8(0), I4(1), R8(0), I4(100), I4(0),
        ByRef(&calls), ByRef(&puts), I4(0), ByRef(&iv_call), ByRef(&iv_put)},
       "BinImpliedVolatilitySkew"},
      {L"BJEImpliedVolatilitySkew",
       {R8(100), ByRef(&strikes), R8(0.05), R8(1), R8(0), I4(1), R8(0), ByRef(&calls),
        ByRef(&puts), I4(0), ByRef(&iv_call), ByRef(&iv_put)},
       "BJEImpliedVolatilitySkew"},
  };
  for (const Family& f : families) {
    SCOPED_TRACE(f.reference);
    VariantClear(&iv_call);
    VariantClear(&iv_put);
    CallResult r = Call(dispatch_, f.name, f.args);
    ASSERT_EQ(r.hr, S_OK);
    for (int side = 0; side < 2; ++side) {
      const ArrayRead read = Read(side == 0 ? iv_call : iv_put);
      EXPECT_EQ(read.vt, VT_ARRAY | VT_R8);
      EXPECT_EQ(read.lower, 1);
      ASSERT_EQ(read.values.size(), 3u);
      for (int k = 0; k < 3; ++k) {
        const std::string name = std::string(f.reference) + (side == 0 ? ".C" : ".P") +
                                 std::to_string(k + 1);
        ExpectReference(name.c_str(), read.values[k]);
      }
    }
  }
  VariantClear(&iv_call);
  VariantClear(&iv_put);
  SafeArrayDestroy(strikes);
  SafeArrayDestroy(calls);
  SafeArrayDestroy(puts);
}

TEST_F(ClientTest, HistoricalVolatilityOfEachColumnOfATwoDimensionalArray) {
  ASSERT_EQ(object_->put_Base(1), S_OK);
  // 4 days (rows) by 3 series (columns), Base 1 on both dimensions.
  SAFEARRAY* prices = Doubles({{4, 1}, {3, 1}}, {100, 110, 100, 105,  //
                                                 50, 51, 52, 53,      //
                                                 20, 18, 22, 19});
  VARIANT volatility;
  VariantInit(&volatility);
  CallResult r = Call(dispatch_, L"HistoricalVolatility", {ByRef(&prices), I4(252)});
  ASSERT_EQ(r.hr, S_OK);
  const ArrayRead read = Read(r.result);
  EXPECT_EQ(read.lower, 1);
  ASSERT_EQ(read.values.size(), 3u);
  for (int k = 0; k < 3; ++k) {
    ExpectReference(("HistoricalVolatility." + std::to_string(k + 1)).c_str(), read.values[k]);
  }
  VariantClear(&r.result);
  VariantClear(&volatility);
  SafeArrayDestroy(prices);
}

TEST_F(ClientTest, FailureComesWithErrorInformation) {
  CallResult r = Call(dispatch_, L"BSCallPrice", {R8(0), R8(100), R8(0.05), R8(1), R8(0.2), R8(0)});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(Narrow(r.excep.bstrSource), "Korvane.Quantorb.1");
  EXPECT_FALSE(Narrow(r.excep.bstrDescription).empty());
  SysFreeString(r.excep.bstrSource);
  SysFreeString(r.excep.bstrDescription);
  SysFreeString(r.excep.bstrHelpFile);
  Com<ISupportErrorInfo> support;
  ASSERT_EQ(object_->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(support.put())),
            S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IKvQuantorb), S_OK);
}

class EventConnection {
 public:
  EventConnection(IUnknown* object, IDispatch* sink) {
    Com<IConnectionPointContainer> container;
    hr_ = object->QueryInterface(IID_IConnectionPointContainer,
                                 reinterpret_cast<void**>(container.put()));
    if (SUCCEEDED(hr_)) hr_ = container->FindConnectionPoint(DIID__IKvQuantorbEvents, &point_);
    if (SUCCEEDED(hr_)) hr_ = point_->Advise(sink, &cookie_);
  }
  ~EventConnection() {
    if (point_) {
      if (cookie_) point_->Unadvise(cookie_);
      point_->Release();
    }
  }
  HRESULT hr() const { return hr_; }

 private:
  HRESULT hr_;
  IConnectionPoint* point_ = nullptr;
  DWORD cookie_ = 0;
};

TEST_F(ClientTest, DoneArrivesThroughTheConnectionPoint) {
  DoneSink sink;
  {
    EventConnection connection(object_.p, &sink);
    ASSERT_EQ(connection.hr(), S_OK);
    double call = 0;
    EXPECT_EQ(object_->BSCallPrice(100, 100, 0.05, 1, 0.2, 0, &call), S_OK);
    EXPECT_EQ(Call(dispatch_, L"BSCallPrice", {R8(0), R8(100), R8(0.05), R8(1), R8(0.2), R8(0)}).hr,
              DISP_E_EXCEPTION);
  }
  ASSERT_EQ(sink.events.size(), 2u);
  EXPECT_EQ(sink.events[0].last_method, 2);
  EXPECT_EQ(sink.events[0].error_code, 0);
  EXPECT_EQ(sink.events[0].error_string, "No Error");
  EXPECT_EQ(sink.events[1].error_code, 6010);
  EXPECT_EQ(sink.events[1].error_string, "Argument error: Invalid input parameter(s).");
  EXPECT_EQ(sink.references.load(), 0u) << "the object released the sink";
}

// A search over many strikes, each on the largest tree, aborted from a second thread until the
// call returns: it cannot finish first.
void ExpectAbortedSearch(IKvQuantorb* object,
                         const std::function<void(std::atomic<bool>&)>& abort) {
  DoneSink sink;
  EventConnection connection(object, &sink);
  ASSERT_EQ(connection.hr(), S_OK);
  std::vector<double> k, c;
  for (int i = 0; i < 400; ++i) {
    k.push_back(60 + 0.2 * i);
    c.push_back(std::max(1.0, 45 - 0.2 * i));
  }
  SAFEARRAY* strikes_array = Doubles({{400, 0}}, k);
  SAFEARRAY* calls_array = Doubles({{400, 0}}, c);
  VARIANT strikes, calls, puts, iv_call, iv_put;
  for (VARIANT* v : {&strikes, &calls, &puts, &iv_call, &iv_put}) VariantInit(v);
  strikes.vt = calls.vt = VT_ARRAY | VT_R8;
  strikes.parray = strikes_array;
  calls.parray = calls_array;
  std::atomic<bool> returned{false};
  std::thread aborter([&] { abort(returned); });
  const HRESULT hr = object->BinImpliedVolatilitySkew(100, &strikes, 0.05, 1, 0, 1, 0, 5000, 0,
                                                      &calls, &puts, 0, &iv_call, nullptr);
  returned = true;
  aborter.join();
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(iv_call.vt, VT_EMPTY) << "an aborted call leaves its outputs";
  ASSERT_FALSE(sink.events.empty());
  EXPECT_EQ(sink.events.back().error_code, 3100);
  EXPECT_EQ(sink.events.back().error_string, "Data processing aborted.");
  for (VARIANT* v : {&strikes, &calls, &puts, &iv_call, &iv_put}) VariantClear(v);
}

// What a host's Abort button does: a message to a window of the calling thread, which the
// pumped wait dispatches while the worker computes. (A marshaled proxy would come the same way,
// but Wine's type-library marshaler only finds libraries registered for LCID 0; this one is
// registered for 1033 as the .idl says.)
LRESULT CALLBACK AbortButtonProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_APP) {
    auto* object = reinterpret_cast<IKvQuantorb*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    (void)object->Abort();
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

TEST_F(ClientTest, AbortFromTheCallersWindowWhileThePumpedWaitRuns) {
  ASSERT_EQ(object_->put_BlockingMode(1), S_OK);
  WNDCLASSW cls{};
  cls.lpfnWndProc = &AbortButtonProc;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = L"KxAbortButton";
  RegisterClassW(&cls);
  HWND button = CreateWindowW(L"KxAbortButton", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              cls.hInstance, nullptr);
  ASSERT_NE(button, nullptr);
  SetWindowLongPtrW(button, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object_.p));
  ExpectAbortedSearch(object_.p, [&](std::atomic<bool>& returned) {
    while (!returned) {
      PostMessageW(button, WM_APP, 0, 0);
      Sleep(50);
    }
  });
  DestroyWindow(button);
}

TEST_F(ClientTest, AbortFromAnotherThreadWhileThePlainWaitRuns) {
  ASSERT_EQ(object_->put_BlockingMode(0), S_OK);
  IKvQuantorb* raw = object_.p;
  ExpectAbortedSearch(object_.p, [&](std::atomic<bool>& returned) {
    while (!returned) {
      (void)raw->Abort();
      Sleep(50);
    }
  });
}

}  // namespace

namespace {

// ---- The control on the system's persistence media, GDI and dialogs ----------------------------

TEST_F(ClientTest, SavesAndLoadsThroughAStreamAndAStorage) {
  ASSERT_EQ(object_->put_Base(1), S_OK);
  ASSERT_EQ(object_->put_BlockingMode(0), S_OK);
  Com<IPersistStreamInit> persist;
  ASSERT_EQ(object_->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(persist.put())),
            S_OK);
  EXPECT_EQ(persist->IsDirty(), S_OK);
  Com<IStream> stream;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()), S_OK);
  ASSERT_EQ(persist->Save(stream.p, TRUE), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  STATSTG stat{};
  ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(stat.cbSize.QuadPart, 14u);

  // A second object takes both values from the stream.
  Com<IKvQuantorb> other;
  ASSERT_EQ(CoCreateInstance(CLSID_KvQuantorb, nullptr, CLSCTX_INPROC_SERVER, IID_IKvQuantorb,
                             reinterpret_cast<void**>(other.put())),
            S_OK);
  Com<IPersistStreamInit> other_persist;
  ASSERT_EQ(other->QueryInterface(IID_IPersistStreamInit,
                                  reinterpret_cast<void**>(other_persist.put())),
            S_OK);
  LARGE_INTEGER start{};
  ASSERT_EQ(stream->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
  ASSERT_EQ(other_persist->Load(stream.p), S_OK);
  LONG base = 0;
  SHORT blocking = -1;
  EXPECT_EQ(other->get_Base(&base), S_OK);
  EXPECT_EQ(other->get_BlockingMode(&blocking), S_OK);
  EXPECT_EQ(base, 1);
  EXPECT_EQ(blocking, 0);

  // A compound file in memory: the "Contents" stream.
  Com<ILockBytes> bytes;
  ASSERT_EQ(CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.put()), S_OK);
  Com<IStorage> storage;
  ASSERT_EQ(StgCreateDocfileOnILockBytes(bytes.p, STGM_CREATE | STGM_READWRITE |
                                                      STGM_SHARE_EXCLUSIVE,
                                         0, storage.put()),
            S_OK);
  Com<IPersistStorage> persist_storage;
  ASSERT_EQ(object_->QueryInterface(IID_IPersistStorage,
                                    reinterpret_cast<void**>(persist_storage.put())),
            S_OK);
  ASSERT_EQ(persist_storage->Save(storage.p, TRUE), S_OK);
  Com<IStream> contents;
  EXPECT_EQ(storage->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                contents.put()),
            S_OK);
}

// The picture of the control is bitmap 202, copied unscaled to the top-left of the bounds.
TEST_F(ClientTest, DrawsBitmap202ThroughGdi) {
  Com<IViewObject> view;
  ASSERT_EQ(object_->QueryInterface(IID_IViewObject, reinterpret_cast<void**>(view.put())), S_OK);
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = 64;
  info.bmiHeader.biHeight = -64;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP surface = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(surface, nullptr);
  HGDIOBJ old = SelectObject(dc, surface);
  auto* pixels = static_cast<std::uint32_t*>(bits);
  std::fill(pixels, pixels + 64 * 64, 0x00123456u);
  const RECTL bounds{5, 7, 5 + 40, 7 + 40};
  EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr,
                       nullptr, 0),
            S_OK);
  GdiFlush();
  int changed = 0, outside = 0;
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      const bool inside = x >= 5 && x < 5 + 32 && y >= 7 && y < 7 + 32;
      const bool drawn = (pixels[y * 64 + x] & 0xFFFFFF) != 0x123456;
      changed += inside && drawn;
      outside += !inside && drawn;
    }
  }
  EXPECT_GT(changed, 32 * 32 / 4) << "bitmap 202 covers its 32 x 32 corner";
  EXPECT_EQ(outside, 0) << "nothing is drawn outside it";
  EXPECT_EQ(view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr,
                       0),
            DV_E_DVASPECT);
  SelectObject(dc, old);
  DeleteObject(surface);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
}

// DIALOG 103 from the DLL's resources, modal on the caller's thread; closed by its OK button.
TEST_F(ClientTest, AboutShowsDialog103UntilItsButtonIsPressed) {
  std::atomic<bool> returned{false};
  std::string version_text, title_text;
  const DWORD caller = GetCurrentThreadId();
  std::thread presser([&] {
    while (!returned) {
      HWND dialog = nullptr;
      EnumThreadWindows(
          caller,
          [](HWND w, LPARAM found) CALLBACK -> BOOL {
            wchar_t cls[16] = {};
            GetClassNameW(w, cls, 16);
            if (std::wstring(cls) == L"#32770") *reinterpret_cast<HWND*>(found) = w;
            return TRUE;
          },
          reinterpret_cast<LPARAM>(&dialog));
      // The window exists before WM_INITDIALOG fills it; a modal dialog is shown after that.
      if (dialog && IsWindowVisible(dialog)) {
        char text[64] = {};
        GetDlgItemTextA(dialog, 203, text, sizeof text);
        version_text = text;
        GetDlgItemTextA(dialog, 202, text, sizeof text);
        title_text = text;
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return;
      }
      Sleep(50);
    }
  });
  const HRESULT hr = object_->About();
  returned = true;
  presser.join();
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(version_text, "Version 1.0");
  EXPECT_EQ(title_text, "Varnix Control");
}

}  // namespace

namespace {

// Records OnRequestEdit and OnChanged of the Base and BlockingMode properties.
class PropertySink final : public IPropertyNotifySink {
 public:
  std::vector<std::string> log;
  bool refuse = false;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IPropertyNotifySink) {
      *object = static_cast<IPropertyNotifySink*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE OnChanged(DISPID property) override {
    log.push_back("changed " + std::to_string(property));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnRequestEdit(DISPID property) override {
    log.push_back("request " + std::to_string(property));
    return refuse ? S_FALSE : S_OK;
  }
};

TEST_F(ClientTest, PropertyChangesAreAskedForAndNotifiedToTheContainer) {
  Com<IQuickActivate> quick;
  ASSERT_EQ(object_->QueryInterface(IID_IQuickActivate, reinterpret_cast<void**>(quick.put())),
            S_OK);
  PropertySink sink;
  QACONTAINER container{};
  container.cbSize = sizeof container;
  container.pPropertyNotifySink = &sink;
  QACONTROL control{};
  control.cbSize = sizeof control;
  ASSERT_EQ(quick->QuickActivate(&container, &control), S_OK);
  EXPECT_EQ(control.dwMiscStatus, 132497u);
  ASSERT_EQ(object_->put_Base(1), S_OK);
  sink.refuse = true;
  EXPECT_EQ(object_->put_Base(0), S_FALSE);
  LONG base = -1;
  EXPECT_EQ(object_->get_Base(&base), S_OK);
  EXPECT_EQ(base, 1) << "a refused edit keeps the value";
  const std::vector<std::string> expected{"request 1", "changed 1", "request 1"};
  EXPECT_EQ(sink.log, expected);
}

}  // namespace

namespace {

// The .tlb widl compiled into the DLL, read back by the system as any typelib-driven client
// reads it (widl has written corrupt libraries when a dispinterface came first).
TEST(TypeLibrary, ReadsBackAsItsIdlSays) {
  Apartment apartment;
  Com<ITypeLib> lib;
  ASSERT_EQ(LoadRegTypeLib(LIBID_KORVANELib, 1, 0, 0x409, lib.put()), S_OK);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_KORVANELib));
  EXPECT_EQ(attr->lcid, 0x409u);
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  lib->ReleaseTLibAttr(attr);

  Com<ITypeInfo> dispatch;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IKvQuantorb, dispatch.put()), S_OK);
  TYPEATTR* type = nullptr;
  ASSERT_EQ(dispatch->GetTypeAttr(&type), S_OK);
  EXPECT_EQ(type->typekind, TKIND_DISPATCH);
  EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FDUAL);
  dispatch->ReleaseTypeAttr(type);
  HREFTYPE base_ref = 0;
  ASSERT_EQ(dispatch->GetRefTypeOfImplType(0, &base_ref), S_OK);
  Com<ITypeInfo> base;
  ASSERT_EQ(dispatch->GetRefTypeInfo(base_ref, base.put()), S_OK);
  BSTR base_name = nullptr;
  ASSERT_EQ(base->GetDocumentation(MEMBERID_NIL, &base_name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Narrow(base_name), "IDispatch");
  SysFreeString(base_name);

  // The vtable half: 42 members after IDispatch's 7, with the DISPIDs and flags of the .idl.
  HREFTYPE vtable_ref = 0;
  ASSERT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtable_ref), S_OK);
  Com<ITypeInfo> vtable;
  ASSERT_EQ(dispatch->GetRefTypeInfo(vtable_ref, vtable.put()), S_OK);
  ASSERT_EQ(vtable->GetTypeAttr(&type), S_OK);
  EXPECT_EQ(type->typekind, TKIND_INTERFACE);
  EXPECT_EQ(type->cFuncs, 42);
  EXPECT_EQ(type->cbSizeVft, (7 + 42) * sizeof(void*));
  const WORD functions = type->cFuncs;
  vtable->ReleaseTypeAttr(type);
  struct Seen {
    MEMBERID id = 0;
    short params = 0, optional = 0;
  };
  std::map<std::string, Seen> seen;
  for (WORD i = 0; i < functions; ++i) {
    FUNCDESC* f = nullptr;
    ASSERT_EQ(vtable->GetFuncDesc(i, &f), S_OK);
    BSTR name = nullptr;
    UINT n = 0;
    ASSERT_EQ(vtable->GetNames(f->memid, &name, 1, &n), S_OK);
    Seen s{f->memid, f->cParams, 0};
    for (short p = 0; p < f->cParams; ++p) {
      s.optional += (f->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FOPT) != 0;
    }
    seen[Narrow(name)] = s;
    SysFreeString(name);
    vtable->ReleaseFuncDesc(f);
  }
  EXPECT_EQ(seen["Base"].id, 1);
  EXPECT_EQ(seen["BlockingMode"].id, 2);
  EXPECT_EQ(seen["BSCallPrice"].id, 10);
  EXPECT_EQ(seen["BSImpliedVolatility"].optional, 1);  // MaxIter
  EXPECT_EQ(seen["BinImpliedVolatilitySkew"].id, 51);
  EXPECT_EQ(seen["BinImpliedVolatilitySkew"].optional, 4);
  EXPECT_EQ(seen["HistoricalVolatility1"].id, 331);
  EXPECT_EQ(seen["Abort"].id, 500);
  EXPECT_EQ(seen["About"].id, -552);
  BSTR help = nullptr;
  ASSERT_EQ(vtable->GetDocumentation(10, nullptr, &help, nullptr, nullptr), S_OK);
  EXPECT_EQ(Narrow(help),
            "Computes the Black-Scholes call price for a European stock option using the values "
            "supplied to the method.");
  SysFreeString(help);

  Com<ITypeInfo> events;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(DIID__IKvQuantorbEvents, events.put()), S_OK);
  FUNCDESC* done = nullptr;
  ASSERT_EQ(events->GetFuncDesc(0, &done), S_OK);
  EXPECT_EQ(done->memid, 1);
  EXPECT_EQ(done->cParams, 3);
  events->ReleaseFuncDesc(done);
}

}  // namespace
