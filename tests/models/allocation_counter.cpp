// Replaces the global operator new and delete of the test program. Each block carries its size in
// a header, so that delete can subtract it without the sized overloads.
#include "allocation_counter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>

#include "kx/models/binomial.h"

namespace {

constexpr std::size_t kHeader = alignof(std::max_align_t);

std::atomic<std::size_t> g_held{0};
std::atomic<std::size_t> g_peak{0};
std::atomic<std::size_t> g_baseline{0};
std::atomic<std::size_t> g_fail_above{0};  // 0: no injected failure
std::atomic<int> g_large_allowed{0};

void* Allocate(std::size_t size) noexcept {
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (block == nullptr) return nullptr;
  *reinterpret_cast<std::size_t*>(block) = size;
  const std::size_t held = g_held.fetch_add(size, std::memory_order_relaxed) + size;
  std::size_t peak = g_peak.load(std::memory_order_relaxed);
  while (held > peak && !g_peak.compare_exchange_weak(peak, held, std::memory_order_relaxed)) {
  }
  return block + kHeader;
}

void Release(void* pointer) noexcept {
  if (pointer == nullptr) return;
  auto* block = static_cast<unsigned char*>(pointer) - kHeader;
  g_held.fetch_sub(*reinterpret_cast<std::size_t*>(block), std::memory_order_relaxed);
  std::free(block);
}

void* AllocateOrThrow(std::size_t size) {
  const std::size_t limit = g_fail_above.load(std::memory_order_relaxed);
  if (limit != 0 && size > limit && g_large_allowed.fetch_sub(1, std::memory_order_relaxed) == 0) {
    g_fail_above.store(0, std::memory_order_relaxed);
    throw std::bad_alloc();
  }
  void* pointer = Allocate(size);
  if (pointer == nullptr) throw std::bad_alloc();
  return pointer;
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* pointer) noexcept { Release(pointer); }
void operator delete[](void* pointer) noexcept { Release(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { Release(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { Release(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { Release(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { Release(pointer); }

namespace kx::models::testing {

void ResetAllocationPeak() noexcept {
  const std::size_t held = g_held.load(std::memory_order_relaxed);
  g_baseline.store(held, std::memory_order_relaxed);
  g_peak.store(held, std::memory_order_relaxed);
}

void FailLargeAllocation(std::size_t bytes, int allowed) noexcept {
  // Buffers kept from an earlier computation would spare the allocation meant to fail.
  TreeWorkspace::ReleaseKept();
  g_large_allowed.store(allowed, std::memory_order_relaxed);
  g_fail_above.store(bytes, std::memory_order_relaxed);
}

bool LargeAllocationFailurePending() noexcept {
  return g_fail_above.load(std::memory_order_relaxed) != 0;
}

std::size_t AllocationPeakSinceReset() noexcept {
  return g_peak.load(std::memory_order_relaxed) - g_baseline.load(std::memory_order_relaxed);
}

}  // namespace kx::models::testing

namespace {

// Every test starts as in a new process, with no tree buffers kept from an earlier one: they would
// hide its allocations.
class ReleaseKeptBuffers : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    kx::models::TreeWorkspace::ReleaseKept();
  }
};

const bool g_release_kept_registered = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new ReleaseKeptBuffers);
  return true;
}();

}  // namespace
