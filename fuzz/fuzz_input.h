// Reads a fuzzer's bytes as a stream of choices. Running out of bytes yields zeros, so every
// input decodes to something and short inputs stay meaningful.
#pragma once

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace kx::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

  [[nodiscard]] bool empty() const noexcept { return pos_ >= size_; }
  [[nodiscard]] std::size_t remaining() const noexcept { return size_ - pos_; }

  std::uint8_t Byte() noexcept { return pos_ < size_ ? data_[pos_++] : 0; }
  bool Bool() noexcept { return (Byte() & 1) != 0; }
  // A value in [0, bound), bound > 0.
  unsigned Below(unsigned bound) noexcept { return Byte() % bound; }

  template <class T>
  T Raw() noexcept {
    T value{};
    unsigned char bytes[sizeof(T)] = {};
    for (unsigned char& b : bytes) b = Byte();
    std::memcpy(&value, bytes, sizeof(T));
    return value;
  }

  // Up to max_length bytes, the length taken from the input first.
  std::string Bytes(std::size_t max_length) {
    const std::size_t wanted = Byte() % (max_length + 1);  // read before remaining() is asked
    const std::size_t length = std::min(wanted, remaining());
    std::string out(reinterpret_cast<const char*>(data_ + pos_), length);
    pos_ += length;
    return out;
  }

  // Everything not read yet.
  std::string_view Rest() noexcept {
    std::string_view rest(reinterpret_cast<const char*>(data_ + pos_), remaining());
    pos_ = size_;
    return rest;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Points KX_REGISTRY_DIR at a fresh folder (under /dev/shm when it exists, so the registry's
// fsyncs cost nothing) and removes it at exit. Returns the folder.
std::string UsePrivateRegistry();

// Stops the run with a message: a broken invariant is a finding like a crash.
[[noreturn]] void FuzzFailure(const char* what);

}  // namespace kx::fuzz

#define KX_FUZZ_CHECK(condition)                                                   \
  do {                                                                             \
    if (!(condition)) ::kx::fuzz::FuzzFailure(__FILE__ ": check failed: " #condition); \
  } while (0)
