#include "method_frame.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>
#include <thread>

#include "frame_testing.h"
#include "ikvquantorb.h"
#include "job_record.h"
#include "kx/models/abort.h"
#include "kx/models/argument_checks.h"
#include "kx/platform/activation.h"
#include "kx/platform/bstr.h"
#include "kx/platform/comptr.h"
#include "kx/platform/errorinfo.h"
#include "kx/platform/messages.h"

namespace kx::component {

using namespace kx::platform;

namespace {

// The process-wide status record. Abort writes it on the caller's thread (or any other) while a
// worker may record its own failures, so every access takes the lock. Its texts are those of the
// error table, so that recording allocates nothing; only the description of 6010, which joins the
// method's title, is composed.
struct StatusRecord {
  std::int32_t error_code = 0;
  std::u16string_view error_string;
  std::int32_t last_method = 0;
  HRESULT result_code = S_OK;
  std::string_view description;  // a table text; `composed` replaces it when not empty
  std::string composed;

  [[nodiscard]] std::string_view Description() const noexcept {
    return composed.empty() ? description : std::string_view(composed);
  }
};
std::mutex status_mutex;
StatusRecord status;
// Bumped by every admitted frame; a frame releases ErrorString after Done only if no later call
// has written the record meanwhile.
std::uint64_t status_generation = 0;

JobRecord job;

// One pricing call at a time in the process. Threads queue; the owning thread is refused.
class CallGate {
 public:
  bool Enter() {
    std::unique_lock lock(mutex_);
    const std::thread::id self = std::this_thread::get_id();
    if (owner_ == self) return false;
    ++waiting_;
    released_.wait(lock, [this] { return owner_ == std::thread::id(); });
    --waiting_;
    owner_ = self;
    return true;
  }

  void Leave() {
    {
      const std::lock_guard lock(mutex_);
      owner_ = std::thread::id();
    }
    released_.notify_one();
  }

  std::size_t Waiting() {
    const std::lock_guard lock(mutex_);
    return waiting_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  std::thread::id owner_;
  std::size_t waiting_ = 0;
};

CallGate gate;

// Injected faults (tests only).
std::atomic<bool> fail_next_worker_start{false};
std::atomic<int> allocation_countdown{0};
std::atomic<testing::WorkerPhaseHook> phase_hook{nullptr};
std::atomic<void*> phase_hook_context{nullptr};

// `composed` (empty for a table description) is swapped in, so this never allocates.
void RecordLocked(Failure failure, HRESULT result, std::string& composed) noexcept {
  const FailureText& text = TextOf(failure);
  status.error_code = text.code;
  status.error_string = text.error_string;
  status.last_method = kLastMethodFrame;
  status.result_code = result;
  status.description = text.description;
  status.composed.swap(composed);
}

// Posts a validator's own message; the frame's summary replaces it before the method returns.
bool Reject(const char* message) noexcept {
  (void)ReportErrorInfo(message);
  return false;
}

// True for kPassed; otherwise posts the test's message.
bool Passes(kx::models::ArgumentCheck check) {
  if (check == kx::models::ArgumentCheck::kPassed) return true;
  return Reject(std::string(kx::models::ArgumentCheckMessage(check)).c_str());
}

void Trace(const char* what) noexcept {
  std::printf("KorvaneX worker: computation step ended: %s\n", what);
  std::fflush(stdout);
}

}  // namespace

// Status record

CallStatus CurrentCallStatus() {
  const std::lock_guard lock(status_mutex);
  return {status.error_code, status.error_string, status.last_method, status.result_code,
          std::string(status.Description())};
}

void RecordFailure(Failure failure) noexcept { RecordFailure(failure, TextOf(failure).result); }

void RecordFailure(Failure failure, HRESULT result) noexcept {
  std::string no_composed;
  const std::lock_guard lock(status_mutex);
  RecordLocked(failure, result, no_composed);
}

void RecordInvalidArguments(const char* error_title) noexcept {
  const FailureText& text = TextOf(Failure::kInvalidArguments);
  std::string composed;
  try {
    composed.append(error_title).append(": ").append(text.description);
  } catch (...) {
    composed.clear();  // the table text alone
  }
  const std::lock_guard lock(status_mutex);
  RecordLocked(Failure::kInvalidArguments, text.result, composed);
}

void SetResultCode(HRESULT result) noexcept {
  const std::lock_guard lock(status_mutex);
  status.result_code = result;
}

HRESULT AbortComputation() noexcept {
  const FailureText& text = TextOf(Failure::kAborted);
  std::string dropped;  // released outside the lock
  {
    // The request and the recorded 3100 change together, under the lock RunWorker clears both
    // under: otherwise a worker start between them could clear the 3100 and keep the request, and
    // the aborted call would report success without its results.
    const std::lock_guard lock(status_mutex);
    kx::models::RequestAbort();
    status.error_code = text.code;
    status.error_string = text.error_string;
    status.last_method = kLastMethodAbort;
    // The description is set too, so that the error information of an aborted call describes
    // the abort rather than whichever failure was recorded before it.
    status.description = text.description;
    status.composed.swap(dropped);
  }
  return S_OK;
}

// Validators

bool CheckOptionArgs(double stock_price, double exercise_price, double interest_rate,
                     double time_to_maturity, double volatility, double dividend_rate) {
  return Passes(kx::models::FirstFailedOptionCheck(stock_price, exercise_price, interest_rate,
                                                   time_to_maturity, volatility, dividend_rate));
}

bool CheckModelArgs(double stock_price, double exercise_price, double interest_rate,
                    double time_to_maturity, double volatility, double dividend_rate,
                    LONG model_type, double foreign_rate) {
  return Passes(kx::models::FirstFailedModelCheck(stock_price, exercise_price, interest_rate,
                                                  time_to_maturity, volatility, dividend_rate,
                                                  model_type, foreign_rate));
}

bool CheckTreeArgs(ObjectSettings& settings, LONG bin_steps, LONG flag_eur_am) {
  if (!Passes(kx::models::FirstFailedStepCheck(bin_steps))) return false;
  settings.stored_step_count = bin_steps;
  return Passes(kx::models::FlagEurAmCheck(flag_eur_am));
}

// Error information and Done

HRESULT ReportErrorInfo(std::string_view description) noexcept {
  // Whatever fails, the information of an earlier call must not stand for this one.
  const auto fail = [](HRESULT hr) {
    (void)SetErrorInfo(0, nullptr);
    return hr;
  };
  try {
    ComPtr<ICreateErrorInfo> create;
    HRESULT hr = CreateErrorInfo(create.put());
    if (FAILED(hr)) return fail(hr);
    (void)create->SetGUID(GUID_NULL);
    LPOLESTR progid = nullptr;
    if (SUCCEEDED(ProgIDFromCLSID(CLSID_KvQuantorb, &progid)) && progid) {
      (void)create->SetSource(progid);
      CoTaskMemFree(progid);
    }
    std::u16string wide = Utf8ToUtf16(description);
    hr = create->SetDescription(OleText(wide.data()));
    if (FAILED(hr)) return fail(hr);
    ComPtr<IErrorInfo> info;
    hr = create.As(&info);
    if (FAILED(hr)) return fail(hr);
    hr = SetErrorInfo(0, info.get());
    if (FAILED(hr)) return fail(hr);
  } catch (...) {
    return fail(E_OUTOFMEMORY);
  }
  return DISP_E_EXCEPTION;
}

void RaiseDone(const ConnectionPoint& events, std::int32_t last_method, std::int32_t error_code,
               std::u16string_view error_string) noexcept {
  auto raise = [&](IDispatch* sink) {
    // Positional arguments stand in reverse order: ErrorString, ErrorCode, LastMethod.
    VARIANT args[3];
    args[0].vt = VT_BSTR;
    args[0].bstrVal =
        SysAllocStringLen(error_string.data(), static_cast<UINT>(error_string.size()));
    args[1].vt = VT_I2;
    args[1].iVal = static_cast<SHORT>(error_code);
    args[2].vt = VT_I2;
    args[2].iVal = static_cast<SHORT>(last_method);
    DISPPARAMS params{args, nullptr, 3, 0};
    Variant result;
    EXCEPINFO excep{};
    UINT arg_err = 0;
    (void)sink->Invoke(kDispidDone, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                       &result, &excep, &arg_err);
    SysFreeString(args[0].bstrVal);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
  };
  std::vector<ComPtr<IDispatch>> connected;
  bool snapshot = true;
  try {
    connected = events.SinksAs<IDispatch>();
  } catch (...) {
    snapshot = false;
  }
  if (snapshot) {
    for (const ComPtr<IDispatch>& sink : connected) raise(sink.get());
    return;
  }
  // No memory for the snapshot: one slot at a time, each sink held across its call.
  ComPtr<IUnknown> sink;
  for (std::size_t slot = 0; events.SinkAt(slot, &sink); ++slot) {
    if (sink) raise(static_cast<IDispatch*>(static_cast<void*>(sink.get())));
  }
}

// Worker thread

void WaitForWorker(HANDLE thread, SHORT blocking_mode) noexcept {
  bool quit_seen = false;
  WPARAM quit_code = 0;
  if (blocking_mode == 1) {
    for (;;) {
      const DWORD woken = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT);
      if (woken != WAIT_OBJECT_0 + 1) break;
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
          // Not ours to consume: the host's own loop must still see it.
          quit_seen = true;
          quit_code = msg.wParam;
          continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
  }
  // The plain wait, and after the pumped one (a no-op then, or the fallback when it failed): the
  // frame must not go on while the worker still reads the job record and writes the caller's
  // outputs, so a wait that fails for want of memory is tried again.
  while (WaitForSingleObject(thread, INFINITE) == WAIT_FAILED &&
         GetLastError() == ERROR_NOT_ENOUGH_MEMORY) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (quit_seen) PostQuitMessage(static_cast<int>(quit_code));
}

std::size_t CallGateWaitingThreads() noexcept { return gate.Waiting(); }

JobRecord& NewJob() noexcept {
  job = JobRecord{};
  return job;
}

const JobRecord& CurrentJob() noexcept { return job; }

void BeginWorker() noexcept {
  SetResultCode(S_OK);
  detail::RunWorkerPhaseHook(testing::WorkerPhase::kStarted);
}

void EndComputation() noexcept { detail::RunWorkerPhaseHook(testing::WorkerPhase::kComputed); }

void HandleWorkerException(std::exception_ptr fault) noexcept {
  try {
    std::rethrow_exception(fault);
  } catch (const kx::models::AbortSignal& abort) {
    Trace(abort.what());  // Abort has recorded 3100 already
  } catch (const std::bad_alloc&) {
    Trace("out of memory");
    RecordFailure(Failure::kOutOfMemory);
  } catch (...) {
    Trace("unexpected fault");
    RecordFailure(Failure::kUnexpectedFault);
  }
}

// The frame

MethodFrame::MethodFrame(ObjectState& object, const char* error_title)
    : object_(object), error_title_(error_title) {
  admitted_ = gate.Enter();
  if (!admitted_) return;
  const std::lock_guard lock(status_mutex);
  status.error_code = 0;
  generation_ = ++status_generation;
}

MethodFrame::~MethodFrame() {
  if (admitted_ && !finished_) gate.Leave();
}

HRESULT MethodFrame::Refuse() noexcept {
  finished_ = true;
  const FailureText& text = TextOf(Failure::kCallRefused);
  (void)ReportErrorInfo(text.description);
  RaiseDone(object_.events, kLastMethodFrame, text.code, text.error_string);
  return text.result;
}

void MethodFrame::Fail(Failure failure) noexcept {
  checks_failed_ = true;
  RecordFailure(failure);
}

void MethodFrame::FailInvalidArguments() noexcept {
  checks_failed_ = true;
  RecordInvalidArguments(error_title_);
}

void MethodFrame::RunWorker(LPTHREAD_START_ROUTINE routine) noexcept {
  {
    const std::lock_guard lock(status_mutex);
    kx::models::ClearAbortRequest();
    status.error_code = 0;
  }
  HANDLE thread = nullptr;
  if (detail::TakeInjectedWorkerStartFailure()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  } else {
    thread = CreateThread(nullptr, 0, routine, nullptr, 0, nullptr);
  }
  if (!thread) {
    const DWORD error = GetLastError();
    RecordFailure(Failure::kWorkerNotStarted,
                  error != 0 ? HRESULT_FROM_WIN32(static_cast<LONG>(error)) : E_FAIL);
    return;
  }
  WaitForWorker(thread, object_.settings.blocking_mode.load());
  CloseHandle(thread);
}

HRESULT MethodFrame::Finish(ResultRule rule) noexcept {
  // The outcome is fixed here; only its reporting may still lack memory, and then reports less
  // (no error information, an empty Done text) but never another outcome.
  std::int32_t error_code = 0;
  std::int32_t last_method = 0;
  std::u16string_view error_string;
  HRESULT result = S_OK;
  std::string composed;
  std::string_view description;
  {
    const std::lock_guard lock(status_mutex);
    if (status.error_code == 0) {
      status.error_string = kNoErrorText;
      status.last_method = kLastMethodFrame;
    }
    error_code = status.error_code;
    last_method = status.last_method;
    error_string = status.error_string;
    result = status.result_code;
    description = status.description;
    if (error_code != 0 && !status.composed.empty()) {
      try {
        composed = status.composed;
        description = composed;
      } catch (...) {
        // The table text without the title.
      }
    }
  }
  if (error_code != 0) (void)ReportErrorInfo(description);
  if (rule == ResultRule::kFailOnError) result = error_code != 0 ? E_FAIL : S_OK;

  // The gate opens before Done, so that a sink may start the next call from its handler; Done
  // reports this call's outcome from the copy taken above.
  finished_ = true;
  gate.Leave();
  RaiseDone(object_.events, last_method, error_code, error_string);
  {
    const std::lock_guard lock(status_mutex);
    if (status_generation == generation_) status.error_string = {};
  }
  return result;
}

}  // namespace kx::component

// Injected faults

namespace kx::component::testing {

void SetWorkerPhaseHook(WorkerPhaseHook hook, void* context) noexcept {
  phase_hook_context.store(context);
  phase_hook.store(hook);
}

void FailNextWorkerStart() noexcept { fail_next_worker_start.store(true); }

void FailAllocation(int countdown) noexcept { allocation_countdown.store(countdown); }

void ClearInjectedFaults() noexcept {
  phase_hook.store(nullptr);
  phase_hook_context.store(nullptr);
  fail_next_worker_start.store(false);
  allocation_countdown.store(0);
}

}  // namespace kx::component::testing

namespace kx::component::detail {

bool TakeInjectedWorkerStartFailure() noexcept { return fail_next_worker_start.exchange(false); }

bool TakeInjectedAllocationFailure() noexcept {
  int current = allocation_countdown.load();
  while (current > 0) {
    if (allocation_countdown.compare_exchange_weak(current, current - 1)) return current == 1;
  }
  return false;
}

void RunWorkerPhaseHook(testing::WorkerPhase phase) noexcept {
  if (testing::WorkerPhaseHook hook = phase_hook.load()) hook(phase, phase_hook_context.load());
}

}  // namespace kx::component::detail
