#pragma once
// Handles, geometry and the message record: the system's.
#include "kx/platform/hresult.h"

namespace kx::platform {

using ::HANDLE;
using ::HBITMAP;
using ::HDC;
using ::HWND;
using ::INT_PTR;
using ::LONG_PTR;
using ::LPARAM;
using ::LRESULT;
using ::MSG;
using ::POINT;
using ::RECT;
using ::RECTL;
using ::SIZE;
using ::UINT_PTR;
using ::ULONG_PTR;
using ::WNDPROC;
using ::WPARAM;

}  // namespace kx::platform
