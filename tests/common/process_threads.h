// The kernel's count of this process's threads. A joined thread leaves that count a little after
// pthread_join returns, when the kernel reaps it, so checks wait for the count with a bound
// instead of reading it once.
#pragma once

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace kx::testing {

inline int ProcessThreads() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  }
  return -1;
}

template <class Done>
[[nodiscard]] bool WaitUntil(Done done, std::chrono::seconds bound = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return done();
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// The count while only the process's long-lived threads run. A sanitizer runtime starts a thread
// of its own at the first thread creation, so one thread is made and reaped first.
inline int IdleProcessThreads() {
  static const int idle = [] {
    pid_t tid = 0;
    std::thread([&tid] { tid = gettid(); }).join();
    const std::string task = "/proc/self/task/" + std::to_string(tid);
    (void)WaitUntil([&task] { return access(task.c_str(), F_OK) != 0; });
    return ProcessThreads();
  }();
  return idle;
}

// True once every thread started since the process was idle has been reaped.
[[nodiscard]] inline bool ProcessThreadsBackToIdle() {
  const int idle = IdleProcessThreads();
  return WaitUntil([idle] { return ProcessThreads() == idle; });
}

}  // namespace kx::testing
