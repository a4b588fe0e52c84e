// Memory streams, property bags and storages.
#include "kx/platform/persist.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "enumerator.h"
#include "kx/platform/comptr.h"
#include "names.h"
#include "object_base.h"

namespace kx::platform {
namespace {

using internal::SameName;

LPOLESTR TaskCopy(std::u16string_view text) noexcept {
  auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
  if (!out) return nullptr;
  std::copy(text.begin(), text.end(), out);
  out[text.size()] = 0;
  return out;
}

bool CanWrite(DWORD mode) noexcept { return (mode & 3) == STGM_WRITE || (mode & 3) == STGM_READWRITE; }

// ---- Streams ---------------------------------------------------------------------------------

// The bytes of a stream, shared by every stream object opened on them.
struct StreamBytes {
  std::mutex mutex;
  std::vector<BYTE> bytes;
};

class MemoryStream final : public internal::ObjectBase<MemoryStream, IStream, ISequentialStream> {
 public:
  MemoryStream(std::shared_ptr<StreamBytes> data, bool writable, std::u16string name, std::uint64_t position = 0)
      : data_(std::move(data)), writable_(writable), name_(std::move(name)), position_(position) {}

  HRESULT Read(void* buffer, ULONG size, ULONG* read) override {
    if (read) *read = 0;
    if (!buffer && size) return STG_E_INVALIDPOINTER;
    std::scoped_lock lock(position_mutex_, data_->mutex);
    const auto& bytes = data_->bytes;
    ULONG n = 0;
    if (position_ < bytes.size()) {
      n = static_cast<ULONG>(std::min<std::uint64_t>(size, bytes.size() - position_));
      std::memcpy(buffer, bytes.data() + position_, n);
    }
    position_ += n;
    if (read) *read = n;
    return S_OK;
  }
  HRESULT Write(const void* buffer, ULONG size, ULONG* written) override {
    if (written) *written = 0;
    if (!buffer && size) return STG_E_INVALIDPOINTER;
    if (!writable_) return STG_E_ACCESSDENIED;
    if (size == 0) return S_OK;
    std::scoped_lock lock(position_mutex_, data_->mutex);
    auto& bytes = data_->bytes;
    const std::uint64_t end = position_ + size;
    if (end > kMaxSize) return STG_E_MEDIUMFULL;
    try {
      if (end > bytes.size()) bytes.resize(static_cast<std::size_t>(end));  // a gap reads as zeros
    } catch (...) {
      return STG_E_MEDIUMFULL;
    }
    std::memcpy(bytes.data() + position_, buffer, size);
    position_ = end;
    if (written) *written = size;
    return S_OK;
  }

  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* new_position) override {
    std::scoped_lock lock(position_mutex_, data_->mutex);
    std::int64_t base = 0;
    switch (origin) {
      case STREAM_SEEK_SET: base = 0; break;
      case STREAM_SEEK_CUR: base = static_cast<std::int64_t>(position_); break;
      case STREAM_SEEK_END: base = static_cast<std::int64_t>(data_->bytes.size()); break;
      default: return STG_E_INVALIDFUNCTION;
    }
    // Both terms are below 2^63 in magnitude only if checked: sizes never exceed kMaxSize.
    if (move.QuadPart < -base || move.QuadPart > static_cast<std::int64_t>(kMaxSize) - base) {
      return STG_E_INVALIDFUNCTION;
    }
    position_ = static_cast<std::uint64_t>(base + move.QuadPart);
    if (new_position) new_position->QuadPart = position_;
    return S_OK;
  }
  HRESULT SetSize(ULARGE_INTEGER size) override {
    if (!writable_) return STG_E_ACCESSDENIED;
    if (size.QuadPart > kMaxSize) return STG_E_MEDIUMFULL;
    std::lock_guard lock(data_->mutex);
    try {
      data_->bytes.resize(static_cast<std::size_t>(size.QuadPart));
    } catch (...) {
      return STG_E_MEDIUMFULL;
    }
    return S_OK;
  }
  HRESULT CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override {
    if (read) read->QuadPart = 0;
    if (written) written->QuadPart = 0;
    if (!target) return STG_E_INVALIDPOINTER;
    // Read everything first, so that copying a stream onto itself is well defined.
    std::vector<BYTE> chunk;
    {
      std::scoped_lock lock(position_mutex_, data_->mutex);
      const auto& bytes = data_->bytes;
      const std::uint64_t available = position_ < bytes.size() ? bytes.size() - position_ : 0;
      const std::uint64_t n = std::min<std::uint64_t>(size.QuadPart, available);
      try {
        chunk.assign(bytes.begin() + static_cast<std::ptrdiff_t>(position_),
                     bytes.begin() + static_cast<std::ptrdiff_t>(position_ + n));
      } catch (...) {
        return E_OUTOFMEMORY;
      }
      position_ += n;
    }
    if (read) read->QuadPart = chunk.size();
    std::uint64_t done = 0;
    HRESULT hr = S_OK;
    while (done < chunk.size() && SUCCEEDED(hr)) {
      const ULONG part = static_cast<ULONG>(std::min<std::uint64_t>(chunk.size() - done, 1u << 30));
      ULONG wrote = 0;
      hr = target->Write(chunk.data() + done, part, &wrote);
      done += wrote;
      if (SUCCEEDED(hr) && wrote < part) hr = STG_E_MEDIUMFULL;
    }
    if (written) written->QuadPart = done;
    return hr;
  }
  HRESULT Commit(DWORD) override { return S_OK; }
  HRESULT Revert() override { return S_OK; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  HRESULT Stat(STATSTG* stat, DWORD flags) override {
    if (!stat) return STG_E_INVALIDPOINTER;
    if (flags > STATFLAG_NONAME) return STG_E_INVALIDFLAG;
    *stat = STATSTG{};
    if (!(flags & STATFLAG_NONAME) && !name_.empty()) {
      stat->pwcsName = TaskCopy(name_);
      if (!stat->pwcsName) return STG_E_INSUFFICIENTMEMORY;
    }
    stat->type = STGTY_STREAM;
    {
      std::lock_guard lock(data_->mutex);
      stat->cbSize.QuadPart = data_->bytes.size();
    }
    stat->grfMode = writable_ ? STGM_READWRITE : STGM_READ;
    return S_OK;
  }
  HRESULT Clone(IStream** copy) override {
    if (!copy) return STG_E_INVALIDPOINTER;
    *copy = nullptr;
    std::lock_guard lock(position_mutex_);
    try {
      *copy = new MemoryStream(data_, writable_, name_, position_);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

 private:
  // Keeps every position and size representable as a signed 64-bit offset.
  static constexpr std::uint64_t kMaxSize = std::numeric_limits<std::int64_t>::max() / 2;

  friend ObjectBase;
  ~MemoryStream() = default;

  std::shared_ptr<StreamBytes> data_;
  const bool writable_;
  const std::u16string name_;
  std::mutex position_mutex_;  // taken before data_->mutex
  std::uint64_t position_;
};

HRESULT NewStream(std::shared_ptr<StreamBytes> data, bool writable, std::u16string name, IStream** out) noexcept {
  try {
    *out = new MemoryStream(std::move(data), writable, std::move(name));
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

// ---- Property bag ----------------------------------------------------------------------------

void LogError(IErrorLog* log, LPCOLESTR name, HRESULT hr, const char16_t* text) noexcept {
  if (!log) return;
  EXCEPINFO excep;
  excep.scode = hr;
  excep.bstrDescription = SysAllocString(text);
  (void)log->AddError(name, &excep);
  SysFreeString(excep.bstrDescription);
}

class MemoryPropertyBag final : public internal::ObjectBase<MemoryPropertyBag, IPropertyBag> {
 public:
  HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog* error_log) override {
    if (!name || !value) return E_POINTER;
    std::lock_guard lock(mutex_);
    const Entry* entry = FindEntry(name);
    if (!entry) {
      LogError(error_log, name, E_INVALIDARG, u"The property bag does not hold this property.");
      return E_INVALIDARG;
    }
    const VARTYPE wanted = value->vt;
    const HRESULT hr = wanted == VT_EMPTY ? VariantCopy(value, &entry->value)
                                          : VariantChangeType(value, &entry->value, 0, wanted);
    if (FAILED(hr)) LogError(error_log, name, hr, u"The stored value does not convert to the requested type.");
    return hr;
  }
  HRESULT Write(LPCOLESTR name, VARIANT* value) override {
    if (!name || !value) return E_POINTER;
    try {
      Variant copy;
      const HRESULT hr = VariantCopyInd(&copy, value);
      if (FAILED(hr)) return hr;
      std::lock_guard lock(mutex_);
      if (Entry* entry = FindEntry(name)) {
        entry->value = std::move(copy);
      } else {
        entries_.push_back({std::u16string(name), std::move(copy)});
      }
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

 private:
  struct Entry {
    std::u16string name;
    Variant value;
  };
  friend ObjectBase;
  ~MemoryPropertyBag() = default;
  Entry* FindEntry(LPCOLESTR name) noexcept {
    for (auto& e : entries_) {
      if (SameName(e.name, name)) return &e;
    }
    return nullptr;
  }

  std::mutex mutex_;
  std::vector<Entry> entries_;
};

// ---- Storage ---------------------------------------------------------------------------------

struct StorageNode;

struct Element {
  std::u16string name;
  std::shared_ptr<StreamBytes> stream;   // set for a stream
  std::shared_ptr<StorageNode> storage;  // set for a storage
  FILETIME created{}, accessed{}, modified{};
};

struct StorageNode {
  std::mutex mutex;
  std::vector<Element> elements;
  CLSID clsid{};
  DWORD state_bits = 0;
  FILETIME created{}, accessed{}, modified{};
};

struct StatEntry {
  std::u16string name;
  DWORD type = 0;
  std::uint64_t size = 0;
  CLSID clsid{};
  DWORD state_bits = 0;
  FILETIME created{}, accessed{}, modified{};
};

void CopyStat(const StatEntry& from, STATSTG* to) noexcept {
  *to = STATSTG{};
  to->pwcsName = TaskCopy(from.name);
  to->type = from.type;
  to->cbSize.QuadPart = from.size;
  to->clsid = from.clsid;
  to->grfStateBits = from.state_bits;
  to->ctime = from.created;
  to->atime = from.accessed;
  to->mtime = from.modified;
}

using StatEnumerator = internal::SnapshotEnumerator<IEnumSTATSTG, StatEntry, STATSTG, &CopyStat>;

HRESULT CheckName(const OLECHAR* name) noexcept {
  if (!name) return STG_E_INVALIDPOINTER;
  std::size_t n = 0;
  for (; name[n] != 0; ++n) {
    if (n >= 31) return STG_E_INVALIDNAME;
    const OLECHAR c = name[n];
    if (c == u'/' || c == u'\\' || c == u':' || c == u'!') return STG_E_INVALIDNAME;
  }
  return n == 0 ? STG_E_INVALIDNAME : S_OK;
}

HRESULT CheckMode(DWORD mode) noexcept {
  return (mode & 3) == 3 ? STG_E_INVALIDFLAG : S_OK;
}

// The name and the access mode of an element to create or open, in that order.
HRESULT CheckNameAndMode(const OLECHAR* name, DWORD mode) noexcept {
  const HRESULT hr = CheckName(name);
  return FAILED(hr) ? hr : CheckMode(mode);
}

class MemoryStorage final : public internal::ObjectBase<MemoryStorage, IStorage> {
 public:
  MemoryStorage(std::shared_ptr<StorageNode> node, DWORD mode, std::u16string name)
      : node_(std::move(node)), mode_(mode), name_(std::move(name)) {}

  HRESULT CreateStream(const OLECHAR* name, DWORD mode, DWORD, DWORD, IStream** stream) override {
    if (!stream) return STG_E_INVALIDPOINTER;
    *stream = nullptr;
    if (HRESULT hr = CheckNameAndMode(name, mode); FAILED(hr)) return hr;
    if (!CanWrite(mode_)) return STG_E_ACCESSDENIED;
    std::shared_ptr<StreamBytes> data;
    try {
      data = std::make_shared<StreamBytes>();
      std::lock_guard lock(node_->mutex);
      Element* existing = Find(name);
      if (existing && !(mode & STGM_CREATE)) return STG_E_FILEALREADYEXISTS;
      // STGM_CREATE replaces the element: streams still open on the old bytes keep them.
      Element& e = existing ? *existing : node_->elements.emplace_back();
      e = Element{std::u16string(name), data, nullptr};
    } catch (...) {
      return STG_E_INSUFFICIENTMEMORY;
    }
    return NewStream(std::move(data), CanWrite(mode), name, stream);
  }

  HRESULT OpenStream(const OLECHAR* name, void* reserved1, DWORD mode, DWORD, IStream** stream) override {
    if (!stream) return STG_E_INVALIDPOINTER;
    *stream = nullptr;
    if (reserved1) return STG_E_INVALIDPARAMETER;
    if (HRESULT hr = CheckNameAndMode(name, mode); FAILED(hr)) return hr;
    if (CanWrite(mode) && !CanWrite(mode_)) return STG_E_ACCESSDENIED;
    std::shared_ptr<StreamBytes> data;
    {
      std::lock_guard lock(node_->mutex);
      const Element* e = Find(name);
      if (!e || !e->stream) return STG_E_FILENOTFOUND;
      data = e->stream;
    }
    return NewStream(std::move(data), CanWrite(mode), name, stream);
  }

  HRESULT CreateStorage(const OLECHAR* name, DWORD mode, DWORD, DWORD, IStorage** storage) override {
    if (!storage) return STG_E_INVALIDPOINTER;
    *storage = nullptr;
    if (HRESULT hr = CheckNameAndMode(name, mode); FAILED(hr)) return hr;
    if (!CanWrite(mode_)) return STG_E_ACCESSDENIED;
    try {
      auto node = std::make_shared<StorageNode>();
      {
        std::lock_guard lock(node_->mutex);
        Element* existing = Find(name);
        if (existing && !(mode & STGM_CREATE)) return STG_E_FILEALREADYEXISTS;
        Element& e = existing ? *existing : node_->elements.emplace_back();
        e = Element{std::u16string(name), nullptr, node};
      }
      *storage = new MemoryStorage(std::move(node), mode, name);
      return S_OK;
    } catch (...) {
      return STG_E_INSUFFICIENTMEMORY;
    }
  }

  HRESULT OpenStorage(const OLECHAR* name, IStorage* priority, DWORD mode, SNB exclude, DWORD,
                      IStorage** storage) override {
    if (!storage) return STG_E_INVALIDPOINTER;
    *storage = nullptr;
    if (priority || exclude) return STG_E_INVALIDFUNCTION;
    if (HRESULT hr = CheckNameAndMode(name, mode); FAILED(hr)) return hr;
    if (CanWrite(mode) && !CanWrite(mode_)) return STG_E_ACCESSDENIED;
    std::shared_ptr<StorageNode> node;
    {
      std::lock_guard lock(node_->mutex);
      const Element* e = Find(name);
      if (!e || !e->storage) return STG_E_FILENOTFOUND;
      node = e->storage;
    }
    try {
      *storage = new MemoryStorage(std::move(node), mode, name);
      return S_OK;
    } catch (...) {
      return STG_E_INSUFFICIENTMEMORY;
    }
  }

  HRESULT CopyTo(DWORD iid_exclude_count, const IID* iid_exclude, SNB name_exclude, IStorage* target) override {
    if (!target) return STG_E_INVALIDPOINTER;
    if (iid_exclude_count && !iid_exclude) return STG_E_INVALIDPOINTER;
    if (target == static_cast<IStorage*>(this)) return STG_E_ACCESSDENIED;
    bool skip_streams = false, skip_storages = false;
    for (DWORD i = 0; i < iid_exclude_count; ++i) {
      skip_streams = skip_streams || iid_exclude[i] == IID_IStream;
      skip_storages = skip_storages || iid_exclude[i] == IID_IStorage;
    }
    // Work from a snapshot: the target may be a storage that shares this node's lock order.
    std::vector<Element> elements;
    CLSID clsid{};
    try {
      std::lock_guard lock(node_->mutex);
      elements = node_->elements;
      clsid = node_->clsid;
    } catch (...) {
      return STG_E_INSUFFICIENTMEMORY;
    }
    HRESULT hr = target->SetClass(clsid);
    for (const Element& e : elements) {
      if (FAILED(hr)) break;
      if (IsExcluded(name_exclude, e.name)) continue;
      if (e.stream && !skip_streams) hr = CopyStreamInto(e, target);
      if (e.storage && !skip_storages) hr = CopyStorageInto(e, target);
    }
    return hr;
  }

  HRESULT MoveElementTo(const OLECHAR* name, IStorage* target, const OLECHAR* new_name, DWORD flags) override {
    if (!target) return STG_E_INVALIDPOINTER;
    if (flags != STGMOVE_MOVE && flags != STGMOVE_COPY) return STG_E_INVALIDFLAG;
    HRESULT hr = CheckName(name);
    if (SUCCEEDED(hr)) hr = CheckName(new_name);
    if (FAILED(hr)) return hr;
    if (flags == STGMOVE_MOVE && !CanWrite(mode_)) return STG_E_ACCESSDENIED;
    if (target == static_cast<IStorage*>(this) && SameName(name, new_name)) return STG_E_ACCESSDENIED;
    Element e;
    try {
      std::lock_guard lock(node_->mutex);
      const Element* found = Find(name);
      if (!found) return STG_E_FILENOTFOUND;
      e = *found;
      e.name = new_name;
    } catch (...) {
      return STG_E_INSUFFICIENTMEMORY;
    }
    hr = e.stream ? CopyStreamInto(e, target) : CopyStorageInto(e, target);
    if (SUCCEEDED(hr) && flags == STGMOVE_MOVE) hr = DestroyElement(name);
    return hr;
  }

  HRESULT Commit(DWORD) override { return S_OK; }
  HRESULT Revert() override { return S_OK; }

  HRESULT EnumElements(DWORD, void* reserved2, DWORD, IEnumSTATSTG** elements) override {
    if (!elements) return STG_E_INVALIDPOINTER;
    *elements = nullptr;
    if (reserved2) return STG_E_INVALIDPARAMETER;
    try {
      auto list = std::make_shared<std::vector<StatEntry>>();
      {
        std::lock_guard lock(node_->mutex);
        for (const Element& e : node_->elements) list->push_back(StatOf(e));
      }
      *elements = new StatEnumerator(std::move(list), 0);
      return S_OK;
    } catch (...) {
      return STG_E_INSUFFICIENTMEMORY;
    }
  }

  HRESULT DestroyElement(const OLECHAR* name) override {
    const HRESULT hr = CheckName(name);
    if (FAILED(hr)) return hr;
    if (!CanWrite(mode_)) return STG_E_ACCESSDENIED;
    Element removed;  // released after the lock
    std::lock_guard lock(node_->mutex);
    auto& elements = node_->elements;
    for (auto it = elements.begin(); it != elements.end(); ++it) {
      if (SameName(it->name, name)) {
        removed = std::move(*it);
        elements.erase(it);
        return S_OK;
      }
    }
    return STG_E_FILENOTFOUND;
  }

  HRESULT RenameElement(const OLECHAR* old_name, const OLECHAR* new_name) override {
    HRESULT hr = CheckName(old_name);
    if (SUCCEEDED(hr)) hr = CheckName(new_name);
    if (FAILED(hr)) return hr;
    if (!CanWrite(mode_)) return STG_E_ACCESSDENIED;
    std::lock_guard lock(node_->mutex);
    Element* e = Find(old_name);
    if (!e) return STG_E_FILENOTFOUND;
    const Element* clash = Find(new_name);
    if (clash && clash != e) return STG_E_ACCESSDENIED;
    try {
      e->name = new_name;
    } catch (...) {
      return STG_E_INSUFFICIENTMEMORY;
    }
    return S_OK;
  }

  HRESULT SetElementTimes(const OLECHAR* name, const FILETIME* created, const FILETIME* accessed,
                          const FILETIME* modified) override {
    std::lock_guard lock(node_->mutex);
    FILETIME* c = &node_->created;
    FILETIME* a = &node_->accessed;
    FILETIME* m = &node_->modified;
    if (name) {
      Element* e = Find(name);
      if (!e) return STG_E_FILENOTFOUND;
      c = &e->created;
      a = &e->accessed;
      m = &e->modified;
    }
    if (created) *c = *created;
    if (accessed) *a = *accessed;
    if (modified) *m = *modified;
    return S_OK;
  }

  HRESULT SetClass(REFCLSID clsid) override {
    if (!CanWrite(mode_)) return STG_E_ACCESSDENIED;
    std::lock_guard lock(node_->mutex);
    node_->clsid = clsid;
    return S_OK;
  }
  HRESULT SetStateBits(DWORD bits, DWORD mask) override {
    if (!CanWrite(mode_)) return STG_E_ACCESSDENIED;
    std::lock_guard lock(node_->mutex);
    node_->state_bits = (node_->state_bits & ~mask) | (bits & mask);
    return S_OK;
  }
  HRESULT Stat(STATSTG* stat, DWORD flags) override {
    if (!stat) return STG_E_INVALIDPOINTER;
    if (flags > STATFLAG_NONAME) return STG_E_INVALIDFLAG;
    *stat = STATSTG{};
    if (!(flags & STATFLAG_NONAME) && !name_.empty()) {
      stat->pwcsName = TaskCopy(name_);
      if (!stat->pwcsName) return STG_E_INSUFFICIENTMEMORY;
    }
    std::lock_guard lock(node_->mutex);
    stat->type = STGTY_STORAGE;
    stat->clsid = node_->clsid;
    stat->grfStateBits = node_->state_bits;
    stat->grfMode = mode_;
    stat->ctime = node_->created;
    stat->atime = node_->accessed;
    stat->mtime = node_->modified;
    return S_OK;
  }

 private:
  friend ObjectBase;
  ~MemoryStorage() = default;

  Element* Find(std::u16string_view name) noexcept {
    for (auto& e : node_->elements) {
      if (SameName(e.name, name)) return &e;
    }
    return nullptr;
  }
  static bool IsExcluded(SNB names, std::u16string_view name) noexcept {
    for (; names && *names; ++names) {
      if (SameName(*names, name)) return true;
    }
    return false;
  }
  static StatEntry StatOf(const Element& e) {
    StatEntry s;
    s.name = e.name;
    s.created = e.created;
    s.accessed = e.accessed;
    s.modified = e.modified;
    if (e.stream) {
      s.type = STGTY_STREAM;
      std::lock_guard lock(e.stream->mutex);
      s.size = e.stream->bytes.size();
    } else {
      s.type = STGTY_STORAGE;
      std::lock_guard lock(e.storage->mutex);
      s.clsid = e.storage->clsid;
      s.state_bits = e.storage->state_bits;
    }
    return s;
  }
  static HRESULT CopyStreamInto(const Element& e, IStorage* target) noexcept {
    std::vector<BYTE> bytes;
    try {
      std::lock_guard lock(e.stream->mutex);
      bytes = e.stream->bytes;
    } catch (...) {
      return STG_E_INSUFFICIENTMEMORY;
    }
    ComPtr<IStream> out;
    HRESULT hr = target->CreateStream(e.name.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, out.put());
    if (FAILED(hr)) return hr;
    std::size_t done = 0;
    while (done < bytes.size() && SUCCEEDED(hr)) {
      const ULONG part = static_cast<ULONG>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
      hr = out->Write(bytes.data() + done, part, nullptr);
      done += part;
    }
    return hr;
  }
  static HRESULT CopyStorageInto(const Element& e, IStorage* target) noexcept {
    // Sub-storages merge into a same-named one, as the platform's CopyTo does.
    ComPtr<IStorage> out;
    HRESULT hr = target->OpenStorage(e.name.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, out.put());
    if (hr == STG_E_FILENOTFOUND) {
      hr = target->CreateStorage(e.name.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, out.put());
    }
    if (FAILED(hr)) return hr;
    MemoryStorage* source = nullptr;
    try {
      source = new MemoryStorage(e.storage, STGM_READ, e.name);
    } catch (...) {
      return STG_E_INSUFFICIENTMEMORY;
    }
    hr = source->CopyTo(0, nullptr, nullptr, out.get());
    source->Release();
    return hr;
  }

  std::shared_ptr<StorageNode> node_;
  const DWORD mode_;
  const std::u16string name_;
};

}  // namespace

HRESULT CreateMemoryStream(IStream** stream) noexcept { return CreateMemoryStream({}, stream); }

HRESULT CreateMemoryStream(std::span<const BYTE> bytes, IStream** stream) noexcept {
  if (!stream) return E_POINTER;
  *stream = nullptr;
  try {
    auto data = std::make_shared<StreamBytes>();
    data->bytes.assign(bytes.begin(), bytes.end());
    return NewStream(std::move(data), true, {}, stream);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ReadStreamContents(IStream* stream, std::vector<BYTE>* bytes) noexcept {
  if (!stream || !bytes) return E_POINTER;
  ULARGE_INTEGER saved;
  HRESULT hr = stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_CUR, &saved);
  if (FAILED(hr)) return hr;
  STATSTG stat;
  hr = stream->Stat(&stat, STATFLAG_NONAME);
  if (FAILED(hr)) return hr;
  if (stat.cbSize.QuadPart > std::numeric_limits<ULONG>::max()) return E_OUTOFMEMORY;
  try {
    bytes->assign(static_cast<std::size_t>(stat.cbSize.QuadPart), 0);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  hr = stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  ULONG read = 0;
  if (SUCCEEDED(hr)) hr = stream->Read(bytes->data(), static_cast<ULONG>(bytes->size()), &read);
  if (SUCCEEDED(hr)) bytes->resize(read);
  const HRESULT restore = stream->Seek(LARGE_INTEGER{static_cast<std::int64_t>(saved.QuadPart)}, STREAM_SEEK_SET, nullptr);
  return FAILED(hr) ? hr : (FAILED(restore) ? restore : S_OK);
}

HRESULT CreateMemoryPropertyBag(IPropertyBag** bag) noexcept {
  if (!bag) return E_POINTER;
  *bag = new (std::nothrow) MemoryPropertyBag;
  return *bag ? S_OK : E_OUTOFMEMORY;
}

HRESULT CreateMemoryStorage(IStorage** storage) noexcept {
  if (!storage) return E_POINTER;
  *storage = nullptr;
  try {
    *storage = new MemoryStorage(std::make_shared<StorageNode>(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, {});
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT WriteClassStg(IStorage* storage, REFCLSID clsid) noexcept {
  if (!storage) return E_INVALIDARG;
  return storage->SetClass(clsid);
}

HRESULT ReadClassStg(IStorage* storage, CLSID* clsid) noexcept {
  if (!storage || !clsid) return E_INVALIDARG;
  STATSTG stat;
  const HRESULT hr = storage->Stat(&stat, STATFLAG_NONAME);
  if (FAILED(hr)) return hr;
  *clsid = stat.clsid;
  return S_OK;
}

HRESULT WriteClassStm(IStream* stream, REFCLSID clsid) noexcept {
  if (!stream) return E_INVALIDARG;
  BYTE bytes[16];
  // Little-endian fields, as the platform writes them.
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<BYTE>(clsid.Data1 >> (8 * i));
  for (int i = 0; i < 2; ++i) bytes[4 + i] = static_cast<BYTE>(clsid.Data2 >> (8 * i));
  for (int i = 0; i < 2; ++i) bytes[6 + i] = static_cast<BYTE>(clsid.Data3 >> (8 * i));
  for (int i = 0; i < 8; ++i) bytes[8 + i] = clsid.Data4[static_cast<std::size_t>(i)];
  ULONG written = 0;
  const HRESULT hr = stream->Write(bytes, sizeof bytes, &written);
  if (FAILED(hr)) return hr;
  return written == sizeof bytes ? S_OK : STG_E_MEDIUMFULL;
}

HRESULT ReadClassStm(IStream* stream, CLSID* clsid) noexcept {
  if (!stream || !clsid) return E_INVALIDARG;
  BYTE bytes[16];
  ULONG read = 0;
  const HRESULT hr = stream->Read(bytes, sizeof bytes, &read);
  if (FAILED(hr)) return hr;
  if (read != sizeof bytes) return STG_E_READFAULT;
  CLSID c;
  c.Data1 = 0;
  for (int i = 3; i >= 0; --i) c.Data1 = c.Data1 << 8 | bytes[i];
  c.Data2 = static_cast<std::uint16_t>(bytes[4] | bytes[5] << 8);
  c.Data3 = static_cast<std::uint16_t>(bytes[6] | bytes[7] << 8);
  for (int i = 0; i < 8; ++i) c.Data4[static_cast<std::size_t>(i)] = bytes[8 + i];
  *clsid = c;
  return S_OK;
}

}  // namespace kx::platform
