// The type-library text parser: any text; what parses is browsed through a type library object
// over it and bound to the object's code as the module would.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "kx/platform/bstr.h"
#include "kx/platform/comptr.h"
#include "quantorb_typelib.h"
#include "type_library_text.h"

using namespace kx::platform;

namespace {

void Browse(ITypeLib* lib) {
  const UINT count = lib->GetTypeInfoCount();
  for (UINT i = 0; i < count; ++i) {
    ComPtr<ITypeInfo> info;
    KX_FUZZ_CHECK(lib->GetTypeInfo(i, info.put()) == S_OK);
    TYPEATTR* attr = nullptr;
    KX_FUZZ_CHECK(info->GetTypeAttr(&attr) == S_OK);
    for (UINT f = 0; f < attr->cFuncs; ++f) {
      FUNCDESC* desc = nullptr;
      KX_FUZZ_CHECK(info->GetFuncDesc(f, &desc) == S_OK);
      BSTR names[64] = {};
      UINT got = 0;
      if (info->GetNames(desc->memid, names, 64, &got) == S_OK) {
        KX_FUZZ_CHECK(got <= 64);
        for (UINT n = 0; n < got; ++n) SysFreeString(names[n]);
      }
      info->ReleaseFuncDesc(desc);
    }
    for (UINT t = 0; t < attr->cImplTypes; ++t) {
      HREFTYPE ref = 0;
      if (info->GetRefTypeOfImplType(t, &ref) == S_OK) {
        ComPtr<ITypeInfo> implemented;
        (void)info->GetRefTypeInfo(ref, implemented.put());
      }
    }
    info->ReleaseTypeAttr(attr);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  LibraryDescription library;
  std::string diagnostic;
  const HRESULT hr = kx::component::ParseTypeLibraryText(text, &library, &diagnostic);
  if (FAILED(hr)) {
    KX_FUZZ_CHECK(hr == E_INVALIDARG || hr == E_OUTOFMEMORY);
    KX_FUZZ_CHECK(hr == E_OUTOFMEMORY || !diagnostic.empty());  // a fault always says why
    return 0;
  }
  for (const InterfaceDescription& i : library.interfaces) {
    KX_FUZZ_CHECK(kx::component::FindInterface(library, i.name) != nullptr);
    KX_FUZZ_CHECK(kx::component::FindInterface(library, i.iid) != nullptr);
  }
  ComPtr<ITypeLib> lib;
  if (SUCCEEDED(CreateTypeLibFromDescription(library, lib.put()))) Browse(lib.get());

  kx::component::KorvaneTypeLibrary bound;
  std::string why;
  if (SUCCEEDED(kx::component::BuildKorvaneTypeLibrary(text, &bound, &why))) {
    KX_FUZZ_CHECK(bound.quantorb != nullptr && bound.coclass != nullptr);
    for (const MemberDescription& m : bound.quantorb->members) KX_FUZZ_CHECK(m.call != nullptr);
  }
  return 0;
}
