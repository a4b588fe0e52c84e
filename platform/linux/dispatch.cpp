// Generic dispatch over an interface description: names to DISPIDs, and Invoke that turns
// DISPPARAMS into the member's typed arguments and its results back into VARIANTs.
#include <new>
#include <string>
#include <vector>

#include "kx/platform/comptr.h"
#include "kx/platform/errorinfo.h"
#include "kx/platform/typeinfo.h"
#include "names.h"

namespace kx::platform {
namespace {

using internal::SameName;

bool IsMissing(const VARIANT* arg) noexcept {
  return !arg || (arg->vt == VT_ERROR && arg->scode == DISP_E_PARAMNOTFOUND);
}

// A zero value of type base (a null text, VT_EMPTY for a VARIANT).
void SetZero(VARIANT* v, VARTYPE base) noexcept {
  VariantInit(v);
  if (base != VT_VARIANT) v->vt = base;
}

// The work of one call, released on every path.
struct CallFrame {
  explicit CallFrame(std::size_t n) : slots(n), temps(n), writeback(n, nullptr) {}
  ~CallFrame() {
    for (auto& v : slots) (void)VariantClear(&v);  // references are never followed by VariantClear
    for (auto& v : temps) (void)VariantClear(&v);
  }
  std::vector<VARIANT> slots;        // what the member receives, declared order
  std::vector<VARIANT> temps;        // values that pointer parameters point at
  std::vector<VARIANT*> writeback;   // caller VARIANTs (VT_BYREF | VT_VARIANT) to update from temps
};

// Prepares the argument of one parameter (arg null when none was given). *arg_at_fault says
// whether a failure lies with the argument itself.
HRESULT PrepareArgument(const ParamDescription& p, const VARIANT* arg, std::size_t i, CallFrame& frame,
                        bool* arg_at_fault) noexcept {
  const VARTYPE base = p.vt & ~VT_BYREF;
  const bool pointer = (p.vt & VT_BYREF) != 0;
  VARIANT& slot = frame.slots[i];
  VARIANT& temp = frame.temps[i];
  *arg_at_fault = false;

  if (p.flags & PARAMFLAG_FRETVAL) {
    SetZero(&temp, base);
    slot.vt = p.vt;
    slot.byref = base == VT_VARIANT ? static_cast<void*>(&temp) : static_cast<void*>(&temp.llVal);
    return S_OK;
  }

  if (IsMissing(arg)) {
    *arg_at_fault = arg != nullptr;
    if (!(p.flags & PARAMFLAG_FOPT)) return DISP_E_PARAMNOTFOUND;
    if (pointer) {
      slot.vt = p.vt;
      if (base == VT_VARIANT) {
        slot.pvarVal = nullptr;  // an omitted optional VARIANT is no VARIANT at all
      } else {
        SetZero(&temp, base);
        slot.byref = &temp.llVal;
      }
    } else if (base == VT_VARIANT) {
      slot.vt = VT_ERROR;
      slot.scode = DISP_E_PARAMNOTFOUND;
    } else {
      SetZero(&slot, base);
    }
    return S_OK;
  }

  *arg_at_fault = true;
  if (!pointer) {
    if (base == VT_VARIANT) return VariantCopyInd(&slot, arg);
    return VariantChangeType(&slot, arg, 0, base);
  }

  slot.vt = p.vt;
  if (base == VT_VARIANT) {
    if (arg->vt == (VT_BYREF | VT_VARIANT)) {
      if (!arg->pvarVal) return E_POINTER;
      slot.pvarVal = arg->pvarVal;
    } else {
      slot.pvarVal = const_cast<VARIANT*>(arg);  // the method reads and may replace the caller's VARIANT
    }
    return S_OK;
  }
  if (arg->vt == (VT_BYREF | base)) {
    if (!arg->byref) return E_POINTER;
    slot.byref = arg->byref;
    return S_OK;
  }
  // The member works on a temporary: `value` converted when the member reads it, else zero.
  const bool reads = (p.flags & PARAMFLAG_FIN) || !(p.flags & PARAMFLAG_FOUT);
  const auto point_at_temporary = [&](const VARIANT* value) -> HRESULT {
    if (reads) {
      const HRESULT hr = VariantChangeType(&temp, value, 0, base);
      if (FAILED(hr)) return hr;
    } else {
      SetZero(&temp, base);
    }
    slot.byref = &temp.llVal;
    return S_OK;
  };
  if (arg->vt == (VT_BYREF | VT_VARIANT)) {
    VARIANT* inner = arg->pvarVal;
    if (!inner) return E_POINTER;
    if (inner->vt == base) {
      slot.byref = &inner->llVal;  // writes land in the caller's VARIANT directly
      return S_OK;
    }
    // An output's old value is dropped now: one that cannot be (an unknown type, a locked
    // array) would otherwise keep the output from being written back after the call.
    if (!reads) {
      if (const HRESULT hr = VariantClear(inner); FAILED(hr)) return hr;
    }
    if (const HRESULT hr = point_at_temporary(inner); FAILED(hr)) return hr;
    if (p.flags & PARAMFLAG_FOUT) frame.writeback[i] = inner;
    return S_OK;
  }
  if (arg->vt & VT_BYREF) return DISP_E_TYPEMISMATCH;  // cannot write back through another type
  // A value for a pointer parameter: the temporary is discarded afterwards.
  return point_at_temporary(arg);
}

void FillException(HRESULT hr, EXCEPINFO* excep) noexcept {
  *excep = EXCEPINFO{};
  excep->scode = hr;
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) == S_OK && info) {
    (void)info->GetSource(&excep->bstrSource);
    (void)info->GetDescription(&excep->bstrDescription);
    (void)info->GetHelpFile(&excep->bstrHelpFile);
    (void)info->GetHelpContext(&excep->dwHelpContext);
  }
}

HRESULT Invoke(void* object, const InterfaceDescription& description, DISPID member, WORD flags,
               DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep, UINT* arg_err) {
  if (!object) return E_POINTER;
  if (!params || (params->cArgs && !params->rgvarg) || params->cNamedArgs > params->cArgs ||
      (params->cNamedArgs && !params->rgdispidNamedArgs)) {
    return E_INVALIDARG;
  }
  const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  const MemberDescription* m = nullptr;
  if (put) {
    if (flags & DISPATCH_PROPERTYPUTREF) m = description.Find(member, INVOKE_PROPERTYPUTREF);
    if (!m && (flags & DISPATCH_PROPERTYPUT)) m = description.Find(member, INVOKE_PROPERTYPUT);
  } else {
    if (flags & DISPATCH_METHOD) m = description.Find(member, INVOKE_FUNC);
    if (!m && (flags & DISPATCH_PROPERTYGET)) m = description.Find(member, INVOKE_PROPERTYGET);
  }
  if (!m || !m->call) return DISP_E_MEMBERNOTFOUND;

  const std::size_t n = m->params.size();
  const bool has_retval = n > 0 && (m->params.back().flags & PARAMFLAG_FRETVAL);
  const std::size_t callable = n - (has_retval ? 1 : 0);
  const UINT named = params->cNamedArgs;
  const UINT positional = params->cArgs - named;

  // Which argument (rgvarg index) goes to which parameter.
  std::vector<int> source(n, -1);
  auto set_error_index = [&](int index) {
    if (arg_err) *arg_err = static_cast<UINT>(index);
  };
  bool have_put_value = false;
  for (UINT j = 0; j < named; ++j) {
    const DISPID id = params->rgdispidNamedArgs[j];
    std::size_t target = 0;
    if (id == DISPID_PROPERTYPUT && put && callable > 0) {
      target = callable - 1;
      have_put_value = true;
    } else if (id >= 0 && static_cast<std::size_t>(id) < callable && !(put && static_cast<std::size_t>(id) == callable - 1)) {
      target = static_cast<std::size_t>(id);
    } else {
      set_error_index(static_cast<int>(j));
      return DISP_E_PARAMNOTFOUND;
    }
    if (source[target] >= 0) {
      set_error_index(static_cast<int>(j));
      return DISP_E_PARAMNOTFOUND;  // the same parameter named twice
    }
    source[target] = static_cast<int>(j);
  }
  if (put && !have_put_value) return DISP_E_PARAMNOTFOUND;
  const std::size_t positional_room = put ? callable - 1 : callable;
  if (positional > positional_room) return DISP_E_BADPARAMCOUNT;
  for (UINT k = 0; k < positional; ++k) {
    const int index = static_cast<int>(params->cArgs - 1 - k);
    if (source[k] >= 0) {
      set_error_index(index);
      return DISP_E_PARAMNOTFOUND;  // given by position and by name
    }
    source[k] = index;
  }

  CallFrame frame(n);
  for (std::size_t i = 0; i < n; ++i) {
    const VARIANT* arg = source[i] >= 0 ? &params->rgvarg[source[i]] : nullptr;
    bool arg_at_fault = false;
    const HRESULT hr = PrepareArgument(m->params[i], arg, i, frame, &arg_at_fault);
    if (FAILED(hr)) {
      if (arg_at_fault && source[i] >= 0) set_error_index(source[i]);
      return hr;
    }
  }

  if (result) VariantInit(result);
  // A failure must report its own error information, never what an earlier call left.
  (void)SetErrorInfo(0, nullptr);
  HRESULT hr = S_OK;
  try {
    hr = m->call(object, frame.slots.data());
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  } catch (...) {
    hr = E_UNEXPECTED;  // nothing may cross the dispatch boundary
  }

  // Outputs held in temporaries go back to the caller's VARIANTs, also after a failure, so that
  // a by-reference VARIANT sees what a plain by-reference double would.
  for (std::size_t i = 0; i < n; ++i) {
    if (VARIANT* target = frame.writeback[i]) {
      if (SUCCEEDED(VariantClear(target))) {
        *target = frame.temps[i];
        frame.temps[i].vt = VT_EMPTY;
      }
    }
  }
  if (FAILED(hr)) {
    if (excep) FillException(hr, excep);
    return DISP_E_EXCEPTION;
  }
  if (has_retval && result) {
    *result = frame.temps[n - 1];
    VariantInit(&frame.temps[n - 1]);
  }
  return hr;
}

}  // namespace

const MemberDescription* InterfaceDescription::Find(DISPID dispid, INVOKEKIND kind) const noexcept {
  for (const auto& m : members) {
    if (m.dispid == dispid && m.kind == kind) return &m;
  }
  return nullptr;
}

HRESULT DispGetIDsOfNames(const InterfaceDescription& description, LPOLESTR* names, UINT count,
                          DISPID* ids) noexcept {
  if (!names || !ids) return E_POINTER;
  if (count == 0) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  const MemberDescription* found = nullptr;
  for (const auto& m : description.members) {
    if (SameName(m.name, names[0])) {
      found = &m;
      break;
    }
  }
  if (!found) return DISP_E_UNKNOWNNAME;
  ids[0] = found->dispid;
  HRESULT hr = S_OK;
  for (UINT i = 1; i < count; ++i) {
    // Parameter names, looked up in every member of that name (a get and its put).
    for (const auto& m : description.members) {
      if (m.dispid != found->dispid || !SameName(m.name, names[0])) continue;
      for (std::size_t p = 0; p < m.params.size() && ids[i] == DISPID_UNKNOWN; ++p) {
        if (SameName(m.params[p].name, names[i])) ids[i] = static_cast<DISPID>(p);
      }
    }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT DispInvoke(void* object, const InterfaceDescription& description, DISPID member, WORD flags,
                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep, UINT* arg_err) noexcept {
  try {
    return Invoke(object, description, member, flags, params, result, excep, arg_err);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT DispInvoke(void* object, ITypeInfo* info, DISPID member, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excep, UINT* arg_err) noexcept {
  if (!info) return E_INVALIDARG;
  return info->Invoke(object, member, flags, params, result, excep, arg_err);
}

HRESULT DispGetIDsOfNames(ITypeInfo* info, LPOLESTR* names, UINT count, DISPID* ids) noexcept {
  if (!info) return E_INVALIDARG;
  return info->GetIDsOfNames(names, count, ids);
}

namespace dispatch_detail {

MemberDescription Describe(DISPID dispid, INVOKEKIND kind, std::u16string_view name,
                           std::u16string_view help, WORD func_flags,
                           std::initializer_list<ParamSpec> param_list, const std::vector<VARTYPE>& types,
                           MemberCall call) {
  const std::string who = Utf16ToUtf8(name);
  if (param_list.size() != types.size()) {
    throw std::invalid_argument(who + ": " + std::to_string(param_list.size()) + " parameter names for " +
                                std::to_string(types.size()) + " parameters");
  }
  MemberDescription m;
  m.dispid = dispid;
  m.kind = kind;
  m.name = name;
  m.help = help;
  m.func_flags = func_flags;
  m.call = call;
  std::size_t i = 0;
  for (const ParamSpec& param : param_list) {
    ParamDescription p;
    p.name = param.name;
    p.vt = types[i];
    p.flags = param.flags ? param.flags : PARAMFLAG_FIN;
    const bool pointer = (p.vt & VT_BYREF) != 0;
    if ((p.flags & (PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)) && !pointer) {
      throw std::invalid_argument(who + ": [out] parameter " + Utf16ToUtf8(param.name) + " is not a pointer");
    }
    if ((p.flags & PARAMFLAG_FRETVAL) && i + 1 != param_list.size()) {
      throw std::invalid_argument(who + ": retval parameter " + Utf16ToUtf8(param.name) + " is not the last");
    }
    m.params.push_back(std::move(p));
    ++i;
  }
  if (kind == INVOKE_PROPERTYPUT && (m.params.empty() || m.params.back().flags != PARAMFLAG_FIN)) {
    throw std::invalid_argument(who + ": a property put takes its value as the last [in] parameter");
  }
  if (kind == INVOKE_PROPERTYGET && (m.params.empty() || !(m.params.back().flags & PARAMFLAG_FRETVAL))) {
    throw std::invalid_argument(who + ": a property get returns its value as [out, retval]");
  }
  return m;
}

}  // namespace dispatch_detail

MemberDescription DescribedMethod(DISPID dispid, std::u16string_view name,
                                  std::vector<ParamDescription> params, std::u16string_view help) {
  MemberDescription m;
  m.dispid = dispid;
  m.kind = INVOKE_FUNC;
  m.name = name;
  m.help = help;
  m.params = std::move(params);
  return m;
}

}  // namespace kx::platform
