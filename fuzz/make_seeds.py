#!/usr/bin/env python3
"""Writes the hand-made seed inputs of fuzz/corpus/ (the binary ones follow the harnesses'
decoders in fuzz_variants.cpp and the *_fuzzer.cpp files). Run from anywhere; existing files
of the same name are replaced, other files are left alone."""
import json
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
RES = os.path.join(HERE, "..", "component", "resources")

DOUBLES = [0.0, 1.0, -1.0, 0.5, 2.0, 3.0, 4.0, 100.0, 80.0, 90.0, 110.0, 42.0, 40.0, 0.05, 0.04,
           0.2, 0.35, 0.75, 0.08, 0.01, 0.1, 24.1, 15.9, 2.49, 3.98, 5.0, 50.0, 252.0, 1e-9, -0.0,
           -999.0, 5000.0, 5001.0]
LONGS = [0, 1, -1, 2, 3, 4, 5, 10, 25, 50, 100, 252, 5000, 5001]
SCALAR = {"EMPTY": 0, "NULL": 1, "I2": 2, "I4": 3, "R4": 4, "R8": 5, "BSTR": 8, "ERROR": 10,
          "BOOL": 11, "VARIANT": 23}
DISPIDS = ["Base", "BlockingMode", "BSCallPrice", "BSPutPrice", "BSDelta", "BSTheta", "BSGamma",
           "BSVega", "BSRho", "BSImpliedVolatility", "BSImpliedVolatilityPut",
           "BSImpliedVolatilitySkew", "BinCallPrice", "BinPutPrice", "BinPrice", "BinPriceGreeks",
           "BinDelta", "BinTheta", "BinGamma", "BinVega", "BinRho", "BinImpliedVolatility",
           "BinImpliedVolatilityPut", "BinImpliedVolatilitySkew", "BinCallDelta", "BinPutDelta",
           "BJECallPrice", "BJEPutPrice", "BJEDelta", "BJETheta", "BJEGamma", "BJEVega", "BJERho",
           "BJEImpliedVolatility", "BJEImpliedVolatilityPut", "BJEImpliedVolatilitySkew",
           "HistoricalVolatility", "HistoricalVolatility1", "Abort", "About"]


def write(harness, name, data):
    folder = os.path.join(HERE, "corpus", harness)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode()
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def d(x):
    return bytes([DOUBLES.index(x)])


def l(x):
    return bytes([LONGS.index(x)])


# ---- dispatch: values as DecodeVariant reads them ----
def r8(x):
    return bytes([SCALAR["R8"]]) + d(x)


def i4(x):
    return bytes([SCALAR["I4"]]) + l(x)


def text(index):
    return bytes([SCALAR["BSTR"], 0, index])  # not null, table text


def array_r8(values, lower=0, by_ref_variant=True):
    lower_byte = {0: 0, 1: 0x80, -1: 0xC0}[lower]
    body = bytes([0x40, 0, 0, 1, len(values), lower_byte]) + b"".join(d(v) for v in values)
    if by_ref_variant:  # VT_BYREF | VT_VARIANT holding the array
        return bytes([0x80 | SCALAR["VARIANT"]]) + body + b"\x00"
    return body


def matrix_r8(rows, cols, values):
    body = bytes([0x40, 0, 0, 2, rows, 0, cols, 0]) + b"".join(d(v) for v in values)
    return bytes([0x80 | SCALAR["VARIANT"]]) + body + b"\x00"


EMPTY_OUT = bytes([0x80 | SCALAR["VARIANT"], SCALAR["EMPTY"], 0])
OUT = b"\x00"  # a by-reference double slot


RETVAL = ("CallPrice", "PutPrice", "ImpliedVolatility", "ImpliedVolatilityPut",
          "HistoricalVolatility", "HistoricalVolatility1")


def call(member, args, flags=None):
    """args in declared order; each already encoded. Positional, reversed as rgvarg is. The
    retval output, given last, is left out: it comes back as the call's result."""
    if any(member.endswith(r) for r in RETVAL) and args:
        args = args[:-1]
    head = bytes([DISPIDS.index(member)])
    head += bytes([0xC0 | flags]) if flags else b"\x00"
    head += b"\x00\x00"  # as many arguments as the member has; none named
    return head + b"".join(reversed(args)) + b"\x00\x00"


def put(member, value):
    return bytes([DISPIDS.index(member), 0xC4, 1, 0, 0]) + value + b"\x00\x00"


BS = [r8(100), r8(100), r8(0.05), r8(1.0), r8(0.2), r8(0.0)]
BIN = [r8(100), r8(100), r8(0.05), r8(1.0), r8(0.2), r8(0.0), i4(0), r8(0.0), i4(50), i4(1)]
BJE = [r8(42), r8(40), r8(0.04), r8(0.75), r8(0.35), r8(0.08), i4(1), r8(0.0)]
seeds = {
    "bs_call": call("BSCallPrice", BS + [OUT]),
    "bs_put_bad_stock": call("BSPutPrice", [r8(-1.0)] + BS[1:] + [OUT]),
    "bs_delta_nan": call("BSDelta", BS[:4] + [bytes([5, 0xE0]) + struct.pack("<d", math.nan)] +
                         BS[5:] + [OUT, OUT]),
    "bs_theta_text": call("BSTheta", [text(2)] + BS[1:] + [OUT, OUT]),
    "bs_gamma_by_ref": call("BSGamma", [bytes([0x80 | 5]) + d(100) + b"\x00"] + BS[1:] + [OUT]),
    "bs_vega_dividend_2": call("BSVega", BS[:5] + [r8(2.0)] + [OUT]),
    "bs_rho_variant_out": call("BSRho", BS + [EMPTY_OUT, OUT]),
    "bs_iv": call("BSImpliedVolatility", BS[:4] + [r8(0.0), r8(5.0), i4(50), OUT]),
    "bs_iv_put": call("BSImpliedVolatilityPut", BS[:4] + [r8(0.0), r8(5.0), i4(0), OUT]),
    "bs_skew": call("BSImpliedVolatilitySkew",
                    [r8(100), array_r8([80, 90]), r8(0.04), r8(0.75), r8(0.01),
                     array_r8([24.1, 15.9]), array_r8([2.49, 3.98]), i4(5), EMPTY_OUT, EMPTY_OUT]),
    "bs_skew_base1": put("Base", i4(1)) +
                     call("BSImpliedVolatilitySkew",
                          [r8(100), array_r8([80, 90], 1), r8(0.04), r8(0.75), r8(0.01),
                           array_r8([24.1, 15.9], 1), array_r8([2.49, 3.98], 1), i4(5), EMPTY_OUT,
                           EMPTY_OUT]),
    "bs_skew_mismatch": call("BSImpliedVolatilitySkew",
                             [r8(100), array_r8([80, 90, 110]), r8(0.04), r8(0.75), r8(0.01),
                              array_r8([24.1]), array_r8([2.49, 3.98]), i4(5), EMPTY_OUT,
                              EMPTY_OUT]),
    "bin_call": call("BinCallPrice", BIN + [OUT]),
    "bin_put_american": call("BinPutPrice", BIN[:9] + [i4(1), OUT]),
    "bin_price_steps_0": call("BinPrice", BIN[:8] + [i4(0), i4(1), OUT, OUT]),
    "bin_greeks": call("BinPriceGreeks", BIN + [OUT] * 7 + [i4(1), OUT, i4(1), OUT, OUT]),
    "bin_delta_model_4": call("BinDelta", BIN[:6] + [i4(4)] + BIN[7:] + [OUT, OUT]),
    "bin_iv": call("BinImpliedVolatility", BIN[:4] + [r8(0.0), i4(0), r8(0.0), i4(25), i4(1),
                                                      r8(5.0), i4(50), OUT]),
    "bin_skew": call("BinImpliedVolatilitySkew",
                     [r8(100), array_r8([80, 90]), r8(0.04), r8(0.75), r8(0.01), i4(0), r8(0.0),
                      i4(25), i4(1), array_r8([24.1, 15.9]), array_r8([2.49, 3.98]), i4(5),
                      EMPTY_OUT, EMPTY_OUT]),
    "bje_call": call("BJECallPrice", BJE + [OUT]),
    "bje_put_flag_eur": call("BJEPutPrice", BJE[:6] + [i4(2)] + BJE[7:] + [OUT]),
    "bje_rho": call("BJERho", BJE + [OUT, OUT]),
    "bje_iv": call("BJEImpliedVolatility", BJE[:4] + [r8(0.08), i4(1), r8(0.0), r8(5.0), i4(50),
                                                      OUT]),
    "bje_skew": call("BJEImpliedVolatilitySkew",
                     [r8(100), array_r8([80, 90]), r8(0.04), r8(0.75), r8(0.01), i4(0), r8(0.0),
                      array_r8([24.1, 15.9]), array_r8([2.49, 3.98]), i4(5), EMPTY_OUT,
                      EMPTY_OUT]),
    "hv": call("HistoricalVolatility", [array_r8([100, 110, 100, 90]), i4(252), EMPTY_OUT]),
    "hv_matrix": call("HistoricalVolatility",
                      [matrix_r8(3, 2, [100, 110, 100, 50, 40, 50]), i4(252), EMPTY_OUT]),
    "hv1": call("HistoricalVolatility1", [array_r8([100, 110, 100]), i4(252), OUT]),
    "hv1_base1_lower0": put("Base", i4(1)) +
                        call("HistoricalVolatility1", [array_r8([100, 110, 100]), i4(252), OUT]),
    "abort_then_call": call("Abort", []) + call("BSCallPrice", BS + [OUT]),
    "about": call("About", []),
    "blocking_0_bin": put("BlockingMode", i4(0)) + call("BinCallPrice", BIN + [OUT]),
    "get_base": bytes([0, 0xC2, 0, 0, 0, 0]),
    "unknown_member": bytes([43, 0, 3, 0]) + r8(1.0) + r8(2.0) + r8(3.0) + b"\x00\x00",
    "named_args": bytes([2, 0, 7, 0xE0, 8, 3, 4, 5, 6, 7, 8, 9]) + b"".join(reversed(BS)) +
                  OUT + b"\x00\x00",
    "too_many_args": bytes([2, 0, 0xA8, 0]) + r8(1.0) * 8 + b"\x00\x00",
}
for name, data in seeds.items():
    write("dispatch", name, data)

# ---- persistence: the first byte picks stream, property bag or storage ----
def stream(base_vt, base, blocking_vt, blocking):
    sizes = {2: "<h", 3: "<i", 5: "<d", 16: "<b", 17: "<B", 11: "<h", 4: "<f", 20: "<q"}
    return (struct.pack("<I", 0x300) + struct.pack("<H", base_vt) + struct.pack(sizes[base_vt], base)
            + struct.pack("<H", blocking_vt) + struct.pack(sizes[blocking_vt], blocking))


write("persistence", "stream_saved", b"\x00" + stream(3, 1, 2, 1))
write("persistence", "stream_base_0", b"\x00" + stream(3, 0, 2, 0))
write("persistence", "stream_doubles", b"\x00" + stream(5, 1.0, 5, 70000.0))
write("persistence", "stream_newer_version", b"\x00" + struct.pack("<I", 0x301) + stream(3, 1, 2, 1)[4:])
write("persistence", "stream_short", b"\x00" + stream(3, 1, 2, 1)[:9])
write("persistence", "stream_bad_type", b"\x00" + struct.pack("<IH", 0x300, 8) + b"\x00" * 8)
write("persistence", "stream_i8", b"\x00" + stream(20, 2 ** 40, 11, -1))
write("persistence", "bag_base_blocking", b"\x01\x02\x00" + i4(1) + b"\x01" + bytes([2]) + l(0))
write("persistence", "bag_text", b"\x01\x01\x00" + text(1))
write("persistence", "bag_case", b"\x01\x02\x02" + r8(2.0) + b"\x03" + i4(1))
write("persistence", "bag_array", b"\x01\x01\x00" + array_r8([1, 2], 0, False))
write("persistence", "storage_contents", b"\x02\x01\x01" + bytes([14]) + stream(3, 1, 2, 1))
write("persistence", "storage_two", b"\x02\x02\x00\x05Other\x03abc\x01\x0e" + stream(3, -1, 2, 0))
write("persistence", "storage_empty", b"\x02\x00")

# ---- variant_safearray: programs of operations ----
vs = {
    "change_r8_to_i4": b"\x00" + r8(2.49) + b"\x03\x00",
    "change_text_to_r8": b"\x00" + text(3) + b"\x05\x00",
    "change_text_to_bool": b"\x00" + text(5) + b"\x0b\x00",
    "change_bool_alpha": b"\x00" + bytes([11, 1]) + b"\x08\x02",
    "change_big_to_i2": b"\x00" + r8(5001.0) + b"\x02\x00",
    "change_error_to_i4": b"\x00" + bytes([10, 1]) + b"\x03\x00",
    "change_byref_to_bstr": b"\x00" + bytes([0x80 | 5]) + d(24.1) + b"\x00" + b"\x08\x00",
    "change_nan_to_cy": b"\x00" + bytes([5, 0xE0]) + struct.pack("<d", math.nan) + b"\x06\x00",
    "copy_array": b"\x01" + array_r8([1, 2, 3], 1, False),
    "copy_byref_variant": b"\x01" + array_r8([1, 2]),
    "array_calls_r8": b"\x02\x00\x00\x02\x03\x00\x02\x80" + bytes(range(6)) +
                      b"\x01\x01\x03\x05\x04\x02\x05\x07\x06\x00\x01\x03",
    "array_calls_bstr": b"\x02\x05\x00\x01\x04\x00" + b"\x30\x01" * 4 + b"\x05\x03\x00\x02\x04\x03",
    "array_calls_variant": b"\x02\x06\x00\x01\x03\x00" + b"\x05\x07\x08\x02\x00\x03" +
                           b"\x06\x02\x04\x01\x07\x03",
    "array_calls_3d": b"\x02\x03\x00\x03\x02\x00\x02\x80\x02\xc0" + b"\x01\x02\x03\x04\x05\x06\x07\x08" +
                      b"\x03\x01\x01\x01\x04\x00\x00\x00",
    "hand_made_zero_dims": b"\x03\x00\x00\x00\x00" + b"\x00" * 4,
    "hand_made_two_dims": b"\x03\x02\x01\x80\x00\x02\x01\x03\x02" + b"\x01\x02\x03\x04",
}
for name, data in vs.items():
    write("variant_safearray", name, data)

# ---- text surfaces: the module's own files and pieces of them ----
idl = open(os.path.join(RES, "korvanex.idl"), encoding="utf-8").read()
rc = open(os.path.join(RES, "korvanex.rc"), encoding="utf-8").read()
rgs = open(os.path.join(RES, "kvquantorb.rgs"), encoding="utf-8").read()
write("typelib_text", "korvanex_idl", idl)
write("typelib_text", "first_half", idl[: len(idl) // 2])
write("typelib_text", "no_coclass", idl[: idl.rfind("coclass")])
write("typelib_text", "unterminated_text", 'library L { helpstring("open\n }')
write("typelib_text", "tiny", '[uuid(7C41E2A0-3B95-4D6E-A1F8-62D0B94C5E17), version(1.0)]\n'
      'library Tiny { interface I; }\n')
write("resource_script", "korvanex_rc", rc)
write("resource_script", "first_half", rc[: len(rc) // 2])
write("resource_script", "string_table", 'STRINGTABLE\nBEGIN\n  1 "one"\n  2 "two ""quoted"""\nEND\n')
write("resource_script", "duplicate", '1 TYPELIB "a.tlb"\n1 TYPELIB "b.tlb"\n')
write("regscript", "kvquantorb_rgs", rgs)
write("regscript", "header_example", """HKCR
{
  NoRemove CLSID
  {
    ForceRemove {7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17} = s 'Some Control'
    {
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Apartment'
      }
      MiscStatus = s '0' { '1' = s '132497' }
    }
  }
}
HKCU { NoRemove Software { ForceRemove Addin { val LoadBehavior = d '3' } } }
""")
write("regscript", "plain_keys", "HKCR { A = s 'x' { B = d '0x10' { val V = s 'it''s %% %NAME%' } } }\n")
write("regscript", "delete_flag", "HKEY_CURRENT_USER { Delete Gone { } Kept = s 'k' }\n")
write("regscript", "unknown_variable", "HKCR { A = s '%NOPE%' }\n")
write("regscript", "unbalanced", "HKCR { A { B }\n")

# ---- registry_file: bodies behind a matching header (first byte not 0 mod 8), or raw files ----
def key(name, values=(), keys=()):
    k = {"name": name}
    if values:
        k["values"] = [{"name": n, "type": t, "data": v} for n, t, v in values]
    if keys:
        k["keys"] = list(keys)
    return k


body = json.dumps({"format": "kx-platform registry", "roots": {
    "HKEY_CLASSES_ROOT": key("HKEY_CLASSES_ROOT", keys=[
        key("Korvane.Quantorb", [("", "REG_SZ", "KvQuantorb Class")],
            [key("CLSID", [("", "REG_SZ", "{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17}")])]),
        key("CLSID", keys=[key("{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17}",
                               [("", "REG_SZ", "KvQuantorb Class")],
                               [key("InprocServer32", [("", "REG_SZ", "/x/KorvaneX.so"),
                                                       ("ThreadingModel", "REG_SZ", "Apartment")]),
                                key("MiscStatus", [("", "REG_DWORD", 0)])])])]),
    "HKEY_CURRENT_USER": key("HKEY_CURRENT_USER")}}, indent=1) + "\n"
write("registry_file", "registered", b"\x01" + body.encode())
write("registry_file", "empty_roots", b"\x01" + b'{"roots":{}}\n')
write("registry_file", "duplicate_names", b"\x01" + json.dumps({"roots": {"HKEY_CURRENT_USER": key(
    "HKEY_CURRENT_USER", keys=[key("A"), key("a")])}}).encode())
write("registry_file", "dword_too_big", b"\x01" + json.dumps({"roots": {"HKEY_CURRENT_USER": key(
    "HKEY_CURRENT_USER", [("n", "REG_DWORD", 2 ** 32)])}}).encode())
write("registry_file", "deep", b"\x01" + ('{"roots":{"HKEY_CLASSES_ROOT":' +
                                          '{"name":"k","keys":[' * 40 + '{"name":"leaf"}' +
                                          ']}' * 40 + '}}').encode())
write("registry_file", "not_utf8", b"\x01" + b'{"roots":{"HKEY_CURRENT_USER":{"name":"x","keys":[{"name":"\xff\xfe"}]}}}')
raw = ("KXREG 1 %d %08x\n" % (len(body), zlib.crc32(body.encode()))).encode() + body.encode()
write("registry_file", "raw_good", b"\x00" + raw)
write("registry_file", "raw_bad_crc", b"\x00" + raw[:-2] + b"}\n")
write("registry_file", "raw_newer", b"\x00" + raw.replace(b"KXREG 1", b"KXREG 2", 1))
write("registry_file", "raw_torn", b"\x00" + raw[: len(raw) // 2])

# ---- bmp: two placement bytes, then the file ----
for name in ("bitmap201.bmp", "bitmap202.bmp", "bitmap207.bmp"):
    data = open(os.path.join(RES, name), "rb").read()
    write("bmp", name, b"\x02\x03" + data)
    write("bmp", "truncated_" + name, b"\x00\x00" + data[: len(data) - 7])


def bmp(width, height, palette, rows, info=40, offset=None):
    pal = b"".join(bytes([c & 255, (c >> 8) & 255, (c >> 16) & 255, 0]) for c in palette)
    pixels = b"".join(rows)
    offset = 14 + info + len(pal) if offset is None else offset
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    infoh = struct.pack("<IiiHHIIiiII", info, width, height, 1, 4, 0, len(pixels), 0, 0,
                        len(palette), 0) + b"\x00" * (info - 40)
    return header + infoh + pal + pixels


write("bmp", "top_down_3x2", b"\x01\xff" + bmp(3, -2, [0xff0000, 0x00ff00], [b"\x01\x00\x00\x00",
                                                                            b"\x10\x10\x00\x00"]))
write("bmp", "index_beyond_palette", b"\x00\x00" + bmp(2, 1, [0xffffff], [b"\x12\x00\x00\x00"]))
write("bmp", "v5_header", b"\x00\x00" + bmp(1, 1, [0x123456], [b"\x00\x00\x00\x00"], info=124))
write("bmp", "overlapping_palette", b"\x00\x00" + bmp(1, 1, [1, 2], [b"\x00" * 4], offset=60))

# ---- kxauto_json: even first byte = JSON lines to the client, odd = one value to convert ----
lines = [
    {"member": "BSCallPrice", "args": [100, 100, 0.05, 1, 0.2, 0]},
    {"member": "BSDelta", "args": {"StockPrice": 100, "ExercisePrice": 100, "InterestRate": 0.05,
                                   "TimeToMaturity": 1, "Volatility": 0.2, "DividendRate": 0}},
    {"member": "Base", "put": 1},
    {"member": "Base"},
    {"member": "HistoricalVolatility", "args": {"Prices": {"lower_bound": 1, "values":
                                                           [[100, 50], [101, 51], [102, 49]]},
                                                "TradingDays": 252}},
    {"member": "BSImpliedVolatilitySkew", "args": [100, [80, 90], 0.04, 0.75, 0.01, [24.1, 15.9],
                                                   [2.49, 3.98], 5, None, None]},
    {"member": "BJEPutPrice", "args": [42, 40, 0.04, 0.75, 0.35, 0.08, 1]},
    {"member": "BinCallPrice", "args": [100, 100, 0.05, 1, 0.2, 0, 0, 0, 50, 1]},
    {"member": "HistoricalVolatility", "args": [[[[100, 101], [102, 103]]], 252]},
    {"member": "NoSuchMember"},
    {"member": "BSCallPrice", "args": ["nan", 100, 0.05, 1, 0.2, 0]},
    {"member": "BSCallPrice", "args": {"NotAParameter": 1}},
    {"member": "Abort"},
]
for i, line in enumerate(lines):
    write("kxauto_json", "call_%02d" % i, b"\x00" + json.dumps(line).encode() + b"\n")
write("kxauto_json", "batch", b"\x00" + b"\n".join(json.dumps(x).encode() for x in lines[:6]) +
      b"\nthis is not json\n")
values = [(0, "[1, 2, 3]"), (0, "[[1, 2], [3, 4]]"), (2, '{"lower_bound": 1, "values": [1.5, 2]}'),
          (0, '["a", 1, true, null]'), (3, "2147483648"), (2, '"nan"'), (5, "12"),
          (6, "true"), (8, "[[[1], [2]], [[3], [4]]]"), (0, "18446744073709551615"),
          (2, '{"lower_bound": 4294967296, "values": [1]}'), (4, "1e10"), (11, '{"scode": 5}')]
for i, (vt, value) in enumerate(values):
    write("kxauto_json", "value_%02d" % i, bytes([1 + 2 * (vt % 128) % 256]) + bytes([vt]) +
          value.encode())
