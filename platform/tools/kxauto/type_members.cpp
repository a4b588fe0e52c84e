#include "type_members.h"

#include "kx/platform/bstr.h"
#include "kx/platform/interfaces.h"

namespace kx::kxauto {

using namespace kx::platform;

namespace {

VARTYPE DeclaredType(const TYPEDESC& t) {
  if (t.vt == VT_PTR && t.lptdesc) return static_cast<VARTYPE>(t.lptdesc->vt | VT_BYREF);
  return t.vt;
}

MemberInfo Describe(ITypeInfo* info, const FUNCDESC& f) {
  MemberInfo m;
  m.dispid = f.memid;
  m.kind = f.invkind;
  const std::vector<std::string> names =
      NamesOf(info, f.memid, static_cast<UINT>(f.cParams) + 1);
  if (!names.empty()) m.name = names[0];
  Bstr doc;
  if (SUCCEEDED(info->GetDocumentation(f.memid, nullptr, doc.put(), nullptr, nullptr)) &&
      doc.get()) {
    m.doc = doc.Utf8();
  }
  for (SHORT p = 0; p < f.cParams; ++p) {
    ParamInfo param;
    param.name = static_cast<std::size_t>(p) + 1 < names.size() ? names[p + 1]
                                                                : "arg" + std::to_string(p);
    param.vt = DeclaredType(f.lprgelemdescParam[p].tdesc);
    param.flags = f.lprgelemdescParam[p].paramdesc.wParamFlags;
    m.params.push_back(std::move(param));
  }
  return m;
}

// Calls `visit` with every function description of `info`.
template <typename Visit>
void ForEachFunction(ITypeInfo* info, Visit&& visit) {
  if (!info) return;
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr)) || !attr) return;
  const WORD functions = attr->cFuncs;
  info->ReleaseTypeAttr(attr);
  for (UINT i = 0; i < functions; ++i) {
    FUNCDESC* f = nullptr;
    if (FAILED(info->GetFuncDesc(i, &f)) || !f) continue;
    visit(*f);
    info->ReleaseFuncDesc(f);
  }
}

}  // namespace

std::vector<std::string> NamesOf(ITypeInfo* info, MEMBERID id, UINT max_names) {
  std::vector<std::string> names;
  if (!info) return names;
  std::vector<BSTR> raw(max_names, nullptr);
  UINT count = 0;
  if (SUCCEEDED(info->GetNames(id, raw.data(), max_names, &count))) {
    for (UINT i = 0; i < count; ++i) names.push_back(BstrToUtf8(raw[i]));
  }
  for (BSTR b : raw) SysFreeString(b);
  return names;
}

std::optional<MemberInfo> DescribeMember(ITypeInfo* info, DISPID id, bool put) {
  std::optional<MemberInfo> found;
  int best = -1;
  ForEachFunction(info, [&](const FUNCDESC& f) {
    if (f.memid != id) return;
    int rank = -1;
    if (put && f.invkind == INVOKE_PROPERTYPUT) rank = 2;
    if (!put && f.invkind == INVOKE_FUNC) rank = 2;
    if (!put && f.invkind == INVOKE_PROPERTYGET) rank = 1;
    if (rank > best) {
      best = rank;
      found = Describe(info, f);
    }
  });
  return found;
}

std::vector<MemberInfo> DescribeMembers(ITypeInfo* info) {
  std::vector<MemberInfo> members;
  ForEachFunction(info, [&](const FUNCDESC& f) { members.push_back(Describe(info, f)); });
  return members;
}

std::string TypeName(VARTYPE vt) {
  const auto base = static_cast<VARTYPE>(vt & VT_TYPEMASK);
  std::string name;
  switch (base) {
    case VT_EMPTY: name = "empty"; break;
    case VT_I2: name = "short"; break;
    case VT_I4: name = "long"; break;
    case VT_R4: name = "float"; break;
    case VT_R8: name = "double"; break;
    case VT_CY: name = "CURRENCY"; break;
    case VT_DATE: name = "DATE"; break;
    case VT_BSTR: name = "BSTR"; break;
    case VT_DISPATCH: name = "IDispatch*"; break;
    case VT_ERROR: name = "SCODE"; break;
    case VT_BOOL: name = "VARIANT_BOOL"; break;
    case VT_VARIANT: name = "VARIANT"; break;
    case VT_UNKNOWN: name = "IUnknown*"; break;
    case VT_I1: name = "char"; break;
    case VT_UI1: name = "unsigned char"; break;
    case VT_UI2: name = "unsigned short"; break;
    case VT_UI4: name = "unsigned long"; break;
    case VT_I8: name = "int64"; break;
    case VT_UI8: name = "uint64"; break;
    case VT_INT: name = "int"; break;
    case VT_UINT: name = "unsigned int"; break;
    case VT_VOID: name = "void"; break;
    case VT_HRESULT: name = "HRESULT"; break;
    default: name = "type " + std::to_string(base); break;
  }
  if (vt & VT_ARRAY) name = "SAFEARRAY(" + name + ")";
  return name;
}

bool FindDefaultSource(IDispatch* object, IID* source, ComPtr<ITypeInfo>* source_info) {
  bool have_source = false;
  ComPtr<IDispatch> holder(object);
  if (auto info2 = holder.As<IProvideClassInfo2>()) {
    have_source = SUCCEEDED(info2->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, source));
  }
  auto provide = holder.As<IProvideClassInfo>();
  if (!provide) return have_source;
  ComPtr<ITypeInfo> coclass;
  if (FAILED(provide->GetClassInfo(coclass.put())) || !coclass) return have_source;
  for (UINT i = 0;; ++i) {
    INT flags = 0;
    if (FAILED(coclass->GetImplTypeFlags(i, &flags))) break;
    if ((flags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) !=
        (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) {
      continue;
    }
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> candidate;
    if (FAILED(coclass->GetRefTypeOfImplType(i, &ref)) ||
        FAILED(coclass->GetRefTypeInfo(ref, candidate.put()))) {
      break;
    }
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(candidate->GetTypeAttr(&attr)) && attr) {
      if (!have_source) *source = attr->guid;
      if (attr->guid == *source) {
        have_source = true;
        *source_info = candidate;
      }
      candidate->ReleaseTypeAttr(attr);
    }
    break;
  }
  return have_source;
}

}  // namespace kx::kxauto
