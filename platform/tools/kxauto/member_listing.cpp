#include "member_listing.h"

#include <algorithm>
#include <cstdio>

namespace kx::kxauto {

using namespace kx::platform;
using json = nlohmann::ordered_json;

std::string KindName(const MemberInfo& member, bool event) {
  if (event) return "event";
  switch (member.kind) {
    case INVOKE_PROPERTYGET:
      return "property get";
    case INVOKE_PROPERTYPUT:
      return "property put";
    case INVOKE_PROPERTYPUTREF:
      return "property putref";
    default:
      return "method";
  }
}

std::string ParamMarks(const ParamInfo& param) {
  std::string marks;
  auto add = [&](const char* mark) { marks += (marks.empty() ? "" : ", ") + std::string(mark); };
  // Unmarked parameters are inputs.
  if ((param.flags & PARAMFLAG_FIN) || !(param.flags & PARAMFLAG_FOUT)) add("in");
  if (param.flags & PARAMFLAG_FOUT) add("out");
  if (param.is_retval()) add("retval");
  if (param.is_optional()) add("optional");
  return marks;
}

std::string ParamType(const ParamInfo& param) {
  return TypeName(param.vt) + ((param.vt & VT_BYREF) ? "*" : "");
}

std::string SignatureLine(const MemberInfo& member, bool event) {
  std::string line = KindName(member, event) + " " + member.name + "(";
  for (std::size_t i = 0; i < member.params.size(); ++i) {
    const ParamInfo& p = member.params[i];
    line += (i ? ", [" : "[") + ParamMarks(p) + "] " + ParamType(p) + " " + p.name;
  }
  return line + ")";
}

std::string FullDescription(const MemberInfo& member, bool event) {
  std::string text = SignatureLine(member, event) + "\n";
  text += "  dispid " + std::to_string(member.dispid) + "\n";
  if (!member.doc.empty()) text += "  " + member.doc + "\n";
  if (member.params.empty()) return text + "  no parameters\n";
  std::size_t width = 0;
  for (const ParamInfo& p : member.params) width = std::max(width, p.name.size());
  text += "  parameters in declared order:\n";
  int position = 0;
  for (const ParamInfo& p : member.params) {
    char head[256];
    std::snprintf(head, sizeof head, "  %2d  %-*s  %-9s  ", ++position, static_cast<int>(width),
                  p.name.c_str(), ParamType(p).c_str());
    std::string line = head + ParamMarks(p);
    // What a caller of this client does with it.
    if (!event) {
      if (p.is_retval())
        line += "  (the result)";
      else if (!p.takes_value())
        line += "  (an output: leave it out)";
      else if (p.flags & PARAMFLAG_FOUT)
        line += "  (given and returned)";
    }
    text += line + "\n";
  }
  return text;
}

json MemberToJson(const MemberInfo& member, bool event) {
  json params = json::array();
  for (const ParamInfo& p : member.params) {
    params.push_back({{"name", p.name},
                      {"type", ParamType(p)},
                      {"in", p.takes_value()},
                      {"out", (p.flags & PARAMFLAG_FOUT) != 0},
                      {"optional", p.is_optional()},
                      {"retval", p.is_retval()}});
  }
  return {{"name", member.name},
          {"kind", KindName(member, event)},
          {"dispid", member.dispid},
          {"doc", member.doc},
          {"params", std::move(params)}};
}

}  // namespace kx::kxauto
