// The KORVANELib type library on Windows: the system loads TYPELIB 1 (compiled by widl from the
// same .idl) from this DLL, and DispInvoke calls IKvQuantorb through its vtable half.
#include <new>

#include "ikvquantorb.h"
#include "quantorb_typelib.h"

namespace kx::component {

using namespace kx::platform;

namespace {

struct Loaded {
  KorvaneTypeLibrary lib;
  InterfaceDescription quantorb;
  InterfaceDescription events;
  CoclassDescription coclass;
  std::string diagnostic;
};

// The identities the code was built with must be the library's; a library that lists another
// number of members than the vtable has would call the wrong functions.
std::string Check(Loaded& l) {
  TLIBATTR* attr = nullptr;
  if (FAILED(l.lib.type_lib->GetLibAttr(&attr))) return "no library attributes";
  const bool same_lib = attr->guid == LIBID_KORVANELib;
  l.lib.type_lib->ReleaseTLibAttr(attr);
  if (!same_lib) return "the type library is not KORVANELib";
  if (FAILED(GetDualInterfaceTypeInfo(l.lib.type_lib.get(), IID_IKvQuantorb,
                                      l.quantorb.info.put()))) {
    return "no IKvQuantorb";
  }
  TYPEATTR* type = nullptr;
  if (FAILED(l.quantorb.info->GetTypeAttr(&type))) return "no IKvQuantorb attributes";
  const bool vtable = type->typekind == TKIND_INTERFACE &&
                      type->cbSizeVft == (7 + type->cFuncs) * sizeof(void*);
  l.quantorb.info->ReleaseTypeAttr(type);
  if (!vtable) return "IKvQuantorb is not a dual interface over IDispatch";
  if (FAILED(l.lib.type_lib->GetTypeInfoOfGuid(DIID__IKvQuantorbEvents, l.events.info.put()))) {
    return "no _IKvQuantorbEvents";
  }
  if (FAILED(l.lib.type_lib->GetTypeInfoOfGuid(CLSID_KvQuantorb, l.coclass.info.put()))) {
    return "no KvQuantorb";
  }
  return {};
}

}  // namespace

const KorvaneTypeLibrary* LoadKorvaneTypeLibrary(std::string* diagnostic) noexcept {
  // Kept for the life of the process: releasing system objects while the DLL detaches is unsafe.
  static Loaded* const loaded = []() -> Loaded* {
    auto* l = new (std::nothrow) Loaded();
    if (!l) return nullptr;
    if (FAILED(LoadModuleTypeLib(reinterpret_cast<const void*>(&LoadKorvaneTypeLibrary),
                                 l->lib.type_lib.put()))) {
      l->diagnostic = "TYPELIB 1 cannot be loaded";
      return l;
    }
    l->diagnostic = Check(*l);
    l->lib.library.lib = l->lib.type_lib;
    l->lib.quantorb = &l->quantorb;
    l->lib.events = &l->events;
    l->lib.coclass = &l->coclass;
    return l;
  }();
  if (!loaded || !loaded->diagnostic.empty()) {
    if (diagnostic) *diagnostic = loaded ? loaded->diagnostic : "no memory";
    return nullptr;
  }
  return &loaded->lib;
}

TypeLibRegistration KorvaneTypeLibRegistration(const KorvaneTypeLibrary& lib,
                                               std::string_view module_path) {
  TypeLibRegistration r;
  TLIBATTR* attr = nullptr;
  if (SUCCEEDED(lib.type_lib->GetLibAttr(&attr))) {
    r.libid = attr->guid;
    r.major_version = attr->wMajorVerNum;
    r.minor_version = attr->wMinorVerNum;
    r.lcid = attr->lcid;
    lib.type_lib->ReleaseTLibAttr(attr);
  }
  r.module_path = std::string(module_path);
  return r;
}

}  // namespace kx::component
