#include "kx/platform/connection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace kx::platform {
namespace {

inline constexpr IID kDiidEvents{0x6B1F2D01, 0x1A2B, 0x4C3D, {0x8E, 0x9F, 0, 1, 2, 3, 4, 5}};

// An object with one event point and one property-change point.
class Source final : public IConnectionPointContainer {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IConnectionPointContainer) {
      *object = static_cast<IConnectionPointContainer*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override {
    IConnectionPoint* all[] = {&events, &notify};
    return CreateConnectionPointEnumerator(all, points);
  }
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
    ConnectionPoint* all[] = {&events, &notify};
    return FindConnectionPointIn(all, riid, point);
  }

  std::atomic<ULONG> refs{1};
  ConnectionPoint events{this, kDiidEvents};
  PropertyNotifyConnectionPoint notify{this};
};

// A sink of both outgoing interfaces that writes what it receives into a shared log.
class Sink final : public IDispatch, public IPropertyNotifySink {
 public:
  Sink(std::string name, std::vector<std::string>* log) : name_(std::move(name)), log_(log) {}
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || (riid == kDiidEvents && answers_events)) {
      *object = static_cast<IDispatch*>(this);
    } else if (riid == IID_IPropertyNotifySink) {
      *object = static_cast<IPropertyNotifySink*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT*,
                 EXCEPINFO*, UINT*) override {
    std::string entry = name_ + ":" + std::to_string(member) + "(";
    for (UINT i = params->cArgs; i-- > 0;) {  // the first argument stands last
      const VARIANT& a = params->rgvarg[i];
      entry += a.vt == VT_I2 ? std::to_string(a.iVal) : a.vt == VT_BSTR ? BstrToUtf8(a.bstrVal) : "?";
      if (i) entry += ",";
    }
    entry += ")";
    if (riid != IID_NULL || lcid != LOCALE_USER_DEFAULT || flags != DISPATCH_METHOD) entry += " bad call";
    log_->push_back(entry);
    refs_during_call = refs;
    if (on_event) on_event();
    return S_OK;
  }
  HRESULT OnChanged(DISPID property) override {
    log_->push_back(name_ + ":changed " + std::to_string(property));
    return S_OK;
  }
  HRESULT OnRequestEdit(DISPID property) override {
    log_->push_back(name_ + ":request " + std::to_string(property));
    return allow_edit ? S_OK : S_FALSE;
  }

  std::atomic<ULONG> refs{1};
  ULONG refs_during_call = 0;
  bool answers_events = true;
  bool allow_edit = true;
  std::function<void()> on_event;

 private:
  std::string name_;
  std::vector<std::string>* log_;
};

std::size_t RaiseDone(Source& source, SHORT last_method, SHORT error_code, const char16_t* text) {
  VARIANT args[3];  // reverse order: ErrorString, ErrorCode, LastMethod
  args[0].vt = VT_BSTR;
  args[0].bstrVal = SysAllocString(text);
  args[1].vt = VT_I2;
  args[1].iVal = error_code;
  args[2].vt = VT_I2;
  args[2].iVal = last_method;
  const std::size_t n = RaiseDispatchEvent(source.events, 1, args);
  (void)VariantClear(&args[0]);
  return n;
}

TEST(ConnectionPoint, DeliversAnEventToTwoSinksInConnectionOrder) {
  std::vector<std::string> log;
  Sink a("A", &log), b("B", &log);
  Source source;  // after the sinks: it releases them when destroyed
  DWORD cookie_a = 0, cookie_b = 0;
  ASSERT_EQ(source.events.Advise(static_cast<IDispatch*>(&a), &cookie_a), S_OK);
  ASSERT_EQ(source.events.Advise(static_cast<IDispatch*>(&b), &cookie_b), S_OK);
  EXPECT_NE(cookie_a, 0u);
  EXPECT_NE(cookie_a, cookie_b);
  EXPECT_EQ(a.refs, 2u) << "the point holds one reference per connection";

  EXPECT_EQ(RaiseDone(source, 2, 0, u"No Error"), 2u);
  EXPECT_EQ(log, (std::vector<std::string>{"A:1(2,0,No Error)", "B:1(2,0,No Error)"}));
  EXPECT_EQ(a.refs_during_call, 3u) << "each sink is held across its call";
  EXPECT_EQ(a.refs, 2u);
}

TEST(ConnectionPoint, ReusesEmptySlotsButNeverCookies) {
  std::vector<std::string> log;
  Sink a("A", &log), b("B", &log), c("C", &log);
  Source source;
  DWORD cookie_a = 0, cookie_b = 0, cookie_c = 0;
  ASSERT_EQ(source.events.Advise(static_cast<IDispatch*>(&a), &cookie_a), S_OK);
  ASSERT_EQ(source.events.Advise(static_cast<IDispatch*>(&b), &cookie_b), S_OK);
  ASSERT_EQ(source.events.Unadvise(cookie_a), S_OK);
  EXPECT_EQ(a.refs, 1u);
  EXPECT_EQ(RaiseDone(source, 1, 3100, u"Data processing aborted."), 1u) << "the empty slot is skipped";
  ASSERT_EQ(source.events.Advise(static_cast<IDispatch*>(&c), &cookie_c), S_OK);
  EXPECT_NE(cookie_c, cookie_a);
  EXPECT_EQ(source.events.Unadvise(cookie_a), CONNECT_E_NOCONNECTION) << "a stale cookie disconnects nobody";
  log.clear();
  RaiseDone(source, 2, 0, u"No Error");
  EXPECT_EQ(log, (std::vector<std::string>{"C:1(2,0,No Error)", "B:1(2,0,No Error)"}));
  EXPECT_EQ(source.events.ConnectionCount(), 2u);
}

TEST(ConnectionPoint, RefusesSinksWithoutTheInterfaceAndBadArguments) {
  std::vector<std::string> log;
  Sink deaf("D", &log);
  deaf.answers_events = false;
  Source source;
  DWORD cookie = 77;
  EXPECT_EQ(source.events.Advise(static_cast<IDispatch*>(&deaf), &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(deaf.refs, 1u);
  EXPECT_EQ(source.events.Advise(nullptr, &cookie), E_POINTER);
  EXPECT_EQ(source.events.Advise(static_cast<IDispatch*>(&deaf), nullptr), E_POINTER);
  EXPECT_EQ(source.events.Unadvise(0), CONNECT_E_NOCONNECTION);
}

TEST(ConnectionPoint, SinkMayDisconnectItselfDuringTheEvent) {
  std::vector<std::string> log;
  Sink a("A", &log), b("B", &log);
  Source source;
  DWORD cookie_a = 0, cookie_b = 0;
  ASSERT_EQ(source.events.Advise(static_cast<IDispatch*>(&a), &cookie_a), S_OK);
  ASSERT_EQ(source.events.Advise(static_cast<IDispatch*>(&b), &cookie_b), S_OK);
  a.on_event = [&] { EXPECT_EQ(source.events.Unadvise(cookie_a), S_OK); };
  EXPECT_EQ(RaiseDone(source, 2, 0, u"x"), 2u) << "the snapshot still reaches B";
  EXPECT_EQ(log.size(), 2u);
  EXPECT_EQ(a.refs, 1u);
  EXPECT_EQ(RaiseDone(source, 2, 0, u"x"), 1u);
}

TEST(ConnectionPoint, CountsOnItsContainerAndNamesItsInterface) {
  Source source;
  IConnectionPoint* point = nullptr;
  ASSERT_EQ(source.FindConnectionPoint(kDiidEvents, &point), S_OK);
  EXPECT_EQ(source.refs, 2u);
  IID iid{};
  EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, kDiidEvents);
  IConnectionPointContainer* container = nullptr;
  EXPECT_EQ(point->GetConnectionPointContainer(&container), S_OK);
  EXPECT_EQ(container, &source);
  container->Release();
  point->Release();
  EXPECT_EQ(source.refs, 1u);
  EXPECT_EQ(source.FindConnectionPoint(IID_IDispatch, &point), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point, nullptr);
}

TEST(ConnectionPoint, EnumeratesConnectionsAndPoints) {
  std::vector<std::string> log;
  Sink a("A", &log), b("B", &log);
  Source source;
  DWORD cookies[2] = {};
  ASSERT_EQ(source.events.Advise(static_cast<IDispatch*>(&a), &cookies[0]), S_OK);
  ASSERT_EQ(source.events.Advise(static_cast<IDispatch*>(&b), &cookies[1]), S_OK);
  IEnumConnections* connections = nullptr;
  ASSERT_EQ(source.events.EnumConnections(&connections), S_OK);
  CONNECTDATA data[3];
  ULONG fetched = 0;
  EXPECT_EQ(connections->Next(3, data, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(data[0].dwCookie, cookies[0]);
  EXPECT_EQ(data[1].pUnk, static_cast<IDispatch*>(&b));
  EXPECT_EQ(b.refs, 4u) << "point, snapshot and caller each hold one";
  for (ULONG i = 0; i < fetched; ++i) data[i].pUnk->Release();
  EXPECT_EQ(connections->Reset(), S_OK);
  EXPECT_EQ(connections->Skip(1), S_OK);
  IEnumConnections* clone = nullptr;
  ASSERT_EQ(connections->Clone(&clone), S_OK);
  EXPECT_EQ(clone->Next(1, data, nullptr), S_OK);
  EXPECT_EQ(data[0].dwCookie, cookies[1]);
  data[0].pUnk->Release();
  EXPECT_EQ(clone->Skip(1), S_FALSE);
  clone->Release();
  connections->Release();
  EXPECT_EQ(b.refs, 2u);

  IEnumConnectionPoints* points = nullptr;
  ASSERT_EQ(source.EnumConnectionPoints(&points), S_OK);
  IConnectionPoint* got[2] = {};
  ASSERT_EQ(points->Next(2, got, &fetched), S_OK);
  EXPECT_EQ(got[0], static_cast<IConnectionPoint*>(&source.events));
  EXPECT_EQ(got[1], static_cast<IConnectionPoint*>(&source.notify));
  got[0]->Release();
  got[1]->Release();
  points->Release();
  EXPECT_EQ(source.refs, 1u);
}

TEST(PropertyNotifyConnectionPoint, FirstRefusalStopsTheRequest) {
  std::vector<std::string> log;
  Sink a("A", &log), b("B", &log), c("C", &log);
  Source source;
  DWORD cookie = 0;
  for (Sink* s : {&a, &b, &c}) ASSERT_EQ(source.notify.Advise(static_cast<IPropertyNotifySink*>(s), &cookie), S_OK);
  EXPECT_EQ(source.notify.RequestEdit(1), S_OK);
  EXPECT_EQ(log, (std::vector<std::string>{"A:request 1", "B:request 1", "C:request 1"}));
  log.clear();
  b.allow_edit = false;
  EXPECT_EQ(source.notify.RequestEdit(2), S_FALSE);
  EXPECT_EQ(log, (std::vector<std::string>{"A:request 2", "B:request 2"}));
  log.clear();
  source.notify.Changed(1);
  EXPECT_EQ(log, (std::vector<std::string>{"A:changed 1", "B:changed 1", "C:changed 1"}));
  source.notify.UnadviseAll();
  EXPECT_EQ(a.refs, 1u);
}

TEST(ConnectionPoint, ConnectsAndRaisesFromSeveralThreadsAtOnce) {
  std::vector<std::string> unused;
  Sink quiet("Q", &unused);
  Source source;
  std::atomic<bool> stop{false};
  std::thread raiser([&] {
    while (!stop) {
      for (const auto& s : source.notify.Sinks()) (void)s;  // snapshots race with Advise/Unadvise
      (void)source.notify.ConnectionCount();
    }
  });
  auto churn = [&] {
    for (int i = 0; i < 2000; ++i) {
      DWORD cookie = 0;
      ASSERT_EQ(source.notify.Advise(static_cast<IPropertyNotifySink*>(&quiet), &cookie), S_OK);
      ASSERT_EQ(source.notify.Unadvise(cookie), S_OK);
    }
  };
  std::thread a(churn), b(churn);
  a.join();
  b.join();
  stop = true;
  raiser.join();
  EXPECT_EQ(source.notify.ConnectionCount(), 0u);
  EXPECT_EQ(quiet.refs, 1u);
}

}  // namespace
}  // namespace kx::platform
