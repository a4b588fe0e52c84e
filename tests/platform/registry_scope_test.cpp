// The machine-wide scope: merged reads, the user's precedence, the write scope, a machine scope
// the user may not write, and registration into it by kxregsvr.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kx/platform/activation.h"
#include "kx/platform/registry.h"
#include "kx/platform/registry_faults.h"
#include "kx/platform/regscript.h"
#include "registry_sandbox.h"

extern char** environ;

namespace kx::platform {
namespace {

using test_support::RegistrySandbox;

using test_support::ReadFile;
using test_support::WriteFile;

// Restores the user's write scope whatever a test does.
class ScopeGuard {
 public:
  ScopeGuard() = default;
  ~ScopeGuard() { SetRegistryWriteScope(RegistryScope::kUser); }
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;
};

std::string Get(std::string_view path, std::string_view name = {}) {
  std::string value;
  LSTATUS s = RegGetString(HKEY_CLASSES_ROOT, path, name, &value);
  return s == ERROR_SUCCESS ? value : "<" + std::to_string(s) + ">";
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(RegistryScope, LocationsFollowTheEnvironment) {
  RegistrySandbox sandbox;
  EXPECT_EQ(RegistryFilePath(RegistryScope::kMachine), sandbox.machine_file());
  EXPECT_EQ(RegistryFilePath(RegistryScope::kUser), sandbox.file());
  EXPECT_EQ(RegistryFilePath(), sandbox.file());
  unsetenv("KX_MACHINE_REGISTRY_DIR");
  EXPECT_EQ(RegistryDirectory(RegistryScope::kMachine), "/var/lib/kx-platform/registry");
  setenv("KX_MACHINE_REGISTRY_DIR", "", 1);
  EXPECT_EQ(RegistryDirectory(RegistryScope::kMachine), "/var/lib/kx-platform/registry");
  EXPECT_EQ(RegistryWriteScope(), RegistryScope::kUser) << "the user's scope is the default";
}

TEST(RegistryScope, ReadsMergeBothScopesAndTheUsersValuesWin) {
  RegistrySandbox sandbox;
  ScopeGuard guard;
  SetRegistryWriteScope(RegistryScope::kMachine);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Shared\\Key", "", "machine"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Shared\\Key", "OnlyMachine", "m"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Shared\\Key\\MachineChild", "", "mc"),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "MachineOnly", "", "m"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetDword(HKEY_CURRENT_USER, "Software\\Kx", "Level", 1), ERROR_SUCCESS);
  SetRegistryWriteScope(RegistryScope::kUser);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "shared\\KEY", "", "user"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Shared\\Key\\UserChild", "", "uc"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "UserOnly", "", "u"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetDword(HKEY_CURRENT_USER, "Software\\Kx", "Level", 2), ERROR_SUCCESS);

  struct Case {
    const char* path;
    const char* name;
    const char* expected;
  };
  const Case cases[] = {
      {"Shared\\Key", "", "user"},  // both scopes: the user's value
      {"Shared\\Key", "OnlyMachine", "m"},
      {"Shared\\Key\\MachineChild", "", "mc"},
      {"Shared\\Key\\UserChild", "", "uc"},
      {"MachineOnly", "", "m"},
      {"UserOnly", "", "u"},
      {"Nowhere", "", "<2>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " / " + c.name);
    EXPECT_EQ(Get(c.path, c.name), c.expected);
  }
  DWORD level = 0;
  ASSERT_EQ(RegGetDword(HKEY_CURRENT_USER, "Software\\Kx", "Level", &level), ERROR_SUCCESS);
  EXPECT_EQ(level, 2u);

  std::vector<std::string> names;
  ASSERT_EQ(RegListSubKeys(HKEY_CLASSES_ROOT, "Shared\\Key", &names), ERROR_SUCCESS);
  EXPECT_EQ(names, (std::vector<std::string>{"MachineChild", "UserChild"}));
  HKEY root = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, nullptr, 0, KEY_READ, &root), ERROR_SUCCESS);
  std::vector<std::string> enumerated;
  for (DWORD i = 0;; ++i) {
    char name[64];
    DWORD size = sizeof name;
    LSTATUS s = RegEnumKeyEx(root, i, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (s == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(s, ERROR_SUCCESS);
    enumerated.emplace_back(name);
  }
  // A key both scopes hold keeps the user's spelling.
  EXPECT_EQ(enumerated, (std::vector<std::string>{"MachineOnly", "shared", "UserOnly"}));
  EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);

  // Each write went to one file only.
  const std::string user = ReadFile(sandbox.file());
  const std::string machine = ReadFile(sandbox.machine_file());
  EXPECT_EQ(user.find("MachineOnly"), std::string::npos);
  EXPECT_EQ(machine.find("UserOnly"), std::string::npos);
  EXPECT_EQ(ModeOf(sandbox.file()), 0600u);
  EXPECT_EQ(ModeOf(sandbox.machine_file()), 0644u) << "every user reads the machine's registry";
  EXPECT_EQ(ModeOf(sandbox.machine_dir()), 0755u);

  // Removing the user's key lets the machine's show through again.
  ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "Shared"), ERROR_SUCCESS);
  EXPECT_EQ(Get("Shared\\Key"), "machine");
  EXPECT_EQ(Get("Shared\\Key\\UserChild"), "<2>");
  EXPECT_EQ(ReadFile(sandbox.machine_file()), machine);
}

TEST(RegistryScope, WritingThroughAKeyOnlyTheMachineHasLandsInTheWriteScope) {
  RegistrySandbox sandbox;
  ScopeGuard guard;
  SetRegistryWriteScope(RegistryScope::kMachine);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Machine\\Key", "", "m"), ERROR_SUCCESS);
  SetRegistryWriteScope(RegistryScope::kUser);
  const std::string machine = ReadFile(sandbox.machine_file());

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "Machine\\Key", 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  const char text[] = "mine";
  EXPECT_EQ(RegSetValueEx(key, "Extra", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          sizeof text),
            ERROR_SUCCESS);
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyEx(key, "Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(Get("Machine\\Key", "Extra"), "mine");
  EXPECT_EQ(Get("Machine\\Key"), "m");
  bool exists = false;
  ASSERT_EQ(RegKeyExists(HKEY_CLASSES_ROOT, "Machine\\Key\\Child", &exists), ERROR_SUCCESS);
  EXPECT_TRUE(exists);
  EXPECT_NE(ReadFile(sandbox.file()).find("Extra"), std::string::npos);
  EXPECT_EQ(ReadFile(sandbox.machine_file()), machine);
}

// A machine registry this user may not change, as for anyone but root: the open calls for
// writing fail as the system would make them fail.
int DeniedMachineOpen(const char* path, int flags, mode_t mode) {
  const char* machine = getenv("KX_MACHINE_REGISTRY_DIR");
  if (machine && std::strncmp(path, machine, std::strlen(machine)) == 0 &&
      (flags & (O_WRONLY | O_RDWR | O_CREAT))) {
    errno = EACCES;
    return -1;
  }
  return SystemRegistryFileOps().open(path, flags, mode);
}

// A machine registry this user may not even read.
int UnreadableMachineOpen(const char* path, int flags, mode_t mode) {
  const char* machine = getenv("KX_MACHINE_REGISTRY_DIR");
  if (machine && std::strncmp(path, machine, std::strlen(machine)) == 0) {
    errno = EACCES;
    return -1;
  }
  return SystemRegistryFileOps().open(path, flags, mode);
}

TEST(RegistryScope, AMachineScopeTheUserMayNotWriteRefusesWritesAndStillReads) {
  RegistrySandbox sandbox;
  ScopeGuard guard;
  SetRegistryWriteScope(RegistryScope::kMachine);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Machine\\Key", "", "m"), ERROR_SUCCESS);
  const std::string machine = ReadFile(sandbox.machine_file());

  RegistryFileOps denied = SystemRegistryFileOps();
  denied.open = &DeniedMachineOpen;
  SetRegistryFileOpsForTesting(&denied);
  EXPECT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Machine\\Other", "", "x"), ERROR_ACCESS_DENIED);
  RegistryEdit edit;
  edit.DeleteTree(HKEY_CLASSES_ROOT, "Machine");
  EXPECT_EQ(edit.Commit(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(HresultFromRegistryError(ERROR_ACCESS_DENIED), E_ACCESSDENIED);
  EXPECT_EQ(ReadFile(sandbox.machine_file()), machine);
  EXPECT_EQ(Get("Machine\\Key"), "m") << "reading needs no write access";
  SetRegistryWriteScope(RegistryScope::kUser);
  EXPECT_EQ(RegSetString(HKEY_CLASSES_ROOT, "User\\Key", "", "u"), ERROR_SUCCESS);
  EXPECT_EQ(Get("User\\Key"), "u");

  // Unreadable: the machine's classes are invisible, the user's work.
  RegistryFileOps unreadable = SystemRegistryFileOps();
  unreadable.open = &UnreadableMachineOpen;
  SetRegistryFileOpsForTesting(&unreadable);
  EXPECT_EQ(Get("Machine\\Key"), "<2>");
  EXPECT_EQ(Get("User\\Key"), "u");
  SetRegistryFileOpsForTesting(nullptr);
  EXPECT_EQ(Get("Machine\\Key"), "m");

  // The same through the file system, where permissions bind this user (not root).
  if (geteuid() != 0) {
    ASSERT_EQ(chmod(sandbox.machine_dir().c_str(), 0555), 0);
    SetRegistryWriteScope(RegistryScope::kMachine);
    EXPECT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Machine\\Other", "", "x"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Get("Machine\\Key"), "m");
    ASSERT_EQ(chmod(sandbox.machine_dir().c_str(), 0755), 0);
  }
}

TEST(RegistryScope, ACorruptMachineFileIsReportedAndNeverReplaced) {
  RegistrySandbox sandbox;
  ScopeGuard guard;
  SetRegistryWriteScope(RegistryScope::kMachine);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Machine\\Key", "", "m"), ERROR_SUCCESS);
  const std::string good = ReadFile(sandbox.machine_file());
  const std::string torn = good.substr(0, good.size() - 7);
  WriteFile(sandbox.machine_file(), torn);
  EXPECT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Machine\\Other", "", "x"), ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(Get("Machine\\Key"), "<" + std::to_string(ERROR_REGISTRY_CORRUPT) + ">");
  EXPECT_EQ(ReadFile(sandbox.machine_file()), torn);
  SetRegistryWriteScope(RegistryScope::kUser);
  EXPECT_EQ(RegSetString(HKEY_CLASSES_ROOT, "User\\Key", "", "u"), ERROR_SUCCESS)
      << "the user's own file is unharmed";
  EXPECT_EQ(ReadFile(sandbox.machine_file()), torn);
}

TEST(RegistryScope, TypeLibraryLookupsReadTheMergedView) {
  RegistrySandbox sandbox;
  ScopeGuard guard;
  TypeLibRegistration lib;
  lib.libid = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
  lib.major_version = 1;
  lib.help_string = "Scope test library";
  lib.module_path = "/usr/lib/machine/module.so";
  SetRegistryWriteScope(RegistryScope::kMachine);
  ASSERT_EQ(RegisterTypeLib(lib), S_OK);
  SetRegistryWriteScope(RegistryScope::kUser);

  std::string path;
  ASSERT_EQ(QueryPathOfRegTypeLib(lib.libid, 1, 0, 0x409, &path), S_OK);
  EXPECT_EQ(path, "/usr/lib/machine/module.so");
  lib.module_path = "/home/someone/build/module.so";
  ASSERT_EQ(RegisterTypeLib(lib), S_OK);
  ASSERT_EQ(QueryPathOfRegTypeLib(lib.libid, 1, 0, 0x409, &path), S_OK);
  EXPECT_EQ(path, "/home/someone/build/module.so") << "the user's registration wins";
  ASSERT_EQ(UnRegisterTypeLib(lib), S_OK);
  ASSERT_EQ(QueryPathOfRegTypeLib(lib.libid, 1, 0, 0x409, &path), S_OK);
  EXPECT_EQ(path, "/usr/lib/machine/module.so") << "the machine's shows through again";
  SetRegistryWriteScope(RegistryScope::kMachine);
  ASSERT_EQ(UnRegisterTypeLib(lib), S_OK);
  EXPECT_EQ(QueryPathOfRegTypeLib(lib.libid, 1, 0, 0x409, &path), TYPE_E_LIBNOTREGISTERED);
}

struct RunResult {
  int status = -1;
  std::string output;
};

RunResult RunProgram(std::vector<std::string> args) {
  RunResult result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (spawned == 0) {
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) result.output.append(buffer, n);
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.status = WEXITSTATUS(status);
  }
  close(fds[0]);
  return result;
}

constexpr CLSID kProbe = {0x5A0C0E11, 0x7D2B, 0x4F3A, {0x9C, 0x61, 0x0B, 0x8E, 0x2A, 0x6F, 0x4D, 0x01}};

TEST(RegistryScope, KxregsvrRegistersForTheMachineAndTheUserOverrides) {
  RegistrySandbox sandbox;
  RunResult reg = RunProgram({KX_REGSVR, "--machine", KX_TEST_PROBE_MODULE});
  ASSERT_EQ(reg.status, 0) << reg.output;
  EXPECT_NE(reg.output.find("registry file " + sandbox.machine_file()), std::string::npos)
      << reg.output;
  EXPECT_FALSE(std::filesystem::exists(sandbox.file())) << "nothing for the user";

  // Seen from a user with no registration of their own.
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"KxTest.Probe", &clsid), S_OK);  // through CurVer
  EXPECT_EQ(clsid, kProbe);
  IUnknown* object = nullptr;
  ASSERT_EQ(CoCreateInstance(kProbe, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            S_OK);
  object->Release();
  CoFreeUnusedLibraries();

  // The user's own server path wins over the machine's.
  const std::string server = "CLSID\\{5A0C0E11-7D2B-4F3A-9C61-0B8E2A6F4D01}\\InprocServer32";
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, server, "", "/nowhere/probe.so"), ERROR_SUCCESS);
  object = nullptr;
  EXPECT_EQ(CoCreateInstance(kProbe, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
  ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "CLSID"), ERROR_SUCCESS);  // the user's only

  RunResult unreg = RunProgram({KX_REGSVR, "-u", "--machine", KX_TEST_PROBE_MODULE});
  ASSERT_EQ(unreg.status, 0) << unreg.output;
  EXPECT_EQ(CLSIDFromProgID(u"KxTest.Probe", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(ReadFile(sandbox.machine_file()).find("KxTest"), std::string::npos);
}

TEST(RegistryScope, KxregsvrOptions) {
  RegistrySandbox sandbox;
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;
  };
  const Case cases[] = {
      {{KX_REGSVR, "--help"}, 0, "--machine"},
      {{KX_REGSVR, "-h"}, 0, "usage: kxregsvr"},
      {{KX_REGSVR, "--version"}, 0, "kxregsvr " KX_PROJECT_VERSION},
      {{KX_REGSVR}, 2, "usage: kxregsvr"},
      {{KX_REGSVR, "--bogus", KX_TEST_PROBE_MODULE}, 2, "usage: kxregsvr"},
      {{KX_REGSVR, "/nowhere/module.so"}, 3, "cannot load"},
      {{KX_REGSVR, "--machine", KX_PLATFORM_LIBRARY}, 4, "has no DllRegisterServer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.size() > 1 ? c.args[1] : "no arguments");
    RunResult r = RunProgram(c.args);
    EXPECT_EQ(r.status, c.status) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
  }
}

}  // namespace
}  // namespace kx::platform
