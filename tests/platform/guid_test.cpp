#include "kx/platform/guid.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>

#include "kx/platform/hresult.h"
#include "kx/platform/interfaces.h"

namespace kx::platform {
namespace {

TEST(ParseGuid, ReadsTheRegistryFormInEitherCase) {
  const GUID expected{0x7C41E2A1, 0x3B95, 0x4D6E, {0xA1, 0xF8, 0x62, 0xD0, 0xB9, 0x4C, 0x5E, 0x17}};
  EXPECT_EQ(ParseGuid("{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17}"), expected);
  EXPECT_EQ(ParseGuid("{7c41e2a1-3b95-4d6e-a1f8-62d0b94c5e17}"), expected);
}

TEST(ParseGuid, RejectsMalformedText) {
  const char* rows[] = {
      "",
      "7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17",     // no braces
      "{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17",    // no closing brace
      "{7C41E2A13B95-4D6E-A1F8-62D0B94C5E17-}",   // dash moved
      "{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E1G}",   // not hex
      "{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E1}",    // short
      "{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E177}",  // long
      "{+C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17}",   // sign is not a digit
      "{ 7C41E2A-3B95-4D6E-A1F8-62D0B94C5E17}",   // blank is not a digit
  };
  for (const char* text : rows) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(ParseGuid(text).has_value());
  }
}

TEST(FormatGuid, WritesUpperCaseWithBracesAndRoundTrips) {
  EXPECT_EQ(FormatGuid(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");
  EXPECT_EQ(FormatGuid(IID_IConnectionPointContainer), "{B196B284-BAB4-101A-B69C-00AA00341D07}");
  EXPECT_EQ(FormatGuid(GUID_NULL), "{00000000-0000-0000-0000-000000000000}");
  const GUID g{0xFEDCBA98, 0x7654, 0x3210, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
  EXPECT_EQ(ParseGuid(FormatGuid(g)), g);
}

TEST(StandardIids, KeepTheirWellKnownValues) {
  struct Row {
    const IID& iid;
    const char* text;
  };
  const Row rows[] = {
      {IID_IUnknown, "{00000000-0000-0000-C000-000000000046}"},
      {IID_IClassFactory, "{00000001-0000-0000-C000-000000000046}"},
      {IID_IStream, "{0000000C-0000-0000-C000-000000000046}"},
      {IID_IStorage, "{0000000B-0000-0000-C000-000000000046}"},
      {IID_IPersistStorage, "{0000010A-0000-0000-C000-000000000046}"},
      {IID_IPersistStreamInit, "{7FD52380-4E07-101B-AE2D-08002B2EC713}"},
      {IID_IPersistPropertyBag, "{37D84F60-42CB-11CE-8135-00AA004BB851}"},
      {IID_IPropertyBag, "{55272A00-42CB-11CE-8135-00AA004BB851}"},
      {IID_IErrorInfo, "{1CF2B120-547D-101B-8E65-08002B2BD119}"},
      {IID_ICreateErrorInfo, "{22F03340-547D-101B-8E65-08002B2BD119}"},
      {IID_ISupportErrorInfo, "{DF0B3D60-548F-101B-8E65-08002B2BD119}"},
      {IID_IConnectionPoint, "{B196B286-BAB4-101A-B69C-00AA00341D07}"},
      {IID_IPropertyNotifySink, "{9BFBBC02-EFF1-101A-84ED-00AA00341D07}"},
      {IID_IProvideClassInfo2, "{A6BC3AC0-DBAA-11CE-9DE3-00AA004BB851}"},
      {IID_IViewObjectEx, "{3AF24292-0C96-11CE-A0CF-00AA00600AB8}"},
      {IID_IOleInPlaceObjectWindowless, "{1C2056CC-5EF4-101B-8BC8-00AA003E3B29}"},
      {IID_IQuickActivate, "{CF51ED10-62FE-11CF-BF86-00A0C9034836}"},
      {IID_IOleControl, "{B196B288-BAB4-101A-B69C-00AA00341D07}"},
  };
  std::set<std::string> seen;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(FormatGuid(row.iid), row.text);
    EXPECT_TRUE(seen.insert(row.text).second) << "duplicate identifier";
  }
}

TEST(HresultName, NamesKnownCodesAndFormatsOthers) {
  struct Row {
    HRESULT hr;
    const char* name;
  };
  const Row rows[] = {
      {S_OK, "S_OK"}, {S_FALSE, "S_FALSE"}, {E_FAIL, "E_FAIL"}, {E_POINTER, "E_POINTER"},
      {E_INVALIDARG, "E_INVALIDARG"}, {DISP_E_BADINDEX, "DISP_E_BADINDEX"},
      {DISP_E_EXCEPTION, "DISP_E_EXCEPTION"}, {DISP_E_ARRAYISLOCKED, "DISP_E_ARRAYISLOCKED"},
      {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG"}, {STG_E_ACCESSDENIED, "STG_E_ACCESSDENIED"},
      {MakeHresult(0x8007007E), "HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)"},
      {MakeHresult(0x80070057), "E_INVALIDARG"},  // the wrapped ERROR_INVALID_PARAMETER keeps its own name
      {MakeHresult(0x80001234), "0x80001234"}, {42, "0x0000002A"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_STREQ(HresultName(row.hr), row.name);
  }
}

TEST(HresultName, FormattedTextsDoNotChangeUnderAnotherThread) {
  const char* mine = HresultName(MakeHresult(0x80001111));
  std::string theirs;
  std::thread other([&] { theirs = HresultName(MakeHresult(0x80002222)); });
  other.join();
  EXPECT_STREQ(mine, "0x80001111");
  EXPECT_EQ(theirs, "0x80002222");
}

}  // namespace
}  // namespace kx::platform
