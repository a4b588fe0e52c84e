// Loading a saved control: the 14-byte stream form, a property bag of any names and values, and a
// storage of any streams. A load that succeeds must save what it loaded, and that must load back.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz_variants.h"
#include "kv_quantorb.h"
#include "kx/platform/persist.h"

using namespace kx::platform;
using kx::component::IID_IKvQuantorb;
using kx::component::IKvQuantorb;
using kx::component::KvQuantorb;
using kx::fuzz::FuzzInput;

namespace {

struct Properties {
  LONG base = 0;
  SHORT blocking = 0;
  bool operator==(const Properties&) const = default;
};

Properties Read(KvQuantorb* object) {
  Properties p;
  KX_FUZZ_CHECK(object->get_Base(&p.base) == S_OK);
  KX_FUZZ_CHECK(object->get_BlockingMode(&p.blocking) == S_OK);
  return p;
}

ComPtr<KvQuantorb> NewObject() {
  ComPtr<IKvQuantorb> object;
  KX_FUZZ_CHECK(KvQuantorb::CreateInstance(nullptr, IID_IKvQuantorb, object.put_void()) == S_OK);
  return ComPtr<KvQuantorb>(static_cast<KvQuantorb*>(object.get()));
}

// Saves to a stream and loads that into a fresh object: the same properties come back.
void CheckRoundTrip(KvQuantorb* object) {
  const Properties loaded = Read(object);
  ComPtr<IStream> stream;
  KX_FUZZ_CHECK(CreateMemoryStream(stream.put()) == S_OK);
  KX_FUZZ_CHECK(static_cast<IPersistStreamInit*>(object)->Save(stream.get(), TRUE) == S_OK);
  std::vector<BYTE> bytes;
  KX_FUZZ_CHECK(ReadStreamContents(stream.get(), &bytes) == S_OK);
  KX_FUZZ_CHECK(bytes.size() == 14);
  ComPtr<IStream> again;
  KX_FUZZ_CHECK(CreateMemoryStream(bytes, again.put()) == S_OK);
  ComPtr<KvQuantorb> fresh = NewObject();
  KX_FUZZ_CHECK(static_cast<IPersistStreamInit*>(fresh.get())->Load(again.get()) == S_OK);
  KX_FUZZ_CHECK(Read(fresh.get()) == loaded);
}

void LoadStream(FuzzInput& in) {
  const std::string_view bytes = in.Rest();
  ComPtr<IStream> stream;
  KX_FUZZ_CHECK(CreateMemoryStream(
                    std::span(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size()),
                    stream.put()) == S_OK);
  ComPtr<KvQuantorb> object = NewObject();
  const Properties before = Read(object.get());
  const HRESULT hr = static_cast<IPersistStreamInit*>(object.get())->Load(stream.get());
  if (FAILED(hr)) {
    // A refused stream changes nothing, however far it was read.
    KX_FUZZ_CHECK(Read(object.get()) == before);
    return;
  }
  KX_FUZZ_CHECK(object->IsDirty() == S_FALSE);
  CheckRoundTrip(object.get());
}

constexpr const char16_t* kNames[] = {u"Base", u"Blocking", u"base", u"BLOCKING", u"BlockingMode",
                                      u"", u"Other"};

void LoadPropertyBag(FuzzInput& in) {
  ComPtr<IPropertyBag> bag;
  KX_FUZZ_CHECK(CreateMemoryPropertyBag(bag.put()) == S_OK);
  kx::fuzz::Arena arena;
  const unsigned count = in.Below(5);
  for (unsigned i = 0; i < count; ++i) {
    const char16_t* name = kNames[in.Below(std::size(kNames))];
    VARIANT& value = arena.Hold();
    kx::fuzz::DecodeVariant(in, arena, &value);
    (void)bag->Write(name, &value);
  }
  ComPtr<KvQuantorb> object = NewObject();
  const HRESULT hr =
      static_cast<IPersistPropertyBag*>(object.get())->Load(bag.get(), nullptr);
  if (SUCCEEDED(hr)) CheckRoundTrip(object.get());
}

void LoadStorage(FuzzInput& in) {
  ComPtr<IStorage> storage;
  KX_FUZZ_CHECK(CreateMemoryStorage(storage.put()) == S_OK);
  const unsigned count = in.Below(4);
  for (unsigned i = 0; i < count; ++i) {
    std::u16string name = in.Bool() ? u"Contents" : u"";
    if (name.empty()) {
      const std::string raw = in.Bytes(8);
      name.assign(raw.begin(), raw.end());
    }
    ComPtr<IStream> stream;
    if (FAILED(storage->CreateStream(name.c_str(), STGM_CREATE | STGM_READWRITE |
                                                      STGM_SHARE_EXCLUSIVE,
                                     0, 0, stream.put()))) {
      continue;
    }
    const std::string content = in.Bytes(20);
    ULONG written = 0;
    (void)stream->Write(content.data(), static_cast<ULONG>(content.size()), &written);
  }
  ComPtr<KvQuantorb> object = NewObject();
  const Properties before = Read(object.get());
  const HRESULT hr = static_cast<IPersistStorage*>(object.get())->Load(storage.get());
  if (FAILED(hr)) {
    KX_FUZZ_CHECK(Read(object.get()) == before);
    return;
  }
  CheckRoundTrip(object.get());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kx::fuzz::UsePrivateRegistry();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  switch (in.Below(3)) {
    case 0: LoadStream(in); break;
    case 1: LoadPropertyBag(in); break;
    case 2: LoadStorage(in); break;
  }
  return 0;
}
