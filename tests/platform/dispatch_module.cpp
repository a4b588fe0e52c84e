// kx_test_recorder: a small registered class with a type library, for the tests of generic
// clients. It knows nothing of options: a sum with a retval, a division with two outputs that
// fails with error information, a VARIANT that reports what it received (omitted included),
// a 2-D transpose and a read-write property.
#include <atomic>
#include <sstream>
#include <string>

#include "kx/platform/errorinfo.h"
#include "kx/platform/module.h"
#include "kx/platform/safearray.h"
#include "kx/platform/typeinfo.h"

namespace kx::platform::test_support {
namespace {

ModuleLockCount module_lock;

// {6B1D2F21-8E3C-4A4B-8D72-1C9F3B7E5E01}
constexpr CLSID kClsidRecorder{
    0x6B1D2F21, 0x8E3C, 0x4A4B, {0x8D, 0x72, 0x1C, 0x9F, 0x3B, 0x7E, 0x5E, 0x01}};
// {6B1D2F22-8E3C-4A4B-8D72-1C9F3B7E5E01}
constexpr IID kIidRecorder{
    0x6B1D2F22, 0x8E3C, 0x4A4B, {0x8D, 0x72, 0x1C, 0x9F, 0x3B, 0x7E, 0x5E, 0x01}};

constexpr const char* kScript = R"(
HKCR
{
  KxTest.Recorder.1 = s 'Generic client test class'
  {
    CLSID = s '{6B1D2F21-8E3C-4A4B-8D72-1C9F3B7E5E01}'
  }
  KxTest.Recorder = s 'Generic client test class'
  {
    CurVer = s 'KxTest.Recorder.1'
  }
  NoRemove CLSID
  {
    ForceRemove {6B1D2F21-8E3C-4A4B-8D72-1C9F3B7E5E01} = s 'Generic client test class'
    {
      ProgID = s 'KxTest.Recorder.1'
      VersionIndependentProgID = s 'KxTest.Recorder'
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Both'
      }
    }
  }
}
)";

struct IRecorder : IDispatch {
  virtual HRESULT get_Scale(double* value) = 0;
  virtual HRESULT put_Scale(double value) = 0;
  virtual HRESULT Add(double a, double b, double* sum) = 0;
  virtual HRESULT Divide(double numerator, double denominator, double* quotient,
                         double* remainder) = 0;
  virtual HRESULT Describe(VARIANT* value, BSTR* kind) = 0;
  virtual HRESULT Transpose(VARIANT* matrix, VARIANT* result) = 0;
  virtual HRESULT Pair(VARIANT first, VARIANT second, double* sum) = 0;

 protected:
  ~IRecorder() = default;
};

const InterfaceDescription& RecorderDescription() {
  using namespace param;
  static const InterfaceDescription d = [] {
    InterfaceDescription i{
        .name = u"IRecorder",
        .iid = kIidRecorder,
        .help = u"Recorder",
        .type_flags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE};
    i.members = {
        PropertyGet<&IRecorder::get_Scale>(1, u"Scale", u"Factor applied to sums."),
        PropertyPut<&IRecorder::put_Scale>(1, u"Scale", u"Factor applied to sums."),
        Method<&IRecorder::Add>(2, u"Add", {In(u"A"), In(u"B"), RetVal(u"Sum")},
                                u"(A + B) times Scale."),
        Method<&IRecorder::Divide>(
            3, u"Divide",
            {In(u"Numerator"), In(u"Denominator"), Out(u"Quotient"), Out(u"Remainder")},
            u"Quotient and remainder; fails on a zero denominator."),
        Method<&IRecorder::Describe>(4, u"Describe", {InOutOpt(u"Value"), RetVal(u"Kind")},
                                     u"What the value arrived as."),
        Method<&IRecorder::Transpose>(5, u"Transpose", {InOut(u"Matrix"), InOut(u"Result")},
                                      u"The transpose of a 2-D array of doubles."),
        Method<&IRecorder::Pair>(6, u"Pair", {In(u"First"), In(u"Second"), RetVal(u"Sum")},
                                 u"First + Second; a dispatch that refuses any value but a "
                                 u"double and names the argument."),
    };
    return i;
  }();
  return d;
}

std::string DescribeValue(const VARIANT* v) {
  std::ostringstream text;
  text << std::fixed;
  if (!v) {
    text << "omitted";
  } else if (v->vt & VT_ARRAY) {
    text << "array " << (v->vt & VT_TYPEMASK);
    for (UINT d = 1; d <= SafeArrayGetDim(v->parray); ++d) {
      LONG lower = 0, upper = 0;
      (void)SafeArrayGetLBound(v->parray, d, &lower);
      (void)SafeArrayGetUBound(v->parray, d, &upper);
      text << ' ' << lower << ".." << upper;
    }
  } else if (v->vt == VT_R8) {
    text << "double " << v->dblVal;
  } else if (v->vt == VT_I4) {
    text << "long " << v->lVal;
  } else if (v->vt == VT_BOOL) {
    text << (v->boolVal ? "bool true" : "bool false");
  } else if (v->vt == VT_BSTR) {
    text << "text " << BstrToUtf8(v->bstrVal);
  } else {
    text << "type " << v->vt;
  }
  return text.str();
}

class Recorder final : public IRecorder {
 public:
  Recorder() { module_lock.Lock(); }
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == kIidRecorder) {
      *object = static_cast<IRecorder*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 1;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (index != 0) return DISP_E_BADINDEX;
    return CreateTypeInfoFromDescription(RecorderDescription(), info);
  }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return DispGetIDsOfNames(RecorderDescription(), names, count, ids);
  }
  HRESULT Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep, UINT* arg_err) override {
    // Pair stands for a strict hand-written dispatch: it names the argument it refuses.
    if (member == 6 && params) {
      for (UINT k = 0; k < params->cArgs; ++k) {
        if (params->rgvarg[k].vt != VT_R8) {
          if (arg_err) *arg_err = k;
          return DISP_E_TYPEMISMATCH;
        }
      }
    }
    return DispInvoke(static_cast<IRecorder*>(this), RecorderDescription(), member, flags, params,
                      result, excep, arg_err);
  }

  HRESULT get_Scale(double* value) override {
    *value = scale_;
    return S_OK;
  }
  HRESULT put_Scale(double value) override {
    scale_ = value;
    return S_OK;
  }
  HRESULT Add(double a, double b, double* sum) override {
    *sum = (a + b) * scale_;
    return S_OK;
  }
  HRESULT Divide(double numerator, double denominator, double* quotient,
                 double* remainder) override {
    if (denominator == 0) {
      *quotient = *remainder = -1.0;
      (void)PostErrorInfo(kIidRecorder, u"KxTest.Recorder", u"Denominator is zero.");
      return E_INVALIDARG;
    }
    *quotient = static_cast<double>(static_cast<long long>(numerator / denominator));
    *remainder = numerator - *quotient * denominator;
    return S_OK;
  }
  HRESULT Describe(VARIANT* value, BSTR* kind) override {
    *kind = SysAllocStringUtf8(DescribeValue(value));
    return *kind ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT Pair(VARIANT first, VARIANT second, double* sum) override {
    *sum = first.dblVal + second.dblVal;
    return S_OK;
  }
  HRESULT Transpose(VARIANT* matrix, VARIANT* result) override {
    if (!matrix || !result || matrix->vt != (VT_ARRAY | VT_R8) ||
        SafeArrayGetDim(matrix->parray) != 2) {
      return E_INVALIDARG;
    }
    SAFEARRAY* in = matrix->parray;
    LONG lower[2], upper[2];
    for (UINT d = 0; d < 2; ++d) {
      (void)SafeArrayGetLBound(in, d + 1, &lower[d]);
      (void)SafeArrayGetUBound(in, d + 1, &upper[d]);
    }
    const SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(upper[1] - lower[1] + 1), lower[1]},
                                      {static_cast<ULONG>(upper[0] - lower[0] + 1), lower[0]}};
    SAFEARRAY* out = SafeArrayCreate(VT_R8, 2, bounds);
    if (!out) return E_OUTOFMEMORY;
    for (LONG r = lower[0]; r <= upper[0]; ++r) {
      for (LONG c = lower[1]; c <= upper[1]; ++c) {
        const LONG from[2] = {r, c}, to[2] = {c, r};
        double x = 0;
        (void)SafeArrayGetElement(in, from, &x);
        (void)SafeArrayPutElement(out, to, &x);
      }
    }
    (void)VariantClear(result);
    result->vt = VT_ARRAY | VT_R8;
    result->parray = out;
    return S_OK;
  }

 private:
  ~Recorder() { module_lock.Unlock(); }
  std::atomic<ULONG> refs_{0};  // ClassFactory takes the first reference
  double scale_ = 1.0;
};

ClassFactory<Recorder> factory(module_lock);

}  // namespace
}  // namespace kx::platform::test_support

using namespace kx::platform;

KX_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (clsid != test_support::kClsidRecorder) return CLASS_E_CLASSNOTAVAILABLE;
  return test_support::factory.QueryInterface(riid, object);
}

KX_MODULE_EXPORT HRESULT DllCanUnloadNow() { return test_support::module_lock.CanUnloadNow(); }

KX_MODULE_EXPORT HRESULT DllRegisterServer() {
  return RegisterServerFromScript(test_support::kScript,
                                  ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer)));
}

KX_MODULE_EXPORT HRESULT DllUnregisterServer() {
  return UnregisterServerFromScript(
      test_support::kScript, ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer)));
}
