// The method call frame shared by every pricing method: the process-wide status record, job record
// and call gate, the argument validators, error information, the Done event and the worker thread.
//
// All KvQuantorb objects of a process share one CallStatus and one JobRecord, so one pricing call
// runs at a time. The call gate enforces that: a call from another thread waits until the running
// call has finished; a call made on the thread whose call is running (from a message handler during
// the pumped wait) is refused with error 3101 and leaves the running call untouched. Abort and the
// property accessors do not pass the gate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "error_table.h"
#include "kx/platform/hresult.h"
#include "kx/platform/threads.h"
#include "object_state.h"

namespace kx::component {

/// The outcome of the last method call, shared by every object and the worker thread.
struct CallStatus {
  std::int32_t error_code = 0;
  std::u16string_view error_string;  // what Done reports: always a text of the error table
  std::int32_t last_method = 0;      // 2 after a method frame, 1 after Abort
  kx::platform::HRESULT result_code = kx::platform::S_OK;
  std::string error_description;  // posted as error information (UTF-8)
};

/// A copy of the process-wide status record (diagnostics and tests; may throw std::bad_alloc).
[[nodiscard]] CallStatus CurrentCallStatus();

/// LastMethod values.
inline constexpr std::int32_t kLastMethodFrame = 2;
inline constexpr std::int32_t kLastMethodAbort = 1;

/// Records `failure` with its table texts and result (all five fields, LastMethod 2). Used on the
/// caller's thread by the checks and on the worker thread by the computations. Allocates nothing,
/// so that running out of memory can itself be recorded.
void RecordFailure(Failure failure) noexcept;
/// The same with an explicit ResultCode (lock and unlock failures carry the call's HRESULT).
void RecordFailure(Failure failure, kx::platform::HRESULT result) noexcept;
/// Error 6010 with the description "<title>: Invalid input parameter(s)." (without the title
/// when there is no memory to join them).
void RecordInvalidArguments(const char* error_title) noexcept;
/// Sets ResultCode alone (the worker starts with S_OK).
void SetResultCode(kx::platform::HRESULT result) noexcept;

/// Abort: requests the running worker computation to stop at its next poll and records error 3100
/// "Data processing aborted." with LastMethod 1. Always S_OK; raises no event.
kx::platform::HRESULT AbortComputation() noexcept;

// Validators. Each returns true when its tests pass; on failure it posts its own message as error
// information (the dispatcher's summary replaces it) and returns false. Every test is an ordered
// comparison, so NaN fails the first test it meets.
[[nodiscard]] bool CheckOptionArgs(double stock_price, double exercise_price, double interest_rate,
                                   double time_to_maturity, double volatility,
                                   double dividend_rate);
[[nodiscard]] bool CheckModelArgs(double stock_price, double exercise_price, double interest_rate,
                                  double time_to_maturity, double volatility, double dividend_rate,
                                  kx::platform::LONG model_type, double foreign_rate);
/// Stores BinSteps in the object's stored step count once the step tests pass.
[[nodiscard]] bool CheckTreeArgs(ObjectSettings& settings, kx::platform::LONG bin_steps,
                                 kx::platform::LONG flag_eur_am);

/// Posts error information on the calling thread: GUID_NULL, source = the class's registered
/// ProgID (none when it is not registered), the description (UTF-8). Returns DISP_E_EXCEPTION.
/// Without memory for it, the thread's error information is cleared rather than left stale, and
/// the result is E_OUTOFMEMORY.
kx::platform::HRESULT ReportErrorInfo(std::string_view description) noexcept;

/// Raises Done(LastMethod, ErrorCode, ErrorString) on every connected sink, in connection order.
/// Every sink is told even without memory: the sinks are then walked slot by slot, and a text that
/// cannot be copied goes as an empty one.
void RaiseDone(const kx::platform::ConnectionPoint& events, std::int32_t last_method,
               std::int32_t error_code, std::u16string_view error_string) noexcept;

/// Returns when the thread has ended. BlockingMode 1 dispatches the thread's messages meanwhile;
/// any other value waits plainly.
void WaitForWorker(kx::platform::HANDLE thread, kx::platform::SHORT blocking_mode) noexcept;

/// Threads waiting at the call gate for the running call to finish (diagnostics and tests).
[[nodiscard]] std::size_t CallGateWaitingThreads() noexcept;

// Worker side. A worker starts with BeginWorker, runs its computation through GuardedStep and
// calls EndComputation before it releases its memory and unlocks its arrays.
void BeginWorker() noexcept;
void EndComputation() noexcept;
/// Records what an exception that ended a computation step means: an abort is already recorded
/// by Abort; no memory records 6003; anything else 6008. Each writes one trace line to stdout.
void HandleWorkerException(std::exception_ptr fault) noexcept;

template <typename Step>
void GuardedStep(Step&& step) noexcept {
  try {
    step();
  } catch (...) {
    HandleWorkerException(std::current_exception());
  }
}

/// How a frame turns its outcome into the method's HRESULT.
enum class ResultRule {
  kFailOnError,  // scalar Black-Scholes and Bjerksund-Stensland: E_FAIL when ErrorCode != 0
  kResultCode,   // worker families: the recorded ResultCode
};

/// One method call from entry to Done. Construction passes the call gate; check Admitted() and
/// return Refuse() when it is false. Then run the checks, Compute or RunWorker, and Finish.
/// RunMethodFrame below does all but the middle step.
class MethodFrame {
 public:
  MethodFrame(ObjectState& object, const char* error_title);
  MethodFrame(const MethodFrame&) = delete;
  MethodFrame& operator=(const MethodFrame&) = delete;
  ~MethodFrame();

  [[nodiscard]] bool Admitted() const noexcept { return admitted_; }
  /// Reports the refusal (error information and one Done to this object's sinks, with 3101)
  /// without touching the process-wide records, and returns RPC_E_CALL_REJECTED.
  [[nodiscard]] kx::platform::HRESULT Refuse() noexcept;

  /// Records a failed check of this call; the worker is then not started.
  void Fail(Failure failure) noexcept;
  void FailInvalidArguments() noexcept;
  [[nodiscard]] bool ChecksFailed() const noexcept { return checks_failed_; }

  [[nodiscard]] ObjectSettings& settings() noexcept { return object_.settings; }
  [[nodiscard]] const char* error_title() const noexcept { return error_title_; }

  /// Clears the abort request and ErrorCode, runs `routine` on a new thread and waits for it with
  /// the object's BlockingMode. A thread that cannot be started records 6005.
  void RunWorker(kx::platform::LPTHREAD_START_ROUTINE routine) noexcept;

  /// Records "No Error" or posts the error information, leaves the gate, raises Done once and
  /// returns the method's HRESULT by `rule`.
  [[nodiscard]] kx::platform::HRESULT Finish(ResultRule rule) noexcept;

 private:
  ObjectState& object_;
  const char* error_title_;
  std::uint64_t generation_ = 0;
  bool admitted_ = false;
  bool checks_failed_ = false;
  bool finished_ = false;
};

/// A method call through its frame: a call refused at the gate returns the refusal; an admitted
/// one runs `body(frame)` (the checks, then the computation on this thread or RunWorker) and
/// finishes by `rule`. A body that runs out of memory records 6003 and finishes like any failure.
template <typename Body>
[[nodiscard]] kx::platform::HRESULT RunMethodFrame(ObjectState& object, const char* error_title,
                                                   ResultRule rule, Body&& body) noexcept {
  try {
    MethodFrame frame(object, error_title);
    if (!frame.Admitted()) return frame.Refuse();
    try {
      body(frame);
    } catch (...) {
      frame.Fail(Failure::kOutOfMemory);
    }
    return frame.Finish(rule);
  } catch (...) {
    return kx::platform::E_OUTOFMEMORY;  // the gate itself failed
  }
}

}  // namespace kx::component
