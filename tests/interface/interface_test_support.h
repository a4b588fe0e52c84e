// A client's view of KvQuantorb for the tests: an object with a connected Done recorder, the
// error information of the last failure, array VARIANTs, and message windows that run an action
// on the calling thread while a pumped wait dispatches messages.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "frame_testing.h"
#include "ikvquantorb.h"
#include "kv_quantorb.h"
#include "kx/platform/comptr.h"
#include "kx/platform/messages.h"
#include "kx/platform/variant.h"

namespace kx::component::test_support {

using kx::platform::ComPtr;
using kx::platform::HRESULT;
using kx::platform::LONG;
using kx::platform::SHORT;
using kx::platform::Variant;

inline constexpr double kSentinel = -999.0;
inline constexpr const char16_t* kNoError = u"No Error";
inline constexpr const char16_t* kInvalidInput = u"Argument error: Invalid input parameter(s).";
inline constexpr const char16_t* kAborted = u"Data processing aborted.";

struct DoneEvent {
  SHORT last_method = 0;
  SHORT error_code = 0;
  std::u16string error_string;
};

/// An _IKvQuantorbEvents sink that records every Done and checks the call's shape.
class DoneRecorder final : public kx::platform::IDispatch {
 public:
  static ComPtr<DoneRecorder> Create();

  [[nodiscard]] std::vector<DoneEvent> Events() const;
  [[nodiscard]] std::size_t Count() const;
  /// The last event; fails the test when there is none.
  [[nodiscard]] DoneEvent Last() const;
  /// Invoke calls whose DISPID, flags, locale or arguments were not those of Done.
  [[nodiscard]] int Malformed() const { return malformed_.load(); }
  /// Runs inside every Done, after it is recorded.
  void OnDone(std::function<void(const DoneEvent&)> action);

  HRESULT STDMETHODCALLTYPE QueryInterface(kx::platform::REFIID riid, void** object) override;
  kx::platform::ULONG STDMETHODCALLTYPE AddRef() override;
  kx::platform::ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(kx::platform::UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(kx::platform::UINT, kx::platform::LCID,
                                        kx::platform::ITypeInfo**) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(kx::platform::REFIID, kx::platform::LPOLESTR*,
                                          kx::platform::UINT, kx::platform::LCID,
                                          kx::platform::DISPID*) override;
  HRESULT STDMETHODCALLTYPE Invoke(kx::platform::DISPID member, kx::platform::REFIID riid,
                                   kx::platform::LCID lcid, kx::platform::WORD flags,
                                   kx::platform::DISPPARAMS* params, kx::platform::VARIANT* result,
                                   kx::platform::EXCEPINFO* excep,
                                   kx::platform::UINT* arg_err) override;

 private:
  DoneRecorder() = default;
  ~DoneRecorder() = default;

  std::atomic<kx::platform::ULONG> references_{0};
  mutable std::mutex mutex_;
  std::vector<DoneEvent> events_;
  std::function<void(const DoneEvent&)> on_done_;
  std::atomic<int> malformed_{0};
};

/// A KvQuantorb object with one connected DoneRecorder.
struct Client {
  Client();
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  ComPtr<IKvQuantorb> object;
  ComPtr<DoneRecorder> done;
  kx::platform::DWORD cookie = 0;
};

/// The error information posted on this thread (taken, so the slot is empty afterwards).
struct PostedError {
  bool present = false;
  std::string source;
  std::string description;
  bool guid_null = false;
};
[[nodiscard]] PostedError TakeErrorInfo();

/// Array VARIANTs of doubles: 1-D with a lower bound, 2-D given in storage order (first index
/// fastest) with one lower bound for both dimensions unless the last one is given.
[[nodiscard]] Variant DoubleVector(const std::vector<double>& values, LONG lower = 0);
[[nodiscard]] Variant DoubleMatrix(kx::platform::ULONG rows, kx::platform::ULONG columns,
                                   const std::vector<double>& storage, LONG lower = 0);
[[nodiscard]] Variant DoubleMatrix(kx::platform::ULONG rows, kx::platform::ULONG columns,
                                   const std::vector<double>& storage, LONG lower_first,
                                   LONG lower_last);
/// The elements of a 1-D VT_ARRAY | VT_R8 result and its lower bound.
struct ArrayResult {
  bool is_double_array = false;
  LONG lower = 0;
  std::vector<double> values;
};
[[nodiscard]] ArrayResult ReadResult(const kx::platform::VARIANT& result);

/// A message window on the constructing thread; Post() queues a message whose handler runs the
/// action on that thread (inside a pumped wait, or when the test pumps).
class MessageAction {
 public:
  explicit MessageAction(std::function<void()> action);
  ~MessageAction();
  MessageAction(const MessageAction&) = delete;
  MessageAction& operator=(const MessageAction&) = delete;

  void Post();
  /// Dispatches this thread's queued messages.
  static void PumpPending();
  [[nodiscard]] bool Ran() const { return runs_.load() > 0; }
  [[nodiscard]] int Runs() const { return runs_.load(); }
  /// Blocks (on another thread) until the action has run `times` times in all, at most 20 s.
  [[nodiscard]] bool WaitUntilRan(int times = 1) const;

 private:
  static kx::platform::LRESULT CALLBACK Proc(kx::platform::HWND window, kx::platform::UINT message,
                                             kx::platform::WPARAM wparam,
                                             kx::platform::LPARAM lparam);
  std::function<void()> action_;
  kx::platform::HWND window_ = nullptr;
  std::atomic<int> runs_{0};
};

/// Installs a worker phase hook for one scope and removes it (and any injected fault) after.
class WorkerHook {
 public:
  using Action = std::function<void(testing::WorkerPhase)>;
  explicit WorkerHook(Action action);
  ~WorkerHook();
  WorkerHook(const WorkerHook&) = delete;
  WorkerHook& operator=(const WorkerHook&) = delete;

 private:
  static void Call(testing::WorkerPhase phase, void* context);
  Action action_;
};

/// Spins (yielding) until `done` returns true, at most 20 s; returns the last answer.
[[nodiscard]] bool WaitFor(const std::function<bool()>& done);

/// Base of the interface tests: a registry sandbox for the process (no registered class unless
/// a test registers it), injected faults cleared after each test.
class InterfaceTest : public ::testing::Test {
 protected:
  void TearDown() override;
};

/// Writes HKCR\CLSID\{KvQuantorb}\ProgID = "Korvane.Quantorb.1" and removes it again.
class RegisteredProgId {
 public:
  RegisteredProgId();
  ~RegisteredProgId();
};

}  // namespace kx::component::test_support
