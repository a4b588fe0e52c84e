#include "kx/platform/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "core_test_objects.h"

namespace kx::platform {
namespace {

using test_support::ValueObject;

VARIANT Text(std::u16string_view text) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return v;
}

SAFEARRAY* Vector(std::initializer_list<double> values) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_R8, 0, static_cast<ULONG>(values.size()));
  double* data = nullptr;
  EXPECT_EQ(SafeArrayAccessData(psa, reinterpret_cast<void**>(&data)), S_OK);
  for (double v : values) *data++ = v;
  EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
  return psa;
}

TEST(VariantClear, FreesOwnedValuesAndEmptiesTheVariant) {
  VARIANT text = Text(u"owned");
  EXPECT_EQ(VariantClear(&text), S_OK);  // a leak or a double free shows under AddressSanitizer
  EXPECT_EQ(text.vt, VT_EMPTY);

  VARIANT array;
  array.vt = VT_ARRAY | VT_R8;
  array.parray = Vector({1, 2, 3});
  EXPECT_EQ(VariantClear(&array), S_OK);
  EXPECT_EQ(array.vt, VT_EMPTY);

  ValueObject object;
  object.AddRef();
  VARIANT held;
  held.vt = VT_DISPATCH;
  held.pdispVal = &object;
  EXPECT_EQ(VariantClear(&held), S_OK);
  EXPECT_EQ(object.refs(), 1u) << "the VARIANT's reference was not released";
}

TEST(VariantClear, NeverFreesWhatAReferencePointsAt) {
  BSTR text = SysAllocString(u"caller's");
  double number = 2.5;
  ValueObject object;
  IDispatch* object_ptr = &object;
  SAFEARRAY* array = Vector({4});
  struct Row {
    const char* name;
    VARTYPE vt;
    void* target;
  };
  const Row rows[] = {
      {"bstr", VT_BYREF | VT_BSTR, &text},
      {"double", VT_BYREF | VT_R8, &number},
      {"dispatch", VT_BYREF | VT_DISPATCH, &object_ptr},
      {"array", VT_BYREF | VT_ARRAY | VT_R8, &array},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    VARIANT ref;
    ref.vt = row.vt;
    ref.byref = row.target;
    EXPECT_EQ(VariantClear(&ref), S_OK);
    EXPECT_EQ(ref.vt, VT_EMPTY);
  }
  EXPECT_EQ(std::u16string(text), u"caller's");
  EXPECT_EQ(number, 2.5);
  EXPECT_EQ(object.refs(), 1u);
  EXPECT_EQ(SafeArrayGetDim(array), 1u);
  SysFreeString(text);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(VariantClear, RefusesBadTypesAndLockedArrays) {
  VARIANT bad;
  bad.vt = 0x0FFF;
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  bad.vt = VT_VARIANT;  // a VARIANT cannot hold a VARIANT except by reference
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);

  VARIANT array;
  array.vt = VT_ARRAY | VT_R8;
  array.parray = Vector({1});
  ASSERT_EQ(SafeArrayLock(array.parray), S_OK);
  EXPECT_EQ(VariantClear(&array), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(array.vt, VT_ARRAY | VT_R8) << "a refused clear must leave the array in place";
  ASSERT_EQ(SafeArrayUnlock(array.parray), S_OK);
  EXPECT_EQ(VariantClear(&array), S_OK);
}

TEST(VariantCopy, CopiesDeeplyButReferencesShallowly) {
  VARIANT text = Text(std::u16string(u"a\0b", 3));
  Variant copy;
  ASSERT_EQ(VariantCopy(&copy, &text), S_OK);
  EXPECT_NE(copy.bstrVal, text.bstrVal);
  EXPECT_EQ(SysStringLen(copy.bstrVal), 3u);
  EXPECT_EQ(std::u16string(copy.bstrVal, 3), std::u16string(u"a\0b", 3));
  EXPECT_EQ(VariantClear(&text), S_OK);

  VARIANT array;
  array.vt = VT_ARRAY | VT_R8;
  array.parray = Vector({1, 2});
  Variant array_copy;
  ASSERT_EQ(VariantCopy(&array_copy, &array), S_OK);
  EXPECT_NE(array_copy.parray, array.parray);
  EXPECT_EQ(SafeArrayTotalCount(array_copy.parray), 2u);
  EXPECT_EQ(VariantClear(&array), S_OK);

  ValueObject object;
  VARIANT held;
  held.vt = VT_DISPATCH;
  held.pdispVal = &object;
  {
    Variant held_copy;
    ASSERT_EQ(VariantCopy(&held_copy, &held), S_OK);
    EXPECT_EQ(object.refs(), 2u);
  }
  EXPECT_EQ(object.refs(), 1u);

  double number = 1;
  VARIANT ref;
  ref.vt = VT_BYREF | VT_R8;
  ref.pdblVal = &number;
  Variant ref_copy;
  ASSERT_EQ(VariantCopy(&ref_copy, &ref), S_OK);
  EXPECT_EQ(ref_copy.pdblVal, &number);
}

TEST(VariantCopyInd, FollowsOneReference) {
  double number = 7.25;
  VARIANT ref;
  ref.vt = VT_BYREF | VT_R8;
  ref.pdblVal = &number;
  Variant value;
  ASSERT_EQ(VariantCopyInd(&value, &ref), S_OK);
  EXPECT_EQ(value.vt, VT_R8);
  EXPECT_EQ(value.dblVal, 7.25);

  Variant inner(LONG{12});
  VARIANT ref_variant;
  ref_variant.vt = VT_BYREF | VT_VARIANT;
  ref_variant.pvarVal = &inner;
  ASSERT_EQ(VariantCopyInd(&value, &ref_variant), S_OK);
  EXPECT_EQ(value.vt, VT_I4);
  EXPECT_EQ(value.lVal, 12);

  BSTR text = SysAllocString(u"by reference");
  VARIANT ref_text;
  ref_text.vt = VT_BYREF | VT_BSTR;
  ref_text.pbstrVal = &text;
  ASSERT_EQ(VariantCopyInd(&value, &ref_text), S_OK);
  EXPECT_NE(value.bstrVal, text);
  EXPECT_EQ(std::u16string(value.bstrVal), u"by reference");
  SysFreeString(text);

  // In place: the reference is replaced by the value.
  ASSERT_EQ(VariantCopyInd(&ref, &ref), S_OK);
  EXPECT_EQ(ref.vt, VT_R8);
  EXPECT_EQ(ref.dblVal, 7.25);

  VARIANT nested;
  nested.vt = VT_BYREF | VT_VARIANT;
  nested.pvarVal = &ref_variant;  // a reference to a reference
  EXPECT_EQ(VariantCopyInd(&value, &nested), E_INVALIDARG);
  VARIANT null_ref;
  null_ref.vt = VT_BYREF | VT_R8;
  null_ref.pdblVal = nullptr;
  EXPECT_EQ(VariantCopyInd(&value, &null_ref), E_POINTER);
}

TEST(VariantChangeType, CoercesAmongNumbersTextsAndBooleans) {
  struct Row {
    const char* name;
    Variant from;
    VARTYPE to;
    HRESULT hr;
    double expected;  // the numeric value of the result (booleans as -1/0)
  };
  auto text = [](std::u16string_view s) {
    Variant v;
    static_cast<VARIANT&>(v) = Text(s);
    return v;
  };
  auto boolean = [](bool b) {
    Variant v;
    v.vt = VT_BOOL;
    v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
  };
  auto error = [](SCODE scode) {
    Variant v;
    v.vt = VT_ERROR;
    v.scode = scode;
    return v;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Row rows[] = {
      {"R8 2.5 to I4 rounds half to even", Variant(2.5), VT_I4, S_OK, 2},
      {"R8 3.5 to I4", Variant(3.5), VT_I4, S_OK, 4},
      {"R8 -2.5 to I4", Variant(-2.5), VT_I4, S_OK, -2},
      {"R8 2.6 to I2", Variant(2.6), VT_I2, S_OK, 3},
      {"I4 to R8", Variant(LONG{-7}), VT_R8, S_OK, -7},
      {"I2 to I4", Variant(SHORT{300}), VT_I4, S_OK, 300},
      {"R8 above I4", Variant(2147483647.5), VT_I4, DISP_E_OVERFLOW, 0},
      {"R8 at I4 minimum", Variant(-2147483648.0), VT_I4, S_OK, -2147483648.0},
      {"I4 above I2", Variant(LONG{32768}), VT_I2, DISP_E_OVERFLOW, 0},
      {"NaN to I4", Variant(nan), VT_I4, DISP_E_OVERFLOW, 0},
      {"R8 above R4", Variant(1e300), VT_R4, DISP_E_OVERFLOW, 0},
      {"text to R8", text(u" 12.5 "), VT_R8, S_OK, 12.5},
      {"text with sign to I4", text(u"+42"), VT_I4, S_OK, 42},
      {"text exponent to R8", text(u"1E-3"), VT_R8, S_OK, 0.001},
      {"letters to R8", text(u"abc"), VT_R8, DISP_E_TYPEMISMATCH, 0},
      {"empty text to R8", text(u""), VT_R8, DISP_E_TYPEMISMATCH, 0},
      {"trailing letters to I4", text(u"12x"), VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"text nan to R8", text(u"nan"), VT_R8, DISP_E_TYPEMISMATCH, 0},
      {"text True to BOOL", text(u"true"), VT_BOOL, S_OK, -1},
      {"text 0 to BOOL", text(u"0"), VT_BOOL, S_OK, 0},
      {"BOOL true to I2", boolean(true), VT_I2, S_OK, -1},
      {"R8 0.5 to BOOL", Variant(0.5), VT_BOOL, S_OK, -1},
      {"EMPTY to R8", Variant(), VT_R8, S_OK, 0},
      {"ERROR to R8", error(DISP_E_PARAMNOTFOUND), VT_R8, DISP_E_TYPEMISMATCH, 0},
      {"ERROR to I4", error(E_FAIL), VT_I4, S_OK, static_cast<double>(E_FAIL)},
  };
  for (auto& row : rows) {
    SCOPED_TRACE(row.name);
    Variant out;
    const HRESULT hr = VariantChangeType(&out, &row.from, 0, row.to);
    EXPECT_EQ(hr, row.hr) << HresultName(hr);
    if (FAILED(hr)) {
      EXPECT_EQ(out.vt, VT_EMPTY) << "a failed coercion must leave the destination alone";
      continue;
    }
    ASSERT_EQ(out.vt, row.to);
    Variant as_double;
    ASSERT_EQ(VariantChangeType(&as_double, &out, 0, VT_R8), S_OK);
    EXPECT_EQ(as_double.dblVal, row.expected);
  }
}

// 64-bit integers survive a trip through text exactly, above 2^63 too.
TEST(VariantChangeType, SixtyFourBitIntegersReadBackFromTextExactly) {
  struct Row {
    VARTYPE vt;
    std::int64_t bits;
    const char16_t* text;
  };
  const Row rows[] = {
      {VT_UI8, -1, u"18446744073709551615"},
      {VT_UI8, std::int64_t{1} << 63 | 1, u"9223372036854775809"},
      {VT_I8, std::numeric_limits<std::int64_t>::min(), u"-9223372036854775808"},
      {VT_I8, std::numeric_limits<std::int64_t>::max(), u"9223372036854775807"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Utf16ToUtf8(row.text));
    Variant number;
    number.vt = row.vt;
    number.llVal = row.bits;
    Variant text;
    ASSERT_EQ(VariantChangeType(&text, &number, 0, VT_BSTR), S_OK);
    EXPECT_EQ(std::u16string_view(text.bstrVal, SysStringLen(text.bstrVal)), row.text);
    Variant back;
    ASSERT_EQ(VariantChangeType(&back, &text, 0, row.vt), S_OK);
    EXPECT_EQ(back.llVal, row.bits);
  }
  struct Refused {
    const char16_t* text;
    VARTYPE vt;
  };
  for (const Refused& r : {Refused{u"18446744073709551616", VT_UI8}, Refused{u"-1", VT_UI8},
                           Refused{u"9223372036854775808", VT_I8}}) {
    SCOPED_TRACE(Utf16ToUtf8(r.text));
    Variant text;
    static_cast<VARIANT&>(text) = Text(r.text);
    Variant out;
    EXPECT_EQ(VariantChangeType(&out, &text, 0, r.vt), DISP_E_OVERFLOW);
  }
}

TEST(VariantChangeType, FormatsNumbersAsTextInTheCLocale) {
  struct Row {
    Variant from;
    USHORT flags;
    std::u16string text;
  };
  Variant yes;
  yes.vt = VT_BOOL;
  yes.boolVal = VARIANT_TRUE;
  const Row rows[] = {
      {Variant(0.1), 0, u"0.1"},         {Variant(-2.5), 0, u"-2.5"},
      {Variant(1e20), 0, u"1E+20"},      {Variant(1.0 / 3.0), 0, u"0.333333333333333"},
      {Variant(LONG{-42}), 0, u"-42"},   {yes, 0, u"-1"},
      {yes, VARIANT_ALPHABOOL, u"True"}, {Variant(), 0, u""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "expected " << Utf16ToUtf8(row.text));
    Variant out;
    ASSERT_EQ(VariantChangeType(&out, &row.from, row.flags, VT_BSTR), S_OK);
    EXPECT_EQ(std::u16string(out.bstrVal, SysStringLen(out.bstrVal)), row.text);
  }
}

TEST(VariantChangeType, WorksInPlaceAndThroughReferences) {
  Variant v(2.75);
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(std::u16string(v.bstrVal), u"2.75");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_R8), S_OK);
  EXPECT_EQ(v.dblVal, 2.75);

  double number = 9.5;
  VARIANT ref;
  ref.vt = VT_BYREF | VT_R8;
  ref.pdblVal = &number;
  Variant out;
  ASSERT_EQ(VariantChangeType(&out, &ref, 0, VT_I4), S_OK);
  EXPECT_EQ(out.lVal, 10);  // 9.5 rounds to the even 10
  EXPECT_EQ(number, 9.5);
}

TEST(VariantChangeType, ReadsAnObjectsDefaultValueUnlessForbidden) {
  ValueObject object(4.0);
  VARIANT held;
  held.vt = VT_DISPATCH;
  held.pdispVal = &object;
  Variant out;
  ASSERT_EQ(VariantChangeType(&out, &held, 0, VT_I4), S_OK);
  EXPECT_EQ(out.lVal, 4);
  EXPECT_EQ(VariantChangeType(&out, &held, VARIANT_NOVALUEPROP, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(object.refs(), 1u);
}

TEST(VariantChangeType, RefusesArraysAndReferenceTargets) {
  VARIANT array;
  array.vt = VT_ARRAY | VT_R8;
  array.parray = Vector({1});
  Variant out;
  EXPECT_EQ(VariantChangeType(&out, &array, 0, VT_R8), DISP_E_TYPEMISMATCH);
  Variant copy;
  EXPECT_EQ(VariantChangeType(&copy, &array, 0, VT_ARRAY | VT_R8), S_OK);
  EXPECT_NE(copy.parray, array.parray);
  EXPECT_EQ(VariantClear(&array), S_OK);
  Variant d(1.0);
  EXPECT_EQ(VariantChangeType(&out, &d, 0, VT_BYREF | VT_R8), DISP_E_BADVARTYPE);
  Variant null;
  null.vt = VT_NULL;
  EXPECT_EQ(VariantChangeType(&out, &null, 0, VT_R8), DISP_E_TYPEMISMATCH);
}

}  // namespace
}  // namespace kx::platform
