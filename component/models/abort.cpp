#include "kx/models/abort.h"

namespace kx::models {

std::atomic<std::int32_t> AbortRequested{0};

thread_local std::atomic<bool>* detail::abort_stop_flag = nullptr;

}  // namespace kx::models
