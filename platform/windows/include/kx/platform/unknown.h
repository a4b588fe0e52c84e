#pragma once
// The two root interfaces and the dispatch records: the system's.
#include "kx/platform/guid.h"
#include "kx/platform/hresult.h"
#include "kx/platform/variant.h"

namespace kx::platform {

using ::DISPPARAMS;
using ::EXCEPINFO;
using ::IDispatch;
using ::ITypeInfo;
using ::IUnknown;

using ::IID_IDispatch;
using ::IID_ITypeInfo;
using ::IID_IUnknown;

}  // namespace kx::platform
