#include "fuzz_variants.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "kx/platform/bstr.h"
#include "kx/platform/safearray.h"

namespace kx::fuzz {

using namespace kx::platform;

namespace {

// Values the pricing methods and coercions treat specially: their boundaries, the sentinel,
// the reference options' inputs, non-finite numbers and extremes.
constexpr double kDoubles[] = {
    0.0, 1.0, -1.0, 0.5, 2.0, 3.0, 4.0, 100.0, 80.0, 90.0, 110.0, 42.0, 40.0, 0.05, 0.04, 0.2,
    0.35, 0.75, 0.08, 0.01, 0.1, 24.1, 15.9, 2.49, 3.98, 5.0, 50.0, 252.0, 1e-9, -0.0, -999.0,
    5000.0, 5001.0, 1.0000001, 0.9999999, 2147483647.0, 2147483648.0, -2147483649.0, 32767.5,
    1e300, -1e300, 5e-324, std::numeric_limits<double>::max(),
    std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity()};
constexpr LONG kLongs[] = {0, 1, -1, 2, 3, 4, 5, 10, 25, 50, 100, 252, 5000, 5001, 0x7FFFFFFF,
                           -0x7FFFFFFF - 1, 32767, 32768, -32768, -32769, 65535, 65536, 200};

constexpr VARTYPE kScalarTypes[] = {VT_EMPTY, VT_NULL, VT_I2,  VT_I4,    VT_R4,   VT_R8,
                                    VT_CY,    VT_DATE, VT_BSTR, VT_DISPATCH, VT_ERROR, VT_BOOL,
                                    VT_UNKNOWN, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4,
                                    VT_I8,    VT_UI8,  VT_INT, VT_UINT, VT_R8, VT_VARIANT, VT_I4};
constexpr VARTYPE kElementTypes[] = {VT_R8, VT_R8, VT_R8, VT_I4, VT_I2,  VT_BSTR, VT_VARIANT,
                                     VT_VARIANT, VT_R4, VT_BOOL, VT_I1,  VT_UI1, VT_UI2,
                                     VT_UI4, VT_INT, VT_UINT, VT_I8, VT_UI8, VT_DATE, VT_CY,
                                     VT_ERROR};
constexpr const char16_t* kTexts[] = {u"",    u"1",   u"100",  u" 0.5 ", u"-1",  u"True",
                                      u"false", u"1e400", u"nan", u"inf", u"+",   u"5000",
                                      u"0x10", u"1,5", u"\u00e9", u"abc"};

ULONG ElementBytes(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    default: return 8;
  }
}

BSTR DecodeText(FuzzInput& in) {
  const std::uint8_t pick = in.Byte();
  if (pick < 0xC0) return SysAllocString(kTexts[pick % std::size(kTexts)]);
  std::u16string text;
  const unsigned length = in.Below(24);
  for (unsigned i = 0; i < length; ++i) text.push_back(in.Raw<char16_t>());
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

}  // namespace

Arena::~Arena() {
  for (VARIANT& v : held_) (void)VariantClear(&v);
  for (Slot& slot : slots_) {
    // A referenced location holds one value of slot.vt; release what it owns.
    VARIANT owner;
    owner.vt = slot.vt;
    std::memcpy(&owner.llVal, slot.bytes, sizeof owner.llVal);
    if (slot.vt == VT_VARIANT) {
      (void)VariantClear(&slot.variant);
    } else if (slot.vt & VT_ARRAY) {
      (void)SafeArrayDestroy(owner.parray);
    } else if (slot.vt == VT_BSTR) {
      SysFreeString(owner.bstrVal);
    }
  }
}

Arena::Slot& Arena::NewSlot() { return slots_.emplace_back(); }

VARIANT& Arena::Hold() { return held_.emplace_back(); }

double DecodeDouble(FuzzInput& in) {
  const std::uint8_t pick = in.Byte();
  if (pick < 0xE0) return kDoubles[pick % std::size(kDoubles)];
  return in.Raw<double>();
}

LONG DecodeLong(FuzzInput& in) {
  const std::uint8_t pick = in.Byte();
  if (pick < 0xE0) return kLongs[pick % std::size(kLongs)];
  return in.Raw<LONG>();
}

VARTYPE DecodeElementType(FuzzInput& in) {
  const std::uint8_t pick = in.Byte();
  if (pick < 0xF8) return kElementTypes[pick % std::size(kElementTypes)];
  return in.Raw<VARTYPE>();  // mostly types no array may have
}

void DecodeScalar(FuzzInput& in, VARTYPE vt, VARIANT* out) {
  VariantInit(out);
  out->vt = vt;
  switch (vt) {
    case VT_R8: case VT_DATE: out->dblVal = DecodeDouble(in); break;
    case VT_R4: out->fltVal = static_cast<float>(DecodeDouble(in)); break;
    case VT_I4: case VT_INT: case VT_UI4: case VT_UINT: out->lVal = DecodeLong(in); break;
    case VT_I2: case VT_UI2: out->iVal = static_cast<SHORT>(DecodeLong(in)); break;
    case VT_I1: case VT_UI1: out->bVal = in.Byte(); break;
    case VT_I8: case VT_UI8: case VT_CY:
      out->llVal = in.Bool() ? DecodeLong(in) : in.Raw<std::int64_t>();
      break;
    case VT_BOOL:
      out->boolVal = in.Bool() ? VARIANT_TRUE : static_cast<VARIANT_BOOL>(in.Byte());
      break;
    case VT_ERROR: out->scode = in.Bool() ? DISP_E_PARAMNOTFOUND : in.Raw<SCODE>(); break;
    case VT_BSTR: out->bstrVal = in.Bool() ? nullptr : DecodeText(in); break;
    case VT_DISPATCH: case VT_UNKNOWN: out->punkVal = nullptr; break;  // a null object
    case VT_DECIMAL: out->llVal = in.Raw<std::int64_t>(); break;
    default: out->llVal = 0; break;
  }
}

SAFEARRAY* DecodeArray(FuzzInput& in, VARTYPE vt, int depth) {
  const unsigned dims = in.Below(5);  // 0 asks for a descriptor the platform refuses
  SAFEARRAYBOUND bounds[4];
  std::uint64_t total = 1;
  for (unsigned d = 0; d < dims; ++d) {
    const std::uint8_t count = in.Byte();
    bounds[d].cElements = count < 0xF0 ? count % 9 : in.Raw<ULONG>();
    const std::uint8_t lower = in.Byte();
    bounds[d].lLbound = lower < 0x80 ? 0 : lower < 0xC0 ? 1 : lower < 0xF0 ? -1 : in.Raw<LONG>();
    total *= bounds[d].cElements;
  }
  // Huge counts are refused by the caller's side in practice; keep each run quick.
  if (total > kMaxArrayElements) return nullptr;
  SAFEARRAY* psa = SafeArrayCreate(vt, dims, bounds);
  if (!psa) return nullptr;
  const ULONG count = SafeArrayTotalCount(psa);
  for (ULONG i = 0; i < count && !in.empty(); ++i) {
    unsigned char* element = static_cast<unsigned char*>(psa->pvData) + i * psa->cbElements;
    if (vt == VT_VARIANT) {
      auto* v = reinterpret_cast<VARIANT*>(element);
      if (depth < 2 && in.Byte() >= 0xF0) {
        const VARTYPE inner = DecodeElementType(in);
        SAFEARRAY* nested = DecodeArray(in, inner, depth + 1);
        if (nested) {
          v->vt = VT_ARRAY | inner;
          v->parray = nested;
        }
      } else {
        DecodeScalar(in, kScalarTypes[in.Below(std::size(kScalarTypes))], v);
      }
    } else if (vt == VT_BSTR) {
      *reinterpret_cast<BSTR*>(element) = in.Byte() < 0x20 ? nullptr : DecodeText(in);
    } else {
      VARIANT value;
      DecodeScalar(in, vt, &value);
      std::memcpy(element, &value.llVal, ElementBytes(vt));
    }
  }
  return psa;
}

void DecodeVariant(FuzzInput& in, Arena& arena, VARIANT* out, int depth) {
  VariantInit(out);
  const std::uint8_t shape = in.Byte();
  const bool by_ref = (shape & 0x80) != 0;
  const bool array = (shape & 0x40) != 0;
  VARTYPE base;
  if ((shape & 0x3F) == 0x3F) {
    base = in.Raw<VARTYPE>() & VT_TYPEMASK;  // any type number, valid or not
  } else {
    base = array ? DecodeElementType(in) : kScalarTypes[(shape & 0x3F) % std::size(kScalarTypes)];
  }
  VARIANT value;
  if (array) {
    value.vt = VT_ARRAY | base;
    value.parray = in.Byte() == 0xFF ? nullptr : DecodeArray(in, base, depth);
    if (!value.parray && in.Bool()) {
      value.vt = VT_ARRAY | VT_R8;  // an array VARIANT without a descriptor
    }
  } else if (by_ref && base == VT_VARIANT && depth < 2) {
    Arena::Slot& slot = arena.NewSlot();
    slot.vt = VT_VARIANT;
    DecodeVariant(in, arena, &slot.variant, depth + 1);
    out->vt = VT_BYREF | VT_VARIANT;
    out->pvarVal = in.Byte() == 0xFF ? nullptr : &slot.variant;
    return;
  } else {
    DecodeScalar(in, base, &value);
  }
  if (!by_ref) {
    *out = value;  // the caller owns it and clears it
    return;
  }
  Arena::Slot& slot = arena.NewSlot();
  slot.vt = value.vt;
  std::memcpy(slot.bytes, &value.llVal, sizeof value.llVal);
  out->vt = static_cast<VARTYPE>(VT_BYREF | value.vt);
  out->byref = in.Byte() == 0xFF ? nullptr : slot.bytes;
}

}  // namespace kx::fuzz
