// The shared layout of late-bound calls (kxauto's and the Python client's CallFrame).
#include "call_frame.h"

#include <gtest/gtest.h>

#include "kx/platform/errorinfo.h"

namespace kx::kxauto {
namespace {

using namespace kx::platform;

ParamInfo P(const char* name, VARTYPE vt, USHORT flags) { return {name, vt, flags}; }

std::vector<ParamInfo> Signature() {
  return {P("A", VT_R8, PARAMFLAG_FIN), P("Opt", VT_I4, PARAMFLAG_FIN | PARAMFLAG_FOPT),
          P("Out", VT_R8 | VT_BYREF, PARAMFLAG_FOUT),
          P("Tail", VT_VARIANT | VT_BYREF, PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FOPT),
          P("Result", VT_R8 | VT_BYREF, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)};
}

TEST(CallFrame, PassesUpToTheLastArgumentInReverseOrderWithGapsOmitted) {
  CallFrame frame(Signature());
  ASSERT_TRUE(frame.Pass(0, Variant(2.5)));
  ASSERT_TRUE(frame.ProvideOutput(2));
  DISPPARAMS* params = frame.Params(false);
  ASSERT_EQ(params->cArgs, 3u);  // Tail omitted at the end, the retval never passed
  EXPECT_EQ(params->cNamedArgs, 0u);
  EXPECT_EQ(params->rgvarg[2].vt, VT_R8);
  EXPECT_EQ(params->rgvarg[2].dblVal, 2.5);
  EXPECT_EQ(params->rgvarg[1].vt, VT_ERROR);
  EXPECT_EQ(params->rgvarg[1].scode, DISP_E_PARAMNOTFOUND);
  ASSERT_EQ(params->rgvarg[0].vt, VT_R8 | VT_BYREF);
  *params->rgvarg[0].pdblVal = 7.25;  // what a member writes through the pointer
  EXPECT_EQ(frame.Value(2).vt, VT_R8);
  EXPECT_EQ(frame.Value(2).dblVal, 7.25);
  // arg_err counts rgvarg, so 0 is the last argument passed.
  EXPECT_EQ(frame.ParamAt(0), 2u);
  EXPECT_EQ(frame.ParamAt(2), 0u);
  EXPECT_EQ(frame.ParamAt(3), std::nullopt);
  EXPECT_EQ(frame.Retval(), 4u);
  EXPECT_TRUE(frame.Passed(0));
  EXPECT_FALSE(frame.Passed(1));
}

TEST(CallFrame, ByReferenceValuesTakeTheDeclaredTypeOrAreRefused) {
  CallFrame frame({P("Ref", VT_R8 | VT_BYREF, PARAMFLAG_FIN | PARAMFLAG_FOUT)});
  ASSERT_TRUE(frame.Pass(0, Variant(LONG{3})));
  EXPECT_EQ(frame.Value(0).vt, VT_R8);
  EXPECT_EQ(frame.Value(0).dblVal, 3.0);
  Variant text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocStringUtf8("not a number");
  EXPECT_FALSE(frame.Pass(0, std::move(text)));
  EXPECT_FALSE(frame.Passed(0));
  EXPECT_EQ(frame.Params(false)->cArgs, 0u);
}

TEST(CallFrame, OutputStorageHoldsTheDeclaredTypesZero) {
  struct Row {
    VARTYPE declared;
    VARTYPE held;
  };
  const Row rows[] = {{VT_R8, VT_R8},     {VT_I4, VT_I4},         {VT_I2, VT_I2},
                      {VT_BSTR, VT_BSTR}, {VT_VARIANT, VT_EMPTY}, {VT_BOOL, VT_BOOL}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.declared);
    CallFrame frame({P("Out", static_cast<VARTYPE>(row.declared | VT_BYREF), PARAMFLAG_FOUT)});
    ASSERT_TRUE(frame.ProvideOutput(0));
    EXPECT_EQ(frame.Value(0).vt, row.held);
    EXPECT_EQ(frame.Value(0).llVal, 0);
    EXPECT_EQ(frame.Params(false)->rgvarg[0].vt, row.declared | VT_BYREF);
  }
}

TEST(CallFrame, PropertyPutNamesItsOneArgument) {
  CallFrame frame({P("Value", VT_I4, PARAMFLAG_FIN)});
  ASSERT_TRUE(frame.Pass(0, Variant(LONG{1})));
  DISPPARAMS* params = frame.Params(true);
  ASSERT_EQ(params->cNamedArgs, 1u);
  EXPECT_EQ(params->rgdispidNamedArgs[0], DISPID_PROPERTYPUT);
}

TEST(ReadOutcome, TakesTheExceptionsCodeAndTextsOrTheThreadsErrorInformation) {
  EXCEPINFO excep;
  excep.scode = E_INVALIDARG;
  excep.bstrSource = SysAllocStringUtf8("Source");
  excep.bstrDescription = SysAllocStringUtf8("Why");
  CallOutcome thrown = ReadOutcome(DISP_E_EXCEPTION, &excep);
  EXPECT_EQ(thrown.dispatch_hr, DISP_E_EXCEPTION);
  EXPECT_EQ(thrown.member_hr, E_INVALIDARG);
  EXPECT_EQ(thrown.source, "Source");
  EXPECT_EQ(thrown.description, "Why");
  EXPECT_EQ(excep.bstrSource, nullptr);  // freed and cleared

  ASSERT_EQ(PostErrorInfo(IID_NULL, u"Poster", u"Posted"), DISP_E_EXCEPTION);
  EXCEPINFO empty;
  CallOutcome posted = ReadOutcome(E_FAIL, &empty);
  EXPECT_EQ(posted.member_hr, E_FAIL);
  EXPECT_TRUE(posted.has_error_info);
  EXPECT_EQ(posted.description, "Posted");

  CallOutcome quiet = ReadOutcome(S_OK, &empty);
  EXPECT_FALSE(quiet.has_error_info);
  EXPECT_EQ(quiet.source, std::nullopt);
}

}  // namespace
}  // namespace kx::kxauto
