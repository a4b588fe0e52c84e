#include "kx/platform/registry.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "registry_sandbox.h"

extern char** environ;

namespace kx::platform {
namespace {

using test_support::RegistrySandbox;

using test_support::ReadFile;
using test_support::WriteFile;

TEST(Registry, StringAndDwordValuesRoundTripThroughTheFile) {
  RegistrySandbox sandbox;
  struct Row {
    const char* path;
    const char* name;
    bool dword;
    const char* text;
    DWORD number;
  };
  const Row rows[] = {
      {"CLSID\\{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17}", "", false, "= Brambleton Varnix Control",
       0},
      {"CLSID\\{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17}\\InprocServer32", "ThreadingModel", false,
       "Apartment", 0},
      {"Some.Prog.1", "", false, "", 0},                     // empty text
      {"Unicode", "Name", false, "Zürich \xE2\x82\xAC", 0},  // UTF-8 kept byte for byte
      {"Numbers", "Zero", true, nullptr, 0},
      {"Numbers", "Max", true, nullptr, 0xFFFFFFFFu},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.path << " / " << r.name);
    LSTATUS s = r.dword ? RegSetDword(HKEY_CLASSES_ROOT, r.path, r.name, r.number)
                        : RegSetString(HKEY_CLASSES_ROOT, r.path, r.name, r.text);
    ASSERT_EQ(s, ERROR_SUCCESS);
  }
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.path << " / " << r.name);
    if (r.dword) {
      DWORD got = 12345;
      ASSERT_EQ(RegGetDword(HKEY_CLASSES_ROOT, r.path, r.name, &got), ERROR_SUCCESS);
      EXPECT_EQ(got, r.number);
      std::string wrong;
      EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, r.path, r.name, &wrong), ERROR_INVALID_DATA);
    } else {
      std::string got = "stale";
      ASSERT_EQ(RegGetString(HKEY_CLASSES_ROOT, r.path, r.name, &got), ERROR_SUCCESS);
      EXPECT_EQ(got, r.text);
    }
  }
  // The other root is separate.
  std::string text;
  EXPECT_EQ(RegGetString(HKEY_CURRENT_USER, "Some.Prog.1", "", &text), ERROR_FILE_NOT_FOUND);
}

TEST(Registry, NamesAreCaseInsensitiveAndKeepTheirCase) {
  RegistrySandbox sandbox;
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Korvane.Quantorb\\CurVer", "", "Korvane.Quantorb.1"),
            ERROR_SUCCESS);
  std::string got;
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, "KORVANE.quantorb\\curver", "", &got), ERROR_SUCCESS);
  EXPECT_EQ(got, "Korvane.Quantorb.1");
  // Writing through another spelling updates the same key and keeps the first spelling.
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "korvane.QUANTORB", "Extra", "x"), ERROR_SUCCESS);
  std::vector<std::string> names;
  ASSERT_EQ(RegListSubKeys(HKEY_CLASSES_ROOT, "", &names), ERROR_SUCCESS);
  EXPECT_EQ(names, std::vector<std::string>{"Korvane.Quantorb"});
}

TEST(Registry, HandleFunctionsCreateQueryEnumerateAndDelete) {
  RegistrySandbox sandbox;
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Kx\\Addins", 0, nullptr,
                           REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  const char text[] = "Friendly";
  ASSERT_EQ(RegSetValueEx(key, "FriendlyName", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          sizeof text),
            ERROR_SUCCESS);
  const DWORD three = 3;
  ASSERT_EQ(
      RegSetValueEx(key, "LoadBehavior", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&three), 4),
      ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueEx(key, "Bad", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&three), 2),
            ERROR_INVALID_PARAMETER);

  // Size query, short buffer, exact buffer.
  DWORD type = 0, size = 0;
  ASSERT_EQ(RegQueryValueEx(key, "friendlyname", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, sizeof text);  // counts the terminating zero
  char small[4];
  size = sizeof small;
  EXPECT_EQ(
      RegQueryValueEx(key, "FriendlyName", nullptr, &type, reinterpret_cast<BYTE*>(small), &size),
      ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof text);
  char exact[sizeof text];
  ASSERT_EQ(
      RegQueryValueEx(key, "FriendlyName", nullptr, &type, reinterpret_cast<BYTE*>(exact), &size),
      ERROR_SUCCESS);
  EXPECT_STREQ(exact, "Friendly");
  EXPECT_EQ(RegQueryValueEx(key, "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);

  // Enumerate values in name order.
  std::vector<std::string> value_names;
  for (DWORD i = 0;; ++i) {
    char name[64];
    DWORD name_size = sizeof name;
    LSTATUS s = RegEnumValue(key, i, name, &name_size, nullptr, nullptr, nullptr, nullptr);
    if (s == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(s, ERROR_SUCCESS);
    EXPECT_EQ(name_size, std::strlen(name));
    value_names.emplace_back(name);
  }
  EXPECT_EQ(value_names, (std::vector<std::string>{"FriendlyName", "LoadBehavior"}));

  // Subkeys enumerate in case-insensitive order; a short name buffer is ERROR_MORE_DATA.
  HKEY parent = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Kx", 0, KEY_ALL_ACCESS, &parent),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(parent, "beta", "", "b"), ERROR_SUCCESS);
  std::vector<std::string> key_names;
  for (DWORD i = 0;; ++i) {
    char name[64];
    DWORD name_size = sizeof name;
    LSTATUS s = RegEnumKeyEx(parent, i, name, &name_size, nullptr, nullptr, nullptr, nullptr);
    if (s == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(s, ERROR_SUCCESS);
    key_names.emplace_back(name);
  }
  EXPECT_EQ(key_names, (std::vector<std::string>{"Addins", "beta"}));
  char tiny[3];
  DWORD tiny_size = sizeof tiny;
  EXPECT_EQ(RegEnumKeyEx(parent, 0, tiny, &tiny_size, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);

  // A key with subkeys is not deleted by RegDeleteKey; RegDeleteTree removes it whole.
  EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, "Software\\Kx"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValue(key, "LoadBehavior"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValue(key, "LoadBehavior"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKey(parent, "beta"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTree(HKEY_CURRENT_USER, "Software\\Kx"), ERROR_SUCCESS);
  bool exists = true;
  ASSERT_EQ(RegKeyExists(HKEY_CURRENT_USER, "Software\\Kx", &exists), ERROR_SUCCESS);
  EXPECT_FALSE(exists);
  ASSERT_EQ(RegKeyExists(HKEY_CURRENT_USER, "Software", &exists), ERROR_SUCCESS);
  EXPECT_TRUE(exists);
  // Handles to deleted keys report it rather than recreating anything.
  EXPECT_EQ(RegQueryValueEx(key, "FriendlyName", nullptr, &type, nullptr, &size),
            ERROR_KEY_DELETED);
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyEx(key, "Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(child, nullptr);

  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);  // closed twice
  EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
}

TEST(Registry, ReadOnlyHandleRefusesWrites) {
  RegistrySandbox sandbox;
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "ReadMe", "", "v"), ERROR_SUCCESS);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "ReadMe", 0, KEY_READ, &key), ERROR_SUCCESS);
  const DWORD one = 1;
  EXPECT_EQ(RegSetValueEx(key, "x", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteTree(key, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  HKEY missing = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "NoSuchKey", 0, KEY_READ, &missing),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing, nullptr);
}

TEST(RegistryEdit, AppliesAllChangesOrNone) {
  RegistrySandbox sandbox;
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Old\\Sub", "", "old"), ERROR_SUCCESS);
  RegistryEdit edit;
  edit.DeleteTree(HKEY_CLASSES_ROOT, "Old");
  edit.SetString(HKEY_CLASSES_ROOT, "New\\A", "", "a");
  edit.SetDword(HKEY_CURRENT_USER, "New", "n", 7);
  edit.DeleteKeyIfNoSubkeys(HKEY_CLASSES_ROOT, "New");  // has a subkey: stays
  ASSERT_EQ(edit.Commit(), ERROR_SUCCESS);
  bool exists = true;
  ASSERT_EQ(RegKeyExists(HKEY_CLASSES_ROOT, "Old", &exists), ERROR_SUCCESS);
  EXPECT_FALSE(exists);
  ASSERT_EQ(RegKeyExists(HKEY_CLASSES_ROOT, "New\\A", &exists), ERROR_SUCCESS);
  EXPECT_TRUE(exists);

  // A change that fails (a name that is not UTF-8 cannot be stored) leaves everything untouched.
  const std::string before = ReadFile(sandbox.file());
  RegistryEdit failing;
  failing.DeleteTree(HKEY_CLASSES_ROOT, "New");
  failing.SetString(HKEY_CLASSES_ROOT, "Bad\xFF", "", "x");
  EXPECT_NE(failing.Commit(), ERROR_SUCCESS);
  EXPECT_EQ(ReadFile(sandbox.file()), before);
}

TEST(Registry, CorruptFileIsReportedAndNeverOverwritten) {
  RegistrySandbox sandbox;
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Keep\\Me", "", "precious"), ERROR_SUCCESS);
  const std::string good = ReadFile(sandbox.file());
  ASSERT_GT(good.size(), 40u);
  std::string flipped = good;
  flipped[good.size() - 10] ^= 0x01;

  struct Case {
    const char* what;
    std::string content;
  };
  const Case cases[] = {
      {"torn in the middle", good.substr(0, good.size() / 2)},
      {"one byte changed", flipped},
      {"empty file", ""},
      {"header only", good.substr(0, good.find('\n') + 1)},
      {"not a registry", "hello world\n"},
      {"valid header, JSON of the wrong shape",
       [] {
         // Correct length and CRC-32 (zlib.crc32) over a body that is not a registry document.
         std::string body = "[1,2,3]\n";
         return std::string("KXREG 1 8 ") + "ebfc31fc" + "\n" + body;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(sandbox.file(), c.content);
    std::string value;
    EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, "Keep\\Me", "", &value), ERROR_REGISTRY_CORRUPT);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "Keep", 0, KEY_READ, &key), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Other", "", "x"), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(HresultFromRegistryError(ERROR_REGISTRY_CORRUPT), REGDB_E_READREGDB);
    EXPECT_EQ(ReadFile(sandbox.file()), c.content) << "the damaged file must stay for repair";
  }
  WriteFile(sandbox.file(), good);
  std::string value;
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, "Keep\\Me", "", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, "precious");
}

TEST(Registry, ConcurrentWriterProcessesLoseNothing) {
  RegistrySandbox sandbox;
  constexpr int kPerWriter = 60;
  const std::string count = std::to_string(kPerWriter);
  std::vector<pid_t> pids;
  for (const char* prefix : {"a", "b"}) {
    std::vector<char*> argv = {const_cast<char*>(KX_REGISTRY_WRITER), const_cast<char*>(prefix),
                               const_cast<char*>(count.c_str()), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, KX_REGISTRY_WRITER, nullptr, nullptr, argv.data(), environ), 0);
    pids.push_back(pid);
  }
  // Meanwhile this process writes too, from two threads.
  std::vector<std::thread> threads;
  for (const char* prefix : {"c", "d"}) {
    threads.emplace_back([prefix] {
      for (int i = 0; i < kPerWriter; ++i) {
        EXPECT_EQ(RegSetDword(HKEY_CURRENT_USER,
                              std::string("Software\\KxConcurrency\\") + prefix + std::to_string(i),
                              "Index", static_cast<DWORD>(i)),
                  ERROR_SUCCESS);
      }
    });
  }
  for (auto& t : threads) t.join();
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer status " << status;
  }
  std::vector<std::string> names;
  ASSERT_EQ(RegListSubKeys(HKEY_CURRENT_USER, "Software\\KxConcurrency", &names), ERROR_SUCCESS);
  EXPECT_EQ(names.size(), 4u * kPerWriter);
  for (const char* prefix : {"a", "b", "c", "d"}) {
    for (int i = 0; i < kPerWriter; ++i) {
      DWORD index = 0;
      ASSERT_EQ(RegGetDword(HKEY_CURRENT_USER,
                            std::string("Software\\KxConcurrency\\") + prefix + std::to_string(i),
                            "Index", &index),
                ERROR_SUCCESS)
          << prefix << i;
      EXPECT_EQ(index, static_cast<DWORD>(i));
    }
  }
}

TEST(Registry, LocationFollowsTheEnvironment) {
  const char* old_dir = getenv("KX_REGISTRY_DIR");
  const std::string saved_dir = old_dir ? old_dir : "";
  const char* old_xdg = getenv("XDG_CONFIG_HOME");
  const std::string saved_xdg = old_xdg ? old_xdg : "";
  unsetenv("KX_REGISTRY_DIR");
  setenv("XDG_CONFIG_HOME", "/tmp/kx-xdg", 1);
  EXPECT_EQ(RegistryDirectory(), "/tmp/kx-xdg/kx-platform/registry");
  setenv("KX_REGISTRY_DIR", "/tmp/elsewhere", 1);
  EXPECT_EQ(RegistryFilePath(), "/tmp/elsewhere/registry.kxr");
  if (old_dir)
    setenv("KX_REGISTRY_DIR", saved_dir.c_str(), 1);
  else
    unsetenv("KX_REGISTRY_DIR");
  if (old_xdg)
    setenv("XDG_CONFIG_HOME", saved_xdg.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace kx::platform
