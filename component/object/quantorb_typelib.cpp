#include "quantorb_typelib.h"

#include <mutex>

#include "embedded_resources.h"
#include "ikvquantorb.h"
#include "type_library_text.h"

namespace kx::component {

using namespace kx::platform;

namespace {

inline constexpr int kTypeLibResourceId = 1;

// One vtable function of IKvQuantorb: what DispInvoke calls and the types its signature takes.
struct MemberBinding {
  INVOKEKIND kind;
  std::u16string_view name;
  std::vector<VARTYPE> types;
  MemberCall call;
};

template <auto M>
MemberBinding Bind(INVOKEKIND kind, std::u16string_view name) {
  return {kind, name, dispatch_detail::DeclaredTypes<M>(), &dispatch_detail::Call<M>};
}
template <auto M>
MemberBinding Func(std::u16string_view name) {
  return Bind<M>(INVOKE_FUNC, name);
}

// In vtable order; the description must list the same members in the same order.
std::vector<MemberBinding> QuantorbBindings() {
  using Q = IKvQuantorb;
  return {
      Bind<&Q::get_Base>(INVOKE_PROPERTYGET, u"Base"),
      Bind<&Q::put_Base>(INVOKE_PROPERTYPUT, u"Base"),
      Bind<&Q::get_BlockingMode>(INVOKE_PROPERTYGET, u"BlockingMode"),
      Bind<&Q::put_BlockingMode>(INVOKE_PROPERTYPUT, u"BlockingMode"),
      Func<&Q::BSCallPrice>(u"BSCallPrice"),
      Func<&Q::BSPutPrice>(u"BSPutPrice"),
      Func<&Q::BSDelta>(u"BSDelta"),
      Func<&Q::BSTheta>(u"BSTheta"),
      Func<&Q::BSGamma>(u"BSGamma"),
      Func<&Q::BSVega>(u"BSVega"),
      Func<&Q::BSRho>(u"BSRho"),
      Func<&Q::BSImpliedVolatility>(u"BSImpliedVolatility"),
      Func<&Q::BSImpliedVolatilityPut>(u"BSImpliedVolatilityPut"),
      Func<&Q::BSImpliedVolatilitySkew>(u"BSImpliedVolatilitySkew"),
      Func<&Q::BinCallPrice>(u"BinCallPrice"),
      Func<&Q::BinPutPrice>(u"BinPutPrice"),
      Func<&Q::BinPrice>(u"BinPrice"),
      Func<&Q::BinPriceGreeks>(u"BinPriceGreeks"),
      Func<&Q::BinDelta>(u"BinDelta"),
      Func<&Q::BinTheta>(u"BinTheta"),
      Func<&Q::BinGamma>(u"BinGamma"),
      Func<&Q::BinVega>(u"BinVega"),
      Func<&Q::BinRho>(u"BinRho"),
      Func<&Q::BinImpliedVolatility>(u"BinImpliedVolatility"),
      Func<&Q::BinImpliedVolatilityPut>(u"BinImpliedVolatilityPut"),
      Func<&Q::BinImpliedVolatilitySkew>(u"BinImpliedVolatilitySkew"),
      Func<&Q::BinCallDelta>(u"BinCallDelta"),
      Func<&Q::BinPutDelta>(u"BinPutDelta"),
      Func<&Q::BJECallPrice>(u"BJECallPrice"),
      Func<&Q::BJEPutPrice>(u"BJEPutPrice"),
      Func<&Q::BJEDelta>(u"BJEDelta"),
      Func<&Q::BJETheta>(u"BJETheta"),
      Func<&Q::BJEGamma>(u"BJEGamma"),
      Func<&Q::BJEVega>(u"BJEVega"),
      Func<&Q::BJERho>(u"BJERho"),
      Func<&Q::BJEImpliedVolatility>(u"BJEImpliedVolatility"),
      Func<&Q::BJEImpliedVolatilityPut>(u"BJEImpliedVolatilityPut"),
      Func<&Q::BJEImpliedVolatilitySkew>(u"BJEImpliedVolatilitySkew"),
      Func<&Q::HistoricalVolatility>(u"HistoricalVolatility"),
      Func<&Q::HistoricalVolatility1>(u"HistoricalVolatility1"),
      Func<&Q::Abort>(u"Abort"),
      Func<&Q::About>(u"About"),
  };
}

const char* KindName(INVOKEKIND kind) {
  switch (kind) {
    case INVOKE_PROPERTYGET:
      return "propget ";
    case INVOKE_PROPERTYPUT:
      return "propput ";
    default:
      return "";
  }
}

std::string Describe(INVOKEKIND kind, std::u16string_view name) {
  return KindName(kind) + Utf16ToUtf8(name);
}

HRESULT Mismatch(std::string* diagnostic, std::string why) {
  if (diagnostic) *diagnostic = std::move(why);
  return E_INVALIDARG;
}

HRESULT BindMembers(InterfaceDescription* d, std::string* diagnostic) {
  const std::vector<MemberBinding> bindings = QuantorbBindings();
  const std::size_t n = std::min(bindings.size(), d->members.size());
  for (std::size_t i = 0; i < n; ++i) {
    MemberDescription& m = d->members[i];
    const MemberBinding& b = bindings[i];
    if (m.kind != b.kind || m.name != b.name) {
      return Mismatch(diagnostic, "member " + std::to_string(i) + " is described as " +
                                      Describe(m.kind, m.name) + " but the vtable has " +
                                      Describe(b.kind, b.name));
    }
    if (m.params.size() != b.types.size()) {
      return Mismatch(diagnostic, Describe(m.kind, m.name) + " is described with " +
                                      std::to_string(m.params.size()) +
                                      " parameters, the code takes " +
                                      std::to_string(b.types.size()));
    }
    for (std::size_t p = 0; p < b.types.size(); ++p) {
      if (m.params[p].vt != b.types[p]) {
        return Mismatch(diagnostic, "parameter " + Utf16ToUtf8(m.params[p].name) + " of " +
                                        Describe(m.kind, m.name) + " is described as VARTYPE " +
                                        std::to_string(m.params[p].vt) + ", the code takes " +
                                        std::to_string(b.types[p]));
      }
    }
    m.call = b.call;
  }
  if (d->members.size() > bindings.size()) {
    return Mismatch(diagnostic, Describe(d->members[n].kind, d->members[n].name) +
                                    " is described but the vtable has no such member");
  }
  if (bindings.size() > d->members.size()) {
    return Mismatch(
        diagnostic,
        "the vtable member " + Describe(bindings[n].kind, bindings[n].name) + " is not described");
  }
  return S_OK;
}

}  // namespace

HRESULT BuildKorvaneTypeLibrary(std::string_view text, KorvaneTypeLibrary* out,
                                std::string* diagnostic) {
  if (!out) return E_POINTER;
  try {
    KorvaneTypeLibrary lib;
    HRESULT hr = ParseTypeLibraryText(text, &lib.library, diagnostic);
    if (FAILED(hr)) return hr;
    if (lib.library.libid != LIBID_KORVANELib)
      return Mismatch(diagnostic, "the library's uuid is not LIBID_KORVANELib");
    for (InterfaceDescription& d : lib.library.interfaces) {
      if (d.iid == IID_IKvQuantorb) {
        if (d.name != u"IKvQuantorb" || !(d.type_flags & TYPEFLAG_FDUAL)) {
          return Mismatch(diagnostic,
                          "IID_IKvQuantorb must describe the dual interface IKvQuantorb");
        }
        hr = BindMembers(&d, diagnostic);
        if (FAILED(hr)) return hr;
        lib.quantorb = &d;
      } else if (d.iid == DIID__IKvQuantorbEvents) {
        lib.events = &d;
      }
    }
    if (!lib.quantorb) return Mismatch(diagnostic, "IKvQuantorb is not described");
    if (!lib.events || !lib.events->Find(kDispidDone, INVOKE_FUNC)) {
      return Mismatch(diagnostic, "_IKvQuantorbEvents with Done is not described");
    }
    for (const CoclassDescription& c : lib.library.coclasses) {
      if (c.clsid == CLSID_KvQuantorb) lib.coclass = &c;
    }
    if (!lib.coclass) return Mismatch(diagnostic, "the KvQuantorb class is not described");
    bool default_interface = false, default_source = false;
    for (const ImplementedInterface& i : lib.coclass->interfaces) {
      const bool is_default = (i.flags & IMPLTYPEFLAG_FDEFAULT) != 0;
      const bool is_source = (i.flags & IMPLTYPEFLAG_FSOURCE) != 0;
      default_interface |= is_default && !is_source && i.iid == IID_IKvQuantorb;
      default_source |= is_default && is_source && i.iid == DIID__IKvQuantorbEvents;
    }
    if (!default_interface || !default_source) {
      return Mismatch(diagnostic,
                      "KvQuantorb must name IKvQuantorb as default interface and "
                      "_IKvQuantorbEvents as default source");
    }
    *out = std::move(lib);
    // The pointers into the vectors moved with them (a moved vector keeps its buffer).
    hr = CreateTypeLibFromDescription(out->library, out->type_lib.put());
    if (FAILED(hr)) return Mismatch(diagnostic, "the platform refused the library description");
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

const KorvaneTypeLibrary* LoadKorvaneTypeLibrary(std::string* diagnostic) noexcept {
  struct Loaded {
    KorvaneTypeLibrary lib;
    std::string diagnostic;
    bool ok = false;
  };
  // Destroyed when the module unloads, which releases the type library object.
  static const Loaded loaded = [] {
    Loaded l;
    const auto text = FindEmbeddedText("TYPELIB", kTypeLibResourceId);
    try {
      if (!text) {
        l.diagnostic = "the module carries no TYPELIB 1";
      } else {
        l.ok = SUCCEEDED(BuildKorvaneTypeLibrary(*text, &l.lib, &l.diagnostic));
      }
    } catch (const std::exception&) {
      l.ok = false;  // out of memory while writing the diagnostic
    }
    return l;  // moving keeps the member pointers valid: vectors move their buffers
  }();
  if (!loaded.ok) {
    if (diagnostic) *diagnostic = loaded.diagnostic;
    return nullptr;
  }
  return &loaded.lib;
}

TypeLibRegistration KorvaneTypeLibRegistration(const KorvaneTypeLibrary& lib,
                                               std::string_view module_path) {
  TypeLibRegistration r;
  r.libid = lib.library.libid;
  r.major_version = lib.library.major_version;
  r.minor_version = lib.library.minor_version;
  r.lcid = lib.library.lcid;
  r.help_string = Utf16ToUtf8(lib.library.help);
  r.module_path = std::string(module_path);
  r.flags = lib.library.lib_flags;
  for (const InterfaceDescription& d : lib.library.interfaces) {
    r.interfaces.push_back({d.iid, Utf16ToUtf8(d.name)});
  }
  return r;
}

}  // namespace kx::component
