// The registry file parser: any bytes as registry.kxr (or, mostly, any body behind a header whose
// length and checksum match, so the JSON reader is reached), read through the key API; then one
// write, which must keep every key read before or, on a file refused as corrupt, leave it as it
// was.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_input.h"
#include "kx/platform/registry.h"

using namespace kx::platform;

namespace {

std::string registry_file;
constexpr int kMaxKeys = 200;

std::string WithHeader(std::string_view body) {
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
  char header[64];
  std::snprintf(header, sizeof header, "KXREG 1 %zu %08lx\n", body.size(), crc);
  return header + std::string(body);
}

std::string ReadFile() {
  std::ifstream in(registry_file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Appends every key and value under `key` to dump, depth first; the status of the first failure.
LSTATUS Walk(HKEY key, std::string* dump, int* budget) {
  for (DWORD v = 0;; ++v) {
    char name[512];
    DWORD name_size = sizeof name;
    DWORD type = 0;
    BYTE bytes[256];
    DWORD data_size = sizeof bytes;
    const LSTATUS s = RegEnumValue(key, v, name, &name_size, nullptr, &type, bytes, &data_size);
    if (s == ERROR_NO_MORE_ITEMS) break;
    if (s == ERROR_MORE_DATA) {
      // Asked again with the size it reported, the value must fit.
      std::string big(data_size, '\0');
      name_size = sizeof name;
      KX_FUZZ_CHECK(RegEnumValue(key, v, name, &name_size, nullptr, &type,
                                 reinterpret_cast<BYTE*>(big.data()), &data_size) == ERROR_SUCCESS);
      dump->append("value ").append(name, name_size).append(" ").append(big, 0, data_size);
      continue;
    }
    if (s != ERROR_SUCCESS) return s;
    KX_FUZZ_CHECK(type == REG_SZ || type == REG_DWORD);
    KX_FUZZ_CHECK(type != REG_DWORD || data_size == 4);
    dump->append("value ").append(name, name_size).append(" ");
    dump->append(reinterpret_cast<const char*>(bytes), data_size).push_back('\n');
  }
  for (DWORD k = 0; *budget > 0; ++k) {
    char name[512];
    DWORD name_size = sizeof name;
    LSTATUS s = RegEnumKeyEx(key, k, name, &name_size, nullptr, nullptr, nullptr, nullptr);
    if (s == ERROR_NO_MORE_ITEMS) break;
    if (s != ERROR_SUCCESS) return s;
    --*budget;
    dump->append("key ").append(name, name_size).push_back('\n');
    HKEY child = nullptr;
    s = RegOpenKeyEx(key, name, 0, KEY_READ, &child);
    if (s == ERROR_FILE_NOT_FOUND) continue;  // a stored name holding a path separator
    if (s != ERROR_SUCCESS) return s;
    s = Walk(child, dump, budget);
    KX_FUZZ_CHECK(RegCloseKey(child) == ERROR_SUCCESS);
    if (s != ERROR_SUCCESS) return s;
    dump->append("end\n");
  }
  return ERROR_SUCCESS;
}

LSTATUS WalkRoot(HKEY root, std::string* dump) {
  int budget = kMaxKeys;
  return Walk(root, dump, &budget);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  registry_file = kx::fuzz::UsePrivateRegistry() + "/registry.kxr";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kx::fuzz::FuzzInput in(data, size);
  const bool raw = (in.Byte() & 7) == 0;
  const std::string_view rest = in.Rest();
  const std::string file = raw ? std::string(rest) : WithHeader(rest);
  {
    std::ofstream out(registry_file, std::ios::binary | std::ios::trunc);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
  }
  std::string classes, user;
  const LSTATUS read = WalkRoot(HKEY_CLASSES_ROOT, &classes);
  if (read == ERROR_SUCCESS) KX_FUZZ_CHECK(WalkRoot(HKEY_CURRENT_USER, &user) == ERROR_SUCCESS);

  const LSTATUS wrote = RegSetDword(HKEY_CURRENT_USER, "KxFuzz\\Probe", "n", 7);
  if (read == ERROR_REGISTRY_CORRUPT || read == ERROR_BADDB) {
    KX_FUZZ_CHECK(wrote == read);
    KX_FUZZ_CHECK(ReadFile() == file);  // never replaced
    return 0;
  }
  KX_FUZZ_CHECK(read == ERROR_SUCCESS);
  // A text that is not UTF-8 cannot be written back; the file stays as it was then.
  if (wrote != ERROR_SUCCESS) {
    KX_FUZZ_CHECK(wrote == ERROR_INVALID_PARAMETER);
    KX_FUZZ_CHECK(ReadFile() == file);
    return 0;
  }
  DWORD n = 0;
  KX_FUZZ_CHECK(RegGetDword(HKEY_CURRENT_USER, "KxFuzz\\Probe", "n", &n) == ERROR_SUCCESS);
  KX_FUZZ_CHECK(n == 7);
  std::string classes_after;
  KX_FUZZ_CHECK(WalkRoot(HKEY_CLASSES_ROOT, &classes_after) == ERROR_SUCCESS);
  KX_FUZZ_CHECK(classes_after == classes);  // a write loses nothing
  return 0;
}
