// HistoricalVolatility and HistoricalVolatility1 through IKvQuantorb: estimator values, the
// series layout of 2-D arrays, the checks with Base 0 and 1, and abort.
#include <cmath>

#include "interface_test_support.h"
#include "kx/platform/safearray.h"

namespace kx::component {
namespace {

using namespace test_support;
using namespace kx::platform;

class HistoricalVolatilityTest : public InterfaceTest {};

// Returns ln 1.1 and -ln 1.1: mean 0, sample variance 2 (ln 1.1)^2, annualised over 252 days.
constexpr double kUpDownVolatility = 2.1397082298;

TEST_F(HistoricalVolatilityTest, SingleSeriesValues) {
  struct Row {
    const char* what;
    std::vector<double> prices;
    LONG days;
    double expected;
  };
  const Row rows[] = {
      {"equal log returns", {100, 110, 121}, 252, 0.0},
      {"up and down", {100, 110, 100}, 252, kUpDownVolatility},
      {"constant", {50, 50, 50, 50}, 252, 0.0},
      {"367 days accepted", {100, 110, 100}, 367, kUpDownVolatility * std::sqrt(367.0 / 252)},
  };
  Client client;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Variant prices = DoubleVector(row.prices);
    double volatility = -1;
    EXPECT_EQ(client.object->HistoricalVolatility1(&prices, row.days, &volatility), S_OK);
    EXPECT_NEAR(volatility, row.expected, 1e-6);
    EXPECT_EQ(client.done->Last().error_string, kNoError);
    Variant result;
    EXPECT_EQ(client.object->HistoricalVolatility(&prices, row.days, &result), S_OK);
    const ArrayResult read = ReadResult(result);
    ASSERT_EQ(read.values.size(), 1u);
    EXPECT_EQ(read.values[0], volatility);
  }
}

TEST_F(HistoricalVolatilityTest, EachColumnOfAMatrixIsOneSeries) {
  for (const LONG base : {0, 1}) {
    SCOPED_TRACE(::testing::Message() << "Base " << base);
    Client client;
    ASSERT_EQ(client.object->put_Base(base), S_OK);
    // 3 rows (time) by 4 columns (series), first index fastest in storage.
    Variant prices = DoubleMatrix(3, 4,
                                  {100, 110, 121,  //
                                   100, 110, 100,  //
                                   7, 7, 7,        //
                                   100, 110, 100},
                                  base);
    Variant result;
    EXPECT_EQ(client.object->HistoricalVolatility(&prices, 252, &result), S_OK);
    const ArrayResult read = ReadResult(result);
    EXPECT_EQ(read.lower, base);
    ASSERT_EQ(read.values.size(), 4u);
    EXPECT_NEAR(read.values[0], 0.0, 1e-12);
    EXPECT_NEAR(read.values[1], kUpDownVolatility, 1e-6);
    EXPECT_NEAR(read.values[2], 0.0, 1e-12);
    EXPECT_NEAR(read.values[3], kUpDownVolatility, 1e-6);
  }
}

TEST_F(HistoricalVolatilityTest, InputFaultsAndTheirResults) {
  struct Row {
    const char* what;
    std::function<Variant()> prices;
    LONG days;
    SHORT code;
    HRESULT result;
    bool single_too;  // HistoricalVolatility1 reports the same
  };
  const Row rows[] = {
      {"0 trading days",
       [] {
         return DoubleVector({1, 2, 3});
       },
       0, 3053, E_POINTER, true},
      {"368 trading days",
       [] {
         return DoubleVector({1, 2, 3});
       },
       368, 3053, E_POINTER, true},
      {"two prices",
       [] {
         return DoubleVector({1, 2});
       },
       252, 5070, E_INVALIDARG, true},
      {"2 rows", [] { return DoubleMatrix(2, 5, std::vector<double>(10, 1.0)); }, 252, 5070,
       E_INVALIDARG, false},
      {"Base 0, indices from 1",
       [] {
         return DoubleVector({1, 2, 3}, 1);
       },
       252, 6004, DISP_E_BADINDEX, true},
      {"last dimension off Base",
       [] { return DoubleMatrix(3, 2, std::vector<double>(6, 1.0), 0, 1); }, 252, 6004,
       DISP_E_BADINDEX, false},
      {"array of VARIANTs",
       [] {
         Variant v;
         v.vt = VT_ARRAY | VT_VARIANT;
         v.parray = SafeArrayCreateVector(VT_VARIANT, 0, 3);
         return v;
       },
       252, 3047, E_POINTER, true},
      {"VT_R8 named over integers",
       [] {
         Variant v;
         v.vt = VT_ARRAY | VT_R8;
         v.parray = SafeArrayCreateVector(VT_I4, 0, 6);
         return v;
       },
       252, 3047, E_POINTER, true},
      {"3-D",
       [] {
         const SAFEARRAYBOUND bounds[3] = {{3, 0}, {2, 0}, {2, 0}};
         Variant v;
         v.vt = VT_ARRAY | VT_R8;
         v.parray = SafeArrayCreate(VT_R8, 3, bounds);
         return v;
       },
       252, 3022, E_INVALIDARG, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Client client;
    Variant prices = row.prices();
    Variant result(4.0);
    EXPECT_EQ(client.object->HistoricalVolatility(&prices, row.days, &result), row.result);
    EXPECT_EQ(client.done->Last().error_code, row.code);
    EXPECT_EQ(result.vt, VT_R8);  // untouched
    EXPECT_TRUE(TakeErrorInfo().present);
    if (row.single_too) {
      double volatility = 4;
      EXPECT_EQ(client.object->HistoricalVolatility1(&prices, row.days, &volatility), row.result);
      EXPECT_EQ(client.done->Last().error_code, row.code);
      EXPECT_EQ(volatility, 4);
    }
    if (prices.parray) {
      EXPECT_EQ(prices.parray->cLocks, 0u);
    }
  }
}

TEST_F(HistoricalVolatilityTest, SingleSeriesMethodCountsBeforeItChecksDimensions) {
  Client client;
  double volatility = 0;
  Variant wide = DoubleMatrix(2, 3, std::vector<double>(6, 1.0));
  EXPECT_EQ(client.object->HistoricalVolatility1(&wide, 252, &volatility), E_INVALIDARG);
  EXPECT_EQ(client.done->Last().error_code, 3054);
  EXPECT_EQ(client.done->Last().error_string,
            u"Argument error: Input array must be 1-D (dim > 1 detected).");
  Variant narrow = DoubleMatrix(3, 2, std::vector<double>(6, 1.0));
  EXPECT_EQ(client.object->HistoricalVolatility1(&narrow, 252, &volatility), E_INVALIDARG);
  EXPECT_EQ(client.done->Last().error_code, 5070);
}

TEST_F(HistoricalVolatilityTest, ResultVariantRules) {
  Client client;
  Variant prices = DoubleVector({100, 110, 100});
  double target = 0;
  Variant by_ref_double;
  by_ref_double.vt = VT_BYREF | VT_R8;
  by_ref_double.pdblVal = &target;
  EXPECT_EQ(client.object->HistoricalVolatility(&prices, 252, &by_ref_double), E_POINTER);
  EXPECT_EQ(client.done->Last().error_code, 6007);
  EXPECT_EQ(client.done->Last().error_string,
            u"Argument error:  Invalid output data type: Output from method must be declared as "
            u"'Variant' type.");
  SAFEARRAY* held = nullptr;
  Variant by_ref_array;
  by_ref_array.vt = VT_BYREF | VT_ARRAY | VT_R8;
  by_ref_array.pparray = &held;
  EXPECT_EQ(client.object->HistoricalVolatility(&prices, 252, &by_ref_array), E_POINTER);
  EXPECT_EQ(client.done->Last().error_code, 3047);
  EXPECT_EQ(TakeErrorInfo().description.rfind("Invalid output data type: Do not use", 0), 0u);
  EXPECT_EQ(client.object->HistoricalVolatility(&prices, 252, nullptr), E_POINTER);
  EXPECT_EQ(client.done->Last().error_code, 3002);
  EXPECT_EQ(client.done->Last().error_string,
            u"Argument error: Array in parameter 2 is not defined.");
  // Every check runs: the output fault (6007) is overwritten by the repeated presence test.
  EXPECT_EQ(client.object->HistoricalVolatility(nullptr, 252, &by_ref_double), E_POINTER);
  EXPECT_EQ(client.done->Last().error_code, 3001);
  EXPECT_EQ(client.object->HistoricalVolatility1(nullptr, 252, &target), E_POINTER);
  EXPECT_EQ(client.done->Last().error_code, 3001);
  // A result VARIANT that already holds an array, or a text, is replaced without a leak.
  Variant holds_array = DoubleVector({1, 2, 3, 4, 5});
  EXPECT_EQ(client.object->HistoricalVolatility(&prices, 252, &holds_array), S_OK);
  EXPECT_EQ(ReadResult(holds_array).values.size(), 1u);
  Variant holds_text;
  holds_text.vt = VT_BSTR;
  holds_text.bstrVal = SysAllocString(u"old");
  EXPECT_EQ(client.object->HistoricalVolatility(&prices, 252, &holds_text), S_OK);
  EXPECT_EQ(ReadResult(holds_text).values.size(), 1u);
  // The prices VARIANT may receive the result itself.
  Variant same = DoubleVector({100, 110, 100});
  EXPECT_EQ(client.object->HistoricalVolatility(&same, 252, &same), S_OK);
  ASSERT_EQ(ReadResult(same).values.size(), 1u);
  EXPECT_NEAR(ReadResult(same).values[0], kUpDownVolatility, 1e-6);
}

TEST_F(HistoricalVolatilityTest, PricesByReferencePass) {
  Client client;
  Variant owner = DoubleVector({100, 110, 100});
  Variant by_ref;
  by_ref.vt = VT_BYREF | VT_ARRAY | VT_R8;
  by_ref.pparray = &owner.parray;
  double volatility = 0;
  EXPECT_EQ(client.object->HistoricalVolatility1(&by_ref, 252, &volatility), S_OK);
  EXPECT_NEAR(volatility, kUpDownVolatility, 1e-6);
  // A reference to no array passes the checks and fails the count.
  SAFEARRAY* none = nullptr;
  by_ref.pparray = &none;
  EXPECT_EQ(client.object->HistoricalVolatility1(&by_ref, 252, &volatility), E_INVALIDARG);
  EXPECT_EQ(client.done->Last().error_code, 5070);
}

TEST_F(HistoricalVolatilityTest, AbortLeavesResultsAsThePollsFoundThem) {
  Client client;
  MessageAction abort([&] { EXPECT_EQ(client.object->Abort(), S_OK); });
  int calls = 0;
  WorkerHook hook([&](testing::WorkerPhase phase) {
    if (phase == testing::WorkerPhase::kStarted) {
      EXPECT_TRUE(abort.WaitUntilRan(++calls));
    }
  });
  Variant prices = DoubleVector({100, 110, 100, 105});
  double volatility = 9;
  abort.Post();
  EXPECT_EQ(client.object->HistoricalVolatility1(&prices, 252, &volatility), S_OK);
  EXPECT_EQ(volatility, 0.0);  // cleared before the estimator ran
  EXPECT_EQ(client.done->Last().error_code, 3100);
  Variant result(9.0);
  abort.Post();
  EXPECT_EQ(client.object->HistoricalVolatility(&prices, 252, &result), S_OK);
  EXPECT_EQ(result.vt, VT_R8);
  EXPECT_EQ(result.dblVal, 9.0);
  EXPECT_EQ(client.done->Last().error_code, 3100);
  EXPECT_EQ(prices.parray->cLocks, 0u);
}

}  // namespace
}  // namespace kx::component
