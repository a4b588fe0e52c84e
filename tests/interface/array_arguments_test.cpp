// Array arguments of the skews: lock and unlock failures, element types, clipping, memory that
// cannot be had, and result arrays handed to the caller.
#include "interface_test_support.h"
#include "kx/platform/safearray.h"

namespace kx::component {
namespace {

using namespace test_support;
using namespace kx::platform;

class SkewArraysTest : public InterfaceTest {
 protected:
  static HRESULT Skew(Client& client, VARIANT* strikes, VARIANT* calls, VARIANT* puts,
                      VARIANT* iv_call, VARIANT* iv_put) {
    return client.object->BSImpliedVolatilitySkew(100, strikes, 0.05, 1, 0, calls, puts, 0, iv_call,
                                                  iv_put);
  }
};

TEST_F(SkewArraysTest, ValueVariantWithoutArrayFailsTheLockAndUnlocksTheStrikes) {
  Client client;
  Variant strikes = DoubleVector({100});
  Variant calls(10.0);  // a number, not an array
  Variant iv_call;
  EXPECT_EQ(Skew(client, &strikes, &calls, nullptr, &iv_call, nullptr), E_INVALIDARG);
  EXPECT_EQ(client.done->Last().error_code, 3009);
  EXPECT_EQ(client.done->Last().error_string,
            u"Argument error: Data error in matrices: Could not lock arrays.");
  EXPECT_EQ(TakeErrorInfo().description, "Data error in matrices: Could not lock arrays.");
  EXPECT_EQ(strikes.parray->cLocks, 0u);
  EXPECT_EQ(iv_call.vt, VT_EMPTY);
}

TEST_F(SkewArraysTest, UnlockFailureIsReportedAfterTheResultsAreStored) {
  Client client;
  Variant strikes = DoubleVector({100});
  Variant calls = DoubleVector({10.4505756193});
  // A client that unlocks the strikes behind the worker's back.
  WorkerHook hook([&](testing::WorkerPhase phase) {
    if (phase == testing::WorkerPhase::kComputed) {
      EXPECT_EQ(SafeArrayUnlock(strikes.parray), S_OK);
    }
  });
  Variant iv_call;
  EXPECT_EQ(Skew(client, &strikes, &calls, nullptr, &iv_call, nullptr), E_UNEXPECTED);
  EXPECT_EQ(client.done->Last().error_code, 30010);
  EXPECT_EQ(TakeErrorInfo().description, "Data error in matrices: Could not unlock arrays.");
  EXPECT_NEAR(ReadResult(iv_call).values.at(0), 0.2000000328, 1e-8);
  EXPECT_EQ(calls.parray->cLocks, 0u);
}

TEST_F(SkewArraysTest, ArraysOfOtherElementTypesAreRejected) {
  struct Row {
    const char* what;
    int bad;  // 0 strikes, 1 call values, 2 put values
    VARTYPE named;
    VARTYPE stored;
  };
  const Row rows[] = {
      {"strikes of VARIANTs", 0, VT_VARIANT, VT_VARIANT},
      {"call values of integers", 1, VT_I4, VT_I4},
      {"put values named VT_R8 over integers", 2, VT_R8, VT_I4},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Client client;
    Variant arrays[3] = {DoubleVector({100, 100}), DoubleVector({10, 10}), DoubleVector({5, 5})};
    Variant& bad = arrays[row.bad];
    (void)VariantClear(&bad);
    bad.vt = VT_ARRAY | row.named;
    bad.parray = SafeArrayCreateVector(row.stored, 0, 2);
    Variant iv_call, iv_put;
    EXPECT_EQ(Skew(client, &arrays[0], &arrays[1], &arrays[2], &iv_call, &iv_put), E_POINTER);
    EXPECT_EQ(client.done->Last().error_code, 3047);
    EXPECT_EQ(TakeErrorInfo().description.rfind("Invalid input data type: ", 0), 0u);
    EXPECT_EQ(iv_call.vt, VT_EMPTY);
  }
}

TEST_F(SkewArraysTest, MemoryThatCannotBeHadIsAnError) {
  // 1: the call result array, 2: the put result array, 3: the first work vector.
  for (const int countdown : {1, 2, 3, 6}) {
    SCOPED_TRACE(::testing::Message() << "allocation " << countdown);
    Client client;
    Variant strikes = DoubleVector({100});
    Variant calls = DoubleVector({10});
    Variant puts = DoubleVector({5});
    Variant iv_call(1.0), iv_put(2.0);
    testing::FailAllocation(countdown);
    EXPECT_EQ(Skew(client, &strikes, &calls, &puts, &iv_call, &iv_put), E_OUTOFMEMORY);
    EXPECT_EQ(client.done->Last().error_code, 6003);
    EXPECT_EQ(client.done->Last().error_string,
              u"Memory allocation error: Could not allocate memory for array.");
    EXPECT_EQ(TakeErrorInfo().description,
              "Memory allocation error: Could not allocate memory for array.");
    EXPECT_EQ(iv_call.dblVal, 1.0);
    EXPECT_EQ(iv_put.dblVal, 2.0);
    for (const Variant* input : {&strikes, &calls, &puts}) EXPECT_EQ(input->parray->cLocks, 0u);
  }
}

TEST_F(SkewArraysTest, HistoricalResultArrayThatCannotBeHadIsAnError) {
  Client client;
  Variant prices = DoubleVector({100, 110, 100});
  Variant result;
  testing::FailAllocation(1);
  EXPECT_EQ(client.object->HistoricalVolatility(&prices, 252, &result), E_OUTOFMEMORY);
  EXPECT_EQ(client.done->Last().error_code, 6003);
  EXPECT_EQ(result.vt, VT_EMPTY);
  double volatility = 3;
  testing::FailAllocation(1);
  EXPECT_EQ(client.object->HistoricalVolatility1(&prices, 252, &volatility), E_OUTOFMEMORY);
  EXPECT_EQ(volatility, 3);
  EXPECT_EQ(prices.parray->cLocks, 0u);
}

TEST_F(SkewArraysTest, OneVariantAsInputAndOutputReceivesTheResult) {
  Client client;
  Variant strikes = DoubleVector({100, 100});
  Variant calls = DoubleVector({10.4505756193, 10.4505756193});
  Variant puts = DoubleVector({5.5735180694, 5.5735180694});
  EXPECT_EQ(Skew(client, &strikes, &calls, &puts, &calls, &puts), S_OK);
  for (const Variant* result : {&calls, &puts}) {
    const ArrayResult read = ReadResult(*result);
    ASSERT_EQ(read.values.size(), 2u);
    EXPECT_NEAR(read.values[1], 0.2000000328, 1e-8);
  }
}

TEST_F(SkewArraysTest, OnlyTheStoredElementsOfATwoDimensionalStrikeArrayAreRead) {
  // The element count is the last dimension's; a first dimension of 0 stores nothing.
  Client client;
  const SAFEARRAYBOUND bounds[2] = {{0, 0}, {3, 0}};
  Variant strikes;
  strikes.vt = VT_ARRAY | VT_R8;
  strikes.parray = SafeArrayCreate(VT_R8, 2, bounds);
  Variant calls = DoubleVector({10, 10, 10});
  Variant iv_call;
  EXPECT_EQ(Skew(client, &strikes, &calls, nullptr, &iv_call, nullptr), S_OK);
  EXPECT_TRUE(ReadResult(iv_call).values.empty());
}

}  // namespace
}  // namespace kx::component
