#include "kx/platform/safearray.h"

#include <gtest/gtest.h>

#include <limits>
#include <thread>

#include "kx/platform/variant.h"

namespace kx::platform {
namespace {

// Rows 1..3 by columns -1..0, as a spreadsheet range with a non-zero base would arrive.
SAFEARRAY* Matrix3x2() {
  const SAFEARRAYBOUND bounds[] = {{3, 1}, {2, -1}};
  return SafeArrayCreate(VT_R8, 2, bounds);
}

TEST(SafeArrayBounds, EachDimensionKeepsItsOwnLowerBoundAndCount) {
  SAFEARRAY* psa = Matrix3x2();
  ASSERT_NE(psa, nullptr);
  EXPECT_EQ(SafeArrayGetDim(psa), 2u);
  EXPECT_EQ(SafeArrayGetElemsize(psa), 8u);
  EXPECT_EQ(SafeArrayTotalCount(psa), 6u);
  struct Row {
    UINT dim;
    LONG lower, upper;
  };
  for (const Row& row : {Row{1, 1, 3}, Row{2, -1, 0}}) {
    SCOPED_TRACE(testing::Message() << "dimension " << row.dim);
    LONG lower = 99, upper = 99;
    EXPECT_EQ(SafeArrayGetLBound(psa, row.dim, &lower), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(psa, row.dim, &upper), S_OK);
    EXPECT_EQ(lower, row.lower);
    EXPECT_EQ(upper, row.upper);
  }
  // The descriptor stores the leftmost dimension last, as the platform lays it out.
  EXPECT_EQ(psa->rgsabound[0].lLbound, -1);
  VARTYPE vt = VT_EMPTY;
  EXPECT_EQ(SafeArrayGetVartype(psa, &vt), S_OK);
  EXPECT_EQ(vt, VT_R8);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArrayBounds, BadDimensionsAndNullsAreErrorCodes) {
  SAFEARRAY* psa = Matrix3x2();
  LONG value = 1234;
  for (UINT dim : {0u, 3u, 1000u}) {
    SCOPED_TRACE(testing::Message() << "dimension " << dim);
    EXPECT_EQ(SafeArrayGetLBound(psa, dim, &value), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetUBound(psa, dim, &value), DISP_E_BADINDEX);
  }
  EXPECT_EQ(value, 1234) << "a refused query must not write its output";
  EXPECT_EQ(SafeArrayGetLBound(nullptr, 1, &value), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetUBound(psa, 1, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
  EXPECT_EQ(SafeArrayTotalCount(nullptr), 0u);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArrayBounds, LowerBoundOneShiftsUpper) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_R8, 1, 5);
  LONG upper = 0;
  EXPECT_EQ(SafeArrayGetUBound(psa, 1, &upper), S_OK);
  EXPECT_EQ(upper, 5);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArrayBounds, EmptyDimensionHasUpperBelowLowerAndNoElements) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_R8, 1, 0);
  ASSERT_NE(psa, nullptr);
  LONG upper = 99;
  EXPECT_EQ(SafeArrayGetUBound(psa, 1, &upper), S_OK);
  EXPECT_EQ(upper, 0);
  const LONG index = 1;
  void* element = nullptr;
  EXPECT_EQ(SafeArrayPtrOfIndex(psa, &index, &element), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayTotalCount(psa), 0u);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArrayBounds, UpperBoundThatDoesNotFitIsAnOverflow) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_I2, std::numeric_limits<LONG>::max(), 2);
  ASSERT_NE(psa, nullptr);
  LONG upper = 0;
  EXPECT_EQ(SafeArrayGetUBound(psa, 1, &upper), DISP_E_OVERFLOW);
  const LONG index = std::numeric_limits<LONG>::max();
  void* element = nullptr;
  EXPECT_EQ(SafeArrayPtrOfIndex(psa, &index, &element), S_OK);  // the first element is reachable
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArrayLayout, FirstIndexVariesFastest) {
  SAFEARRAY* psa = Matrix3x2();
  for (LONG col = -1; col <= 0; ++col) {
    for (LONG row = 1; row <= 3; ++row) {
      const LONG indices[] = {row, col};
      const double value = 10.0 * row + col;
      ASSERT_EQ(SafeArrayPutElement(psa, indices, &value), S_OK);
    }
  }
  double* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(psa, reinterpret_cast<void**>(&data)), S_OK);
  // Each column is one contiguous run of three values.
  const double expected[] = {9, 19, 29, 10, 20, 30};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(data[k], expected[k]) << "storage offset " << k;
  ASSERT_EQ(SafeArrayUnaccessData(psa), S_OK);

  const LONG indices[] = {2, 0};
  double value = 0;
  EXPECT_EQ(SafeArrayGetElement(psa, indices, &value), S_OK);
  EXPECT_EQ(value, 20);
  void* element = nullptr;
  EXPECT_EQ(SafeArrayPtrOfIndex(psa, indices, &element), S_OK);
  EXPECT_EQ(element, static_cast<void*>(data + 4));
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArrayLayout, IndicesOutsideTheBoundsAreRefused) {
  SAFEARRAY* psa = Matrix3x2();
  const LONG rows[][2] = {{0, -1}, {4, -1}, {1, -2}, {1, 1},
                          {std::numeric_limits<LONG>::min(), 0}, {std::numeric_limits<LONG>::max(), 0}};
  for (const auto& indices : rows) {
    SCOPED_TRACE(testing::Message() << "(" << indices[0] << ", " << indices[1] << ")");
    void* element = reinterpret_cast<void*>(0x1);
    double value = 5;
    EXPECT_EQ(SafeArrayPtrOfIndex(psa, indices, &element), DISP_E_BADINDEX);
    EXPECT_EQ(element, reinterpret_cast<void*>(0x1));
    EXPECT_EQ(SafeArrayGetElement(psa, indices, &value), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayPutElement(psa, indices, &value), DISP_E_BADINDEX);
    EXPECT_EQ(value, 5);
  }
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

// A host may lay out a descriptor itself; one without dimensions, or without data, has no
// element to point at, whatever indices come with it.
TEST(SafeArrayLayout, DescriptorWithoutDimensionsOrDataHasNoElements) {
  struct {
    USHORT dims;
    bool data;
  } const cases[] = {{0, true}, {0, false}, {1, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.dims << " dimensions, data " << c.data);
    double storage[4] = {1, 2, 3, 4};
    SAFEARRAY descriptor;
    descriptor.cDims = c.dims;
    descriptor.cbElements = sizeof(double);
    descriptor.rgsabound[0] = {4, 0};
    descriptor.pvData = c.data ? storage : nullptr;
    const LONG indices[1] = {0};
    void* element = reinterpret_cast<void*>(0x1);
    double value = 5;
    EXPECT_EQ(SafeArrayPtrOfIndex(&descriptor, indices, &element), DISP_E_BADINDEX);
    EXPECT_EQ(element, reinterpret_cast<void*>(0x1));
    EXPECT_EQ(SafeArrayGetElement(&descriptor, indices, &value), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayPutElement(&descriptor, indices, &value), DISP_E_BADINDEX);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(storage[0], 1);
    EXPECT_EQ(descriptor.cLocks, 0u);
  }
}

TEST(SafeArrayLock, CountsLocksAndRefusesDestroyWhileLocked) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_R8, 0, 3);
  ASSERT_EQ(SafeArrayLock(psa), S_OK);
  ASSERT_EQ(SafeArrayLock(psa), S_OK);
  EXPECT_EQ(psa->cLocks, 2u);
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnlock(psa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED) << "one lock is still held";
  EXPECT_EQ(SafeArrayUnlock(psa), S_OK);
  EXPECT_EQ(SafeArrayUnlock(psa), E_UNEXPECTED) << "unlocking an unlocked array";
  EXPECT_EQ(psa->cLocks, 0u);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
  EXPECT_EQ(data, psa->pvData);
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(psa), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
  EXPECT_EQ(SafeArrayLock(nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayUnlock(nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

TEST(SafeArrayLock, CountIsExactUnderConcurrentLockers) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_R8, 0, 1);
  auto worker = [psa] {
    for (int i = 0; i < 20000; ++i) {
      ASSERT_EQ(SafeArrayLock(psa), S_OK);
      ASSERT_EQ(SafeArrayUnlock(psa), S_OK);
    }
  };
  std::thread a(worker), b(worker);
  a.join();
  b.join();
  EXPECT_EQ(SafeArrayUnlock(psa), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArrayCreate, RefusesWhatItCannotHold) {
  const SAFEARRAYBOUND one{1, 0};
  EXPECT_EQ(SafeArrayCreate(VT_R8, 0, &one), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_R8, 1, nullptr), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_UNKNOWN, 1, &one), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_EMPTY, 1, &one), nullptr);
  const SAFEARRAYBOUND huge[] = {{0x10000, 0}, {0x10000, 0}, {0x10000, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_R8, 3, huge), nullptr) << "element count beyond 32 bits";
}

TEST(SafeArrayElements, TextsAndVariantsAreCopiedInAndOut) {
  SAFEARRAY* texts = SafeArrayCreateVector(VT_BSTR, 0, 2);
  ASSERT_NE(texts, nullptr);
  EXPECT_TRUE(texts->fFeatures & FADF_BSTR);
  BSTR mine = SysAllocString(u"strike");
  const LONG first = 0;
  ASSERT_EQ(SafeArrayPutElement(texts, &first, mine), S_OK);
  SysFreeString(mine);  // the array holds its own copy
  BSTR back = nullptr;
  ASSERT_EQ(SafeArrayGetElement(texts, &first, &back), S_OK);
  EXPECT_EQ(std::u16string(back), u"strike");
  SysFreeString(back);
  const LONG second = 1;
  ASSERT_EQ(SafeArrayGetElement(texts, &second, &back), S_OK);
  EXPECT_EQ(back, nullptr) << "elements start as null texts";

  SAFEARRAY* values = SafeArrayCreateVector(VT_VARIANT, 1, 2);
  ASSERT_NE(values, nullptr);
  Variant out;
  const LONG one = 1;
  ASSERT_EQ(SafeArrayGetElement(values, &one, &out), S_OK);
  EXPECT_EQ(out.vt, VT_EMPTY);
  VARIANT text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"value");
  ASSERT_EQ(SafeArrayPutElement(values, &one, &text), S_OK);
  EXPECT_EQ(VariantClear(&text), S_OK);

  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(values, &copy), S_OK);
  EXPECT_EQ(SafeArrayDestroy(values), S_OK);
  VARIANT got;
  ASSERT_EQ(SafeArrayGetElement(copy, &one, &got), S_OK);
  EXPECT_EQ(got.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(got.bstrVal), u"value");
  EXPECT_EQ(VariantClear(&got), S_OK);
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
  EXPECT_EQ(SafeArrayDestroy(texts), S_OK);  // frees the remaining text
}

TEST(SafeArrayCopy, CopiesBoundsAndDataIntoIndependentStorage) {
  SAFEARRAY* psa = Matrix3x2();
  const LONG at[] = {3, 0};
  const double value = 6.5;
  ASSERT_EQ(SafeArrayPutElement(psa, at, &value), S_OK);
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(psa, &copy), S_OK);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy->pvData, psa->pvData);
  for (UINT dim = 1; dim <= 2; ++dim) {
    LONG a = 0, b = 0;
    EXPECT_EQ(SafeArrayGetLBound(copy, dim, &a), S_OK);
    EXPECT_EQ(SafeArrayGetLBound(psa, dim, &b), S_OK);
    EXPECT_EQ(a, b);
  }
  double got = 0;
  EXPECT_EQ(SafeArrayGetElement(copy, at, &got), S_OK);
  EXPECT_EQ(got, 6.5);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
  EXPECT_EQ(SafeArrayCopy(nullptr, &copy), E_INVALIDARG);
}

}  // namespace
}  // namespace kx::platform
