// What a class's type information says of its members: names, kinds, parameters with their
// declared types and in/out/optional marks, and documentation strings. Shared by every generic
// client (kxauto, the Python package) so that they read type information one way.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kx/platform/comptr.h"
#include "kx/platform/typeinfo.h"

namespace kx::kxauto {

struct ParamInfo {
  std::string name;
  kx::platform::VARTYPE vt = kx::platform::VT_EMPTY;  // VT_BYREF set for pointer parameters
  kx::platform::USHORT flags = kx::platform::PARAMFLAG_FIN;

  [[nodiscard]] bool is_retval() const noexcept {
    return (flags & kx::platform::PARAMFLAG_FRETVAL) != 0;
  }
  [[nodiscard]] bool is_optional() const noexcept {
    return (flags & kx::platform::PARAMFLAG_FOPT) != 0;
  }
  /// [in], [in, out] and unmarked parameters take a value from the caller.
  [[nodiscard]] bool takes_value() const noexcept {
    return !is_retval() && ((flags & kx::platform::PARAMFLAG_FIN) ||
                            !(flags & kx::platform::PARAMFLAG_FOUT));
  }
};

struct MemberInfo {
  kx::platform::DISPID dispid = kx::platform::DISPID_UNKNOWN;
  kx::platform::INVOKEKIND kind = kx::platform::INVOKE_FUNC;
  std::string name;
  std::string doc;  // the type library's documentation string; may be empty
  std::vector<ParamInfo> params;  // declared order, retval included
};

/// The member name and parameter names of `id`; empty when `info` is null or has none.
[[nodiscard]] std::vector<std::string> NamesOf(kx::platform::ITypeInfo* info,
                                               kx::platform::MEMBERID id, kx::platform::UINT max_names);

/// The description of `id`: its method, else its property get, or its property put when `put`.
[[nodiscard]] std::optional<MemberInfo> DescribeMember(kx::platform::ITypeInfo* info,
                                                       kx::platform::DISPID id, bool put);

/// Every function of `info` (methods, property gets and puts) in the type information's order.
[[nodiscard]] std::vector<MemberInfo> DescribeMembers(kx::platform::ITypeInfo* info);

/// The automation name of a declared type without VT_BYREF ("double", "long", "VARIANT", ...).
[[nodiscard]] std::string TypeName(kx::platform::VARTYPE vt);

/// The default source interface of an object's class and its type information (may be null),
/// from IProvideClassInfo2 and the coclass. False when the class declares none.
bool FindDefaultSource(kx::platform::IDispatch* object, kx::platform::IID* source,
                       kx::platform::ComPtr<kx::platform::ITypeInfo>* source_info);

}  // namespace kx::kxauto
