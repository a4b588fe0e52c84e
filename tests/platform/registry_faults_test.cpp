// Faults in both registry scopes: every file operation of a transaction failing in turn, a
// writer killed at random moments, and two writer processes at once. After each, the file on
// disk is exactly the old one or exactly the new one and no committed key is lost.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "kx/platform/registry.h"
#include "kx/platform/registry_faults.h"
#include "registry_churn.h"
#include "registry_sandbox.h"

extern char** environ;

namespace kx::platform {
namespace {

using test_support::ChurnClass;
using test_support::RegistrySandbox;

using test_support::ReadFile;
using test_support::WriteFile;

const char* ScopeName(RegistryScope scope) {
  return scope == RegistryScope::kMachine ? "machine" : "user";
}

class ScopeGuard {
 public:
  explicit ScopeGuard(RegistryScope scope) { SetRegistryWriteScope(scope); }
  ~ScopeGuard() {
    SetRegistryWriteScope(RegistryScope::kUser);
    SetRegistryFileOpsForTesting(nullptr);
  }
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;
};

// Counts the registry's file operations and fails the one numbered fail_at (from 1).
enum class Op { kOpen, kWrite, kFsync, kRename };
struct Injector {
  int calls = 0;
  int fail_at = 0;
  int error = 0;
  bool short_write = false;  // a write that stores half its bytes, then the error on the next
  std::vector<Op> seen;
};
Injector injector;

bool Strike(Op op) {
  injector.seen.push_back(op);
  if (++injector.calls != injector.fail_at) return false;
  errno = injector.error;
  return true;
}

int FaultyOpen(const char* path, int flags, mode_t mode) {
  if (Strike(Op::kOpen)) return -1;
  return SystemRegistryFileOps().open(path, flags, mode);
}
ssize_t FaultyWrite(int fd, const void* data, std::size_t size) {
  if (injector.short_write && injector.calls + 1 == injector.fail_at && size > 1) {
    injector.seen.push_back(Op::kWrite);
    ++injector.calls;
    ++injector.fail_at;  // the remainder's write fails
    return SystemRegistryFileOps().write(fd, data, size / 2);
  }
  if (Strike(Op::kWrite)) return -1;
  return SystemRegistryFileOps().write(fd, data, size);
}
int FaultyFsync(int fd) {
  if (Strike(Op::kFsync)) return -1;
  return SystemRegistryFileOps().fsync(fd);
}
int FaultyRename(const char* from, const char* to) {
  if (Strike(Op::kRename)) return -1;
  return SystemRegistryFileOps().rename(from, to);
}
constexpr RegistryFileOps kFaultyOps = {&FaultyOpen, &FaultyWrite, &FaultyFsync, &FaultyRename};

RegistryEdit OldState() {
  RegistryEdit edit;
  for (int i = 0; i < 40; ++i) {  // big enough for a file of several pages
    edit.SetString(HKEY_CLASSES_ROOT, "Old\\Key" + std::to_string(i), "",
                   std::string(200, static_cast<char>('a' + i % 26)));
  }
  return edit;
}

RegistryEdit Change() {
  RegistryEdit edit = ChurnClass("fault", 1).Register();
  edit.DeleteTree(HKEY_CLASSES_ROOT, "Old\\Key3");
  edit.SetDword(HKEY_CURRENT_USER, "Software\\Kx", "Counter", 7);
  return edit;
}

TEST(RegistryFaults, EveryFailingFileOperationLeavesTheOldFileOrTheNewOne) {
  int injected = 0;
  for (RegistryScope scope : {RegistryScope::kUser, RegistryScope::kMachine}) {
    SCOPED_TRACE(ScopeName(scope));
    RegistrySandbox sandbox;
    ScopeGuard guard(scope);
    const std::string file = RegistryFilePath(scope);
    ASSERT_EQ(OldState().Commit(), ERROR_SUCCESS);
    const std::string old_bytes = ReadFile(file);
    ASSERT_EQ(Change().Commit(), ERROR_SUCCESS);
    const std::string new_bytes = ReadFile(file);
    ASSERT_NE(old_bytes, new_bytes);

    // How many operations one transaction makes.
    WriteFile(file, old_bytes);
    injector = {};
    SetRegistryFileOpsForTesting(&kFaultyOps);
    ASSERT_EQ(Change().Commit(), ERROR_SUCCESS);
    const int operations = injector.calls;
    const std::vector<Op> sequence = injector.seen;
    ASSERT_GE(operations, 7);  // lock, read, temp, write, fsync, rename, folder fsync

    std::set<Op> failed_ops;
    bool failed_after_rename = false;
    for (int k = 1; k <= operations; ++k) {
      for (int error : {ENOSPC, EIO, EACCES}) {
        for (bool short_write : {false, true}) {
          if (short_write && (sequence[k - 1] != Op::kWrite || error != ENOSPC)) continue;
          SCOPED_TRACE("operation " + std::to_string(k) + " errno " + std::to_string(error) +
                       (short_write ? " after a short write" : ""));
          SetRegistryFileOpsForTesting(nullptr);
          WriteFile(file, old_bytes);
          injector = {};
          injector.fail_at = k;
          injector.error = error;
          injector.short_write = short_write;
          SetRegistryFileOpsForTesting(&kFaultyOps);
          const LSTATUS s = Change().Commit();
          SetRegistryFileOpsForTesting(nullptr);
          ++injected;
          const std::string bytes = ReadFile(file);
          if (s == ERROR_SUCCESS) {
            EXPECT_EQ(bytes, new_bytes);
            failed_after_rename = true;
          } else {
            EXPECT_TRUE(s == ERROR_CANTWRITE || s == ERROR_CANTREAD || s == ERROR_ACCESS_DENIED)
                << s;
            EXPECT_EQ(bytes, old_bytes);
            EXPECT_FALSE(std::filesystem::exists(file + ".new")) << "no temporary file left";
            failed_ops.insert(sequence[k - 1]);
          }
          std::string text;
          EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, "Old\\Key0", "", &text), ERROR_SUCCESS);
        }
      }
    }
    // Each kind of operation failed once at least, and a failing folder fsync after the rename
    // still committed.
    EXPECT_EQ(failed_ops, (std::set<Op>{Op::kOpen, Op::kWrite, Op::kFsync, Op::kRename}));
    EXPECT_TRUE(failed_after_rename);

    // And the registry still works afterwards.
    WriteFile(file, old_bytes);
    ASSERT_EQ(Change().Commit(), ERROR_SUCCESS);
    EXPECT_EQ(ReadFile(file), new_bytes);
  }
  RecordProperty("faults_injected", injected);
  std::printf("registry faults injected: %d\n", injected);
}

// ---- processes ----

pid_t Spawn(const std::vector<std::string>& args, int stdout_fd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdout_fd >= 0) posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int KillCount() {
  const char* env = std::getenv("KX_REGISTRY_KILLS");
  int n = env ? std::atoi(env) : 0;
  return n > 0 ? n : 30;  // per scope; KX_REGISTRY_KILLS asks for more
}

TEST(RegistryFaults, AWriterKilledAtRandomMomentsNeverCorruptsNorLosesACommittedKey) {
  const int kills = KillCount();
  int total_kills = 0;
  long total_steps = 0;
  for (RegistryScope scope : {RegistryScope::kUser, RegistryScope::kMachine}) {
    SCOPED_TRACE(ScopeName(scope));
    RegistrySandbox sandbox;
    std::mt19937 random(20261207u + static_cast<unsigned>(scope));
    // Up to 40 ms: from within the first transaction to a few transactions in.
    std::uniform_int_distribution<long> delay_us(0, 40000);
    std::vector<std::string> bases;  // every run's base class was committed before its kill
    for (int run = 0; run < kills; ++run) {
      SCOPED_TRACE("run " + std::to_string(run));
      const std::string tag = std::string(ScopeName(scope)) + std::to_string(run);
      int fds[2];
      ASSERT_EQ(pipe(fds), 0);
      pid_t pid = Spawn({KX_REGISTRY_CHURN, ScopeName(scope), tag, "loop", "0"}, fds[1]);
      close(fds[1]);
      ASSERT_GT(pid, 0);
      // The kill comes once the helper is registering and unregistering, however slowly it
      // starts (a sanitizer build), at a random moment of that.
      std::string reported;
      char buffer[4096];
      ssize_t n;
      while (reported.find("B\n") == std::string::npos &&
             (n = read(fds[0], buffer, sizeof buffer)) > 0) {
        reported.append(buffer, n);
      }
      timespec pause{0, delay_us(random) * 1000};
      nanosleep(&pause, nullptr);
      ASSERT_EQ(kill(pid, SIGKILL), 0);
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      ++total_kills;
      while ((n = read(fds[0], buffer, sizeof buffer)) > 0) reported.append(buffer, n);
      close(fds[0]);
      ASSERT_TRUE(WIFSIGNALED(status)) << "the helper stopped by itself: " << status;

      // What the helper said it had done, step by step.
      bool base = false;
      std::set<long> added, removing, removed;
      std::istringstream lines(reported);
      std::string line;
      while (std::getline(lines, line)) {
        if (line == "B") {
          base = true;
          continue;
        }
        long index = std::atol(line.c_str() + 1);
        if (line[0] == '+') added.insert(index);
        if (line[0] == '?') removing.insert(index);
        if (line[0] == '-') removed.insert(index);
        ++total_steps;
      }
      if (base) bases.push_back(tag);
      const long last = added.empty() ? 0 : *added.rbegin() + 1;
      for (long i = 0; i <= last; ++i) {
        ChurnClass c(tag, i);
        const int present = c.ValuesPresent();
        ASSERT_GE(present, 0) << "the registry file is unreadable after a kill";
        SCOPED_TRACE(c.prog_id);
        if (removed.contains(i)) {
          EXPECT_EQ(present, 0) << "unregistered, yet back";
        } else if (added.contains(i) && !removing.contains(i)) {
          EXPECT_EQ(present, ChurnClass::kValueCount) << "a committed registration was lost";
        } else {
          EXPECT_TRUE(present == 0 || present == ChurnClass::kValueCount)
              << "a torn registration: " << present << " of " << ChurnClass::kValueCount;
        }
      }
    }
    for (const std::string& tag : bases) {
      EXPECT_EQ(ChurnClass(tag, -1).ValuesPresent(), ChurnClass::kValueCount) << tag;
    }
    EXPECT_EQ(bases.size(), static_cast<std::size_t>(kills)) << "a helper failed to start";
    // The file of the scope written is whole: its checksum holds.
    std::ifstream in(RegistryFilePath(scope));
    std::string header;
    std::getline(in, header);
    EXPECT_EQ(header.rfind("KXREG 1 ", 0), 0u) << header;
  }
  std::printf("registry writers killed: %d, steps reported before the kills: %ld\n", total_kills,
              total_steps);
}

TEST(RegistryFaults, TwoProcessesRegisteringDifferentClassesLoseNothing) {
  constexpr int kClasses = 25;
  for (RegistryScope scope : {RegistryScope::kUser, RegistryScope::kMachine}) {
    SCOPED_TRACE(ScopeName(scope));
    RegistrySandbox sandbox;
    std::vector<pid_t> pids;
    for (const char* tag : {"left", "right"}) {
      pids.push_back(
          Spawn({KX_REGISTRY_CHURN, ScopeName(scope), tag, "add", std::to_string(kClasses)}, -1));
      ASSERT_GT(pids.back(), 0);
    }
    for (pid_t pid : pids) {
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    for (const char* tag : {"left", "right"}) {
      for (int i = 0; i < kClasses; ++i) {
        EXPECT_EQ(ChurnClass(tag, i).ValuesPresent(), ChurnClass::kValueCount) << tag << i;
      }
    }
    std::vector<std::string> classes;
    ASSERT_EQ(RegListSubKeys(HKEY_CLASSES_ROOT, "CLSID", &classes), ERROR_SUCCESS);
    EXPECT_EQ(classes.size(), 2u * kClasses);
    const std::string other = RegistryFilePath(scope == RegistryScope::kUser
                                                   ? RegistryScope::kMachine
                                                   : RegistryScope::kUser);
    EXPECT_FALSE(std::filesystem::exists(other)) << "the other scope was never written";
  }
}

}  // namespace
}  // namespace kx::platform
