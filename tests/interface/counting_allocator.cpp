#include "counting_allocator.h"

#include <execinfo.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include "kx/models/binomial.h"
#include "kx/platform/allocation.h"

namespace kx::component::test_support {
namespace {

std::atomic<long> countdown{0};  // 0: nothing armed
std::atomic<std::thread::id> arming_thread;
std::atomic<bool> count_arming_thread{true};
std::atomic<long> live{0};
thread_local int uncounted = 0;

// KX_FAULT_TRACE=1 prints the stack of every injected failure, to find which allocation of a
// call a k stands for. Allocates nothing.
void TraceInjectedFailure() noexcept {
  if (std::getenv("KX_FAULT_TRACE") == nullptr) return;
  void* frames[32];
  backtrace_symbols_fd(frames, backtrace(frames, 32), STDERR_FILENO);
  (void)!write(STDERR_FILENO, "----\n", 5);
}

// Counts one allocation; true when it is the one to fail.
bool Refuse() noexcept {
  if (uncounted > 0) return false;
  const bool arming = std::this_thread::get_id() == arming_thread.load(std::memory_order_relaxed);
  if (arming != count_arming_thread.load(std::memory_order_relaxed)) return false;
  long current = countdown.load(std::memory_order_relaxed);
  while (current > 0) {
    if (countdown.compare_exchange_weak(current, current - 1, std::memory_order_relaxed)) {
      if (current != 1) return false;
      TraceInjectedFailure();
      return true;
    }
  }
  return false;
}

void* Allocate(std::size_t size, std::size_t alignment) noexcept {
  if (Refuse()) return nullptr;
  if (size == 0) size = 1;
  void* block = nullptr;
  if (alignment <= alignof(std::max_align_t)) {
    block = std::malloc(size);
  } else if (posix_memalign(&block, alignment, size) != 0) {
    block = nullptr;
  }
  if (block != nullptr) live.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void* AllocateOrThrow(std::size_t size, std::size_t alignment) {
  void* block = Allocate(size, alignment);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void Release(void* block) noexcept {
  if (block == nullptr) return;
  live.fetch_sub(1, std::memory_order_relaxed);
  std::free(block);
}

const bool filter_installed = [] {
  kx::platform::testing::SetAllocationFilter([](std::size_t) { return Refuse(); });
  return true;
}();

}  // namespace

void FailAllocationNumber(long k, CountedThreads threads) noexcept {
  countdown.store(0, std::memory_order_relaxed);
  // Tree buffers kept from the call before would spare the workspace's allocations.
  kx::models::TreeWorkspace::ReleaseKept();
  arming_thread.store(std::this_thread::get_id(), std::memory_order_relaxed);
  count_arming_thread.store(threads == CountedThreads::kCalling, std::memory_order_relaxed);
  countdown.store(k, std::memory_order_relaxed);
}

bool AllocationFailurePending() noexcept { return countdown.load(std::memory_order_relaxed) > 0; }

long LiveBlocks() noexcept { return live.load(std::memory_order_relaxed); }

UncountedScope::UncountedScope() noexcept { ++uncounted; }
UncountedScope::~UncountedScope() { --uncounted; }

}  // namespace kx::component::test_support

using kx::component::test_support::Allocate;
using kx::component::test_support::AllocateOrThrow;
using kx::component::test_support::Release;

constexpr std::size_t kPlain = alignof(std::max_align_t);

void* operator new(std::size_t size) { return AllocateOrThrow(size, kPlain); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size, kPlain); }
void* operator new(std::size_t size, std::align_val_t a) {
  return AllocateOrThrow(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a) {
  return AllocateOrThrow(size, static_cast<std::size_t>(a));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size, kPlain);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size, kPlain);
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return Allocate(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return Allocate(size, static_cast<std::size_t>(a));
}
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, std::size_t) noexcept { Release(block); }
void operator delete[](void* block, std::size_t) noexcept { Release(block); }
void operator delete(void* block, std::align_val_t) noexcept { Release(block); }
void operator delete[](void* block, std::align_val_t) noexcept { Release(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { Release(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { Release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Release(block); }
