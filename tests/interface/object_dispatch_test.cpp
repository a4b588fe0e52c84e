// Late binding to KvQuantorb through the type library: names, DISPIDs, documentation, calls by
// name with reference values and failures, and the Done event through the connection point.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "kx/platform/typeinfo.h"
#include "object_test_support.h"

namespace kx::component::object_test {
namespace {

using namespace kx::platform;

using Dispatch = RegisteredModuleTest;

TEST_F(Dispatch, NamesMapToTheirDispids) {
  ComPtr<IDispatch> object = Create();
  const std::pair<const char16_t*, DISPID> kNames[] = {{u"Base", 1},
                                                       {u"BlockingMode", 2},
                                                       {u"BSCallPrice", 10},
                                                       {u"BSPutPrice", 11},
                                                       {u"BSDelta", 12},
                                                       {u"BSTheta", 13},
                                                       {u"BSGamma", 14},
                                                       {u"BSVega", 15},
                                                       {u"BSRho", 16},
                                                       {u"BSImpliedVolatility", 17},
                                                       {u"BSImpliedVolatilityPut", 18},
                                                       {u"BSImpliedVolatilitySkew", 19},
                                                       {u"BinCallPrice", 40},
                                                       {u"BinPutPrice", 41},
                                                       {u"BinPrice", 42},
                                                       {u"BinPriceGreeks", 43},
                                                       {u"BinDelta", 44},
                                                       {u"BinTheta", 45},
                                                       {u"BinGamma", 46},
                                                       {u"BinVega", 47},
                                                       {u"BinRho", 48},
                                                       {u"BinImpliedVolatility", 49},
                                                       {u"BinImpliedVolatilityPut", 50},
                                                       {u"BinImpliedVolatilitySkew", 51},
                                                       {u"BinCallDelta", 52},
                                                       {u"BinPutDelta", 53},
                                                       {u"BJECallPrice", 120},
                                                       {u"BJEPutPrice", 121},
                                                       {u"BJEDelta", 122},
                                                       {u"BJETheta", 123},
                                                       {u"BJEGamma", 124},
                                                       {u"BJEVega", 125},
                                                       {u"BJERho", 126},
                                                       {u"BJEImpliedVolatility", 127},
                                                       {u"BJEImpliedVolatilityPut", 128},
                                                       {u"BJEImpliedVolatilitySkew", 129},
                                                       {u"HistoricalVolatility", 330},
                                                       {u"HistoricalVolatility1", 331},
                                                       {u"Abort", 500},
                                                       {u"About", -552},
                                                       {u"bscallprice", 10}};
  for (const auto& [name, dispid] : kNames) {
    SCOPED_TRACE(Utf16ToUtf8(name));
    EXPECT_EQ(IdOf(object.get(), name), dispid);
  }
  std::u16string unknown = u"BSCallPrices";
  LPOLESTR names[1] = {OleText(unknown.data())};
  DISPID id = 0;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id),
            DISP_E_UNKNOWNNAME);
  EXPECT_EQ(object->GetIDsOfNames(IID_IKvQuantorb, names, 1, LOCALE_USER_DEFAULT, &id),
            DISP_E_UNKNOWNINTERFACE);
}

TEST_F(Dispatch, ParameterNamesComeFromTheTypeLibrary) {
  ComPtr<IDispatch> object = Create();
  std::u16string member = u"BJEImpliedVolatility", a = u"CallValue", b = u"MaxIter",
                 c = u"ForeignInterestRate";
  LPOLESTR names[] = {OleText(member.data()), OleText(a.data()), OleText(b.data()),
                      OleText(c.data())};
  DISPID ids[4] = {};
  ASSERT_EQ(object->GetIDsOfNames(IID_NULL, names, 4, LOCALE_USER_DEFAULT, ids), S_OK);
  EXPECT_EQ(ids[0], 127);
  EXPECT_EQ(ids[1], 7);
  EXPECT_EQ(ids[2], 8);
  EXPECT_EQ(ids[3], 6);
}

TEST_F(Dispatch, TypeInformationDescribesEveryMember) {
  ComPtr<IDispatch> object = Create();
  UINT count = 0;
  ASSERT_EQ(object->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
  ComPtr<ITypeInfo> none;
  EXPECT_EQ(object->GetTypeInfo(1, LOCALE_USER_DEFAULT, none.put()), DISP_E_BADINDEX);

  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, IID_IKvQuantorb);
  EXPECT_EQ(attr->cFuncs, 42);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
  const WORD functions = attr->cFuncs;
  info->ReleaseTypeAttr(attr);

  // Optional parameters: MaxIter in 9 methods, ForeignInterestRate in 24, and the two of
  // BinImpliedVolatilitySkew; none has a default value.
  int max_iter = 0, foreign_rate = 0, others = 0;
  for (UINT i = 0; i < functions; ++i) {
    FUNCDESC* f = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &f), S_OK);
    BSTR names[32] = {};
    UINT got = 0;
    ASSERT_EQ(info->GetNames(f->memid, names, 32, &got), S_OK);
    for (SHORT p = 0; p < f->cParams; ++p) {
      const USHORT flags = f->lprgelemdescParam[p].paramdesc.wParamFlags;
      EXPECT_FALSE(flags & PARAMFLAG_FHASDEFAULT);
      if (!(flags & PARAMFLAG_FOPT)) continue;
      const std::string name = p + 1 < static_cast<SHORT>(got) ? BstrToUtf8(names[p + 1]) : "";
      if (name == "MaxIter")
        ++max_iter;
      else if (name == "ForeignInterestRate")
        ++foreign_rate;
      else
        ++others;
    }
    for (UINT n = 0; n < got; ++n) SysFreeString(names[n]);
    info->ReleaseFuncDesc(f);
  }
  EXPECT_EQ(max_iter, 9);
  EXPECT_EQ(foreign_rate, 24);
  EXPECT_EQ(others, 2);

  const std::pair<DISPID, const char*> kDocs[] = {
      {10,
       "Computes the Black-Scholes call price for a European stock option using the values "
       "supplied to the method."},
      {41, "Computes the Binomial put prices for an option ."},
      {12, "Computes Delta for a European stockoption using the Black-Scholes method."},
      {500, "Abort the current operation."},
      {-552, "Displays an About Box for the control."},
      {331,
       "Computes the historical volatility using the supplied raw price data. The input "
       "TradingDays, is the number of trading days to use (eg calendar days = 355, trading days = "
       "252)."},
  };
  for (const auto& [dispid, text] : kDocs) {
    SCOPED_TRACE(dispid);
    Bstr doc;
    ASSERT_EQ(info->GetDocumentation(dispid, nullptr, doc.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(doc.Utf8(), text);
  }
}

TEST_F(Dispatch, ClassInformationNamesTheEventInterface) {
  ComPtr<IDispatch> object = Create();
  auto info2 = object.As<IProvideClassInfo2>();
  ASSERT_TRUE(info2);
  GUID source = GUID_NULL;
  EXPECT_EQ(info2->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
  EXPECT_EQ(source, DIID__IKvQuantorbEvents);
  EXPECT_EQ(info2->GetGUID(7, &source), E_INVALIDARG);
  ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(info2->GetClassInfo(coclass.put()), S_OK);
  Bstr name, doc;
  ASSERT_EQ(coclass->GetDocumentation(MEMBERID_NIL, name.put(), doc.put(), nullptr, nullptr), S_OK);
  EXPECT_EQ(name.Utf8(), "KvQuantorb");
  EXPECT_EQ(doc.Utf8(), "= Brambleton Varnix Control");
  INT flags = 0;
  ASSERT_EQ(coclass->GetImplTypeFlags(1, &flags), S_OK);
  EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
}

// Reference values: the generalised Black-Scholes formula with the A&S 26.2.17 N(x), 10 decimals.
TEST_F(Dispatch, PricesByNameMatchReferenceValues) {
  ComPtr<IDispatch> object = Create();
  const std::vector<VARIANT> market = {R8(100), R8(100), R8(0.05), R8(1), R8(0.2), R8(0)};
  CallResult call = CallByName(object.get(), u"BSCallPrice", market);
  ASSERT_EQ(call.hr, S_OK);
  ASSERT_EQ(call.value.vt, VT_R8);
  EXPECT_NEAR(call.value.dblVal, 10.4505756193, 1e-9);
  CallResult put = CallByName(object.get(), u"BSPutPrice", market);
  ASSERT_EQ(put.hr, S_OK);
  EXPECT_NEAR(put.value.dblVal, 5.5735180694, 1e-9);

  // Outputs by reference.
  double c_delta = 0, p_delta = 0;
  std::vector<VARIANT> args = market;
  args.push_back(RefR8(&c_delta));
  args.push_back(RefR8(&p_delta));
  ASSERT_EQ(CallByName(object.get(), u"BSDelta", args).hr, S_OK);
  EXPECT_NEAR(c_delta - p_delta, 1.0, 1e-12) << "put-call parity of deltas with q = 0";
  EXPECT_GT(c_delta, 0.5);
}

TEST_F(Dispatch, OmittedMaxIterTakesTheDefault) {
  ComPtr<IDispatch> object = Create();
  const std::vector<VARIANT> base = {R8(100), R8(100), R8(0.05), R8(1), R8(0), R8(10.4505756193)};
  struct Row {
    const char* what;
    std::vector<VARIANT> extra;
    double expected;
  };
  const Row rows[] = {{"left out", {}, 0.2000000328},
                      {"marked missing", {Missing()}, 0.2000000328},
                      {"zero", {I4(0)}, 0.2000000328},
                      {"five", {I4(5)}, 1.5625}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    std::vector<VARIANT> args = base;
    args.insert(args.end(), r.extra.begin(), r.extra.end());
    CallResult result = CallByName(object.get(), u"BSImpliedVolatility", args);
    ASSERT_EQ(result.hr, S_OK);
    EXPECT_NEAR(result.value.dblVal, r.expected, 1e-9);
  }
}

TEST_F(Dispatch, FailureReachesTheCallerAsException) {
  ComPtr<IDispatch> object = Create();
  double c_delta = 0, p_delta = 0;
  CallResult r = CallByName(
      object.get(), u"BSDelta",
      {R8(0), R8(100), R8(0.05), R8(1), R8(0.2), R8(0), RefR8(&c_delta), RefR8(&p_delta)});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.scode, E_FAIL);
  EXPECT_EQ(r.source, "Korvane.Quantorb.1");
  EXPECT_EQ(r.description, "Error in BSDelta: Invalid input parameter(s).");
  EXPECT_EQ(c_delta, -999.0);
  EXPECT_EQ(p_delta, -999.0);
}

TEST_F(Dispatch, ArgumentFaultsNameTheirPosition) {
  ComPtr<IDispatch> object = Create();
  VARIANT text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"abc");
  CallResult mismatch =
      CallByName(object.get(), u"BSCallPrice", {R8(100), text, R8(0.05), R8(1), R8(0.2), R8(0)});
  SysFreeString(text.bstrVal);
  EXPECT_EQ(mismatch.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(mismatch.arg_err, 4u) << "rgvarg index of ExercisePrice";
  EXPECT_EQ(CallByName(object.get(), u"BSCallPrice", {R8(100), R8(100)}).hr, DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(CallByName(object.get(), u"Abort", {R8(1)}).hr, DISP_E_BADPARAMCOUNT);
}

TEST_F(Dispatch, DoneArrivesOncePerCallThroughTheConnectionPoint) {
  ComPtr<IDispatch> object = Create();
  DoneRecorder first, second;
  {
    EventConnection a(object.get(), &first);
    EventConnection b(object.get(), &second);
    ASSERT_EQ(a.hr(), S_OK);
    ASSERT_EQ(b.hr(), S_OK);
    EXPECT_EQ(CallByName(object.get(), u"BSCallPrice",
                         {R8(100), R8(100), R8(0.05), R8(1), R8(0.2), R8(0)})
                  .hr,
              S_OK);
    EXPECT_EQ(
        CallByName(object.get(), u"BSCallPrice", {R8(0), R8(100), R8(0.05), R8(1), R8(0.2), R8(0)})
            .hr,
        DISP_E_EXCEPTION);
  }
  // Disconnected: no further events.
  EXPECT_EQ(
      CallByName(object.get(), u"BSPutPrice", {R8(100), R8(100), R8(0.05), R8(1), R8(0.2), R8(0)})
          .hr,
      S_OK);
  for (DoneRecorder* sink : {&first, &second}) {
    EXPECT_TRUE(sink->faults.empty()) << sink->faults.front();
    ASSERT_EQ(sink->events.size(), 2u);
    EXPECT_EQ(sink->events[0].last_method, 2);
    EXPECT_EQ(sink->events[0].error_code, 0);
    EXPECT_EQ(sink->events[0].error_string, "No Error");
    EXPECT_EQ(sink->events[1].error_code, 6010);
    EXPECT_EQ(sink->events[1].error_string, "Argument error: Invalid input parameter(s).");
    EXPECT_EQ(sink->references_, 0u) << "the object released the sink";
  }
}

TEST_F(Dispatch, ContainerOffersOneConnectionPoint) {
  ComPtr<IDispatch> object = Create();
  auto container = object.As<IConnectionPointContainer>();
  ASSERT_TRUE(container);
  ComPtr<IEnumConnectionPoints> points;
  ASSERT_EQ(container->EnumConnectionPoints(points.put()), S_OK);
  IConnectionPoint* got[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(points->Next(2, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  IID iid = GUID_NULL;
  EXPECT_EQ(got[0]->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, DIID__IKvQuantorbEvents);
  ComPtr<IConnectionPointContainer> back;
  EXPECT_EQ(got[0]->GetConnectionPointContainer(back.put()), S_OK);
  EXPECT_EQ(back.get(), container.get());
  got[0]->Release();

  ComPtr<IConnectionPoint> none;
  EXPECT_EQ(container->FindConnectionPoint(IID_IPropertyNotifySink, none.put()),
            CONNECT_E_NOCONNECTION);

  // A sink that does not implement the event interface cannot connect.
  DoneRecorder stranger(/*answers_events_iid=*/false);
  EventConnection refused(object.get(), &stranger);
  EXPECT_EQ(refused.hr(), CONNECT_E_CANNOTCONNECT);
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(DIID__IKvQuantorbEvents, point.put()), S_OK);
  EXPECT_EQ(point->Unadvise(12345), CONNECT_E_NOCONNECTION);
}

TEST_F(Dispatch, EventPointEnumeratesItsConnectionsAndNeverReusesACookie) {
  ComPtr<IDispatch> object = Create();
  auto container = object.As<IConnectionPointContainer>();
  ASSERT_TRUE(container);
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(DIID__IKvQuantorbEvents, point.put()), S_OK);
  DoneRecorder first, second, third;
  DWORD cookies[3] = {};
  ASSERT_EQ(point->Advise(&first, &cookies[0]), S_OK);
  ASSERT_EQ(point->Advise(&second, &cookies[1]), S_OK);
  ASSERT_EQ(point->Unadvise(cookies[0]), S_OK);
  // The emptied slot takes the next sink under a new cookie, so a stale cookie names nothing.
  ASSERT_EQ(point->Advise(&third, &cookies[2]), S_OK);
  EXPECT_NE(cookies[2], cookies[0]);
  EXPECT_EQ(point->Unadvise(cookies[0]), CONNECT_E_NOCONNECTION);

  ComPtr<IEnumConnections> connections;
  ASSERT_EQ(point->EnumConnections(connections.put()), S_OK);
  CONNECTDATA got[3] = {};
  ULONG fetched = 0;
  EXPECT_EQ(connections->Next(3, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  // Connection order, which Done follows too: the reused first slot comes first.
  EXPECT_EQ(got[0].pUnk, static_cast<IDispatch*>(&third));
  EXPECT_EQ(got[0].dwCookie, cookies[2]);
  EXPECT_EQ(got[1].pUnk, static_cast<IDispatch*>(&second));
  EXPECT_EQ(got[1].dwCookie, cookies[1]);
  for (ULONG i = 0; i < fetched; ++i) got[i].pUnk->Release();
  connections = nullptr;

  EXPECT_EQ(point->Unadvise(cookies[1]), S_OK);
  EXPECT_EQ(point->Unadvise(cookies[2]), S_OK);
  for (DoneRecorder* sink : {&first, &second, &third}) {
    EXPECT_EQ(sink->references_, 0u) << "the point and the enumerator released the sink";
  }
}

}  // namespace
}  // namespace kx::component::object_test
