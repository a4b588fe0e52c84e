#include "method_frame.h"

#include <atomic>
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
// worker may record its own failures, so every access takes the lock.
std::mutex status_mutex;
CallStatus status;
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

void RecordLocked(Failure failure, HRESULT result, std::string description) {
  const FailureText& text = TextOf(failure);
  status.error_code = text.code;
  status.error_string.assign(text.error_string);
  status.last_method = kLastMethodFrame;
  status.result_code = result;
  status.error_description = std::move(description);
}

// Posts a validator's own message; the frame's summary replaces it before the method returns.
bool Reject(const char* message) {
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
  return status;
}

void RecordFailure(Failure failure) { RecordFailure(failure, TextOf(failure).result); }

void RecordFailure(Failure failure, HRESULT result) {
  std::string description(TextOf(failure).description);
  const std::lock_guard lock(status_mutex);
  RecordLocked(failure, result, std::move(description));
}

void RecordInvalidArguments(const char* error_title) {
  const FailureText& text = TextOf(Failure::kInvalidArguments);
  std::string description = std::string(error_title) + ": " + std::string(text.description);
  const std::lock_guard lock(status_mutex);
  RecordLocked(Failure::kInvalidArguments, text.result, std::move(description));
}

void SetResultCode(HRESULT result) {
  const std::lock_guard lock(status_mutex);
  status.result_code = result;
}

HRESULT AbortComputation() noexcept {
  kx::models::RequestAbort();
  const FailureText& text = TextOf(Failure::kAborted);
  try {
    const std::lock_guard lock(status_mutex);
    status.error_code = text.code;
    status.error_string.assign(text.error_string);
    status.last_method = kLastMethodAbort;
    // The description is set too, so that the error information of an aborted call describes
    // the abort rather than whichever failure was recorded before it.
    status.error_description.assign(text.description);
  } catch (...) {
    // The request itself is set; only the texts could not be stored.
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

HRESULT ReportErrorInfo(const std::string& description) noexcept {
  try {
    ComPtr<ICreateErrorInfo> create;
    HRESULT hr = CreateErrorInfo(create.put());
    if (FAILED(hr)) return hr;
    (void)create->SetGUID(GUID_NULL);
    LPOLESTR progid = nullptr;
    if (SUCCEEDED(ProgIDFromCLSID(CLSID_KvQuantorb, &progid)) && progid) {
      (void)create->SetSource(progid);
      CoTaskMemFree(progid);
    }
    std::u16string wide = Utf8ToUtf16(description);
    (void)create->SetDescription(wide.data());
    ComPtr<IErrorInfo> info;
    hr = create.As(&info);
    if (FAILED(hr)) return hr;
    hr = SetErrorInfo(0, info.get());
    if (FAILED(hr)) return hr;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return DISP_E_EXCEPTION;
}

void RaiseDone(const ConnectionPoint& events, std::int32_t last_method, std::int32_t error_code,
               const std::u16string& error_string) noexcept {
  std::vector<ComPtr<IDispatch>> connected;
  try {
    connected = events.SinksAs<IDispatch>();
  } catch (...) {
    return;  // no memory for the list: no sink can be told
  }
  for (const ComPtr<IDispatch>& sink : connected) {
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
    EXCEPINFO excep;
    UINT arg_err = 0;
    (void)sink->Invoke(kDispidDone, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                       &result, &excep, &arg_err);
    SysFreeString(args[0].bstrVal);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
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
  // frame must not go on while the worker still reads the job record.
  (void)WaitForSingleObject(thread, INFINITE);
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
    try {
      RecordFailure(Failure::kUnexpectedFault);
    } catch (...) {
    }
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
  try {
    (void)ReportErrorInfo(std::string(text.description));
    RaiseDone(object_.events, kLastMethodFrame, text.code, std::u16string(text.error_string));
  } catch (...) {
  }
  return text.result;
}

void MethodFrame::Fail(Failure failure) {
  checks_failed_ = true;
  RecordFailure(failure);
}

void MethodFrame::FailInvalidArguments() {
  checks_failed_ = true;
  RecordInvalidArguments(error_title_);
}

void MethodFrame::RunWorker(LPTHREAD_START_ROUTINE routine) noexcept {
  kx::models::ClearAbortRequest();
  {
    const std::lock_guard lock(status_mutex);
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
  CallStatus outcome;
  try {
    const std::lock_guard lock(status_mutex);
    if (status.error_code == 0) {
      status.error_string.assign(kNoErrorText);
      status.last_method = kLastMethodFrame;
    }
    outcome = status;
  } catch (...) {
    outcome.error_code = TextOf(Failure::kOutOfMemory).code;
    outcome.result_code = E_OUTOFMEMORY;
  }
  if (outcome.error_code != 0) (void)ReportErrorInfo(outcome.error_description);
  HRESULT result = outcome.result_code;
  if (rule == ResultRule::kFailOnError) result = outcome.error_code != 0 ? E_FAIL : S_OK;

  // The gate opens before Done, so that a sink may start the next call from its handler; Done
  // reports this call's outcome from the copy taken above.
  finished_ = true;
  gate.Leave();
  RaiseDone(object_.events, outcome.last_method, outcome.error_code, outcome.error_string);
  {
    const std::lock_guard lock(status_mutex);
    if (status_generation == generation_) status.error_string.clear();
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
