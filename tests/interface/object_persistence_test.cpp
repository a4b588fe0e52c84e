// The control's two properties: notifications and refusal on put, the needs-saving mark, and
// saving and loading through a property bag, a stream and a storage.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "kx/platform/persist.h"
#include "object_test_support.h"

namespace kx::component::object_test {
namespace {

using namespace kx::platform;

// Records OnRequestEdit and OnChanged; refuses edits while `refuse` is set.
class PropertySink final : public IPropertyNotifySink {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IPropertyNotifySink) {
      return ReturnInterface(static_cast<IPropertyNotifySink*>(this), object);
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override { return --references; }
  HRESULT OnChanged(DISPID property) override {
    log.push_back(name + ".changed(" + std::to_string(property) + ")");
    return S_OK;
  }
  HRESULT OnRequestEdit(DISPID property) override {
    log.push_back(name + ".request(" + std::to_string(property) + ")");
    return refuse ? S_FALSE : S_OK;
  }
  explicit PropertySink(std::string n, std::vector<std::string>& shared)
      : name(std::move(n)), log(shared) {}

  std::string name;
  std::vector<std::string>& log;
  bool refuse = false;
  ULONG references = 0;
};

// Connects property sinks the way a container does: through quick activation.
void ConnectPropertySink(IDispatch* object, IPropertyNotifySink* sink) {
  auto quick = ComPtr<IDispatch>(object).As<IQuickActivate>();
  ASSERT_TRUE(quick);
  QACONTAINER container{};
  container.cbSize = sizeof container;
  container.pPropertyNotifySink = sink;
  QACONTROL control{};
  control.cbSize = sizeof control;
  ASSERT_EQ(quick->QuickActivate(&container, &control), S_OK);
  EXPECT_NE(control.dwPropNotifyCookie, 0u);
  EXPECT_EQ(control.dwMiscStatus, 132497u);
}

HRESULT IsDirty(IDispatch* object) {
  auto persist = ComPtr<IDispatch>(object).As<IPersistStreamInit>();
  return persist ? persist->IsDirty() : E_NOINTERFACE;
}

using Properties = RegisteredModuleTest;

TEST_F(Properties, FreshObjectHasInitialValuesAndNeedsNoSaving) {
  ComPtr<IDispatch> object = Create();
  EXPECT_EQ(BaseOf(object.get()), 0);
  EXPECT_EQ(BlockingOf(object.get()), 1);
  EXPECT_EQ(IsDirty(object.get()), S_FALSE);
}

TEST_F(Properties, PutsAreAcceptedWithoutRangeCheck) {
  ComPtr<IDispatch> object = Create();
  for (LONG value : {-5, 1000, 1, 0}) {
    SCOPED_TRACE(value);
    EXPECT_EQ(PutByName(object.get(), u"Base", I4(value)).hr, S_OK);
    EXPECT_EQ(BaseOf(object.get()), value);
  }
  EXPECT_EQ(PutByName(object.get(), u"BlockingMode", I2(-1)).hr, S_OK);
  EXPECT_EQ(BlockingOf(object.get()), -1);
  EXPECT_EQ(IsDirty(object.get()), S_OK);
}

TEST_F(Properties, PutAsksEverySinkThenNotifiesInConnectionOrder) {
  ComPtr<IDispatch> object = Create();
  std::vector<std::string> log;
  PropertySink first("first", log), second("second", log);
  ConnectPropertySink(object.get(), &first);
  ConnectPropertySink(object.get(), &second);
  ASSERT_EQ(PutByName(object.get(), u"Base", I4(1)).hr, S_OK);
  ASSERT_EQ(PutByName(object.get(), u"BlockingMode", I2(0)).hr, S_OK);
  const std::vector<std::string> expected = {
      "first.request(1)", "second.request(1)", "first.changed(1)", "second.changed(1)",
      "first.request(2)", "second.request(2)", "first.changed(2)", "second.changed(2)"};
  EXPECT_EQ(log, expected);
  // Detaching the control from its site drops the sinks it connected.
  auto ole = object.As<IOleObject>();
  ASSERT_EQ(ole->SetClientSite(nullptr), S_OK);
  EXPECT_EQ(first.references, 0u);
  EXPECT_EQ(second.references, 0u);
}

TEST_F(Properties, RefusedEditReturnsSFalseAndKeepsTheValue) {
  ComPtr<IDispatch> object = Create();
  std::vector<std::string> log;
  PropertySink refusing("refusing", log), later("later", log);
  refusing.refuse = true;
  ConnectPropertySink(object.get(), &refusing);
  ConnectPropertySink(object.get(), &later);
  // Through the vtable, as an early-bound client sees it.
  ComPtr<IKvQuantorb> direct;
  ASSERT_EQ(object->QueryInterface(IID_IKvQuantorb, direct.put_void()), S_OK);
  EXPECT_EQ(direct->put_Base(7), S_FALSE);
  EXPECT_EQ(direct->put_BlockingMode(0), S_FALSE);
  // Through IDispatch the refusal is a success code too.
  EXPECT_EQ(PutByName(object.get(), u"Base", I4(9)).hr, S_FALSE);
  EXPECT_EQ(BaseOf(object.get()), 0);
  EXPECT_EQ(BlockingOf(object.get()), 1);
  EXPECT_EQ(IsDirty(object.get()), S_FALSE) << "nothing changed";
  const std::vector<std::string> expected = {"refusing.request(1)", "refusing.request(2)",
                                             "refusing.request(1)"};
  EXPECT_EQ(log, expected) << "the refusal stops the asking; nobody hears of a change";
  ASSERT_EQ(object.As<IOleObject>()->SetClientSite(nullptr), S_OK);
}

// ---- Persistence ----------------------------------------------------------------------------

std::vector<BYTE> Bytes(std::initializer_list<int> values) {
  std::vector<BYTE> out;
  for (int v : values) out.push_back(static_cast<BYTE>(v));
  return out;
}

// The 14-byte stream for Base and BlockingMode.
std::vector<BYTE> StreamOf(LONG base, SHORT blocking, DWORD version = 0x300) {
  std::vector<BYTE> out;
  auto put = [&](std::uint64_t v, int size) {
    for (int i = 0; i < size; ++i) out.push_back(static_cast<BYTE>((v >> (8 * i)) & 0xFF));
  };
  put(version, 4);
  put(VT_I4, 2);
  put(static_cast<std::uint32_t>(base), 4);
  put(VT_I2, 2);
  put(static_cast<std::uint16_t>(blocking), 2);
  return out;
}

using Persistence = RegisteredModuleTest;

TEST_F(Persistence, StreamHoldsFourteenLittleEndianBytes) {
  ComPtr<IDispatch> object = Create();
  ASSERT_EQ(PutByName(object.get(), u"Base", I4(-5)).hr, S_OK);
  ASSERT_EQ(PutByName(object.get(), u"BlockingMode", I2(-1)).hr, S_OK);
  auto persist = object.As<IPersistStreamInit>();
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateMemoryStream(stream.put()), S_OK);
  ASSERT_EQ(persist->Save(stream.get(), FALSE), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_OK) << "saved without clearing the mark";
  std::vector<BYTE> bytes;
  ASSERT_EQ(ReadStreamContents(stream.get(), &bytes), S_OK);
  EXPECT_EQ(bytes, Bytes({0x00, 0x03, 0x00, 0x00, 0x03, 0x00, 0xFB, 0xFF, 0xFF, 0xFF, 0x02, 0x00,
                          0xFF, 0xFF}));
  ULARGE_INTEGER size;
  EXPECT_EQ(persist->GetSizeMax(&size), S_OK);
  EXPECT_EQ(size.QuadPart, bytes.size());
  ComPtr<IStream> again;
  ASSERT_EQ(CreateMemoryStream(again.put()), S_OK);
  ASSERT_EQ(persist->Save(again.get(), TRUE), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
}

TEST_F(Persistence, StreamLoadPutsThroughDispatchAndClearsTheMark) {
  ComPtr<IDispatch> object = Create();
  std::vector<std::string> log;
  PropertySink sink("sink", log);
  ConnectPropertySink(object.get(), &sink);
  auto persist = object.As<IPersistStreamInit>();
  ASSERT_EQ(persist->InitNew(), S_OK);
  struct Row {
    const char* what;
    DWORD version;
  };
  for (const Row& r : {Row{"current version", 0x300}, Row{"older version", 0x200}}) {
    SCOPED_TRACE(r.what);
    ASSERT_EQ(PutByName(object.get(), u"Base", I4(3)).hr, S_OK);
    ComPtr<IStream> stream;
    ASSERT_EQ(CreateMemoryStream(StreamOf(1, 0, r.version), stream.put()), S_OK);
    log.clear();
    EXPECT_EQ(persist->Load(stream.get()), S_OK);
    EXPECT_EQ(BaseOf(object.get()), 1);
    EXPECT_EQ(BlockingOf(object.get()), 0);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    EXPECT_EQ(log, (std::vector<std::string>{"sink.request(1)", "sink.changed(1)",
                                             "sink.request(2)", "sink.changed(2)"}));
  }
  ASSERT_EQ(object.As<IOleObject>()->SetClientSite(nullptr), S_OK);
}

TEST_F(Persistence, NewerVersionIsRefusedWithEFail) {
  ComPtr<IDispatch> object = Create();
  auto persist = object.As<IPersistStreamInit>();
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateMemoryStream(StreamOf(1, 0, 0x301), stream.put()), S_OK);
  EXPECT_EQ(persist->Load(stream.get()), E_FAIL);
  EXPECT_EQ(BaseOf(object.get()), 0);
  EXPECT_EQ(BlockingOf(object.get()), 1);
}

TEST_F(Persistence, TruncatedOrForeignStreamIsRefusedAndChangesNothing) {
  ComPtr<IDispatch> object = Create();
  auto persist = object.As<IPersistStreamInit>();
  const std::vector<BYTE> whole = StreamOf(1, 0);
  for (std::size_t length = 0; length < whole.size(); ++length) {
    SCOPED_TRACE(length);
    ComPtr<IStream> stream;
    ASSERT_EQ(CreateMemoryStream(std::span(whole.data(), length), stream.put()), S_OK);
    EXPECT_TRUE(FAILED(persist->Load(stream.get())));
    EXPECT_EQ(BaseOf(object.get()), 0);
    EXPECT_EQ(BlockingOf(object.get()), 1);
  }
  std::vector<BYTE> foreign = whole;
  foreign[4] = VT_BSTR;  // a type the format does not carry
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateMemoryStream(foreign, stream.put()), S_OK);
  EXPECT_EQ(persist->Load(stream.get()), DISP_E_BADVARTYPE);
  EXPECT_EQ(BaseOf(object.get()), 0);
  EXPECT_EQ(persist->Load(nullptr), E_POINTER);
}

TEST_F(Persistence, StreamValuesOfOtherWidthsAreCoerced) {
  // Each value is read as its own VARTYPE and put through IDispatch, which coerces it.
  ComPtr<IDispatch> object = Create();
  auto persist = object.As<IPersistStreamInit>();
  const std::vector<BYTE> bytes = Bytes({0x00, 0x03, 0x00, 0x00, 0x02, 0x00, 0x02, 0x00,  // I2 2
                                         0x05, 0x00, 0, 0, 0, 0, 0, 0, 0, 0});            // R8 0.0
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateMemoryStream(bytes, stream.put()), S_OK);
  ASSERT_EQ(persist->Load(stream.get()), S_OK);
  EXPECT_EQ(BaseOf(object.get()), 2);
  EXPECT_EQ(BlockingOf(object.get()), 0);
}

// The second property refused after the first was put: the first gets its old value back.
TEST_F(Persistence, StreamWhoseSecondValueIsRefusedChangesNothing) {
  ComPtr<IDispatch> object = Create();
  auto persist = object.As<IPersistStreamInit>();
  const std::vector<BYTE> bytes = Bytes({0x00, 0x03, 0x00, 0x00, 0x03, 0x00, 7, 0, 0, 0,  // I4 7
                                         0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x17, 0xF1,
                                         0x40});  // R8 70000: no short holds it
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateMemoryStream(bytes, stream.put()), S_OK);
  EXPECT_EQ(persist->Load(stream.get()), DISP_E_OVERFLOW);
  EXPECT_EQ(BaseOf(object.get()), 0);
  EXPECT_EQ(BlockingOf(object.get()), 1);
}

TEST_F(Persistence, PropertyBagRoundTrip) {
  ComPtr<IDispatch> object = Create();
  ASSERT_EQ(PutByName(object.get(), u"Base", I4(1)).hr, S_OK);
  ASSERT_EQ(PutByName(object.get(), u"BlockingMode", I2(0)).hr, S_OK);
  ComPtr<IPropertyBag> bag;
  ASSERT_EQ(CreateMemoryPropertyBag(bag.put()), S_OK);
  auto persist = object.As<IPersistPropertyBag>();
  ASSERT_EQ(persist->Save(bag.get(), TRUE, FALSE), S_OK);
  EXPECT_EQ(IsDirty(object.get()), S_FALSE);

  Variant base, blocking;  // VT_EMPTY: the types stored
  ASSERT_EQ(bag->Read(OleText(u"Base"), &base, nullptr), S_OK);
  ASSERT_EQ(bag->Read(OleText(u"Blocking"), &blocking, nullptr), S_OK);
  EXPECT_EQ(base.vt, VT_I4);
  EXPECT_EQ(base.lVal, 1);
  EXPECT_EQ(blocking.vt, VT_I2);
  EXPECT_EQ(blocking.iVal, 0);

  ComPtr<IDispatch> copy = Create();
  ASSERT_EQ(copy.As<IPersistPropertyBag>()->Load(bag.get(), nullptr), S_OK);
  EXPECT_EQ(BaseOf(copy.get()), 1);
  EXPECT_EQ(BlockingOf(copy.get()), 0);
  EXPECT_EQ(IsDirty(copy.get()), S_FALSE);
}

TEST_F(Persistence, PropertyBagSkipsWhatItDoesNotHold) {
  ComPtr<IDispatch> object = Create();
  ComPtr<IPropertyBag> bag;
  ASSERT_EQ(CreateMemoryPropertyBag(bag.put()), S_OK);
  Variant text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"not a number");
  ASSERT_EQ(bag->Write(OleText(u"Base"), &text), S_OK);  // cannot be read as VT_I4
  Variant blocking(static_cast<LONG>(0));       // stored as VT_I4, read back as VT_I2
  ASSERT_EQ(bag->Write(OleText(u"blocking"), &blocking), S_OK);
  ASSERT_EQ(object.As<IPersistPropertyBag>()->Load(bag.get(), nullptr), S_OK);
  EXPECT_EQ(BaseOf(object.get()), 0);
  EXPECT_EQ(BlockingOf(object.get()), 0);

  ComPtr<IPropertyBag> empty;
  ASSERT_EQ(CreateMemoryPropertyBag(empty.put()), S_OK);
  ASSERT_EQ(PutByName(object.get(), u"Base", I4(4)).hr, S_OK);
  ASSERT_EQ(object.As<IPersistPropertyBag>()->Load(empty.get(), nullptr), S_OK);
  EXPECT_EQ(BaseOf(object.get()), 4);
}

TEST_F(Persistence, StorageHoldsTheStreamAsContents) {
  ComPtr<IDispatch> object = Create();
  ASSERT_EQ(PutByName(object.get(), u"Base", I4(1)).hr, S_OK);
  ComPtr<IStorage> storage;
  ASSERT_EQ(CreateMemoryStorage(storage.put()), S_OK);
  auto persist = object.As<IPersistStorage>();
  ASSERT_EQ(persist->InitNew(storage.get()), S_OK);
  ASSERT_EQ(persist->Save(storage.get(), TRUE), S_OK);
  ASSERT_EQ(persist->SaveCompleted(nullptr), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);

  ComPtr<IStream> contents;
  ASSERT_EQ(storage->OpenStream(OleText(u"Contents"), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE,
                                0, contents.put()),
            S_OK);
  std::vector<BYTE> bytes;
  ASSERT_EQ(ReadStreamContents(contents.get(), &bytes), S_OK);
  EXPECT_EQ(bytes, StreamOf(1, 1));
  contents.Reset();  // a storage's stream is opened by one reader at a time

  ComPtr<IDispatch> copy = Create();
  ASSERT_EQ(copy.As<IPersistStorage>()->Load(storage.get()), S_OK);
  EXPECT_EQ(BaseOf(copy.get()), 1);
  EXPECT_EQ(BlockingOf(copy.get()), 1);

  ComPtr<IStorage> empty;
  ASSERT_EQ(CreateMemoryStorage(empty.put()), S_OK);
  EXPECT_EQ(copy.As<IPersistStorage>()->Load(empty.get()), STG_E_FILENOTFOUND);
}

}  // namespace
}  // namespace kx::component::object_test
