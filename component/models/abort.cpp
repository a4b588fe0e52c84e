#include "kx/models/abort.h"

namespace kx::models {

std::atomic<std::int32_t> AbortRequested{0};

}  // namespace kx::models
