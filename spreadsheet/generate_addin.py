#!/usr/bin/python3
"""Generates the Calc add-in's worksheet functions from the component's type library text.

Writes three files into the output folder:
  XQuantorbFunctions.idl   the UNO interface whose methods Calc offers as functions
  quantorb_members.inc     the member table (names, dispatch ids, parameters, descriptions)
  quantorb_glue.inc        the C++ bodies of the interface's methods

Every method of IKvQuantorb with at least one output becomes a function. A parameter is an output
when it is the retval, a pointer to a number, or a by-reference VARIANT that no by-value parameter
follows (the result arrays come after the last scalar input); everything else is what a worksheet
user passes, in declared order.
"""
import re
import sys
from pathlib import Path

UNO_MODULE = "com::korvane::calc"
INTERFACE = "XQuantorbFunctions"

_METHOD = re.compile(r"\[([^\]]*)\]\s*HRESULT\s+(\w+)\s*\(([^)]*)\)\s*;", re.S)
_PARAM = re.compile(r"^\[([^\]]*)\]\s*(\w+)\s*(\*?)\s*(\w+)$")


def strip_comments(text):
    return re.sub(r"//[^\n]*", "", text)


def attribute(attrs, name):
    """The value of name("...") or name(...) in an attribute list, else None."""
    m = re.search(name + r'\(\s*("(?:[^"\\]|\\.)*"|[^)]*)\s*\)', attrs)
    if not m:
        return None
    value = m.group(1)
    return value[1:-1] if value.startswith('"') else value


def split_top(text):
    """Splits a parameter list on the commas that stand outside [ ]."""
    parts, depth, current = [], 0, []
    for ch in text:
        if ch == "[":
            depth += 1
        elif ch == "]":
            depth -= 1
        if ch == "," and depth == 0:
            parts.append("".join(current))
            current = []
        else:
            current.append(ch)
    if "".join(current).strip():
        parts.append("".join(current))
    return [" ".join(p.split()) for p in parts]


def parse_members(idl_text):
    text = strip_comments(idl_text)
    start = text.find("interface IKvQuantorb")
    if start < 0:
        raise SystemExit("no interface IKvQuantorb in the type library text")
    body = text[text.index("{", start) + 1:]
    body = body[:body.index("};")]
    members = []
    for m in _METHOD.finditer(body):
        attrs, name, params_text = m.group(1), m.group(2), m.group(3)
        if "propget" in attrs or "propput" in attrs:
            continue
        params = []
        for p in split_top(params_text):
            pm = _PARAM.match(p)
            if not pm:
                raise SystemExit(f"{name}: cannot read parameter '{p}'")
            flags = {f.strip() for f in pm.group(1).split(",")}
            params.append({"name": pm.group(4), "type": pm.group(2), "pointer": pm.group(3) == "*",
                           "flags": flags})
        members.append({"name": name, "dispid": int(attribute(attrs, "id")),
                        "help": attribute(attrs, "helpstring") or "", "params": params})
    return members


def classify(member):
    params = member["params"]
    for i, p in enumerate(params):
        by_value_follows = any(not q["pointer"] for q in params[i + 1:])
        if "retval" in p["flags"]:
            p["output"] = True
        elif p["pointer"] and p["type"] != "VARIANT":
            p["output"] = True  # a worksheet cannot pass a reference to a number
        elif p["pointer"]:
            p["output"] = not by_value_follows
        else:
            p["output"] = False
        p["array"] = p["type"] == "VARIANT"
        p["optional"] = "optional" in p["flags"]
        p["retval"] = "retval" in p["flags"]
        p["pairs_with"] = -1
    inputs = [p for p in params if not p["output"]]
    outputs = [p for p in params if p["output"]]
    array_inputs = [i for i, p in enumerate(params) if p["array"] and not p["output"]]
    array_outputs = [p for p in outputs if p["array"] and not p["retval"]]
    # Result arrays pair in order with the value arrays after the first input array (the
    # strikes); the last value array may be left out, and its result array with it.
    if array_outputs and len(array_inputs) == len(array_outputs) + 1:
        for out, index in zip(array_outputs, array_inputs[1:]):
            out["pairs_with"] = index
        params[array_inputs[-1]]["worksheet_optional"] = True
    for p in inputs:
        p["worksheet_optional"] = p.get("worksheet_optional", False) or p["optional"]
    member["inputs"] = inputs
    member["outputs"] = outputs
    member["scalar_result"] = len(outputs) == 1 and not outputs[0]["array"]
    return member


def argument_description(p):
    what = p["name"]
    if p["array"]:
        what += ": a range of numbers"
    elif p["type"] in ("long", "short"):
        what += ": a whole number"
    else:
        what += ": a number"
    if p["worksheet_optional"]:
        what += " (optional)"
    return what + "."


def result_description(member):
    outs = member["outputs"]
    if member["scalar_result"]:
        return ""
    names = ", ".join(p["name"] for p in outs)
    if all(not p["array"] for p in outs):
        return f" Returns one row: {names}."
    if len(outs) == 1:
        return f" Returns one row: {names}, one value per series."
    return f" Returns one row per element: {names}."


def uno_type(p):
    if p["array"]:
        return "any" if p["worksheet_optional"] else "sequence< sequence< double > >"
    return "any" if p["worksheet_optional"] else "double"


def cpp_type(p):
    if p["array"]:
        return ("const css::uno::Any&" if p["worksheet_optional"]
                else "const css::uno::Sequence< css::uno::Sequence< double > >&")
    return "const css::uno::Any&" if p["worksheet_optional"] else "double"


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def write_uno_idl(members, out):
    lines = ["// Generated from the component's type library text; do not edit.",
             "#include <com/sun/star/uno/XInterface.idl>", "",
             "module com { module korvane { module calc {", "",
             f"interface {INTERFACE} : com::sun::star::uno::XInterface", "{"]
    for m in members:
        ret = "double" if m["scalar_result"] else "sequence< sequence< double > >"
        args = ", ".join(f"[in] {uno_type(p)} {p['name']}" for p in m["inputs"])
        lines.append(f"    {ret} {m['name']}({args});")
    lines.append("    string KxLastError([in] any After);")
    lines += ["};", "", "}; }; };", ""]
    out.write_text("\n".join(lines))


def write_member_table(members, out):
    lines = ["// Generated from the component's type library text; do not edit.", ""]
    for m in members:
        lines.append(f"inline constexpr ParamInfo k{m['name']}Params[] = {{")
        for p in m["params"]:
            role = ("ParamRole::kArrayOut" if p["output"] and p["array"] else
                    "ParamRole::kScalarOut" if p["output"] else
                    "ParamRole::kArrayIn" if p["array"] else "ParamRole::kScalarIn")
            vt = {"double": "VT_R8", "long": "VT_I4", "short": "VT_I2",
                  "VARIANT": "VT_VARIANT"}[p["type"]]
            opt = "true" if p["optional"] else "false"
            sheet_opt = "true" if p.get("worksheet_optional") else "false"
            ret = "true" if p["retval"] else "false"
            desc = c_string(argument_description(p)) if not p["output"] else "nullptr"
            lines.append(f"    {{{c_string(p['name'])}, {role}, {vt}, {opt}, {sheet_opt}, {ret}, "
                         f"{p['pairs_with']}, {desc}}},")
        lines.append("};")
    lines += ["", "inline constexpr MemberInfo kMembers[] = {"]
    for m in members:
        desc = m["help"] + result_description(m)
        lines.append(f"    {{{c_string(m['name'])}, {c_string(m['name'].upper())}, {m['dispid']}, "
                     f"{c_string(desc)}, k{m['name']}Params}},")
    lines += ["};", ""]
    for i, m in enumerate(members):
        lines.append(f"inline constexpr std::size_t k{m['name']}Index = {i};")
    out.write_text("\n".join(lines) + "\n")


def write_glue(members, out):
    lines = ["// Generated from the component's type library text; do not edit.",
             "// Bodies of the worksheet functions: each packs its arguments in declared order.", ""]
    for m in members:
        ret = "double" if m["scalar_result"] else \
            "css::uno::Sequence< css::uno::Sequence< double > >"
        args = ", ".join(f"{cpp_type(p)} {p['name']}" for p in m["inputs"])
        packed = ", ".join(f"ToInput({p['name']})" for p in m["inputs"])
        convert = "ToScalar" if m["scalar_result"] else "ToRows"
        lines += [f"{ret} SAL_CALL QuantorbAddIn::{m['name']}({args}) {{",
                  f"  return {convert}(Run(k{m['name']}Index, {{{packed}}}));", "}", ""]
    out.write_text("\n".join(lines))


def write_declarations(members, out):
    lines = ["// Generated from the component's type library text; do not edit.", ""]
    for m in members:
        ret = "double" if m["scalar_result"] else \
            "css::uno::Sequence< css::uno::Sequence< double > >"
        args = ", ".join(f"{cpp_type(p)} {p['name']}" for p in m["inputs"])
        lines.append(f"{ret} SAL_CALL {m['name']}({args}) override;")
    out.write_text("\n".join(lines) + "\n")


def main(argv):
    if len(argv) != 3:
        raise SystemExit("usage: generate_addin.py korvanex.idl OUTPUT_DIR")
    members = [classify(m) for m in parse_members(Path(argv[1]).read_text())]
    members = [m for m in members if m["outputs"]]
    if not members:
        raise SystemExit("the type library text has no member with outputs")
    out = Path(argv[2])
    out.mkdir(parents=True, exist_ok=True)
    write_uno_idl(members, out / f"{INTERFACE}.idl")
    write_member_table(members, out / "quantorb_members.inc")
    write_glue(members, out / "quantorb_glue.inc")
    write_declarations(members, out / "quantorb_declarations.inc")


if __name__ == "__main__":
    main(sys.argv)
