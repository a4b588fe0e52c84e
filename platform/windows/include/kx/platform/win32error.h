#pragma once
#include "kx/platform/hresult.h"

namespace kx::platform {

using ::GetLastError;
using ::LSTATUS;
using ::SetLastError;

}  // namespace kx::platform
