// ITypeLib and ITypeInfo objects over a library description.
#include <cstdlib>
#include <memory>
#include <new>

#include "kx/platform/allocation.h"
#include "kx/platform/comptr.h"
#include "kx/platform/typeinfo.h"
#include "names.h"
#include "object_base.h"

namespace kx::platform {
namespace {

using internal::SameName;

// Writes a copy of text to *out when out is given.
HRESULT CopyText(const std::u16string& text, BSTR* out) noexcept {
  if (!out) return S_OK;
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

class TypeLibObject;

// One type of the library: an interface (index < interface count) or a coclass.
class TypeInfoObject final : public internal::ObjectBase<TypeInfoObject, ITypeInfo> {
 public:
  TypeInfoObject(ComPtr<ITypeLib> owner, const LibraryDescription* library, UINT index) noexcept
      : owner_(std::move(owner)), library_(library), index_(index) {}

  HRESULT GetTypeAttr(TYPEATTR** attr) override {
    if (!attr) return E_INVALIDARG;
    auto* a = new (std::nothrow) TYPEATTR;
    if (!a) return E_OUTOFMEMORY;
    a->lcid = library_->lcid;
    a->wMajorVerNum = library_->major_version;
    a->wMinorVerNum = library_->minor_version;
    if (const InterfaceDescription* d = Interface()) {
      a->guid = d->iid;
      a->typekind = d->kind;
      a->cFuncs = static_cast<WORD>(d->members.size());
      a->wTypeFlags = d->type_flags;
      a->cbSizeVft = static_cast<WORD>((7 + d->members.size()) * sizeof(void*));
    } else {
      const CoclassDescription& c = Coclass();
      a->guid = c.clsid;
      a->typekind = TKIND_COCLASS;
      a->cImplTypes = static_cast<WORD>(c.interfaces.size());
      a->wTypeFlags = c.type_flags;
    }
    *attr = a;
    return S_OK;
  }
  HRESULT GetTypeComp(ITypeComp** comp) override {
    if (comp) *comp = nullptr;
    return E_NOTIMPL;
  }

  HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) override {
    if (!desc) return E_INVALIDARG;
    *desc = nullptr;
    const InterfaceDescription* d = Interface();
    if (!d || index >= d->members.size()) return TYPE_E_ELEMENTNOTFOUND;
    const MemberDescription& m = d->members[index];
    const std::size_t n = m.params.size();
    // One block: the FUNCDESC, its parameter ELEMDESCs, then the pointees of pointer parameters,
    // so that ReleaseFuncDesc is one free.
    const std::size_t bytes = sizeof(FUNCDESC) + n * sizeof(ELEMDESC) + n * sizeof(TYPEDESC);
    auto* block = static_cast<unsigned char*>(detail::HeapAllocateZeroed(1, bytes));
    if (!block) return E_OUTOFMEMORY;
    auto* f = new (block) FUNCDESC;
    auto* elems = reinterpret_cast<ELEMDESC*>(block + sizeof(FUNCDESC));
    auto* pointees = reinterpret_cast<TYPEDESC*>(block + sizeof(FUNCDESC) + n * sizeof(ELEMDESC));
    f->memid = m.dispid;
    f->invkind = m.kind;
    f->funckind = FUNC_DISPATCH;
    f->callconv = CC_STDCALL;
    f->cParams = static_cast<SHORT>(n);
    f->wFuncFlags = m.func_flags;
    f->oVft = (d->type_flags & TYPEFLAG_FDUAL) ? static_cast<SHORT>((7 + index) * sizeof(void*)) : 0;
    f->elemdescFunc.tdesc.vt = VT_HRESULT;
    f->lprgelemdescParam = n ? elems : nullptr;
    for (std::size_t i = 0; i < n; ++i) {
      const ParamDescription& p = m.params[i];
      ELEMDESC* e = new (&elems[i]) ELEMDESC;
      e->paramdesc.wParamFlags = p.flags;
      if (p.flags & PARAMFLAG_FOPT) ++f->cParamsOpt;
      if (p.vt & VT_BYREF) {
        TYPEDESC* pointee = new (&pointees[i]) TYPEDESC;
        pointee->vt = p.vt & ~VT_BYREF;
        e->tdesc.vt = VT_PTR;
        e->tdesc.lptdesc = pointee;
      } else {
        e->tdesc.vt = p.vt;
      }
    }
    *desc = f;
    return S_OK;
  }
  HRESULT GetVarDesc(UINT, VARDESC** desc) override {
    if (desc) *desc = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }

  HRESULT GetNames(MEMBERID id, BSTR* names, UINT max_names, UINT* count) override {
    if (!names || !count) return E_INVALIDARG;
    *count = 0;
    const InterfaceDescription* d = Interface();
    const MemberDescription* m = d ? FirstMember(*d, id) : nullptr;
    if (!m) return TYPE_E_ELEMENTNOTFOUND;
    if (max_names == 0) return S_OK;
    HRESULT hr = CopyText(m->name, &names[0]);
    if (FAILED(hr)) return hr;
    *count = 1;
    for (std::size_t i = 0; i < m->params.size() && *count < max_names; ++i) {
      hr = CopyText(m->params[i].name, &names[*count]);
      if (FAILED(hr)) return hr;
      ++*count;
    }
    return S_OK;
  }

  HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* ref) override {
    if (!ref) return E_INVALIDARG;
    if (Interface() || index >= Coclass().interfaces.size()) return TYPE_E_ELEMENTNOTFOUND;
    const IID& iid = Coclass().interfaces[index].iid;
    for (std::size_t i = 0; i < library_->interfaces.size(); ++i) {
      if (library_->interfaces[i].iid == iid) {
        *ref = static_cast<HREFTYPE>(i);
        return S_OK;
      }
    }
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetImplTypeFlags(UINT index, INT* flags) override {
    if (!flags) return E_INVALIDARG;
    if (Interface() || index >= Coclass().interfaces.size()) return TYPE_E_ELEMENTNOTFOUND;
    *flags = Coclass().interfaces[index].flags;
    return S_OK;
  }

  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override {
    const InterfaceDescription* d = Interface();
    if (!d) return DISP_E_UNKNOWNNAME;
    return DispGetIDsOfNames(*d, names, count, ids);
  }
  HRESULT Invoke(void* instance, MEMBERID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep, UINT* arg_err) override {
    const InterfaceDescription* d = Interface();
    if (!d) return DISP_E_MEMBERNOTFOUND;
    return DispInvoke(instance, *d, id, flags, params, result, excep, arg_err);
  }

  HRESULT GetDocumentation(MEMBERID id, BSTR* name, BSTR* doc, DWORD* help_context, BSTR* help_file) override {
    const std::u16string* name_text = nullptr;
    const std::u16string* doc_text = nullptr;
    const InterfaceDescription* d = Interface();
    if (id == MEMBERID_NIL) {
      name_text = d ? &d->name : &Coclass().name;
      doc_text = d ? &d->help : &Coclass().help;
    } else {
      const MemberDescription* m = d ? FirstMember(*d, id) : nullptr;
      if (!m) return TYPE_E_ELEMENTNOTFOUND;
      name_text = &m->name;
      doc_text = &m->help;
    }
    if (name) *name = nullptr;
    if (doc) *doc = nullptr;
    if (help_file) *help_file = nullptr;
    if (help_context) *help_context = 0;
    HRESULT hr = CopyText(*name_text, name);
    if (SUCCEEDED(hr)) hr = CopyText(*doc_text, doc);
    if (FAILED(hr) && name) {
      SysFreeString(*name);
      *name = nullptr;
    }
    return hr;
  }
  HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR* dll, BSTR* name, WORD* ordinal) override {
    if (dll) *dll = nullptr;
    if (name) *name = nullptr;
    if (ordinal) *ordinal = 0;
    return TYPE_E_BADMODULEKIND;
  }
  HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) override {
    if (!info) return E_INVALIDARG;
    *info = nullptr;
    if (ref >= library_->interfaces.size()) return TYPE_E_ELEMENTNOTFOUND;
    return owner_->GetTypeInfo(ref, info);
  }
  HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void** address) override {
    if (address) *address = nullptr;
    return E_NOTIMPL;
  }
  HRESULT CreateInstance(IUnknown*, REFIID, void** object) override {
    if (object) *object = nullptr;
    return E_NOTIMPL;  // classes are created through the registry (CoCreateInstance)
  }
  HRESULT GetMops(MEMBERID, BSTR* mops) override {
    if (!mops) return E_INVALIDARG;
    *mops = nullptr;
    return S_OK;
  }
  HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) override {
    if (!lib) return E_INVALIDARG;
    if (index) *index = index_;
    return owner_.CopyTo(lib);
  }
  void ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }
  void ReleaseFuncDesc(FUNCDESC* desc) override { std::free(desc); }
  void ReleaseVarDesc(VARDESC*) override {}

 private:
  friend ObjectBase;
  ~TypeInfoObject() = default;

  const InterfaceDescription* Interface() const noexcept {
    return index_ < library_->interfaces.size() ? &library_->interfaces[index_] : nullptr;
  }
  const CoclassDescription& Coclass() const noexcept {
    return library_->coclasses[index_ - library_->interfaces.size()];
  }
  static const MemberDescription* FirstMember(const InterfaceDescription& d, MEMBERID id) noexcept {
    for (const auto& m : d.members) {
      if (m.dispid == id) return &m;
    }
    return nullptr;
  }

  ComPtr<ITypeLib> owner_;             // keeps the library, and so the description, alive
  const LibraryDescription* library_;  // owned by owner_
  UINT index_;
};

class TypeLibObject final : public internal::ObjectBase<TypeLibObject, ITypeLib> {
 public:
  explicit TypeLibObject(LibraryDescription library) : library_(std::move(library)) {}

  UINT GetTypeInfoCount() override {
    return static_cast<UINT>(library_.interfaces.size() + library_.coclasses.size());
  }
  HRESULT GetTypeInfo(UINT index, ITypeInfo** info) override {
    if (!info) return E_INVALIDARG;
    *info = nullptr;
    if (index >= GetTypeInfoCount()) return TYPE_E_ELEMENTNOTFOUND;
    auto* object = new (std::nothrow) TypeInfoObject(ComPtr<ITypeLib>(this), &library_, index);
    if (!object) return E_OUTOFMEMORY;
    *info = object;
    return S_OK;
  }
  HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) override {
    if (!kind) return E_INVALIDARG;
    if (index >= GetTypeInfoCount()) return TYPE_E_ELEMENTNOTFOUND;
    *kind = index < library_.interfaces.size() ? library_.interfaces[index].kind : TKIND_COCLASS;
    return S_OK;
  }
  HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override {
    if (!info) return E_INVALIDARG;
    *info = nullptr;
    for (std::size_t i = 0; i < library_.interfaces.size(); ++i) {
      if (library_.interfaces[i].iid == guid) return GetTypeInfo(static_cast<UINT>(i), info);
    }
    for (std::size_t i = 0; i < library_.coclasses.size(); ++i) {
      if (library_.coclasses[i].clsid == guid) {
        return GetTypeInfo(static_cast<UINT>(library_.interfaces.size() + i), info);
      }
    }
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetLibAttr(TLIBATTR** attr) override {
    if (!attr) return E_INVALIDARG;
    auto* a = new (std::nothrow) TLIBATTR;
    if (!a) return E_OUTOFMEMORY;
    a->guid = library_.libid;
    a->lcid = library_.lcid;
    a->wMajorVerNum = library_.major_version;
    a->wMinorVerNum = library_.minor_version;
    a->wLibFlags = library_.lib_flags;
    *attr = a;
    return S_OK;
  }
  HRESULT GetTypeComp(ITypeComp** comp) override {
    if (comp) *comp = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* help_context, BSTR* help_file) override {
    if (index < -1 || index >= static_cast<INT>(GetTypeInfoCount())) return TYPE_E_ELEMENTNOTFOUND;
    if (index >= 0) {
      ComPtr<ITypeInfo> info;
      const HRESULT hr = GetTypeInfo(static_cast<UINT>(index), info.put());
      if (FAILED(hr)) return hr;
      return info->GetDocumentation(MEMBERID_NIL, name, doc, help_context, help_file);
    }
    if (name) *name = nullptr;
    if (doc) *doc = nullptr;
    if (help_file) *help_file = nullptr;
    if (help_context) *help_context = 0;
    HRESULT hr = CopyText(library_.name, name);
    if (SUCCEEDED(hr)) hr = CopyText(library_.help, doc);
    if (FAILED(hr) && name) {
      SysFreeString(*name);
      *name = nullptr;
    }
    return hr;
  }
  HRESULT IsName(LPOLESTR name, ULONG, BOOL* found) override {
    if (!name || !found) return E_INVALIDARG;
    *found = 0;
    for (const auto& d : library_.interfaces) {
      if (SameName(d.name, name)) *found = 1;
      for (const auto& m : d.members) {
        if (SameName(m.name, name)) *found = 1;
      }
    }
    for (const auto& c : library_.coclasses) {
      if (SameName(c.name, name)) *found = 1;
    }
    return S_OK;
  }
  HRESULT FindName(LPOLESTR name, ULONG, ITypeInfo** infos, MEMBERID* ids, USHORT* found) override {
    if (!name || !infos || !ids || !found) return E_INVALIDARG;
    const USHORT capacity = *found;
    USHORT count = 0;
    auto add = [&](UINT index, MEMBERID id) {
      if (count >= capacity) return;
      if (SUCCEEDED(GetTypeInfo(index, &infos[count]))) ids[count++] = id;
    };
    for (std::size_t i = 0; i < library_.interfaces.size(); ++i) {
      const auto& d = library_.interfaces[i];
      if (SameName(d.name, name)) add(static_cast<UINT>(i), MEMBERID_NIL);
      for (const auto& m : d.members) {
        if (SameName(m.name, name)) {
          add(static_cast<UINT>(i), m.dispid);
          break;  // a get and its put are one name
        }
      }
    }
    for (std::size_t i = 0; i < library_.coclasses.size(); ++i) {
      if (SameName(library_.coclasses[i].name, name)) {
        add(static_cast<UINT>(library_.interfaces.size() + i), MEMBERID_NIL);
      }
    }
    *found = count;
    return S_OK;
  }
  void ReleaseTLibAttr(TLIBATTR* attr) override { delete attr; }

 private:
  friend ObjectBase;
  ~TypeLibObject() = default;

  const LibraryDescription library_;
};

}  // namespace

HRESULT CreateTypeLibFromDescription(const LibraryDescription& library, ITypeLib** lib) noexcept {
  if (!lib) return E_POINTER;
  *lib = nullptr;
  for (const auto& c : library.coclasses) {
    for (const auto& implemented : c.interfaces) {
      bool described = false;
      for (const auto& d : library.interfaces) described = described || d.iid == implemented.iid;
      if (!described) return E_INVALIDARG;
    }
  }
  try {
    *lib = new TypeLibObject(library);
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CreateTypeInfoFromDescription(const InterfaceDescription& description, ITypeInfo** info) noexcept {
  if (!info) return E_POINTER;
  *info = nullptr;
  try {
    LibraryDescription library;
    library.interfaces.push_back(description);
    ComPtr<ITypeLib> lib;
    const HRESULT hr = CreateTypeLibFromDescription(library, lib.put());
    if (FAILED(hr)) return hr;
    return lib->GetTypeInfo(0, info);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace kx::platform
