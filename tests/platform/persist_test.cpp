#include "kx/platform/persist.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kx/platform/comptr.h"

namespace kx::platform {
namespace {

// The 14-byte layout a control saves: version, then (VARTYPE, value) pairs, little-endian.
const std::vector<BYTE> kControlBytes = {0x00, 0x03, 0x00, 0x00, 0x03, 0x00, 0x01, 0x00,
                                         0x00, 0x00, 0x02, 0x00, 0x00, 0x00};

std::vector<BYTE> Contents(IStream* stream) {
  std::vector<BYTE> bytes;
  EXPECT_EQ(ReadStreamContents(stream, &bytes), S_OK);
  return bytes;
}

std::uint64_t Position(IStream* stream) {
  ULARGE_INTEGER at;
  EXPECT_EQ(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_CUR, &at), S_OK);
  return at.QuadPart;
}

TEST(MemoryStream, RoundTripsWhatIsWritten) {
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateMemoryStream(stream.put()), S_OK);
  ULONG written = 0;
  ASSERT_EQ(stream->Write(kControlBytes.data(), 14, &written), S_OK);
  EXPECT_EQ(written, 14u);
  EXPECT_EQ(Position(stream.get()), 14u);
  ASSERT_EQ(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr), S_OK);
  std::vector<BYTE> back(20, 0xEE);
  ULONG read = 0;
  EXPECT_EQ(stream->Read(back.data(), 20, &read), S_OK) << "a short read is not an error";
  EXPECT_EQ(read, 14u);
  back.resize(read);
  EXPECT_EQ(back, kControlBytes);
  EXPECT_EQ(stream->Read(back.data(), 4, &read), S_OK);
  EXPECT_EQ(read, 0u);
  STATSTG stat;
  ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(stat.type, STGTY_STREAM);
  EXPECT_EQ(stat.cbSize.QuadPart, 14u);
  EXPECT_EQ(stat.pwcsName, nullptr);
}

TEST(MemoryStream, SeekRefusesPositionsBeforeTheStart) {
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateMemoryStream(kControlBytes, stream.put()), S_OK);
  struct Row {
    std::int64_t move;
    DWORD origin;
    HRESULT hr;
    std::uint64_t position;  // after the call
  };
  const Row rows[] = {
      {4, STREAM_SEEK_SET, S_OK, 4},       {-2, STREAM_SEEK_CUR, S_OK, 2},
      {-3, STREAM_SEEK_CUR, STG_E_INVALIDFUNCTION, 2}, {-14, STREAM_SEEK_END, S_OK, 0},
      {-15, STREAM_SEEK_END, STG_E_INVALIDFUNCTION, 0}, {6, STREAM_SEEK_END, S_OK, 20},
      {0, 7, STG_E_INVALIDFUNCTION, 20},
      {INT64_MIN, STREAM_SEEK_CUR, STG_E_INVALIDFUNCTION, 20},
      {INT64_MAX, STREAM_SEEK_CUR, STG_E_INVALIDFUNCTION, 20},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "move " << row.move << " from " << row.origin);
    EXPECT_EQ(stream->Seek(LARGE_INTEGER{row.move}, row.origin, nullptr), row.hr);
    EXPECT_EQ(Position(stream.get()), row.position);
  }
  // Writing beyond the end fills the gap with zeros.
  const BYTE tail = 0x7F;
  ASSERT_EQ(stream->Write(&tail, 1, nullptr), S_OK);
  const std::vector<BYTE> all = Contents(stream.get());
  ASSERT_EQ(all.size(), 21u);
  EXPECT_EQ(all[14], 0);
  EXPECT_EQ(all[19], 0);
  EXPECT_EQ(all[20], 0x7F);
  EXPECT_EQ(Position(stream.get()), 21u) << "ReadStreamContents keeps the position";
}

TEST(MemoryStream, SetSizeCloneAndCopyTo) {
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateMemoryStream(kControlBytes, stream.put()), S_OK);
  ASSERT_EQ(stream->SetSize(ULARGE_INTEGER{4}), S_OK);
  EXPECT_EQ(Contents(stream.get()), (std::vector<BYTE>{0x00, 0x03, 0x00, 0x00}));
  ASSERT_EQ(stream->SetSize(ULARGE_INTEGER{6}), S_OK);
  EXPECT_EQ(Contents(stream.get()), (std::vector<BYTE>{0x00, 0x03, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(stream->SetSize(ULARGE_INTEGER{~0ull}), STG_E_MEDIUMFULL);

  ASSERT_EQ(stream->Seek(LARGE_INTEGER{1}, STREAM_SEEK_SET, nullptr), S_OK);
  ComPtr<IStream> clone;
  ASSERT_EQ(stream->Clone(clone.put()), S_OK);
  EXPECT_EQ(Position(clone.get()), 1u);
  const BYTE b = 0x55;
  ASSERT_EQ(clone->Write(&b, 1, nullptr), S_OK);
  EXPECT_EQ(Contents(stream.get())[1], 0x55) << "a clone shares the bytes";
  EXPECT_EQ(Position(stream.get()), 1u) << "but not the position";

  ComPtr<IStream> target;
  ASSERT_EQ(CreateMemoryStream(target.put()), S_OK);
  ULARGE_INTEGER read{}, written{};
  ASSERT_EQ(stream->CopyTo(target.get(), ULARGE_INTEGER{100}, &read, &written), S_OK);
  EXPECT_EQ(read.QuadPart, 5u);
  EXPECT_EQ(written.QuadPart, 5u);
  EXPECT_EQ(Contents(target.get()), (std::vector<BYTE>{0x55, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(stream->CopyTo(nullptr, ULARGE_INTEGER{1}, nullptr, nullptr), STG_E_INVALIDPOINTER);
}

TEST(MemoryPropertyBag, ReadsBackWrittenValuesAsRequested) {
  ComPtr<IPropertyBag> bag;
  ASSERT_EQ(CreateMemoryPropertyBag(bag.put()), S_OK);
  Variant base(LONG{1});
  Variant blocking(SHORT{0});
  ASSERT_EQ(bag->Write(u"Base", &base), S_OK);
  ASSERT_EQ(bag->Write(u"Blocking", &blocking), S_OK);

  Variant as_stored;
  ASSERT_EQ(bag->Read(u"Base", &as_stored, nullptr), S_OK);
  EXPECT_EQ(as_stored.vt, VT_I4);
  EXPECT_EQ(as_stored.lVal, 1);
  Variant as_short;
  as_short.vt = VT_I2;  // the property's current type
  ASSERT_EQ(bag->Read(u"BLOCKING", &as_short, nullptr), S_OK) << "names match without case";
  EXPECT_EQ(as_short.vt, VT_I2);
  EXPECT_EQ(as_short.iVal, 0);

  Variant replaced(LONG{-5});
  ASSERT_EQ(bag->Write(u"base", &replaced), S_OK);
  Variant again;
  ASSERT_EQ(bag->Read(u"Base", &again, nullptr), S_OK);
  EXPECT_EQ(again.lVal, -5);
}

class RecordingLog final : public IErrorLog {
 public:
  HRESULT QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT AddError(LPCOLESTR name, EXCEPINFO* excep) override {
    names.emplace_back(name);
    codes.push_back(excep->scode);
    return S_OK;
  }
  std::vector<std::u16string> names;
  std::vector<HRESULT> codes;
};

TEST(MemoryPropertyBag, ReportsAbsentNamesAndFailedCoercions) {
  ComPtr<IPropertyBag> bag;
  ASSERT_EQ(CreateMemoryPropertyBag(bag.put()), S_OK);
  VARIANT text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"not a number");
  ASSERT_EQ(bag->Write(u"Base", &text), S_OK);
  SysFreeString(text.bstrVal);  // the bag keeps its own copy

  RecordingLog log;
  Variant missing;
  EXPECT_EQ(bag->Read(u"Blocking", &missing, &log), E_INVALIDARG);
  EXPECT_EQ(missing.vt, VT_EMPTY);
  Variant as_long;
  as_long.vt = VT_I4;
  EXPECT_EQ(bag->Read(u"Base", &as_long, &log), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(log.names, (std::vector<std::u16string>{u"Blocking", u"Base"}));
  EXPECT_EQ(log.codes, (std::vector<HRESULT>{E_INVALIDARG, DISP_E_TYPEMISMATCH}));
  Variant as_text;
  ASSERT_EQ(bag->Read(u"Base", &as_text, nullptr), S_OK);
  EXPECT_EQ(std::u16string(as_text.bstrVal), u"not a number");
  EXPECT_EQ(bag->Read(nullptr, &as_text, nullptr), E_POINTER);
}

TEST(MemoryPropertyBag, StoresTheValueBehindAReference) {
  ComPtr<IPropertyBag> bag;
  ASSERT_EQ(CreateMemoryPropertyBag(bag.put()), S_OK);
  SHORT mode = 1;
  VARIANT ref;
  ref.vt = VT_BYREF | VT_I2;
  ref.piVal = &mode;
  ASSERT_EQ(bag->Write(u"Blocking", &ref), S_OK);
  mode = 7;
  Variant got;
  ASSERT_EQ(bag->Read(u"Blocking", &got, nullptr), S_OK);
  EXPECT_EQ(got.vt, VT_I2);
  EXPECT_EQ(got.iVal, 1);
}

TEST(MemoryStorage, StreamsSurviveTheirObjectsAndRoundTrip) {
  ComPtr<IStorage> storage;
  ASSERT_EQ(CreateMemoryStorage(storage.put()), S_OK);
  {
    ComPtr<IStream> out;
    ASSERT_EQ(storage->CreateStream(u"Contents", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, out.put()), S_OK);
    ASSERT_EQ(out->Write(kControlBytes.data(), 14, nullptr), S_OK);
  }
  ComPtr<IStream> in;
  ASSERT_EQ(storage->OpenStream(u"contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, in.put()), S_OK);
  EXPECT_EQ(Contents(in.get()), kControlBytes);
  STATSTG stat;
  ASSERT_EQ(in->Stat(&stat, STATFLAG_DEFAULT), S_OK);
  EXPECT_EQ(std::u16string(stat.pwcsName), u"contents");
  CoTaskMemFree(stat.pwcsName);
  const BYTE b = 1;
  EXPECT_EQ(in->Write(&b, 1, nullptr), STG_E_ACCESSDENIED) << "opened for reading";

  ComPtr<IStream> again;
  EXPECT_EQ(storage->CreateStream(u"Contents", STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, again.put()),
            STG_E_FILEALREADYEXISTS);
  ASSERT_EQ(storage->CreateStream(u"Contents", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, again.put()), S_OK);
  ComPtr<IStream> reopened;
  ASSERT_EQ(storage->OpenStream(u"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, reopened.put()), S_OK);
  EXPECT_TRUE(Contents(reopened.get()).empty()) << "STGM_CREATE replaced the stream";
  EXPECT_EQ(Contents(in.get()), kControlBytes) << "a stream still open keeps the old bytes";
  EXPECT_EQ(storage->OpenStream(u"Missing", nullptr, STGM_READ, 0, reopened.put()), STG_E_FILENOTFOUND);
}

TEST(MemoryStorage, RefusesInvalidNames) {
  ComPtr<IStorage> storage;
  ASSERT_EQ(CreateMemoryStorage(storage.put()), S_OK);
  const char16_t* rows[] = {u"", u"a/b", u"a\\b", u"a:b", u"a!b", u"0123456789012345678901234567890x"};
  for (const char16_t* name : rows) {
    SCOPED_TRACE(Utf16ToUtf8(name));
    ComPtr<IStream> stream;
    EXPECT_EQ(storage->CreateStream(name, STGM_CREATE | STGM_READWRITE, 0, 0, stream.put()), STG_E_INVALIDNAME);
  }
  ComPtr<IStream> longest;
  EXPECT_EQ(storage->CreateStream(u"0123456789012345678901234567890", STGM_CREATE | STGM_READWRITE, 0, 0, longest.put()), S_OK);
  EXPECT_EQ(storage->CreateStream(nullptr, STGM_CREATE, 0, 0, longest.put()), STG_E_INVALIDPOINTER);
  EXPECT_EQ(storage->CreateStream(u"x", STGM_CREATE | 3, 0, 0, longest.put()), STG_E_INVALIDFLAG);
}

TEST(MemoryStorage, EnumeratesRenamesDestroysAndCopies) {
  ComPtr<IStorage> storage;
  ASSERT_EQ(CreateMemoryStorage(storage.put()), S_OK);
  const CLSID clsid{0x7C41E2A1, 0x3B95, 0x4D6E, {0xA1, 0xF8, 0x62, 0xD0, 0xB9, 0x4C, 0x5E, 0x17}};
  ASSERT_EQ(WriteClassStg(storage.get(), clsid), S_OK);
  ComPtr<IStream> stream;
  ASSERT_EQ(storage->CreateStream(u"Contents", STGM_CREATE | STGM_READWRITE, 0, 0, stream.put()), S_OK);
  ASSERT_EQ(stream->Write(kControlBytes.data(), 14, nullptr), S_OK);
  ComPtr<IStorage> sub;
  ASSERT_EQ(storage->CreateStorage(u"Sub", STGM_CREATE | STGM_READWRITE, 0, 0, sub.put()), S_OK);
  ComPtr<IStream> inner;
  ASSERT_EQ(sub->CreateStream(u"Inner", STGM_CREATE | STGM_READWRITE, 0, 0, inner.put()), S_OK);
  ASSERT_EQ(inner->Write("ab", 2, nullptr), S_OK);

  ComPtr<IEnumSTATSTG> elements;
  ASSERT_EQ(storage->EnumElements(0, nullptr, 0, elements.put()), S_OK);
  STATSTG stats[3];
  ULONG fetched = 0;
  EXPECT_EQ(elements->Next(3, stats, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(std::u16string(stats[0].pwcsName), u"Contents");
  EXPECT_EQ(stats[0].type, STGTY_STREAM);
  EXPECT_EQ(stats[0].cbSize.QuadPart, 14u);
  EXPECT_EQ(std::u16string(stats[1].pwcsName), u"Sub");
  EXPECT_EQ(stats[1].type, STGTY_STORAGE);
  for (ULONG i = 0; i < fetched; ++i) CoTaskMemFree(stats[i].pwcsName);

  ComPtr<IStorage> copy;
  ASSERT_EQ(CreateMemoryStorage(copy.put()), S_OK);
  ASSERT_EQ(storage->CopyTo(0, nullptr, nullptr, copy.get()), S_OK);
  CLSID read_back{};
  ASSERT_EQ(ReadClassStg(copy.get(), &read_back), S_OK);
  EXPECT_EQ(read_back, clsid);
  ComPtr<IStorage> copied_sub;
  ASSERT_EQ(copy->OpenStorage(u"Sub", nullptr, STGM_READ, nullptr, 0, copied_sub.put()), S_OK);
  ComPtr<IStream> copied_inner;
  ASSERT_EQ(copied_sub->OpenStream(u"Inner", nullptr, STGM_READ, 0, copied_inner.put()), S_OK);
  EXPECT_EQ(Contents(copied_inner.get()), (std::vector<BYTE>{'a', 'b'}));
  ASSERT_EQ(inner->Write("c", 1, nullptr), S_OK);
  EXPECT_EQ(Contents(copied_inner.get()).size(), 2u) << "the copy is independent";
  EXPECT_EQ(storage->CopyTo(0, nullptr, nullptr, storage.get()), STG_E_ACCESSDENIED);

  const IID no_storages[] = {IID_IStorage};
  ComPtr<IStorage> streams_only;
  ASSERT_EQ(CreateMemoryStorage(streams_only.put()), S_OK);
  ASSERT_EQ(storage->CopyTo(1, no_storages, nullptr, streams_only.get()), S_OK);
  EXPECT_EQ(streams_only->OpenStorage(u"Sub", nullptr, STGM_READ, nullptr, 0, copied_sub.put()), STG_E_FILENOTFOUND);

  ASSERT_EQ(storage->RenameElement(u"Contents", u"Renamed"), S_OK);
  EXPECT_EQ(storage->RenameElement(u"Renamed", u"Sub"), STG_E_ACCESSDENIED);
  EXPECT_EQ(storage->OpenStream(u"Contents", nullptr, STGM_READ, 0, stream.put()), STG_E_FILENOTFOUND);
  ASSERT_EQ(storage->MoveElementTo(u"Renamed", copy.get(), u"Moved", STGMOVE_MOVE), S_OK);
  EXPECT_EQ(storage->DestroyElement(u"Renamed"), STG_E_FILENOTFOUND) << "a move removes the source";
  ASSERT_EQ(copy->OpenStream(u"Moved", nullptr, STGM_READ, 0, stream.put()), S_OK);
  EXPECT_EQ(Contents(stream.get()), kControlBytes);
  EXPECT_EQ(storage->DestroyElement(u"Sub"), S_OK);
  ASSERT_EQ(storage->EnumElements(0, nullptr, 0, elements.put()), S_OK);
  EXPECT_EQ(elements->Next(1, stats, nullptr), S_FALSE);
}

TEST(ClassStm, WritesSixteenBytesAndRefusesShortReads) {
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateMemoryStream(stream.put()), S_OK);
  const CLSID clsid{0x7C41E2A1, 0x3B95, 0x4D6E, {0xA1, 0xF8, 0x62, 0xD0, 0xB9, 0x4C, 0x5E, 0x17}};
  ASSERT_EQ(WriteClassStm(stream.get(), clsid), S_OK);
  const std::vector<BYTE> bytes = Contents(stream.get());
  ASSERT_EQ(bytes.size(), 16u);
  EXPECT_EQ(bytes[0], 0xA1);  // Data1 little-endian
  EXPECT_EQ(bytes[3], 0x7C);
  EXPECT_EQ(bytes[8], 0xA1);  // Data4 as stored
  ASSERT_EQ(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr), S_OK);
  CLSID back{};
  ASSERT_EQ(ReadClassStm(stream.get(), &back), S_OK);
  EXPECT_EQ(back, clsid);
  ASSERT_EQ(stream->Seek(LARGE_INTEGER{4}, STREAM_SEEK_SET, nullptr), S_OK);
  EXPECT_EQ(ReadClassStm(stream.get(), &back), STG_E_READFAULT);
}

}  // namespace
}  // namespace kx::platform
