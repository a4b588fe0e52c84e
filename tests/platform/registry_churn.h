#pragma once
// The class that the churn helper registers: several keys in one transaction, so that a reader
// can tell a whole registration from a torn one.
#include <cstdio>
#include <functional>
#include <string>
#include <utility>

#include "kx/platform/registry.h"

namespace kx::platform::test_support {

struct ChurnClass {
  // index -1 names the helper's base class, registered once and never removed.
  ChurnClass(const std::string& tag, long index)
      : prog_id("Churn." + tag + "." + (index < 0 ? std::string("base") : std::to_string(index))) {
    char guid[40];
    const unsigned long tag_bits = std::hash<std::string>{}(tag) & 0xFFFFFFFFFFFFul;
    std::snprintf(guid, sizeof guid, "{%08lX-0000-4000-8000-%012lX}",
                  static_cast<unsigned long>(index + 1), tag_bits);
    clsid_key = std::string("CLSID\\") + guid;
    clsid = guid;
  }

  [[nodiscard]] RegistryEdit Register() const {
    RegistryEdit edit;
    edit.SetString(HKEY_CLASSES_ROOT, prog_id, {}, prog_id);
    edit.SetString(HKEY_CLASSES_ROOT, prog_id + "\\CLSID", {}, clsid);
    edit.SetString(HKEY_CLASSES_ROOT, clsid_key, {}, prog_id);
    edit.SetString(HKEY_CLASSES_ROOT, clsid_key + "\\ProgID", {}, prog_id);
    edit.SetString(HKEY_CLASSES_ROOT, clsid_key + "\\InprocServer32", {}, "/nowhere/churn.so");
    edit.SetString(HKEY_CLASSES_ROOT, clsid_key + "\\InprocServer32", "ThreadingModel",
                   "Apartment");
    return edit;
  }

  [[nodiscard]] RegistryEdit Unregister() const {
    RegistryEdit edit;
    edit.DeleteTree(HKEY_CLASSES_ROOT, prog_id);
    edit.DeleteTree(HKEY_CLASSES_ROOT, clsid_key);
    return edit;
  }

  // How many of the registration's six values the merged view holds, or -1 when unreadable.
  [[nodiscard]] int ValuesPresent() const {
    const std::pair<std::string, std::string> values[] = {
        {prog_id, ""},
        {prog_id + "\\CLSID", ""},
        {clsid_key, ""},
        {clsid_key + "\\ProgID", ""},
        {clsid_key + "\\InprocServer32", ""},
        {clsid_key + "\\InprocServer32", "ThreadingModel"}};
    int present = 0;
    for (const auto& [path, name] : values) {
      std::string text;
      LSTATUS s = RegGetString(HKEY_CLASSES_ROOT, path, name, &text);
      if (s == ERROR_SUCCESS) {
        ++present;
      } else if (s != ERROR_FILE_NOT_FOUND) {
        return -1;
      }
    }
    return present;
  }
  static constexpr int kValueCount = 6;

  std::string prog_id;
  std::string clsid;
  std::string clsid_key;
};

}  // namespace kx::platform::test_support
