// What every KvQuantorb member that may reach a client holds for the length of its call.
#pragma once

#include "kv_quantorb.h"

namespace kx::component {

// Keeps the object alive for the whole call: a message handler run during the pumped wait may
// release the client's last reference.
class CallHold {
 public:
  explicit CallHold(KvQuantorb* object) noexcept : object_(object) { object_->AddRef(); }
  CallHold(const CallHold&) = delete;
  CallHold& operator=(const CallHold&) = delete;
  ~CallHold() { object_->Release(); }

 private:
  KvQuantorb* object_;
};

}  // namespace kx::component
