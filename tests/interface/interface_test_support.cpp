#include "interface_test_support.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "kx/platform/bstr.h"
#include "kx/platform/errorinfo.h"
#include "kx/platform/guid.h"
#include "kx/platform/safearray.h"
#include "method_frame.h"

namespace kx::component::test_support {

using namespace kx::platform;

namespace {

constexpr UINT kActionMessage = WM_APP + 7;

}  // namespace

// DoneRecorder

ComPtr<DoneRecorder> DoneRecorder::Create() { return ComPtr<DoneRecorder>(new DoneRecorder); }

std::vector<DoneEvent> DoneRecorder::Events() const {
  const std::lock_guard lock(mutex_);
  return events_;
}

std::size_t DoneRecorder::Count() const {
  const std::lock_guard lock(mutex_);
  return events_.size();
}

DoneEvent DoneRecorder::Last() const {
  const std::lock_guard lock(mutex_);
  if (events_.empty()) {
    ADD_FAILURE() << "no Done was raised";
    return {};
  }
  return events_.back();
}

void DoneRecorder::OnDone(std::function<void(const DoneEvent&)> action) {
  const std::lock_guard lock(mutex_);
  on_done_ = std::move(action);
}

HRESULT DoneRecorder::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__IKvQuantorbEvents) {
    return ReturnInterface(static_cast<IDispatch*>(this), object);
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG DoneRecorder::AddRef() { return ++references_; }

ULONG DoneRecorder::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT DoneRecorder::GetTypeInfoCount(UINT* count) {
  *count = 0;
  return S_OK;
}
HRESULT DoneRecorder::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT DoneRecorder::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT DoneRecorder::Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                             VARIANT*, EXCEPINFO*, UINT*) {
  const bool shaped = member == kDispidDone && riid == IID_NULL && lcid == LOCALE_USER_DEFAULT &&
                      flags == DISPATCH_METHOD && params && params->cArgs == 3 &&
                      params->cNamedArgs == 0 && params->rgvarg[0].vt == VT_BSTR &&
                      params->rgvarg[1].vt == VT_I2 && params->rgvarg[2].vt == VT_I2;
  if (!shaped) {
    ++malformed_;
    return DISP_E_MEMBERNOTFOUND;
  }
  const BSTR text = params->rgvarg[0].bstrVal;
  DoneEvent event{params->rgvarg[2].iVal, params->rgvarg[1].iVal,
                  text ? std::u16string(U16Text(text), SysStringLen(text)) : std::u16string()};
  std::function<void(const DoneEvent&)> action;
  {
    const std::lock_guard lock(mutex_);
    events_.push_back(event);
    action = on_done_;
  }
  if (action) action(event);
  return S_OK;
}

// Client

Client::Client() : done(DoneRecorder::Create()) {
  EXPECT_EQ(KvQuantorb::CreateInstance(nullptr, IID_IKvQuantorb, object.put_void()), S_OK);
  EXPECT_EQ(static_cast<KvQuantorb*>(object.get())->AdviseEvents(done.get(), &cookie), S_OK);
}

Client::~Client() {
  if (object) {
    EXPECT_EQ(static_cast<KvQuantorb*>(object.get())->UnadviseEvents(cookie), S_OK);
  }
}

// Error information

PostedError TakeErrorInfo() {
  PostedError posted;
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return posted;
  posted.present = true;
  Bstr source;
  Bstr description;
  GUID guid{1};
  (void)info->GetSource(source.put());
  (void)info->GetDescription(description.put());
  (void)info->GetGUID(&guid);
  posted.source = source.Utf8();
  posted.description = description.Utf8();
  posted.guid_null = guid == GUID_NULL;
  return posted;
}

// Arrays

Variant DoubleVector(const std::vector<double>& values, LONG lower) {
  Variant v;
  v.vt = VT_ARRAY | VT_R8;
  v.parray = SafeArrayCreateVector(VT_R8, lower, static_cast<ULONG>(values.size()));
  EXPECT_NE(v.parray, nullptr);
  if (v.parray && !values.empty()) {
    std::copy(values.begin(), values.end(), static_cast<double*>(v.parray->pvData));
  }
  return v;
}

Variant DoubleMatrix(ULONG rows, ULONG columns, const std::vector<double>& storage, LONG lower) {
  return DoubleMatrix(rows, columns, storage, lower, lower);
}

Variant DoubleMatrix(ULONG rows, ULONG columns, const std::vector<double>& storage,
                     LONG lower_first, LONG lower_last) {
  const SAFEARRAYBOUND bounds[2] = {{rows, lower_first}, {columns, lower_last}};
  Variant v;
  v.vt = VT_ARRAY | VT_R8;
  v.parray = SafeArrayCreate(VT_R8, 2, bounds);
  EXPECT_NE(v.parray, nullptr);
  EXPECT_EQ(storage.size(), static_cast<std::size_t>(rows) * columns);
  if (v.parray && !storage.empty()) {
    std::copy(storage.begin(), storage.end(), static_cast<double*>(v.parray->pvData));
  }
  return v;
}

ArrayResult ReadResult(const VARIANT& result) {
  ArrayResult read;
  if (result.vt != (VT_ARRAY | VT_R8) || !result.parray) return read;
  read.is_double_array = SafeArrayGetDim(result.parray) == 1;
  if (!read.is_double_array) return read;
  LONG upper = 0;
  EXPECT_EQ(SafeArrayGetLBound(result.parray, 1, &read.lower), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(result.parray, 1, &upper), S_OK);
  for (LONG i = read.lower; i <= upper; ++i) {
    double value = 0;
    EXPECT_EQ(SafeArrayGetElement(result.parray, &i, &value), S_OK);
    read.values.push_back(value);
  }
  return read;
}

// Message actions

MessageAction::MessageAction(std::function<void()> action) : action_(std::move(action)) {
  window_ = CreateMessageWindow(&MessageAction::Proc, this);
  EXPECT_NE(window_, nullptr);
}

MessageAction::~MessageAction() {
  if (window_) DestroyWindow(window_);
}

void MessageAction::Post() { EXPECT_TRUE(PostMessage(window_, kActionMessage, 0, 0)); }

void MessageAction::PumpPending() {
  MSG msg;
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
}

bool MessageAction::WaitUntilRan(int times) const {
  return WaitFor([this, times] { return Runs() >= times; });
}

LRESULT MessageAction::Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kActionMessage) {
    auto* self = static_cast<MessageAction*>(GetWindowUserData(window));
    self->action_();
    ++self->runs_;
    return 0;
  }
  return DefWindowProc(window, message, wparam, lparam);
}

// Worker hooks

WorkerHook::WorkerHook(Action action) : action_(std::move(action)) {
  testing::SetWorkerPhaseHook(&WorkerHook::Call, this);
}

WorkerHook::~WorkerHook() { testing::ClearInjectedFaults(); }

void WorkerHook::Call(testing::WorkerPhase phase, void* context) {
  static_cast<WorkerHook*>(context)->action_(phase);
}

bool WaitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return done();
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

void InterfaceTest::TearDown() {
  testing::ClearInjectedFaults();
  (void)TakeErrorInfo();
}

}  // namespace kx::component::test_support
