#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "kx/platform/comptr.h"
#include "kx/platform/errorinfo.h"
#include "kx/platform/typeinfo.h"
#include "variant_args.h"

namespace kx::platform {
namespace {

using namespace test_support;

inline constexpr IID kIidCalc{0x5A0E1C01, 0x7D2B, 0x4C11, {0x9E, 0x31, 0x10, 0x22, 0x33, 0x44, 0x55, 0x66}};
inline constexpr IID kIidCalcEvents{0x5A0E1C02, 0x7D2B, 0x4C11, {0x9E, 0x31, 0x10, 0x22, 0x33, 0x44, 0x55, 0x66}};
inline constexpr CLSID kClsidCalc{0x5A0E1C03, 0x7D2B, 0x4C11, {0x9E, 0x31, 0x10, 0x22, 0x33, 0x44, 0x55, 0x66}};

// A dual interface with the parameter shapes the pricing component uses.
struct ICalc : IDispatch {
  static constexpr const IID& kIid = kIidCalc;
  virtual HRESULT get_Base(LONG* value) = 0;
  virtual HRESULT put_Base(LONG value) = 0;
  virtual HRESULT Price(double spot, double strike, double* price) = 0;
  virtual HRESULT Delta(double spot, double* call, double* put) = 0;
  virtual HRESULT Implied(double spot, double value, LONG max_iter, double* vol) = 0;
  virtual HRESULT Tree(double spot, double foreign, LONG steps, double* price) = 0;
  virtual HRESULT Greeks(double spot, double* call, SHORT do_vega, double* vega) = 0;
  virtual HRESULT Skew(VARIANT* strikes, VARIANT* puts, VARIANT* out) = 0;
  virtual HRESULT History(VARIANT* prices, LONG days, VARIANT* result) = 0;
  virtual HRESULT Echo(BSTR text, BSTR* result) = 0;
  virtual HRESULT Fail() = 0;
  virtual HRESULT FailQuietly() = 0;
  virtual HRESULT Throw() = 0;

 protected:
  ~ICalc() = default;
};

const InterfaceDescription& CalcDescription() {
  using namespace param;
  static const InterfaceDescription d = [] {
    InterfaceDescription i{.name = u"ICalc", .iid = kIidCalc, .help = u"ICalc Interface",
                           .type_flags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE};
    i.members = {
        PropertyGet<&ICalc::get_Base>(1, u"Base", u"Lower bound", FUNCFLAG_FBINDABLE | FUNCFLAG_FREQUESTEDIT),
        PropertyPut<&ICalc::put_Base>(1, u"Base", u"Lower bound", FUNCFLAG_FBINDABLE | FUNCFLAG_FREQUESTEDIT),
        Method<&ICalc::Price>(10, u"Price", {In(u"StockPrice"), In(u"ExercisePrice"), RetVal(u"CPrice")}, u"Price help"),
        Method<&ICalc::Delta>(12, u"Delta", {In(u"StockPrice"), Out(u"CDelta"), Out(u"PDelta")}),
        Method<&ICalc::Implied>(17, u"Implied", {In(u"StockPrice"), In(u"CallValue"), Opt(u"MaxIter"), RetVal(u"IVolatility")}),
        Method<&ICalc::Tree>(40, u"Tree", {In(u"StockPrice"), Opt(u"ForeignInterestRate"), In(u"BinSteps"), RetVal(u"CPrice")}),
        Method<&ICalc::Greeks>(43, u"Greeks", {In(u"StockPrice"), InOut(u"CallPrice"), In(u"DoVega"), InOut(u"Vega")}),
        Method<&ICalc::Skew>(19, u"Skew", {InOut(u"ExercisePrice"), InOutOpt(u"PutValue"), InOut(u"IVolatilityCall")}),
        Method<&ICalc::History>(330, u"History", {InOut(u"Prices"), In(u"TradingDays"), RetVal(u"Volatility")}),
        Method<&ICalc::Echo>(60, u"Echo", {In(u"Text"), RetVal(u"Result")}),
        Method<&ICalc::Fail>(70, u"Fail", {}),
        Method<&ICalc::FailQuietly>(71, u"FailQuietly", {}),
        Method<&ICalc::Throw>(72, u"Throw", {}),
    };
    return i;
  }();
  return d;
}

// Records what each member received.
class Calc final : public ICalc {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == kIidCalc) {
      *object = static_cast<ICalc*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return DispGetIDsOfNames(CalcDescription(), names, count, ids);
  }
  HRESULT Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep, UINT* arg_err) override {
    return DispInvoke(static_cast<ICalc*>(this), CalcDescription(), member, flags, params, result, excep, arg_err);
  }

  HRESULT get_Base(LONG* value) override {
    *value = base;
    return S_OK;
  }
  HRESULT put_Base(LONG value) override {
    if (refuse_edit) return S_FALSE;
    base = value;
    return S_OK;
  }
  HRESULT Price(double spot, double strike, double* price) override {
    got = {spot, strike};
    *price = spot - strike;
    return S_OK;
  }
  HRESULT Delta(double spot, double* call, double* put) override {
    got = {spot};
    *call = 0.6;
    *put = -0.4;
    return S_OK;
  }
  HRESULT Implied(double spot, double value, LONG max_iter, double* vol) override {
    got = {spot, value, static_cast<double>(max_iter)};
    *vol = 0.25;
    return S_OK;
  }
  HRESULT Tree(double spot, double foreign, LONG steps, double* price) override {
    got = {spot, foreign, static_cast<double>(steps)};
    *price = 1;
    return S_OK;
  }
  HRESULT Greeks(double spot, double* call, SHORT do_vega, double* vega) override {
    got = {spot, *call, static_cast<double>(do_vega), *vega};
    *call = 11;
    *vega = 22;
    return S_OK;
  }
  HRESULT Skew(VARIANT* strikes, VARIANT* puts, VARIANT* out) override {
    skew_strikes = strikes;
    skew_puts = puts;
    (void)VariantClear(out);
    out->vt = VT_R8;
    out->dblVal = 0.3;
    return S_OK;
  }
  HRESULT History(VARIANT* prices, LONG days, VARIANT* result) override {
    got = {static_cast<double>(days)};
    skew_strikes = prices;
    result->vt = VT_ARRAY | VT_R8;
    result->parray = SafeArrayCreateVector(VT_R8, base, 2);
    return S_OK;
  }
  HRESULT Echo(BSTR text, BSTR* result) override {
    std::u16string s(text ? text : u"", SysStringLen(text));
    s += u"!";
    *result = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return S_OK;
  }
  HRESULT Fail() override {
    (void)PostErrorInfo(GUID_NULL, u"Korvane.Quantorb.1", u"Error in BSCallPrice: Invalid input parameter(s).");
    return E_FAIL;
  }
  HRESULT FailQuietly() override { return E_INVALIDARG; }
  HRESULT Throw() override { throw std::runtime_error("escaped"); }

  LONG base = 0;
  bool refuse_edit = false;
  std::vector<double> got;
  VARIANT* skew_strikes = nullptr;
  VARIANT* skew_puts = nullptr;
};

// Invokes with the arguments given in declared order; they are reversed as a client does.
struct Invocation {
  HRESULT hr = E_FAIL;
  Variant result;
  EXCEPINFO excep;
  UINT arg_err = 999;
  ~Invocation() {
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
  }
};
void Call(ICalc& object, DISPID id, std::vector<VARIANT> args, Invocation& out,
          WORD flags = DISPATCH_METHOD) {
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params;
  params.rgvarg = reversed.data();
  params.cArgs = static_cast<UINT>(reversed.size());
  out.hr = object.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &out.result, &out.excep, &out.arg_err);
}

TEST(DispGetIDsOfNames, FindsMembersAndParametersIgnoringCase) {
  struct Row {
    std::vector<const char16_t*> names;
    HRESULT hr;
    std::vector<DISPID> ids;
  };
  const Row rows[] = {
      {{u"Price"}, S_OK, {10}},
      {{u"PRICE"}, S_OK, {10}},
      {{u"base"}, S_OK, {1}},
      {{u"Implied", u"maxiter", u"StockPrice"}, S_OK, {17, 2, 0}},
      {{u"Nothing"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN}},
      {{u"Implied", u"Strike"}, DISP_E_UNKNOWNNAME, {17, DISPID_UNKNOWN}},
      {{u"Pric"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(Utf16ToUtf8(row.names[0]));
    std::vector<LPOLESTR> names;
    for (auto* n : row.names) names.push_back(const_cast<LPOLESTR>(n));
    std::vector<DISPID> ids(names.size(), 12345);
    EXPECT_EQ(DispGetIDsOfNames(CalcDescription(), names.data(), static_cast<UINT>(names.size()), ids.data()), row.hr);
    EXPECT_EQ(ids, row.ids);
  }
  DISPID id = 0;
  EXPECT_EQ(DispGetIDsOfNames(CalcDescription(), nullptr, 1, &id), E_POINTER);
}

TEST(DispInvoke, ArgumentsArriveInReverseOrderAndRetvalIsTheResult) {
  Calc calc;
  Invocation call;
  Call(calc, 10, {R8(100), R8(90)}, call);
  ASSERT_EQ(call.hr, S_OK);
  EXPECT_EQ(calc.got, (std::vector<double>{100, 90}));
  EXPECT_EQ(call.result.vt, VT_R8);
  EXPECT_EQ(call.result.dblVal, 10);
}

TEST(DispInvoke, ByReferenceDoublesPassThroughAsPointers) {
  // The calculator passes every double by reference, inputs included.
  Calc calc;
  double spot = 50, call_delta = -999, put_delta = -999;
  Invocation call;
  Call(calc, 12, {RefR8(&spot), RefR8(&call_delta), RefR8(&put_delta)}, call);
  ASSERT_EQ(call.hr, S_OK) << HresultName(call.hr);
  EXPECT_EQ(calc.got, std::vector<double>{50});
  EXPECT_EQ(call_delta, 0.6);
  EXPECT_EQ(put_delta, -0.4);
  EXPECT_EQ(call.result.vt, VT_EMPTY);
}

TEST(DispInvoke, InOutDoublesReadAndWriteTheCallersValues) {
  Calc calc;
  double spot = 1, call_price = 3, vega = 4;
  Invocation call;
  Call(calc, 43, {RefR8(&spot), RefR8(&call_price), I4(1), RefR8(&vega)}, call);
  ASSERT_EQ(call.hr, S_OK);
  EXPECT_EQ(calc.got, (std::vector<double>{1, 3, 1, 4}));
  EXPECT_EQ(call_price, 11);
  EXPECT_EQ(vega, 22);
}

TEST(DispInvoke, OutputsGivenByValueGoToDiscardedTemporaries) {
  Calc calc;
  Invocation call;
  Call(calc, 43, {R8(1), R8(3), I4(0), R8(4)}, call);
  ASSERT_EQ(call.hr, S_OK);
  EXPECT_EQ(calc.got, (std::vector<double>{1, 3, 0, 4})) << "[in, out] temporaries start with the value";
  Invocation outputs_only;
  Call(calc, 12, {R8(1), R8(777), Variant()}, outputs_only);
  EXPECT_EQ(outputs_only.hr, S_OK);
}

TEST(DispInvoke, ReferenceToAVariantReceivesTheOutputAsTheDeclaredType) {
  Calc calc;
  Variant call_delta;  // an empty VARIANT, as a late-bound client declares its outputs
  Variant put_delta(LONG{5});
  Invocation call;
  Call(calc, 12, {R8(1), RefVariant(&call_delta), RefVariant(&put_delta)}, call);
  ASSERT_EQ(call.hr, S_OK);
  EXPECT_EQ(call_delta.vt, VT_R8);
  EXPECT_EQ(call_delta.dblVal, 0.6);
  EXPECT_EQ(put_delta.vt, VT_R8);
  EXPECT_EQ(put_delta.dblVal, -0.4);
}

// An output VARIANT whose old value cannot be released is refused before the call, naming its
// position, rather than silently left holding that value.
TEST(DispInvoke, OutputVariantThatCannotBeClearedIsRefusedUpFront) {
  Calc calc;
  Variant unknown_type;
  unknown_type.vt = 0x21FB;  // VT_ARRAY of a type number the platform does not know
  Variant locked;
  locked.vt = VT_ARRAY | VT_R8;
  locked.parray = SafeArrayCreateVector(VT_R8, 0, 2);
  ASSERT_EQ(SafeArrayLock(locked.parray), S_OK);
  struct {
    const char* what;
    Variant* output;
    HRESULT hr;
  } const rows[] = {{"unknown type", &unknown_type, DISP_E_BADVARTYPE},
                    {"locked array", &locked, DISP_E_ARRAYISLOCKED}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const VARTYPE before = row.output->vt;
    Variant put_delta;
    Invocation call;
    Call(calc, 12, {R8(1), RefVariant(row.output), RefVariant(&put_delta)}, call);
    EXPECT_EQ(call.hr, row.hr);
    EXPECT_EQ(call.arg_err, 1u);  // rgvarg index of CDelta
    EXPECT_EQ(row.output->vt, before);
    EXPECT_TRUE(calc.got.empty()) << "the member must not run";
  }
  ASSERT_EQ(SafeArrayUnlock(locked.parray), S_OK);
  unknown_type.vt = VT_EMPTY;
}

TEST(DispInvoke, InputsAreCoercedToTheDeclaredType) {
  Calc calc;
  VARIANT text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"120.5");
  Invocation call;
  Call(calc, 17, {I4(100), text, R8(2.5)}, call);
  ASSERT_EQ(call.hr, S_OK) << HresultName(call.hr);
  EXPECT_EQ(calc.got, (std::vector<double>{100, 120.5, 2}));  // 2.5 rounds to the even 2
  EXPECT_EQ(std::u16string(text.bstrVal), u"120.5") << "the caller's argument is untouched";
  SysFreeString(text.bstrVal);
}

TEST(DispInvoke, UncoercibleArgumentsNameTheirPosition) {
  Calc calc;
  VARIANT letters;
  letters.vt = VT_BSTR;
  letters.bstrVal = SysAllocString(u"abc");
  double spot = 1;
  LONG wrong_type = 3;
  VARIANT ref_i4;
  ref_i4.vt = VT_BYREF | VT_I4;
  ref_i4.plVal = &wrong_type;
  struct Row {
    const char* name;
    DISPID id;
    std::vector<VARIANT> args;
    HRESULT hr;
    UINT arg_err;  // index within the reversed argument array
  };
  const Row rows[] = {
      {"text for a double", 10, {R8(1), letters}, DISP_E_TYPEMISMATCH, 0},
      {"text for the first double", 10, {letters, R8(1)}, DISP_E_TYPEMISMATCH, 1},
      {"too large for LONG", 17, {R8(1), R8(1), R8(1e12)}, DISP_E_OVERFLOW, 0},
      {"reference to another type", 12, {RefR8(&spot), ref_i4, RefR8(&spot)}, DISP_E_TYPEMISMATCH, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    calc.got.clear();
    Invocation call;
    Call(calc, row.id, row.args, call);
    EXPECT_EQ(call.hr, row.hr) << HresultName(call.hr);
    EXPECT_EQ(call.arg_err, row.arg_err);
    EXPECT_TRUE(calc.got.empty()) << "the member must not run";
  }
  SysFreeString(letters.bstrVal);
}

TEST(DispInvoke, OmittedOptionalScalarsArriveAsZero) {
  Calc calc;
  struct Row {
    const char* name;
    DISPID id;
    std::vector<VARIANT> args;
    std::vector<double> got;
  };
  const Row rows[] = {
      {"trailing optional left out", 17, {R8(1), R8(2)}, {1, 2, 0}},
      {"trailing optional marked missing", 17, {R8(1), R8(2), Missing()}, {1, 2, 0}},
      {"optional in the middle marked missing", 40, {R8(1), Missing(), I4(100)}, {1, 0, 100}},
      {"optional in the middle given", 40, {R8(1), R8(0.03), I4(100)}, {1, 0.03, 100}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Invocation call;
    Call(calc, row.id, row.args, call);
    ASSERT_EQ(call.hr, S_OK) << HresultName(call.hr);
    EXPECT_EQ(calc.got, row.got);
  }
}

TEST(DispInvoke, MissingRequiredArgumentsAndExtraArgumentsAreRefused) {
  Calc calc;
  struct Row {
    const char* name;
    DISPID id;
    std::vector<VARIANT> args;
    HRESULT hr;
  };
  const Row rows[] = {
      {"too few", 10, {R8(1)}, DISP_E_PARAMNOTFOUND},
      {"none", 10, {}, DISP_E_PARAMNOTFOUND},
      {"required marked missing", 10, {Missing(), R8(1)}, DISP_E_PARAMNOTFOUND},
      {"required after an optional left out", 40, {R8(1)}, DISP_E_PARAMNOTFOUND},
      {"one too many", 10, {R8(1), R8(2), R8(3)}, DISP_E_BADPARAMCOUNT},
      {"arguments for none", 70, {R8(1)}, DISP_E_BADPARAMCOUNT},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    calc.got.clear();
    Invocation call;
    Call(calc, row.id, row.args, call);
    EXPECT_EQ(call.hr, row.hr) << HresultName(call.hr);
    EXPECT_TRUE(calc.got.empty());
  }
  Invocation marked;
  Call(calc, 10, {Missing(), R8(1)}, marked);
  EXPECT_EQ(marked.arg_err, 1u) << "the missing marker's position";
}

TEST(DispInvoke, VariantParametersReceiveTheCallersVariantOrNone) {
  Calc calc;
  Variant strikes;
  strikes.vt = VT_ARRAY | VT_R8;
  strikes.parray = SafeArrayCreateVector(VT_R8, 0, 3);
  Variant result_holder;
  std::vector<VARIANT> args = {RefVariant(&strikes), Missing(), RefVariant(&result_holder)};
  Invocation call;
  Call(calc, 19, args, call);
  ASSERT_EQ(call.hr, S_OK);
  EXPECT_EQ(calc.skew_strikes, &strikes) << "a reference to a VARIANT is followed";
  EXPECT_EQ(calc.skew_puts, nullptr) << "an omitted optional VARIANT is no VARIANT at all";
  EXPECT_EQ(result_holder.vt, VT_R8);
  EXPECT_EQ(result_holder.dblVal, 0.3);

  // A VARIANT passed by value is handed over as that very VARIANT.
  VARIANT direct_strikes;
  direct_strikes.vt = VT_ARRAY | VT_R8;
  direct_strikes.parray = strikes.parray;
  std::vector<VARIANT> reversed = {RefVariant(&result_holder), Variant(2.0), direct_strikes};
  DISPPARAMS params;
  params.rgvarg = reversed.data();
  params.cArgs = 3;
  Variant ignored;
  ASSERT_EQ(calc.Invoke(19, IID_NULL, 0, DISPATCH_METHOD, &params, &ignored, nullptr, nullptr), S_OK);
  EXPECT_EQ(calc.skew_strikes, &reversed[2]);
  EXPECT_EQ(calc.skew_puts, &reversed[1]);
}

TEST(DispInvoke, VariantRetvalBecomesTheResult) {
  Calc calc;
  calc.base = 1;
  Variant prices;
  Invocation call;
  Call(calc, 330, {RefVariant(&prices), I4(252)}, call);
  ASSERT_EQ(call.hr, S_OK);
  EXPECT_EQ(calc.got, std::vector<double>{252});
  ASSERT_EQ(call.result.vt, VT_ARRAY | VT_R8);
  LONG lower = 0;
  EXPECT_EQ(SafeArrayGetLBound(call.result.parray, 1, &lower), S_OK);
  EXPECT_EQ(lower, 1);  // the Invocation's Variant frees the array
}

TEST(DispInvoke, TextsGoInAndComeBackOwnedByTheCaller) {
  Calc calc;
  VARIANT text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocStringLen(u"a\0b", 3);
  Invocation call;
  Call(calc, 60, {text}, call);
  ASSERT_EQ(call.hr, S_OK);
  ASSERT_EQ(call.result.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(call.result.bstrVal, SysStringLen(call.result.bstrVal)), std::u16string(u"a\0b!", 4));
  SysFreeString(text.bstrVal);
  Invocation from_number;
  Call(calc, 60, {R8(2.5)}, from_number);
  EXPECT_EQ(std::u16string(from_number.result.bstrVal), u"2.5!");
}

TEST(DispInvoke, PropertiesAreReadAndWrittenByDispid) {
  Calc calc;
  VARIANT value = I4(5);
  DISPID put_id = DISPID_PROPERTYPUT;
  DISPPARAMS put;
  put.rgvarg = &value;
  put.cArgs = 1;
  put.rgdispidNamedArgs = &put_id;
  put.cNamedArgs = 1;
  EXPECT_EQ(calc.Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(calc.base, 5);

  DISPPARAMS none;
  Variant got;
  EXPECT_EQ(calc.Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &got, nullptr, nullptr), S_OK);
  EXPECT_EQ(got.vt, VT_I4);
  EXPECT_EQ(got.lVal, 5);
  Variant got_either;
  EXPECT_EQ(calc.Invoke(1, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, &got_either, nullptr, nullptr), S_OK);
  EXPECT_EQ(got_either.lVal, 5);
  EXPECT_EQ(calc.Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, &got, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);

  DISPPARAMS put_unnamed;
  put_unnamed.rgvarg = &value;
  put_unnamed.cArgs = 1;
  EXPECT_EQ(calc.Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put_unnamed, nullptr, nullptr, nullptr),
            DISP_E_PARAMNOTFOUND);
  calc.refuse_edit = true;
  VARIANT other = I4(9);
  put.rgvarg = &other;
  EXPECT_EQ(calc.Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_FALSE)
      << "a refused edit keeps its own success code";
  EXPECT_EQ(calc.base, 5);
  EXPECT_EQ(calc.Invoke(10, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
}

TEST(DispInvoke, NamedArgumentsSelectParametersByPosition) {
  Calc calc;
  VARIANT args[] = {I4(7), R8(2), R8(1)};  // MaxIter named, then the two positional in reverse
  DISPID names[] = {2};
  DISPPARAMS params;
  params.rgvarg = args;
  params.cArgs = 3;
  params.rgdispidNamedArgs = names;
  params.cNamedArgs = 1;
  Variant result;
  ASSERT_EQ(calc.Invoke(17, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(calc.got, (std::vector<double>{1, 2, 7}));
  names[0] = 9;
  UINT arg_err = 99;
  EXPECT_EQ(calc.Invoke(17, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, &arg_err), DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(arg_err, 0u);
}

TEST(DispInvoke, UnknownDispidAndBadParametersAreRefused) {
  Calc calc;
  DISPPARAMS none;
  EXPECT_EQ(calc.Invoke(999, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(calc.Invoke(10, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), E_INVALIDARG);
  DISPPARAMS inconsistent;
  inconsistent.cArgs = 2;
  EXPECT_EQ(calc.Invoke(10, IID_NULL, 0, DISPATCH_METHOD, &inconsistent, nullptr, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(DispInvoke(nullptr, CalcDescription(), 10, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), E_POINTER);
}

TEST(DispInvoke, FailingMemberFillsExcepinfoFromTheThreadsErrorInformation) {
  Calc calc;
  Invocation call;
  Call(calc, 70, {}, call);
  EXPECT_EQ(call.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(call.excep.scode, E_FAIL);
  EXPECT_EQ(std::u16string(call.excep.bstrSource), u"Korvane.Quantorb.1");
  EXPECT_EQ(std::u16string(call.excep.bstrDescription), u"Error in BSCallPrice: Invalid input parameter(s).");
  ComPtr<IErrorInfo> left;
  EXPECT_EQ(GetErrorInfo(0, left.put()), S_FALSE) << "the error information was consumed";
}

TEST(DispInvoke, FailingMemberWithoutErrorInformationStillReportsItsCode) {
  Calc calc;
  // Stale information from before the call must not be reported as this call's.
  EXPECT_EQ(PostErrorInfo(GUID_NULL, u"old", u"stale"), DISP_E_EXCEPTION);
  Invocation call;
  Call(calc, 71, {}, call);
  EXPECT_EQ(call.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(call.excep.scode, E_INVALIDARG);
  EXPECT_EQ(call.excep.bstrDescription, nullptr);
  EXPECT_EQ(call.excep.bstrSource, nullptr);
}

TEST(DispInvoke, WithoutExcepinfoTheErrorInformationStaysOnTheThread) {
  Calc calc;
  DISPPARAMS none;
  EXPECT_EQ(calc.Invoke(70, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), DISP_E_EXCEPTION);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
  Bstr source;
  EXPECT_EQ(info->GetSource(source.put()), S_OK);
  EXPECT_EQ(source.view(), u"Korvane.Quantorb.1");
}

TEST(DispInvoke, ExceptionsNeverCrossTheDispatchBoundary) {
  Calc calc;
  Invocation call;
  Call(calc, 72, {}, call);
  EXPECT_EQ(call.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(call.excep.scode, E_UNEXPECTED);
}

TEST(MemberDescription, MismatchedDeclarationsAreRejectedWhenBuilt) {
  using namespace param;
  EXPECT_THROW((void)Method<&ICalc::Price>(1, u"Price", {In(u"a"), RetVal(u"r")}), std::invalid_argument);
  EXPECT_THROW((void)Method<&ICalc::Price>(1, u"Price", {Out(u"a"), In(u"b"), RetVal(u"r")}), std::invalid_argument);
  EXPECT_THROW((void)Method<&ICalc::Delta>(1, u"Delta", {In(u"a"), RetVal(u"b"), Out(u"c")}), std::invalid_argument);
  EXPECT_THROW((void)PropertyGet<&ICalc::put_Base>(1, u"Base"), std::invalid_argument);
  const MemberDescription m = Method<&ICalc::Greeks>(43, u"Greeks", {In(u"S"), InOut(u"C"), In(u"D"), InOut(u"V")});
  ASSERT_EQ(m.params.size(), 4u);
  EXPECT_EQ(m.params[0].vt, VT_R8);
  EXPECT_EQ(m.params[1].vt, VT_R8 | VT_BYREF);
  EXPECT_EQ(m.params[2].vt, VT_I2);
  EXPECT_EQ(m.params[3].flags, PARAMFLAG_FIN | PARAMFLAG_FOUT);
}

LibraryDescription CalcLibrary() {
  LibraryDescription lib{.name = u"CALCLib", .libid = {0x5A0E1C00, 0x7D2B, 0x4C11, {0x9E, 0x31, 0x10, 0x22, 0x33, 0x44, 0x55, 0x66}},
                         .major_version = 1, .minor_version = 0, .lcid = 1033, .help = u"Calc library"};
  lib.interfaces.push_back(CalcDescription());
  InterfaceDescription events{.name = u"_ICalcEvents", .iid = kIidCalcEvents, .help = u"events"};
  events.members.push_back(DescribedMethod(1, u"Done",
                                           {{u"LastMethod", VT_I2, PARAMFLAG_FIN},
                                            {u"ErrorCode", VT_I2, PARAMFLAG_FIN},
                                            {u"ErrorString", VT_BSTR, PARAMFLAG_FIN}},
                                           u"method Done"));
  lib.interfaces.push_back(events);
  lib.coclasses.push_back({.name = u"Calc", .clsid = kClsidCalc, .help = u"Calc class",
                           .interfaces = {{kIidCalc, IMPLTYPEFLAG_FDEFAULT},
                                          {kIidCalcEvents, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}}});
  return lib;
}

TEST(TypeLibFromDescription, DescribesLibraryInterfacesAndClass) {
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(CreateTypeLibFromDescription(CalcLibrary(), lib.put()), S_OK);
  EXPECT_EQ(lib->GetTypeInfoCount(), 3u);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(attr->lcid, 1033u);
  EXPECT_EQ(attr->wMajorVerNum, 1);
  lib->ReleaseTLibAttr(attr);
  Bstr name, doc;
  ASSERT_EQ(lib->GetDocumentation(-1, name.put(), doc.put(), nullptr, nullptr), S_OK);
  EXPECT_EQ(name.view(), u"CALCLib");
  EXPECT_EQ(doc.view(), u"Calc library");

  ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(kClsidCalc, coclass.put()), S_OK);
  TYPEATTR* type = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&type), S_OK);
  EXPECT_EQ(type->typekind, TKIND_COCLASS);
  EXPECT_EQ(type->cImplTypes, 2);
  coclass->ReleaseTypeAttr(type);
  INT flags = 0;
  ASSERT_EQ(coclass->GetImplTypeFlags(1, &flags), S_OK);
  EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
  HREFTYPE ref = 0;
  ASSERT_EQ(coclass->GetRefTypeOfImplType(1, &ref), S_OK);
  ComPtr<ITypeInfo> events;
  ASSERT_EQ(coclass->GetRefTypeInfo(ref, events.put()), S_OK);
  ASSERT_EQ(events->GetDocumentation(1, name.put(), doc.put(), nullptr, nullptr), S_OK);
  EXPECT_EQ(name.view(), u"Done");
  EXPECT_EQ(doc.view(), u"method Done");
  EXPECT_EQ(coclass->GetRefTypeOfImplType(2, &ref), TYPE_E_ELEMENTNOTFOUND);

  ComPtr<ITypeLib> containing;
  UINT index = 99;
  ASSERT_EQ(events->GetContainingTypeLib(containing.put(), &index), S_OK);
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(containing.get(), lib.get());

  LibraryDescription broken = CalcLibrary();
  broken.interfaces.pop_back();
  ComPtr<ITypeLib> refused;
  EXPECT_EQ(CreateTypeLibFromDescription(broken, refused.put()), E_INVALIDARG);
}

TEST(TypeInfoFromDescription, DescribesMembersAndDispatchesThroughInvoke) {
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(CreateTypeInfoFromDescription(CalcDescription(), info.put()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, kIidCalc);
  EXPECT_EQ(attr->cFuncs, CalcDescription().members.size());
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
  info->ReleaseTypeAttr(attr);

  FUNCDESC* f = nullptr;
  ASSERT_EQ(info->GetFuncDesc(3, &f), S_OK);  // Delta
  EXPECT_EQ(f->memid, 12);
  EXPECT_EQ(f->invkind, INVOKE_FUNC);
  ASSERT_EQ(f->cParams, 3);
  EXPECT_EQ(f->lprgelemdescParam[0].tdesc.vt, VT_R8);
  EXPECT_EQ(f->lprgelemdescParam[1].tdesc.vt, VT_PTR);
  EXPECT_EQ(f->lprgelemdescParam[1].tdesc.lptdesc->vt, VT_R8);
  EXPECT_EQ(f->lprgelemdescParam[1].paramdesc.wParamFlags, PARAMFLAG_FOUT);
  EXPECT_EQ(f->oVft, static_cast<SHORT>((7 + 3) * sizeof(void*)));
  info->ReleaseFuncDesc(f);
  EXPECT_EQ(info->GetFuncDesc(100, &f), TYPE_E_ELEMENTNOTFOUND);

  BSTR names[5] = {};
  UINT count = 0;
  ASSERT_EQ(info->GetNames(17, names, 5, &count), S_OK);
  ASSERT_EQ(count, 5u);
  EXPECT_EQ(std::u16string(names[0]), u"Implied");
  EXPECT_EQ(std::u16string(names[3]), u"MaxIter");
  for (BSTR n : names) SysFreeString(n);

  Calc calc;
  VARIANT args[] = {R8(90), R8(100)};
  DISPPARAMS params;
  params.rgvarg = args;
  params.cArgs = 2;
  Variant result;
  ASSERT_EQ(info->Invoke(static_cast<ICalc*>(&calc), 10, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.dblVal, 10);
  LPOLESTR name = const_cast<LPOLESTR>(u"price");
  DISPID id = 0;
  EXPECT_EQ(DispGetIDsOfNames(info.get(), &name, 1, &id), S_OK);
  EXPECT_EQ(id, 10);
}

}  // namespace
}  // namespace kx::platform
