// File-backed registry: one JSON document behind a header line that carries its length and
// CRC-32, rewritten whole (new file, fsync, rename) under an exclusive flock for every change.
// A user file and a machine file of that form; reads merge them, writes go to one.
#include "kx/platform/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <variant>

#include "kx/platform/registry_faults.h"

namespace kx::platform {

struct RegistryKey {
  int root = 0;
  std::vector<std::string> segments;
  REGSAM sam = 0;
};

HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(std::uintptr_t{0x80000000u});
HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001u});

namespace {

using json = nlohmann::ordered_json;  // keeps "name" ahead of "values" and "keys" for readers

constexpr int kRootCount = 2;
constexpr const char* kRootNames[kRootCount] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER"};
constexpr const char* kFileName = "registry.kxr";
constexpr const char* kLockName = "registry.lock";
constexpr const char* kMagic = "KXREG";
constexpr int kFormatVersion = 1;
constexpr std::size_t kMaxDepth = 512;       // the platform's own nesting limit
constexpr std::size_t kMaxNameLength = 255;  // characters of one key name
constexpr std::size_t kMaxFileSize = std::size_t{256} << 20;
constexpr const char* kMachineDirectory = "/var/lib/kx-platform/registry";

// ---- the file operations, replaceable by tests ----

int SystemOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t SystemWrite(int fd, const void* data, std::size_t size) { return ::write(fd, data, size); }
int SystemFsync(int fd) { return ::fsync(fd); }
int SystemRename(const char* from, const char* to) { return ::rename(from, to); }

constexpr RegistryFileOps kSystemOps = {&SystemOpen, &SystemWrite, &SystemFsync, &SystemRename};
std::atomic<const RegistryFileOps*> file_ops{&kSystemOps};
std::atomic<RegistryScope> write_scope{RegistryScope::kUser};

const RegistryFileOps& Ops() { return *file_ops.load(std::memory_order_acquire); }

// Permissions the user may lack, as opposed to a failing disk.
bool IsDenied(int error) { return error == EACCES || error == EPERM || error == EROFS; }

// Every user reads the machine's files; only their owner reads the user's.
mode_t FileMode(RegistryScope scope) { return scope == RegistryScope::kMachine ? 0644 : 0600; }
mode_t DirectoryMode(RegistryScope scope) {
  return scope == RegistryScope::kMachine ? 0755 : 0700;
}

std::string Fold(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

struct Value {
  std::string name;
  DWORD type = REG_SZ;
  std::string text;
  DWORD number = 0;
};

struct Key {
  std::string name;
  std::map<std::string, Value> values;               // by folded name
  std::map<std::string, std::unique_ptr<Key>> keys;  // by folded name: enumeration order
};

struct Tree {
  Key roots[kRootCount];
};

// ---- locating keys ----

int RootIndex(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return 0;
  if (key == HKEY_CURRENT_USER) return 1;
  return -1;
}

std::mutex handles_mutex;
std::set<RegistryKey*>& OpenHandles() {
  static auto* handles = new std::set<RegistryKey*>;  // outlives static destructors
  return *handles;
}

struct Location {
  int root = 0;
  std::vector<std::string> segments;
  REGSAM sam = KEY_ALL_ACCESS;
  bool from_handle = false;  // an open key that must still exist
  std::size_t base = 0;      // segments that name the open key itself
};

LSTATUS SplitPath(std::string_view path, std::vector<std::string>* out) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (!part.empty()) {  // "a\\b" and a trailing '\' are tolerated
      if (part.size() > kMaxNameLength) return ERROR_INVALID_PARAMETER;
      out->emplace_back(part);
      if (out->size() > kMaxDepth) return ERROR_INVALID_PARAMETER;
    }
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

LSTATUS Resolve(HKEY key, std::string_view sub_key, Location* loc) {
  if (int root = RootIndex(key); root >= 0) {
    loc->root = root;
  } else {
    std::lock_guard lock(handles_mutex);
    if (key == nullptr || !OpenHandles().contains(key)) return ERROR_INVALID_HANDLE;
    loc->root = key->root;
    loc->segments = key->segments;
    loc->sam = key->sam;
    loc->from_handle = true;
    loc->base = key->segments.size();
  }
  return SplitPath(sub_key, &loc->segments);
}

Key* Find(Tree& tree, int root, const std::vector<std::string>& segments, std::size_t count) {
  Key* key = &tree.roots[root];
  for (std::size_t i = 0; i < count; ++i) {
    auto it = key->keys.find(Fold(segments[i]));
    if (it == key->keys.end()) return nullptr;
    key = it->second.get();
  }
  return key;
}

Key* Find(Tree& tree, const Location& loc) {
  return Find(tree, loc.root, loc.segments, loc.segments.size());
}

Key* Create(Tree& tree, const Location& loc, bool* created) {
  Key* key = &tree.roots[loc.root];
  *created = false;
  for (const std::string& segment : loc.segments) {
    auto& slot = key->keys[Fold(segment)];
    if (!slot) {
      slot = std::make_unique<Key>();
      slot->name = segment;
      *created = true;
    }
    key = slot.get();
  }
  return key;
}

// ---- the file ----

std::string JoinPath(const std::string& dir, const char* name) { return dir + "/" + name; }

LSTATUS MakeDirectories(const std::string& dir, RegistryScope scope) {
  std::string partial;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    partial = dir.substr(0, pos);
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), DirectoryMode(scope)) == 0) {
      chmod(partial.c_str(), DirectoryMode(scope));  // whatever the umask took away
    } else if (errno != EEXIST) {
      return IsDenied(errno) ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND;
    }
  }
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
  return ERROR_SUCCESS;
}

json KeyToJson(const Key& key) {
  json j = json::object();
  j["name"] = key.name;
  if (!key.values.empty()) {
    json values = json::array();
    for (const auto& [folded, v] : key.values) {
      if (v.type == REG_DWORD) {
        values.push_back({{"name", v.name}, {"type", "REG_DWORD"}, {"data", v.number}});
      } else {
        values.push_back({{"name", v.name}, {"type", "REG_SZ"}, {"data", v.text}});
      }
    }
    j["values"] = std::move(values);
  }
  if (!key.keys.empty()) {
    json keys = json::array();
    for (const auto& [folded, child] : key.keys) keys.push_back(KeyToJson(*child));
    j["keys"] = std::move(keys);
  }
  return j;
}

bool JsonToKey(const json& j, Key* key, std::size_t depth) {
  if (depth > kMaxDepth || !j.is_object()) return false;
  auto name = j.find("name");
  if (name == j.end() || !name->is_string()) return false;
  key->name = name->get<std::string>();
  if (auto values = j.find("values"); values != j.end()) {
    if (!values->is_array()) return false;
    for (const json& jv : *values) {
      if (!jv.is_object() || !jv.contains("name") || !jv["name"].is_string() ||
          !jv.contains("type") || !jv.contains("data")) {
        return false;
      }
      Value v;
      v.name = jv["name"].get<std::string>();
      const json& type = jv["type"];
      const json& data = jv["data"];
      if (type == "REG_SZ" && data.is_string()) {
        v.type = REG_SZ;
        v.text = data.get<std::string>();
      } else if (type == "REG_DWORD" && data.is_number_unsigned() &&
                 data.get<std::uint64_t>() <= 0xFFFFFFFFu) {
        v.type = REG_DWORD;
        v.number = data.get<DWORD>();
      } else {
        return false;
      }
      if (!key->values.emplace(Fold(v.name), std::move(v)).second) return false;
    }
  }
  if (auto keys = j.find("keys"); keys != j.end()) {
    if (!keys->is_array()) return false;
    for (const json& jk : *keys) {
      auto child = std::make_unique<Key>();
      if (!JsonToKey(jk, child.get(), depth + 1)) return false;
      std::string folded = Fold(child->name);
      if (child->name.empty() || !key->keys.emplace(std::move(folded), std::move(child)).second)
        return false;
    }
  }
  return true;
}

std::uint32_t Crc32(std::string_view data) {
  uLong crc = crc32(0L, Z_NULL, 0);
  // zlib takes uInt lengths; the file is capped far below 4 GiB.
  crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
  return static_cast<std::uint32_t>(crc);
}

// "KXREG <version> <body bytes> <crc32 hex>\n" then the body.
LSTATUS ParseFile(std::string_view content, Tree* tree) {
  std::size_t newline = content.find('\n');
  if (newline == std::string_view::npos || newline > 64) return ERROR_REGISTRY_CORRUPT;
  std::string header(content.substr(0, newline));
  std::string_view body = content.substr(newline + 1);
  char magic[8] = {};
  int version = 0;
  unsigned long long length = 0;
  unsigned crc = 0;
  int consumed = 0;
  if (std::sscanf(header.c_str(), "%5s %d %llu %8x%n", magic, &version, &length, &crc, &consumed) !=
          4 ||
      static_cast<std::size_t>(consumed) != header.size() || std::strcmp(magic, kMagic) != 0) {
    return ERROR_REGISTRY_CORRUPT;
  }
  if (version != kFormatVersion) return ERROR_BADDB;  // a newer writer's file: not ours to touch
  if (length != body.size() || crc != Crc32(body)) return ERROR_REGISTRY_CORRUPT;
  json doc = json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (doc.is_discarded() || !doc.is_object()) return ERROR_REGISTRY_CORRUPT;
  auto roots = doc.find("roots");
  if (roots == doc.end() || !roots->is_object()) return ERROR_REGISTRY_CORRUPT;
  for (int i = 0; i < kRootCount; ++i) {
    auto r = roots->find(kRootNames[i]);
    if (r == roots->end()) continue;
    if (!JsonToKey(*r, &tree->roots[i], 0)) return ERROR_REGISTRY_CORRUPT;
    tree->roots[i].name = kRootNames[i];
  }
  return ERROR_SUCCESS;
}

LSTATUS SerializeTree(const Tree& tree, std::string* out) {
  json doc = json::object();
  doc["format"] = "kx-platform registry";
  json roots = json::object();
  for (int i = 0; i < kRootCount; ++i) roots[kRootNames[i]] = KeyToJson(tree.roots[i]);
  doc["roots"] = std::move(roots);
  std::string body;
  try {
    body = doc.dump(1);
  } catch (const json::type_error&) {
    return ERROR_INVALID_PARAMETER;  // a name or text that is not UTF-8
  }
  body.push_back('\n');
  char header[64];
  std::snprintf(header, sizeof header, "%s %d %zu %08x\n", kMagic, kFormatVersion, body.size(),
                Crc32(body));
  *out = header + body;
  return ERROR_SUCCESS;
}

LSTATUS ReadAll(int fd, std::string* out) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return ERROR_CANTREAD;
  if (static_cast<std::size_t>(st.st_size) > kMaxFileSize) return ERROR_REGISTRY_CORRUPT;
  out->clear();
  char buffer[16384];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ERROR_CANTREAD;
    if (n == 0) break;
    out->append(buffer, static_cast<std::size_t>(n));
    if (out->size() > kMaxFileSize) return ERROR_REGISTRY_CORRUPT;
  }
  return ERROR_SUCCESS;
}

// A missing file is an empty registry; anything present must read and check whole. For a
// reader, a machine file this user may not read is not theirs to see: it counts as empty (a
// writer must never take it for empty, or its rename would lose everything in it).
enum class Purpose { kRead, kWrite };
LSTATUS LoadTree(const std::string& dir, RegistryScope scope, Purpose purpose, Tree* tree) {
  std::string path = JoinPath(dir, kFileName);
  int fd = Ops().open(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return ERROR_SUCCESS;
    if (scope == RegistryScope::kMachine && purpose == Purpose::kRead && IsDenied(errno))
      return ERROR_SUCCESS;
    return ERROR_CANTREAD;
  }
  std::string content;
  LSTATUS status = ReadAll(fd, &content);
  close(fd);
  if (status != ERROR_SUCCESS) return status;
  try {
    return ParseFile(content, tree);
  } catch (const std::exception&) {
    return ERROR_REGISTRY_CORRUPT;
  }
}

bool WriteFully(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = Ops().write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

LSTATUS StoreTree(const std::string& dir, RegistryScope scope, const Tree& tree) {
  std::string content;
  if (LSTATUS s = SerializeTree(tree, &content); s != ERROR_SUCCESS) return s;
  std::string path = JoinPath(dir, kFileName);
  std::string temp = path + ".new";  // one writer at a time holds the lock
  int fd = Ops().open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, FileMode(scope));
  if (fd < 0) return IsDenied(errno) ? ERROR_ACCESS_DENIED : ERROR_CANTWRITE;
  fchmod(fd, FileMode(scope));  // the umask must not hide the machine's file from its users
  bool ok = WriteFully(fd, content) && Ops().fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  if (!ok || Ops().rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return ERROR_CANTWRITE;
  }
  // The rename itself must reach the disk before the lock is released.
  if (int dfd = Ops().open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); dfd >= 0) {
    Ops().fsync(dfd);
    close(dfd);
  }
  return ERROR_SUCCESS;
}

class FileLock {
 public:
  FileLock(const std::string& dir, RegistryScope scope) {
    fd_ = Ops().open(JoinPath(dir, kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC,
                     FileMode(scope));
    if (fd_ < 0) {
      denied_ = IsDenied(errno);
      return;
    }
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~FileLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  [[nodiscard]] bool held() const noexcept { return fd_ >= 0; }
  [[nodiscard]] bool denied() const noexcept { return denied_; }

 private:
  int fd_ = -1;
  bool denied_ = false;
};

RegistryScope OtherScope(RegistryScope scope) {
  return scope == RegistryScope::kUser ? RegistryScope::kMachine : RegistryScope::kUser;
}

// Lock, re-read, change, write: the change sees every earlier writer's result.
LSTATUS Transact(const std::function<LSTATUS(Tree&)>& change) {
  const RegistryScope scope = RegistryWriteScope();
  std::string dir = RegistryDirectory(scope);
  if (dir.empty()) return ERROR_PATH_NOT_FOUND;
  if (LSTATUS s = MakeDirectories(dir, scope); s != ERROR_SUCCESS) {
    return s == ERROR_ACCESS_DENIED ? s : ERROR_CANTWRITE;
  }
  FileLock lock(dir, scope);
  if (!lock.held()) return lock.denied() ? ERROR_ACCESS_DENIED : ERROR_CANTWRITE;
  Tree tree;
  if (LSTATUS s = LoadTree(dir, scope, Purpose::kWrite, &tree); s != ERROR_SUCCESS) return s;
  if (LSTATUS s = change(tree); s != ERROR_SUCCESS) return s;
  return StoreTree(dir, scope, tree);
}

std::unique_ptr<Key> CopyKey(const Key& key) {
  auto copy = std::make_unique<Key>();
  copy->name = key.name;
  copy->values = key.values;
  for (const auto& [folded, child] : key.keys) copy->keys.emplace(folded, CopyKey(*child));
  return copy;
}

// Adds what `under` has and `over` lacks: subkeys are the union, a value of `over` wins.
void MergeUnder(Key* over, const Key& under) {
  for (const auto& [folded, value] : under.values) over->values.emplace(folded, value);
  for (const auto& [folded, child] : under.keys) {
    auto it = over->keys.find(folded);
    if (it == over->keys.end()) {
      over->keys.emplace(folded, CopyKey(*child));
    } else {
      MergeUnder(it->second.get(), *child);
    }
  }
}

// Both folders naming one place make one scope, read once.
bool SameFolder(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa {}, sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// The merged view: the user's tree over the machine's.
LSTATUS Read(const std::function<LSTATUS(Tree&)>& query) {
  std::string user_dir = RegistryDirectory(RegistryScope::kUser);
  std::string machine_dir = RegistryDirectory(RegistryScope::kMachine);
  if (user_dir.empty() && machine_dir.empty()) return ERROR_PATH_NOT_FOUND;
  Tree tree;
  if (!user_dir.empty()) {
    if (LSTATUS s = LoadTree(user_dir, RegistryScope::kUser, Purpose::kRead, &tree);
        s != ERROR_SUCCESS)
      return s;
  }
  if (!machine_dir.empty() && (user_dir.empty() || !SameFolder(user_dir, machine_dir))) {
    Tree machine;
    if (LSTATUS s = LoadTree(machine_dir, RegistryScope::kMachine, Purpose::kRead, &machine);
        s != ERROR_SUCCESS)
      return s;
    for (int i = 0; i < kRootCount; ++i) MergeUnder(&tree.roots[i], machine.roots[i]);
  }
  return query(tree);
}

// Whether the scope not written to has the key: a key seen in the merged view may be changed
// even when only the other scope holds it (the change then creates it in the write scope).
bool InOtherScope(int root, const std::vector<std::string>& segments, std::size_t count) {
  const RegistryScope scope = RegistryWriteScope();
  std::string dir = RegistryDirectory(OtherScope(scope));
  if (dir.empty() || SameFolder(dir, RegistryDirectory(scope))) return false;
  Tree other;
  if (LoadTree(dir, OtherScope(scope), Purpose::kRead, &other) != ERROR_SUCCESS) return false;
  return Find(other, root, segments, count) != nullptr;
}

template <typename F>
LSTATUS Guarded(F&& f) noexcept {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  } catch (...) {
    return ERROR_INVALID_PARAMETER;
  }
}

std::string_view NameOf(const char* name) {
  return name ? std::string_view(name) : std::string_view();
}

LSTATUS MissingKey(const Location& loc) {
  return loc.from_handle ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
}

bool CanWrite(REGSAM sam) { return (sam & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0; }

using TreeAccess = LSTATUS (*)(const std::function<LSTATUS(Tree&)>&);

// body(key) on the key an open handle names, through Read or Transact, once the handle's rights
// include `access` and the key still exists.
template <typename Body>
LSTATUS OnOpenKey(HKEY handle, REGSAM access, TreeAccess run, Body&& body) {
  Location loc;
  if (LSTATUS s = Resolve(handle, {}, &loc); s != ERROR_SUCCESS) return s;
  if (!(loc.sam & access)) return ERROR_ACCESS_DENIED;
  return run([&](Tree& tree) -> LSTATUS {
    Key* k = Find(tree, loc);
    if (!k && run == &Transact && InOtherScope(loc.root, loc.segments, loc.segments.size())) {
      bool created = false;
      k = Create(tree, loc, &created);
    }
    if (!k) return MissingKey(loc);
    return body(*k);
  });
}

LSTATUS SetValueIn(Key* key, std::string_view name, DWORD type, std::string text, DWORD number) {
  Value& v = key->values[Fold(name)];
  v.name = std::string(name);
  v.type = type;
  v.text = std::move(text);
  v.number = number;
  return ERROR_SUCCESS;
}

// Copies a value's data in its stored form: REG_SZ with its terminating zero.
LSTATUS CopyOut(const Value& v, DWORD* type, BYTE* data, DWORD* size) {
  if (type) *type = v.type;
  std::string bytes;
  if (v.type == REG_DWORD) {
    bytes.assign(reinterpret_cast<const char*>(&v.number), sizeof v.number);
  } else {
    bytes = v.text;
    bytes.push_back('\0');
  }
  if (data && !size) return ERROR_INVALID_PARAMETER;
  if (!size) return ERROR_SUCCESS;
  DWORD needed = static_cast<DWORD>(bytes.size());
  if (data && *size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (data) std::memcpy(data, bytes.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

LSTATUS CopyName(const std::string& name, char* out, DWORD* capacity) {
  if (!out || !capacity) return ERROR_INVALID_PARAMETER;
  if (name.size() + 1 > *capacity) return ERROR_MORE_DATA;
  std::memcpy(out, name.c_str(), name.size() + 1);
  *capacity = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

}  // namespace

// ---- where the registry lives ----

std::string RegistryDirectory(RegistryScope scope) {
  if (scope == RegistryScope::kMachine) {
    const char* dir = std::getenv("KX_MACHINE_REGISTRY_DIR");
    return dir && *dir ? dir : kMachineDirectory;
  }
  if (const char* dir = std::getenv("KX_REGISTRY_DIR"); dir && *dir) return dir;
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    config = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      if (const passwd* pw = getpwuid(getuid())) home = pw->pw_dir;
    }
    if (!home || !*home) return {};
    config = std::string(home) + "/.config";
  }
  return config + "/kx-platform/registry";
}

std::string RegistryFilePath(RegistryScope scope) {
  std::string dir = RegistryDirectory(scope);
  return dir.empty() ? dir : JoinPath(dir, kFileName);
}

void SetRegistryWriteScope(RegistryScope scope) noexcept {
  write_scope.store(scope, std::memory_order_release);
}

RegistryScope RegistryWriteScope() noexcept { return write_scope.load(std::memory_order_acquire); }

const RegistryFileOps& SystemRegistryFileOps() noexcept { return kSystemOps; }

void SetRegistryFileOpsForTesting(const RegistryFileOps* ops) noexcept {
  file_ops.store(ops ? ops : &kSystemOps, std::memory_order_release);
}

HRESULT HresultFromRegistryError(LSTATUS status) noexcept {
  switch (status) {
    case ERROR_SUCCESS:
      return S_OK;
    case ERROR_REGISTRY_CORRUPT:
    case ERROR_BADDB:
    case ERROR_CANTREAD:
    case ERROR_REGISTRY_IO_FAILED:
      return REGDB_E_READREGDB;
    case ERROR_CANTWRITE:
      return REGDB_E_WRITEREGDB;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_KEY_DELETED:
      return REGDB_E_KEYMISSING;
    case ERROR_OUTOFMEMORY:
    case ERROR_NOT_ENOUGH_MEMORY:
      return E_OUTOFMEMORY;
    default:
      return HRESULT_FROM_WIN32(status);
  }
}

// ---- the platform's functions ----

LSTATUS RegCreateKeyEx(HKEY key, const char* sub_key, DWORD, const char*, DWORD, REGSAM sam,
                       const void*, PHKEY result, DWORD* disposition) noexcept {
  return Guarded([&]() -> LSTATUS {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Location loc;
    if (LSTATUS s = Resolve(key, NameOf(sub_key), &loc); s != ERROR_SUCCESS) return s;
    if (loc.from_handle && !(loc.sam & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    const std::size_t base = loc.base;
    bool created = false;
    LSTATUS s = Transact([&](Tree& tree) -> LSTATUS {
      if (loc.from_handle && !Find(tree, loc.root, loc.segments, base) &&
          !InOtherScope(loc.root, loc.segments, base)) {
        return ERROR_KEY_DELETED;
      }
      Create(tree, loc, &created);
      return ERROR_SUCCESS;
    });
    if (s != ERROR_SUCCESS) return s;
    auto handle =
        std::make_unique<RegistryKey>(RegistryKey{loc.root, std::move(loc.segments), sam});
    {
      std::lock_guard lock(handles_mutex);
      OpenHandles().insert(handle.get());
    }
    *result = handle.release();
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
  });
}

LSTATUS RegOpenKeyEx(HKEY key, const char* sub_key, DWORD, REGSAM sam, PHKEY result) noexcept {
  return Guarded([&]() -> LSTATUS {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Location loc;
    if (LSTATUS s = Resolve(key, NameOf(sub_key), &loc); s != ERROR_SUCCESS) return s;
    bool parent_gone = false;
    const std::size_t base = loc.base;
    LSTATUS s = Read([&](Tree& tree) -> LSTATUS {
      if (loc.from_handle && !Find(tree, loc.root, loc.segments, base)) parent_gone = true;
      return Find(tree, loc) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
    if (parent_gone) return ERROR_KEY_DELETED;
    if (s != ERROR_SUCCESS) return s;
    auto handle =
        std::make_unique<RegistryKey>(RegistryKey{loc.root, std::move(loc.segments), sam});
    {
      std::lock_guard lock(handles_mutex);
      OpenHandles().insert(handle.get());
    }
    *result = handle.release();
    return ERROR_SUCCESS;
  });
}

LSTATUS RegCloseKey(HKEY key) noexcept {
  if (RootIndex(key) >= 0) return ERROR_SUCCESS;  // the predefined roots are never closed
  {
    std::lock_guard lock(handles_mutex);
    if (key == nullptr || OpenHandles().erase(key) == 0) return ERROR_INVALID_HANDLE;
  }
  delete key;
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueEx(HKEY key, const char* value_name, DWORD, DWORD type, const BYTE* data,
                      DWORD size) noexcept {
  return Guarded([&]() -> LSTATUS {
    if (!data && size != 0) return ERROR_INVALID_PARAMETER;
    std::string text;
    DWORD number = 0;
    if (type == REG_SZ) {
      text.assign(reinterpret_cast<const char*>(data), size);
      if (!text.empty() && text.back() == '\0') text.pop_back();
    } else if (type == REG_DWORD) {
      if (size != sizeof(DWORD)) return ERROR_INVALID_PARAMETER;
      std::memcpy(&number, data, sizeof number);
    } else {
      return ERROR_NOT_SUPPORTED;
    }
    return OnOpenKey(key, KEY_SET_VALUE, &Transact, [&](Key& k) {
      return SetValueIn(&k, NameOf(value_name), type, text, number);
    });
  });
}

LSTATUS RegQueryValueEx(HKEY key, const char* value_name, DWORD*, DWORD* type, BYTE* data,
                        DWORD* size) noexcept {
  return Guarded([&]() -> LSTATUS {
    return OnOpenKey(key, KEY_QUERY_VALUE, &Read, [&](Key& k) -> LSTATUS {
      auto it = k.values.find(Fold(NameOf(value_name)));
      if (it == k.values.end()) return ERROR_FILE_NOT_FOUND;
      return CopyOut(it->second, type, data, size);
    });
  });
}

LSTATUS RegEnumKeyEx(HKEY key, DWORD index, char* name, DWORD* name_size, DWORD*, char*, DWORD*,
                     void*) noexcept {
  return Guarded([&]() -> LSTATUS {
    return OnOpenKey(key, KEY_ENUMERATE_SUB_KEYS, &Read, [&](Key& k) -> LSTATUS {
      if (index >= k.keys.size()) return ERROR_NO_MORE_ITEMS;
      auto it = std::next(k.keys.begin(), static_cast<std::ptrdiff_t>(index));
      return CopyName(it->second->name, name, name_size);
    });
  });
}

LSTATUS RegEnumValue(HKEY key, DWORD index, char* name, DWORD* name_size, DWORD*, DWORD* type,
                     BYTE* data, DWORD* data_size) noexcept {
  return Guarded([&]() -> LSTATUS {
    return OnOpenKey(key, KEY_QUERY_VALUE, &Read, [&](Key& k) -> LSTATUS {
      if (index >= k.values.size()) return ERROR_NO_MORE_ITEMS;
      const Value& v = std::next(k.values.begin(), static_cast<std::ptrdiff_t>(index))->second;
      if (LSTATUS s = CopyName(v.name, name, name_size); s != ERROR_SUCCESS) return s;
      return CopyOut(v, type, data, data_size);
    });
  });
}

LSTATUS RegDeleteKey(HKEY key, const char* sub_key) noexcept {
  return Guarded([&]() -> LSTATUS {
    if (!sub_key) return ERROR_INVALID_PARAMETER;
    Location loc;
    if (LSTATUS s = Resolve(key, sub_key, &loc); s != ERROR_SUCCESS) return s;
    if (!CanWrite(loc.sam)) return ERROR_ACCESS_DENIED;
    if (loc.segments.size() == loc.base) {
      return ERROR_INVALID_PARAMETER;  // the key itself: use RegDeleteTree
    }
    return Transact([&](Tree& tree) -> LSTATUS {
      Key* parent = Find(tree, loc.root, loc.segments, loc.segments.size() - 1);
      if (!parent) return ERROR_FILE_NOT_FOUND;
      auto it = parent->keys.find(Fold(loc.segments.back()));
      if (it == parent->keys.end()) return ERROR_FILE_NOT_FOUND;
      if (!it->second->keys.empty()) return ERROR_ACCESS_DENIED;
      parent->keys.erase(it);
      return ERROR_SUCCESS;
    });
  });
}

LSTATUS RegDeleteValue(HKEY key, const char* value_name) noexcept {
  return Guarded([&]() -> LSTATUS {
    return OnOpenKey(key, KEY_SET_VALUE, &Transact, [&](Key& k) -> LSTATUS {
      return k.values.erase(Fold(NameOf(value_name))) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
  });
}

LSTATUS RegDeleteTree(HKEY key, const char* sub_key) noexcept {
  return Guarded([&]() -> LSTATUS {
    Location loc;
    if (LSTATUS s = Resolve(key, NameOf(sub_key), &loc); s != ERROR_SUCCESS) return s;
    if (!CanWrite(loc.sam)) return ERROR_ACCESS_DENIED;
    return Transact([&](Tree& tree) -> LSTATUS {
      Key* k = Find(tree, loc);
      if (!k) return MissingKey(loc);
      bool is_open_key = loc.segments.size() == loc.base;
      if (loc.segments.empty() || is_open_key) {  // empty the key, keep it
        k->keys.clear();
        k->values.clear();
        return ERROR_SUCCESS;
      }
      Key* parent = Find(tree, loc.root, loc.segments, loc.segments.size() - 1);
      parent->keys.erase(Fold(loc.segments.back()));
      return ERROR_SUCCESS;
    });
  });
}

// ---- C++ helpers ----

namespace {

LSTATUS ReadValue(HKEY root, std::string_view path, std::string_view value_name, Value* out) {
  Location loc;
  if (LSTATUS s = Resolve(root, path, &loc); s != ERROR_SUCCESS) return s;
  return Read([&](Tree& tree) -> LSTATUS {
    Key* k = Find(tree, loc);
    if (!k) return ERROR_FILE_NOT_FOUND;
    auto it = k->values.find(Fold(value_name));
    if (it == k->values.end()) return ERROR_FILE_NOT_FOUND;
    *out = it->second;
    return ERROR_SUCCESS;
  });
}

LSTATUS WriteValue(HKEY root, std::string_view path, std::string_view value_name, DWORD type,
                   std::string text, DWORD number) {
  Location loc;
  if (LSTATUS s = Resolve(root, path, &loc); s != ERROR_SUCCESS) return s;
  if (!CanWrite(loc.sam)) return ERROR_ACCESS_DENIED;
  return Transact([&](Tree& tree) -> LSTATUS {
    bool created = false;
    return SetValueIn(Create(tree, loc, &created), value_name, type, text, number);
  });
}

}  // namespace

LSTATUS RegGetString(HKEY root, std::string_view path, std::string_view value_name,
                     std::string* value) {
  if (!value) return ERROR_INVALID_PARAMETER;
  return Guarded([&]() -> LSTATUS {
    Value v;
    if (LSTATUS s = ReadValue(root, path, value_name, &v); s != ERROR_SUCCESS) return s;
    if (v.type != REG_SZ) return ERROR_INVALID_DATA;
    *value = std::move(v.text);
    return ERROR_SUCCESS;
  });
}

LSTATUS RegGetDword(HKEY root, std::string_view path, std::string_view value_name, DWORD* value) {
  if (!value) return ERROR_INVALID_PARAMETER;
  return Guarded([&]() -> LSTATUS {
    Value v;
    if (LSTATUS s = ReadValue(root, path, value_name, &v); s != ERROR_SUCCESS) return s;
    if (v.type != REG_DWORD) return ERROR_INVALID_DATA;
    *value = v.number;
    return ERROR_SUCCESS;
  });
}

LSTATUS RegSetString(HKEY root, std::string_view path, std::string_view value_name,
                     std::string_view value) {
  return Guarded([&] { return WriteValue(root, path, value_name, REG_SZ, std::string(value), 0); });
}

LSTATUS RegSetDword(HKEY root, std::string_view path, std::string_view value_name, DWORD value) {
  return Guarded([&] { return WriteValue(root, path, value_name, REG_DWORD, {}, value); });
}

LSTATUS RegKeyExists(HKEY root, std::string_view path, bool* exists) {
  if (!exists) return ERROR_INVALID_PARAMETER;
  return Guarded([&]() -> LSTATUS {
    Location loc;
    if (LSTATUS s = Resolve(root, path, &loc); s != ERROR_SUCCESS) return s;
    return Read([&](Tree& tree) -> LSTATUS {
      *exists = Find(tree, loc) != nullptr;
      return ERROR_SUCCESS;
    });
  });
}

LSTATUS RegListSubKeys(HKEY root, std::string_view path, std::vector<std::string>* names) {
  if (!names) return ERROR_INVALID_PARAMETER;
  return Guarded([&]() -> LSTATUS {
    Location loc;
    if (LSTATUS s = Resolve(root, path, &loc); s != ERROR_SUCCESS) return s;
    return Read([&](Tree& tree) -> LSTATUS {
      Key* k = Find(tree, loc);
      if (!k) return ERROR_FILE_NOT_FOUND;
      names->clear();
      for (const auto& [folded, child] : k->keys) names->push_back(child->name);
      return ERROR_SUCCESS;
    });
  });
}

// ---- RegistryEdit ----

struct RegistryEdit::Op {
  enum class Kind {
    kCreateKey,
    kSetString,
    kSetDword,
    kDeleteValue,
    kDeleteTree,
    kDeleteKeyIfNoSubkeys
  };
  Kind kind;
  HKEY root;
  std::string path;
  std::string value_name;
  std::string text;
  DWORD number = 0;
};

RegistryEdit::RegistryEdit() = default;
RegistryEdit::~RegistryEdit() = default;
RegistryEdit::RegistryEdit(RegistryEdit&&) noexcept = default;
RegistryEdit& RegistryEdit::operator=(RegistryEdit&&) noexcept = default;

void RegistryEdit::CreateKey(HKEY root, std::string_view path) {
  ops_.push_back({Op::Kind::kCreateKey, root, std::string(path), {}, {}, 0});
}
void RegistryEdit::SetString(HKEY root, std::string_view path, std::string_view value_name,
                             std::string_view value) {
  ops_.push_back({Op::Kind::kSetString, root, std::string(path), std::string(value_name),
                  std::string(value), 0});
}
void RegistryEdit::SetDword(HKEY root, std::string_view path, std::string_view value_name,
                            DWORD value) {
  ops_.push_back(
      {Op::Kind::kSetDword, root, std::string(path), std::string(value_name), {}, value});
}
void RegistryEdit::DeleteValue(HKEY root, std::string_view path, std::string_view value_name) {
  ops_.push_back({Op::Kind::kDeleteValue, root, std::string(path), std::string(value_name), {}, 0});
}
void RegistryEdit::DeleteTree(HKEY root, std::string_view path) {
  ops_.push_back({Op::Kind::kDeleteTree, root, std::string(path), {}, {}, 0});
}
void RegistryEdit::DeleteKeyIfNoSubkeys(HKEY root, std::string_view path) {
  ops_.push_back({Op::Kind::kDeleteKeyIfNoSubkeys, root, std::string(path), {}, {}, 0});
}

bool RegistryEdit::empty() const noexcept { return ops_.empty(); }

LSTATUS RegistryEdit::Commit() const {
  return Guarded([&]() -> LSTATUS {
    std::vector<Location> locations(ops_.size());
    for (std::size_t i = 0; i < ops_.size(); ++i) {
      if (LSTATUS s = Resolve(ops_[i].root, ops_[i].path, &locations[i]); s != ERROR_SUCCESS)
        return s;
      if (!CanWrite(locations[i].sam)) return ERROR_ACCESS_DENIED;
    }
    // Works on the tree read under the lock; an error leaves the file as it was.
    return Transact([&](Tree& tree) -> LSTATUS {
      for (std::size_t i = 0; i < ops_.size(); ++i) {
        const Op& op = ops_[i];
        const Location& loc = locations[i];
        bool created = false;
        switch (op.kind) {
          case Op::Kind::kCreateKey:
            Create(tree, loc, &created);
            break;
          case Op::Kind::kSetString:
            SetValueIn(Create(tree, loc, &created), op.value_name, REG_SZ, op.text, 0);
            break;
          case Op::Kind::kSetDword:
            SetValueIn(Create(tree, loc, &created), op.value_name, REG_DWORD, {}, op.number);
            break;
          case Op::Kind::kDeleteValue:
            if (Key* k = Find(tree, loc)) k->values.erase(Fold(op.value_name));
            break;
          case Op::Kind::kDeleteTree:
          case Op::Kind::kDeleteKeyIfNoSubkeys: {
            if (loc.segments.empty()) return ERROR_INVALID_PARAMETER;  // never a whole root
            Key* parent = Find(tree, loc.root, loc.segments, loc.segments.size() - 1);
            if (!parent) break;
            auto it = parent->keys.find(Fold(loc.segments.back()));
            if (it == parent->keys.end()) break;
            if (op.kind == Op::Kind::kDeleteTree || it->second->keys.empty())
              parent->keys.erase(it);
            break;
          }
        }
      }
      return ERROR_SUCCESS;
    });
  });
}

}  // namespace kx::platform
