// Decodes VARIANTs from fuzzer bytes: every type the platform knows (and some it does not), by
// value and by reference, arrays of any element type with any bounds and up to 4 dimensions.
// The Arena owns what the values point at and frees it afterwards, whatever a callee put there.
#pragma once

#include <deque>
#include <memory>

#include "fuzz_input.h"
#include "kx/platform/variant.h"

namespace kx::fuzz {

class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena();

  // A location a VT_BYREF value points at; zeroed, big enough for any referenced type.
  struct Slot {
    kx::platform::VARIANT variant;  // VT_BYREF | VT_VARIANT
    kx::platform::VARTYPE vt = 0;   // what the slot holds, for releasing it
    alignas(16) unsigned char bytes[16] = {};
  };
  Slot& NewSlot();

  // Takes ownership of a held value so it is cleared at the end.
  kx::platform::VARIANT& Hold();

 private:
  std::deque<Slot> slots_;
  std::deque<kx::platform::VARIANT> held_;
};

// One value: a scalar, an array, or (when by_ref_allowed) a reference to either.
void DecodeVariant(FuzzInput& in, Arena& arena, kx::platform::VARIANT* out, int depth = 0);

// A scalar of type vt, its value from a table of telling values or raw bytes.
void DecodeScalar(FuzzInput& in, kx::platform::VARTYPE vt, kx::platform::VARIANT* out);

// A SAFEARRAY of element type vt (elements decoded), or null when the descriptor cannot be made.
kx::platform::SAFEARRAY* DecodeArray(FuzzInput& in, kx::platform::VARTYPE vt, int depth);

// Any element type an array may have, and once in a while one it may not.
kx::platform::VARTYPE DecodeElementType(FuzzInput& in);

double DecodeDouble(FuzzInput& in);
kx::platform::LONG DecodeLong(FuzzInput& in);

// Largest total element count DecodeArray makes, to keep every call quick.
inline constexpr unsigned kMaxArrayElements = 256;

}  // namespace kx::fuzz
