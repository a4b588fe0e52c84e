// What a class offers, written for people (--list, --describe) and as JSON, from the member
// descriptions that type_members reads out of its type information.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "type_members.h"

namespace kx::kxauto {

/// "method", "property get", "property put", "property putref"; "event" for a source member.
[[nodiscard]] std::string KindName(const MemberInfo& member, bool event);

/// The declared marks of a parameter: "in", "out", "in, out", "out, retval", "in, optional"...
[[nodiscard]] std::string ParamMarks(const ParamInfo& param);

/// The declared type as written in a signature: "double", "double*", "VARIANT*".
[[nodiscard]] std::string ParamType(const ParamInfo& param);

/// One line: kind, name and parameters, e.g.
/// "method BSCallPrice([in] double StockPrice, ..., [out, retval] double* CPrice)".
[[nodiscard]] std::string SignatureLine(const MemberInfo& member, bool event);

/// Several lines: the signature, the DISPID, the documentation string, then one line per
/// parameter with its position, type and marks, and how a JSON call passes it.
[[nodiscard]] std::string FullDescription(const MemberInfo& member, bool event);

/// {"name", "kind", "dispid", "doc", "params": [{"name", "type", "in", "out", "optional",
/// "retval"}]}
[[nodiscard]] nlohmann::ordered_json MemberToJson(const MemberInfo& member, bool event);

}  // namespace kx::kxauto
