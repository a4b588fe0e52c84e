// Walks broadcast arrays element by element (strides, never copies) and shares the elements out
// over threads in fixed chunks. Each element's result depends on its inputs alone, so the results
// are the same whatever the number of threads.
#pragma once

#include <pybind11/pybind11.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace kx::python {

inline constexpr int kMaxInputs = 8;
// numpy's own limit on dimensions.
inline constexpr std::size_t kMaxDims = 64;

/// The common shape of the inputs and, per input, its data pointer and byte strides (0 along a
/// broadcast dimension).
struct Layout {
  std::vector<pybind11::ssize_t> shape;
  std::array<const char*, kMaxInputs> base{};
  std::array<std::vector<pybind11::ssize_t>, kMaxInputs> strides;
  int inputs = 0;
  std::size_t count = 1;

  void Add(const char* data, std::vector<pybind11::ssize_t> input_strides) {
    if (inputs == kMaxInputs) throw pybind11::value_error("too many inputs");
    base[inputs] = data;
    strides[inputs] = std::move(input_strides);
    ++inputs;
  }

  /// A 0-d layout becomes one element of shape (1,).
  void Finish() {
    if (shape.size() > kMaxDims) throw pybind11::value_error("too many dimensions");
    if (shape.empty()) {
      shape.push_back(1);
      for (int i = 0; i < inputs; ++i) strides[i].assign(1, 0);
    }
    count = 1;
    for (const pybind11::ssize_t n : shape) count *= static_cast<std::size_t>(n);
  }
};

/// Calls element(pos, pointers) for the flat positions [begin, end) in C order, pointers[i]
/// addressing input i's element.
template <typename Element>
void WalkRange(const Layout& w, std::size_t begin, std::size_t end, Element&& element) {
  const std::size_t nd = w.shape.size();
  std::array<pybind11::ssize_t, kMaxDims> index{};
  std::size_t rest = begin;
  for (std::size_t d = nd; d-- > 0;) {
    const auto extent = static_cast<std::size_t>(w.shape[d]);
    index[d] = static_cast<pybind11::ssize_t>(rest % extent);
    rest /= extent;
  }
  std::array<const char*, kMaxInputs> p{};
  for (int i = 0; i < w.inputs; ++i) {
    p[i] = w.base[i];
    for (std::size_t d = 0; d < nd; ++d) p[i] += index[d] * w.strides[i][d];
  }
  const std::size_t inner = nd - 1;
  std::array<pybind11::ssize_t, kMaxInputs> step{};
  for (int i = 0; i < w.inputs; ++i) step[i] = w.strides[i][inner];
  std::size_t pos = begin;
  while (pos < end) {
    const auto run = std::min(end - pos, static_cast<std::size_t>(w.shape[inner] - index[inner]));
    for (std::size_t j = 0; j < run; ++j) {
      element(pos, p.data());
      for (int i = 0; i < w.inputs; ++i) p[i] += step[i];
      ++pos;
    }
    index[inner] += static_cast<pybind11::ssize_t>(run);
    if (pos >= end) break;
    // Carry into the outer dimensions.
    for (std::size_t d = inner; d > 0 && index[d] == w.shape[d]; --d) {
      for (int i = 0; i < w.inputs; ++i) {
        p[i] += w.strides[i][d - 1] - w.strides[i][d] * w.shape[d];
      }
      index[d] = 0;
      ++index[d - 1];
    }
  }
}

/// Runs element over every position on up to `threads` threads (this one included), handing out
/// chunks of `chunk` positions; each thread owns a scratch vector of `scratch_size` doubles.
/// Between chunks, at most every kPollInterval, this thread calls interrupted(); when it returns
/// true every thread stops at its next chunk and the call returns false. The first exception of
/// any thread stops the others too and is rethrown after all have joined.
inline constexpr std::chrono::milliseconds kPollInterval{100};

template <typename Element, typename Interrupted>
[[nodiscard]] bool RunParallelWithScratch(const Layout& w, std::size_t chunk, int threads,
                                          std::size_t scratch_size, Interrupted&& interrupted,
                                          Element&& element) {
  if (w.count == 0) return true;
  const std::size_t chunks = (w.count + chunk - 1) / chunk;
  const auto wanted = static_cast<std::size_t>(std::max(threads, 1));
  const std::size_t thread_count = std::min(wanted, chunks);
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  bool was_interrupted = false;
  std::mutex fault_mutex;
  std::exception_ptr fault;
  auto work = [&](bool caller) noexcept {
    try {
      std::vector<double> scratch(scratch_size);
      auto last_poll = std::chrono::steady_clock::now();
      for (;;) {
        if (stop.load(std::memory_order_relaxed)) return;
        if (caller && std::chrono::steady_clock::now() - last_poll >= kPollInterval) {
          if (interrupted()) {
            was_interrupted = true;
            stop.store(true);
            return;
          }
          last_poll = std::chrono::steady_clock::now();
        }
        const std::size_t c = next.fetch_add(1, std::memory_order_relaxed);
        if (c >= chunks) return;
        WalkRange(w, c * chunk, std::min(w.count, (c + 1) * chunk),
                  [&](std::size_t pos, const char* const* p) { element(pos, p, scratch); });
      }
    } catch (...) {
      const std::lock_guard lock(fault_mutex);
      if (!fault) fault = std::current_exception();
      stop.store(true);
    }
  };
  std::vector<std::thread> helpers;
  try {
    helpers.reserve(thread_count - 1);
    for (std::size_t t = 1; t < thread_count; ++t) helpers.emplace_back(work, false);
  } catch (...) {
    // Fewer helpers than wanted: the chunks are shared among those that started.
  }
  work(true);
  for (std::thread& helper : helpers) helper.join();
  if (fault) std::rethrow_exception(fault);
  return !was_interrupted;
}

template <typename Element, typename Interrupted>
[[nodiscard]] bool RunParallel(const Layout& w, std::size_t chunk, int threads,
                               Interrupted&& interrupted, Element&& element) {
  return RunParallelWithScratch(
      w, chunk, threads, 0, interrupted,
      [&](std::size_t pos, const char* const* p, std::vector<double>&) { element(pos, p); });
}

}  // namespace kx::python
