// The method frame as a client sees it: Done, error information, validators, the shared status
// record, abort, the call gate and the failures the frame reports on its own.
#include "method_frame.h"

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "interface_test_support.h"
#include "kx/platform/win32error.h"

namespace kx::component {
namespace {

using namespace test_support;
using namespace kx::platform;
using testing::WorkerPhase;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Reference values of S = K = 100, r = 0.05, T = 1, q = 0, sigma = 0.2 (A&S N(x)).
constexpr double kBsCall = 10.4505756193;
constexpr double kBsPut = 5.5735180694;
// The same option on a 100-step European tree, given to 6 decimals.
constexpr double kTreeCall = 10.430612;

class MethodFrameTest : public InterfaceTest {};

HRESULT TreeCall(Client& client, double* price, LONG steps = 100) {
  return client.object->BinCallPrice(100, 100, 0.05, 1, 0.2, 0, 1, 0, steps, 1, price);
}

TEST_F(MethodFrameTest, SuccessfulCallRaisesOneNoErrorDoneAndReturnsSOk) {
  Client client;
  double price = 0;
  EXPECT_EQ(client.object->BSCallPrice(100, 100, 0.05, 1, 0.2, 0, &price), S_OK);
  EXPECT_NEAR(price, kBsCall, 1e-9);
  ASSERT_EQ(client.done->Count(), 1u);
  EXPECT_EQ(client.done->Last().last_method, 2);
  EXPECT_EQ(client.done->Last().error_code, 0);
  EXPECT_EQ(client.done->Last().error_string, kNoError);
  EXPECT_EQ(client.done->Malformed(), 0);
  EXPECT_FALSE(TakeErrorInfo().present);
}

TEST_F(MethodFrameTest, FailedValidationPostsTitledErrorInfoWithoutSource) {
  Client client;
  double price = 0;
  EXPECT_EQ(client.object->BSCallPrice(0, 100, 0.05, 1, 0.2, 0, &price), E_FAIL);
  EXPECT_EQ(price, kSentinel);
  ASSERT_EQ(client.done->Count(), 1u);
  EXPECT_EQ(client.done->Last().last_method, 2);
  EXPECT_EQ(client.done->Last().error_code, 6010);
  EXPECT_EQ(client.done->Last().error_string, kInvalidInput);
  const PostedError posted = TakeErrorInfo();
  ASSERT_TRUE(posted.present);
  EXPECT_EQ(posted.description, "Error in BSCallPrice: Invalid input parameter(s).");
  EXPECT_EQ(posted.source, "");  // the class is not registered in this test's registry
  EXPECT_TRUE(posted.guid_null);
}

TEST_F(MethodFrameTest, ErrorInfoSourceIsTheRegisteredProgId) {
  const RegisteredProgId registered;
  Client client;
  double price = 0;
  EXPECT_EQ(client.object->BSPutPrice(100, -1, 0.05, 1, 0.2, 0, &price), E_FAIL);
  const PostedError posted = TakeErrorInfo();
  ASSERT_TRUE(posted.present);
  EXPECT_EQ(posted.source, "Korvane.Quantorb.1");
  EXPECT_EQ(posted.description, "Error in BSPutPrice: Invalid input parameter(s).");
}

struct ValidationRow {
  const char* what;
  double s, k, r, t, sigma, q;
  bool passes;
};

TEST_F(MethodFrameTest, CheckOptionArgsBoundaries) {
  const ValidationRow rows[] = {
      {"valid", 100, 100, 0.05, 1, 0.2, 0, true},
      {"S = 0", 0, 100, 0.05, 1, 0.2, 0, false},
      {"S < 0", -1, 100, 0.05, 1, 0.2, 0, false},
      {"S NaN", kNaN, 100, 0.05, 1, 0.2, 0, false},
      {"K = 0", 100, 0, 0.05, 1, 0.2, 0, false},
      {"r = 0 accepted", 100, 100, 0, 1, 0.2, 0, true},
      {"r < 0", 100, 100, -1e-9, 1, 0.2, 0, false},
      {"r NaN", 100, 100, kNaN, 1, 0.2, 0, false},
      {"T = 0", 100, 100, 0.05, 0, 0.2, 0, false},
      {"sigma = 0 accepted", 100, 100, 0.05, 1, 0, 0, true},
      {"sigma < 0", 100, 100, 0.05, 1, -0.01, 0, false},
      {"q = 1 accepted", 100, 100, 0.05, 1, 0.2, 1, true},
      {"q > 1", 100, 100, 0.05, 1, 0.2, 1.0000001, false},
      {"q < 0", 100, 100, 0.05, 1, 0.2, -1e-9, false},
      {"q NaN", 100, 100, 0.05, 1, 0.2, kNaN, false},
  };
  Client client;
  for (const ValidationRow& row : rows) {
    SCOPED_TRACE(row.what);
    const std::size_t before = client.done->Count();
    double price = 0;
    const HRESULT hr =
        client.object->BSCallPrice(row.s, row.k, row.r, row.t, row.sigma, row.q, &price);
    ASSERT_EQ(client.done->Count(), before + 1);
    EXPECT_EQ(hr, row.passes ? S_OK : E_FAIL);
    EXPECT_EQ(client.done->Last().error_code, row.passes ? 0 : 6010);
    EXPECT_EQ(price == kSentinel, !row.passes);
    (void)TakeErrorInfo();
  }
}

TEST_F(MethodFrameTest, CheckModelArgsBoundaries) {
  struct Row {
    const char* what;
    double s;
    LONG model_type;
    double rf;
    bool passes;
  };
  const Row rows[] = {
      {"valid", 42, 1, 0, true},           {"option args first", 0, 1, 0, false},
      {"ModelType -1", 42, -1, 0, false},  {"ModelType 0", 42, 0, 0, true},
      {"ModelType 3", 42, 3, 0, true},     {"ModelType 4", 42, 4, 0, false},
      {"rf < 0", 42, 3, -0.01, false},     {"rf = 1 accepted", 42, 3, 1, true},
      {"rf > 1", 42, 3, 1.0000001, false}, {"rf NaN", 42, 3, kNaN, false},
  };
  Client client;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    double price = 0;
    const HRESULT hr = client.object->BJECallPrice(row.s, 40, 0.04, 0.75, 0.35, 0.08,
                                                   row.model_type, row.rf, &price);
    EXPECT_EQ(hr, row.passes ? S_OK : E_FAIL);
    EXPECT_EQ(client.done->Last().error_code, row.passes ? 0 : 6010);
    EXPECT_EQ(price == kSentinel, !row.passes);
    if (!row.passes) {
      EXPECT_EQ(TakeErrorInfo().description, "Error in BJECallPrice: Invalid input parameter(s).");
    }
  }
}

TEST_F(MethodFrameTest, CheckTreeArgsBoundariesAndResultCode) {
  struct Row {
    const char* what;
    LONG steps;
    LONG flag;
    bool passes;
  };
  const Row rows[] = {
      {"valid", 10, 1, true},
      {"BinSteps 0", 0, 1, false},
      {"BinSteps -5", -5, 1, false},
      {"BinSteps 1", 1, 1, true},
      {"BinSteps 5001", 5001, 1, false},
      {"FlagEurAm 0", 10, 0, true},
      {"FlagEurAm 2", 10, 2, false},
      {"FlagEurAm -1", 10, -1, false},
  };
  Client client;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    double price = 1;
    const HRESULT hr =
        client.object->BinCallPrice(100, 100, 0.05, 1, 0.2, 0, 1, 0, row.steps, row.flag, &price);
    // A binomial call returns its ResultCode: E_INVALIDARG, not E_FAIL.
    EXPECT_EQ(hr, row.passes ? S_OK : E_INVALIDARG);
    EXPECT_EQ(client.done->Last().error_code, row.passes ? 0 : 6010);
    EXPECT_EQ(price == kSentinel, !row.passes);
    (void)TakeErrorInfo();
  }
}

TEST_F(MethodFrameTest, BinStepsOf5000PassValidation) {
  // Stopped at once: only the validation matters here, not a 5000-step tree.
  Client client;
  WorkerHook hook([](WorkerPhase phase) {
    if (phase == WorkerPhase::kStarted) (void)AbortComputation();
  });
  double price = 1;
  EXPECT_EQ(TreeCall(client, &price, 5000), S_OK);
  EXPECT_EQ(client.done->Last().error_code, 3100);
  EXPECT_EQ(price, 1);
}

TEST_F(MethodFrameTest, DoneReachesEverySinkInConnectionOrderSkippingEmptySlots) {
  Client client;
  auto* object = static_cast<KvQuantorb*>(client.object.get());
  std::vector<int> order;
  ComPtr<DoneRecorder> sinks[3] = {DoneRecorder::Create(), DoneRecorder::Create(),
                                   DoneRecorder::Create()};
  DWORD cookies[3] = {};
  for (int i = 0; i < 3; ++i) {
    sinks[i]->OnDone([&order, i](const DoneEvent&) { order.push_back(i); });
    ASSERT_EQ(object->AdviseEvents(sinks[i].get(), &cookies[i]), S_OK);
  }
  ASSERT_EQ(object->UnadviseEvents(cookies[1]), S_OK);
  EXPECT_EQ(object->UnadviseEvents(cookies[1]), CONNECT_E_NOCONNECTION);
  // A sink that disconnects itself from inside Done.
  sinks[0]->OnDone([&](const DoneEvent&) {
    order.push_back(0);
    EXPECT_EQ(object->UnadviseEvents(cookies[0]), S_OK);
  });
  double price = 0;
  EXPECT_EQ(client.object->BSCallPrice(100, 100, 0.05, 1, 0.2, 0, &price), S_OK);
  EXPECT_EQ(order, (std::vector<int>{0, 2}));
  EXPECT_EQ(sinks[1]->Count(), 0u);
  EXPECT_EQ(client.done->Count(), 1u);
  EXPECT_EQ(object->UnadviseEvents(cookies[2]), S_OK);
}

TEST_F(MethodFrameTest, DoneIsRaisedWhileAnotherThreadConnectsAndDisconnects) {
  Client client;
  auto* object = static_cast<KvQuantorb*>(client.object.get());
  ComPtr<DoneRecorder> churned = DoneRecorder::Create();
  std::atomic<bool> churn_done{false};
  std::thread churn([&] {
    for (int i = 0; i < 200; ++i) {
      DWORD cookie = 0;
      EXPECT_EQ(object->AdviseEvents(churned.get(), &cookie), S_OK);
      EXPECT_EQ(object->UnadviseEvents(cookie), S_OK);
    }
    churn_done = true;
  });
  // Calls go on for as long as the other thread connects, and a few more.
  std::size_t calls = 0;
  do {
    double price = 0;
    EXPECT_EQ(client.object->BSCallPrice(100, 100, 0.05, 1, 0.2, 0, &price), S_OK);
    ++calls;
  } while (!churn_done.load() || calls < 10);
  churn.join();
  EXPECT_EQ(client.done->Count(), calls) << "the steady sink heard every call";
  EXPECT_LE(churned->Count(), calls);
}

TEST_F(MethodFrameTest, TwoObjectsShareOneCallStatusAndAbortRequest) {
  Client first;
  Client second;
  double price = 0;
  EXPECT_EQ(first.object->BSCallPrice(0, 100, 0.05, 1, 0.2, 0, &price), E_FAIL);
  CallStatus status = CurrentCallStatus();
  EXPECT_EQ(status.error_code, 6010);
  EXPECT_EQ(status.result_code, E_INVALIDARG);
  EXPECT_EQ(status.error_description, "Error in BSCallPrice: Invalid input parameter(s).");

  EXPECT_EQ(second.object->BJECallPrice(42, 40, 0.04, 0.75, 0.35, 0.08, 1, 0, &price), S_OK);
  status = CurrentCallStatus();
  EXPECT_EQ(status.error_code, 0);
  EXPECT_EQ(status.last_method, 2);

  // Abort on one object is seen by the other; it raises no event.
  EXPECT_EQ(second.object->Abort(), S_OK);
  status = CurrentCallStatus();
  EXPECT_EQ(status.error_code, 3100);
  EXPECT_EQ(status.last_method, 1);
  EXPECT_EQ(status.error_string, kAborted);
  EXPECT_EQ(first.done->Count(), 1u);
  EXPECT_EQ(second.done->Count(), 1u);

  // The next worker call of either object clears the request before it starts.
  EXPECT_EQ(TreeCall(first, &price, 50), S_OK);
  EXPECT_EQ(first.done->Last().error_code, 0);
  EXPECT_EQ(first.done->Last().error_string, kNoError);
}

TEST_F(MethodFrameTest, AbortWithNoComputationRunningRaisesNothing) {
  Client client;
  EXPECT_EQ(client.object->Abort(), S_OK);
  EXPECT_EQ(client.done->Count(), 0u);
  // A scalar call neither clears nor polls the request: it succeeds and leaves it pending.
  double price = 0;
  EXPECT_EQ(client.object->BSCallPrice(100, 100, 0.05, 1, 0.2, 0, &price), S_OK);
  EXPECT_EQ(client.done->Last().error_code, 0);
  EXPECT_EQ(TreeCall(client, &price, 50), S_OK);
  EXPECT_EQ(client.done->Last().error_code, 0);
  EXPECT_NEAR(price, 10.4, 0.1);
}

TEST_F(MethodFrameTest, AbortDuringPumpedBinomialComputationStopsIt) {
  Client client;
  MessageAction abort([&] { EXPECT_EQ(client.object->Abort(), S_OK); });
  // The worker waits until the posted message has been dispatched by the pumped wait, so the
  // abort lands while the tree is being priced.
  WorkerHook hook([&](WorkerPhase phase) {
    if (phase == WorkerPhase::kStarted) {
      EXPECT_TRUE(abort.WaitUntilRan());
    }
  });
  abort.Post();
  double call = 123, put = 456;
  EXPECT_EQ(client.object->BinPrice(100, 100, 0.05, 1, 0.2, 0, 1, 0, 200, 1, &call, &put), S_OK);
  EXPECT_EQ(abort.Runs(), 1);
  EXPECT_EQ(call, 123);
  EXPECT_EQ(put, 456);
  ASSERT_EQ(client.done->Count(), 1u);
  EXPECT_EQ(client.done->Last().last_method, 1);
  EXPECT_EQ(client.done->Last().error_code, 3100);
  EXPECT_EQ(client.done->Last().error_string, kAborted);
  EXPECT_EQ(TakeErrorInfo().description, "Data processing aborted.");
}

TEST_F(MethodFrameTest, AbortAfterResultsWereWrittenStillReportsTheAbort) {
  Client client;
  MessageAction abort([&] { EXPECT_EQ(client.object->Abort(), S_OK); });
  bool fired = false;  // the second call below runs without the abort
  WorkerHook hook([&](WorkerPhase phase) {
    if (phase != WorkerPhase::kComputed || fired) return;
    fired = true;
    abort.Post();  // from the worker, to the waiting caller
    EXPECT_TRUE(abort.WaitUntilRan());
  });
  double price = 0;
  EXPECT_EQ(TreeCall(client, &price), S_OK);
  EXPECT_NEAR(price, kTreeCall, 5e-7);
  ASSERT_EQ(client.done->Count(), 1u);
  EXPECT_EQ(client.done->Last().last_method, 1);
  EXPECT_EQ(client.done->Last().error_code, 3100);
  // The request was never polled; the next worker call clears it.
  EXPECT_EQ(TreeCall(client, &price, 50), S_OK);
  EXPECT_EQ(client.done->Last().error_code, 0);
}

TEST_F(MethodFrameTest, OnlyBlockingModeOnePumpsMessages) {
  for (const SHORT mode : {SHORT{0}, SHORT{-1}, SHORT{2}}) {
    SCOPED_TRACE(mode);
    Client client;
    ASSERT_EQ(client.object->put_BlockingMode(mode), S_OK);
    MessageAction abort([&] { EXPECT_EQ(client.object->Abort(), S_OK); });
    abort.Post();
    double price = 0;
    EXPECT_EQ(TreeCall(client, &price), S_OK);
    EXPECT_FALSE(abort.Ran());
    EXPECT_NEAR(price, kTreeCall, 5e-7);
    EXPECT_EQ(client.done->Last().error_code, 0);

    MessageAction::PumpPending();
    EXPECT_TRUE(abort.Ran());
    EXPECT_EQ(client.done->Count(), 1u);
    EXPECT_EQ(CurrentCallStatus().error_code, 3100);
    EXPECT_EQ(TreeCall(client, &price, 20), S_OK);
    EXPECT_EQ(client.done->Last().error_code, 0);
  }
}

TEST_F(MethodFrameTest, PumpedWaitLeavesTheQuitMessageToTheHost) {
  Client client;
  MessageAction marker([] {});
  WorkerHook hook([&](WorkerPhase phase) {
    if (phase == WorkerPhase::kStarted) {
      EXPECT_TRUE(marker.WaitUntilRan());
    }
  });
  marker.Post();
  PostQuitMessage(3);
  double price = 0;
  EXPECT_EQ(TreeCall(client, &price, 20), S_OK);
  MSG msg;
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(MethodFrameTest, AbortFromAnotherThreadStopsAnUnpumpedWait) {
  Client client;
  Client other;
  ASSERT_EQ(client.object->put_BlockingMode(-1), S_OK);
  // Abort goes through while a call runs; here it comes from the worker's own thread.
  WorkerHook hook([&](WorkerPhase phase) {
    if (phase == WorkerPhase::kStarted) {
      EXPECT_EQ(other.object->Abort(), S_OK);
    }
  });
  double price = 77;
  EXPECT_EQ(TreeCall(client, &price), S_OK);
  EXPECT_EQ(price, 77);
  EXPECT_EQ(client.done->Last().last_method, 1);
  EXPECT_EQ(client.done->Last().error_code, 3100);
}

TEST_F(MethodFrameTest, CallReenteredDuringPumpedWaitIsRefusedAndLeavesTheJobAlone) {
  Client client;
  Client other;
  HRESULT scalar_hr = S_OK;
  HRESULT worker_hr = S_OK;
  double scalar_out = 7;
  double worker_out = 8;
  CallStatus during;
  PostedError posted;
  MessageAction reenter([&] {
    scalar_hr = other.object->BSCallPrice(100, 100, 0.05, 1, 0.2, 0, &scalar_out);
    posted = TakeErrorInfo();
    worker_hr = client.object->BinPutPrice(100, 100, 0.05, 1, 0.2, 0, 1, 0, 10, 1, &worker_out);
    during = CurrentCallStatus();
  });
  WorkerHook hook([&](WorkerPhase phase) {
    if (phase == WorkerPhase::kStarted) {
      EXPECT_TRUE(reenter.WaitUntilRan());
    }
  });
  const CallStatus before = CurrentCallStatus();
  reenter.Post();
  double price = 0;
  EXPECT_EQ(TreeCall(client, &price), S_OK);
  EXPECT_NEAR(price, kTreeCall, 5e-7);

  EXPECT_EQ(scalar_hr, RPC_E_CALL_REJECTED);
  EXPECT_EQ(worker_hr, RPC_E_CALL_REJECTED);
  EXPECT_EQ(scalar_out, 7);
  EXPECT_EQ(worker_out, 8);
  EXPECT_EQ(posted.description, "Call refused: another computation is in progress on this thread.");
  // The running call's record: ErrorCode cleared by its own frame, nothing else written.
  EXPECT_EQ(during.error_code, 0);
  EXPECT_EQ(during.last_method, before.last_method);
  EXPECT_EQ(during.error_description, before.error_description);

  ASSERT_EQ(other.done->Count(), 1u);
  EXPECT_EQ(other.done->Last().error_code, 3101);
  EXPECT_EQ(other.done->Last().error_string,
            u"Call refused: another computation is in progress on this thread.");
  const std::vector<DoneEvent> events = client.done->Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].error_code, 3101);
  EXPECT_EQ(events[1].error_code, 0);
  EXPECT_EQ(events[1].error_string, kNoError);
}

TEST_F(MethodFrameTest, CallFromSecondThreadWaitsItsTurn) {
  Client client;
  Client other;
  std::thread second;
  std::atomic<bool> second_returned{false};
  bool returned_while_first_ran = true;
  HRESULT second_hr = E_FAIL;
  double second_price = 0;
  MessageAction start_second([&] {
    second = std::thread([&] {
      second_hr = other.object->BSPutPrice(100, 100, 0.05, 1, 0.2, 0, &second_price);
      second_returned = true;
    });
    EXPECT_TRUE(WaitFor([] { return CallGateWaitingThreads() == 1; }));
    returned_while_first_ran = second_returned.load();
  });
  WorkerHook hook([&](WorkerPhase phase) {
    if (phase == WorkerPhase::kStarted) {
      EXPECT_TRUE(start_second.WaitUntilRan());
    }
  });
  start_second.Post();
  double price = 0;
  EXPECT_EQ(TreeCall(client, &price), S_OK);
  second.join();

  EXPECT_FALSE(returned_while_first_ran);
  EXPECT_NEAR(price, kTreeCall, 5e-7);
  EXPECT_EQ(client.done->Last().error_code, 0);
  EXPECT_EQ(second_hr, S_OK);
  EXPECT_NEAR(second_price, kBsPut, 1e-9);
  ASSERT_EQ(other.done->Count(), 1u);
  EXPECT_EQ(other.done->Last().error_code, 0);
}

TEST_F(MethodFrameTest, DoneHandlerMayStartTheNextCall) {
  Client client;
  bool chained = false;
  HRESULT chained_hr = E_FAIL;
  double put = 0;
  client.done->OnDone([&](const DoneEvent&) {
    if (chained) return;
    chained = true;
    chained_hr = client.object->BSPutPrice(100, 100, 0.05, 1, 0.2, 0, &put);
  });
  double call = 0;
  // The outer call fails; the successful chained call must not change its result.
  EXPECT_EQ(client.object->BSCallPrice(0, 100, 0.05, 1, 0.2, 0, &call), E_FAIL);
  EXPECT_EQ(chained_hr, S_OK);
  EXPECT_NEAR(put, kBsPut, 1e-9);
  const std::vector<DoneEvent> events = client.done->Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].error_code, 6010);
  EXPECT_EQ(events[1].error_code, 0);
}

TEST_F(MethodFrameTest, WorkerThatCannotStartIsReported) {
  Client client;
  testing::FailNextWorkerStart();
  double price = 5;
  EXPECT_EQ(TreeCall(client, &price), HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(price, 5);
  EXPECT_EQ(client.done->Last().last_method, 2);
  EXPECT_EQ(client.done->Last().error_code, 6005);
  EXPECT_EQ(client.done->Last().error_string,
            u"Thread error: Could not start the computation thread.");
  EXPECT_EQ(TakeErrorInfo().description, "Thread error: Could not start the computation thread.");
  // The next call starts its worker normally.
  EXPECT_EQ(TreeCall(client, &price, 20), S_OK);
  EXPECT_EQ(client.done->Last().error_code, 0);
}

TEST_F(MethodFrameTest, NullOutputPointerIsReportedNotWritten) {
  Client client;
  EXPECT_EQ(client.object->BSDelta(100, 100, 0.05, 1, 0.2, 0, nullptr, nullptr), E_FAIL);
  EXPECT_EQ(client.done->Last().error_code, 3005);
  EXPECT_EQ(client.done->Last().error_string, u"Argument error: Output argument is not defined.");
  double delta = 0;
  EXPECT_EQ(client.object->BJEDelta(42, 40, 0.04, 0.75, 0.35, 0.08, 1, 0, &delta, nullptr), E_FAIL);
  EXPECT_EQ(delta, 0);
  EXPECT_EQ(client.object->BinGamma(100, 100, 0.05, 1, 0.2, 0, 1, 0, 10, 1, nullptr), E_POINTER);
  EXPECT_EQ(client.done->Last().error_code, 3005);
  EXPECT_EQ(client.done->Count(), 3u);
  EXPECT_EQ(TakeErrorInfo().description, "Output argument is not defined.");
}

TEST_F(MethodFrameTest, ObjectAnswersItsInterfacesAndStartsWithDefaultSettings) {
  Client client;
  ComPtr<IDispatch> dispatch;
  EXPECT_EQ(client.object->QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);
  ComPtr<IUnknown> unknown;
  EXPECT_EQ(client.object->QueryInterface(IID_IUnknown, unknown.put_void()), S_OK);
  void* none = &client;
  EXPECT_EQ(client.object->QueryInterface(DIID__IKvQuantorbEvents, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  LONG base = -1;
  SHORT blocking = -1;
  EXPECT_EQ(client.object->get_Base(&base), S_OK);
  EXPECT_EQ(client.object->get_BlockingMode(&blocking), S_OK);
  EXPECT_EQ(base, 0);
  EXPECT_EQ(blocking, 1);
  EXPECT_EQ(client.object->get_Base(nullptr), E_POINTER);
}

}  // namespace
}  // namespace kx::component
