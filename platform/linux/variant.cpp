#include "kx/platform/variant.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "kx/platform/unknown.h"

namespace kx::platform {
namespace {

bool IsScalarType(VARTYPE vt) noexcept {
  switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY:
    case VT_DATE: case VT_BSTR: case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_UNKNOWN:
    case VT_DECIMAL: case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8:
    case VT_INT: case VT_UINT:
      return true;
    default:
      return false;
  }
}

// What a VARIANT may hold: a scalar; an array of a non-empty scalar type or of VARIANTs; or a
// reference to either (including a reference to a VARIANT).
bool IsValidType(VARTYPE vt) noexcept {
  if (vt & ~(VT_TYPEMASK | VT_ARRAY | VT_BYREF)) return false;
  const VARTYPE base = vt & VT_TYPEMASK;
  if (vt & (VT_ARRAY | VT_BYREF)) {
    return base == VT_VARIANT || (IsScalarType(base) && base != VT_EMPTY && base != VT_NULL);
  }
  return IsScalarType(base);
}

// Copies a held value or a reference (not what it points at) into dest, assumed empty.
HRESULT CopyShallowOrOwned(VARIANT* dest, const VARIANT* src) noexcept {
  const VARTYPE vt = src->vt;
  if ((vt & VT_ARRAY) && !(vt & VT_BYREF)) {
    SAFEARRAY* copy = nullptr;
    if (src->parray) {
      const HRESULT hr = SafeArrayCopy(src->parray, &copy);
      if (FAILED(hr)) return hr;
    }
    dest->vt = vt;
    dest->parray = copy;
    return S_OK;
  }
  if (vt == VT_BSTR) {
    BSTR copy = nullptr;
    if (src->bstrVal) {
      copy = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
      if (!copy) return E_OUTOFMEMORY;
    }
    dest->vt = VT_BSTR;
    dest->bstrVal = copy;
    return S_OK;
  }
  if ((vt == VT_DISPATCH || vt == VT_UNKNOWN) && src->punkVal) src->punkVal->AddRef();
  *dest = *src;
  return S_OK;
}

// Moves src's content into dest after clearing dest; src is left empty.
HRESULT MoveInto(VARIANT* dest, VARIANT* src) noexcept {
  const HRESULT hr = VariantClear(dest);
  if (FAILED(hr)) {
    (void)VariantClear(src);
    return hr;
  }
  *dest = *src;
  src->vt = VT_EMPTY;
  src->llVal = 0;
  return S_OK;
}

// ---- Numeric coercion ----------------------------------------------------------------------

// A number read from a VARIANT: exact integers stay integers so that 64-bit values survive.
struct Number {
  enum Kind { kSigned, kUnsigned, kReal } kind = kSigned;
  std::int64_t s = 0;
  std::uint64_t u = 0;
  double r = 0;
};

Number Signed(std::int64_t v) { Number n; n.kind = Number::kSigned; n.s = v; return n; }
Number Unsigned(std::uint64_t v) { Number n; n.kind = Number::kUnsigned; n.u = v; return n; }
Number Real(double v) { Number n; n.kind = Number::kReal; n.r = v; return n; }

double AsReal(const Number& n) noexcept {
  switch (n.kind) {
    case Number::kSigned: return static_cast<double>(n.s);
    case Number::kUnsigned: return static_cast<double>(n.u);
    case Number::kReal: return n.r;
  }
  return 0;
}

// Parses a number in the "C" locale, allowing surrounding blanks and a leading '+'.
HRESULT ParseNumber(std::u16string_view text, Number* out) noexcept {
  std::string narrow;
  for (char16_t c : text) {
    if (c > 0x7F) return DISP_E_TYPEMISMATCH;
    narrow.push_back(static_cast<char>(c));
  }
  const auto first = narrow.find_first_not_of(" \t");
  if (first == std::string::npos) return DISP_E_TYPEMISMATCH;
  const auto last = narrow.find_last_not_of(" \t");
  std::string_view body(narrow.data() + first, last - first + 1);
  if (!body.empty() && body.front() == '+') body.remove_prefix(1);
  if (body.empty() || body.front() == '+' || body.front() == ' ') return DISP_E_TYPEMISMATCH;
  std::int64_t integer = 0;
  auto [iend, ierr] = std::from_chars(body.data(), body.data() + body.size(), integer);
  if (ierr == std::errc() && iend == body.data() + body.size()) {
    *out = Signed(integer);
    return S_OK;
  }
  // Above 2^63 - 1 an integer may still be exact as an unsigned one (a VT_UI8 written as text).
  std::uint64_t natural = 0;
  auto [uend, uerr] = std::from_chars(body.data(), body.data() + body.size(), natural);
  if (uerr == std::errc() && uend == body.data() + body.size()) {
    *out = Unsigned(natural);
    return S_OK;
  }
  double real = 0;
  auto [rend, rerr] = std::from_chars(body.data(), body.data() + body.size(), real);
  if (rend != body.data() + body.size()) return DISP_E_TYPEMISMATCH;
  if (rerr == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
  if (rerr != std::errc()) return DISP_E_TYPEMISMATCH;
  if (std::isnan(real) || std::isinf(real)) return DISP_E_TYPEMISMATCH;  // "nan"/"inf" are not numbers here
  *out = Real(real);
  return S_OK;
}

HRESULT ReadNumber(const VARIANT& v, Number* out) noexcept {
  switch (v.vt) {
    case VT_EMPTY: *out = Signed(0); return S_OK;
    case VT_I1: *out = Signed(static_cast<std::int8_t>(v.bVal)); return S_OK;
    case VT_UI1: *out = Unsigned(v.bVal); return S_OK;
    case VT_I2: *out = Signed(v.iVal); return S_OK;
    case VT_UI2: *out = Unsigned(v.uiVal); return S_OK;
    case VT_I4: *out = Signed(v.lVal); return S_OK;
    case VT_UI4: *out = Unsigned(v.ulVal); return S_OK;
    case VT_INT: *out = Signed(v.intVal); return S_OK;
    case VT_UINT: *out = Unsigned(v.uintVal); return S_OK;
    case VT_I8: *out = Signed(v.llVal); return S_OK;
    case VT_UI8: *out = Unsigned(static_cast<std::uint64_t>(v.llVal)); return S_OK;
    case VT_R4: *out = Real(v.fltVal); return S_OK;
    case VT_R8: *out = Real(v.dblVal); return S_OK;
    case VT_DATE: *out = Real(v.date); return S_OK;
    case VT_CY: *out = Real(static_cast<double>(v.llVal) / 10000.0); return S_OK;
    case VT_BOOL: *out = Signed(v.boolVal ? -1 : 0); return S_OK;
    case VT_BSTR:
      return ParseNumber(std::u16string_view(v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal)), out);
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// The integer a number rounds to (halves to even, as the platform rounds), within [lo, hi].
HRESULT ToInteger(const Number& n, std::int64_t lo, std::uint64_t hi, std::int64_t* s,
                  std::uint64_t* u, bool* negative) noexcept {
  switch (n.kind) {
    case Number::kSigned:
      if (n.s < lo || (n.s > 0 && static_cast<std::uint64_t>(n.s) > hi)) return DISP_E_OVERFLOW;
      *negative = n.s < 0;
      *s = n.s;
      *u = static_cast<std::uint64_t>(n.s);
      return S_OK;
    case Number::kUnsigned:
      if (n.u > hi) return DISP_E_OVERFLOW;
      *negative = false;
      *u = n.u;
      *s = static_cast<std::int64_t>(n.u);
      return S_OK;
    case Number::kReal: {
      if (std::isnan(n.r)) return DISP_E_OVERFLOW;
      const double r = std::nearbyint(n.r);  // default rounding mode: to nearest, ties to even
      // 2^63 and 2^64 are exact doubles; compare before converting so the cast is defined.
      if (r < -9223372036854775808.0 || r >= 18446744073709551616.0) return DISP_E_OVERFLOW;
      if (r < 0) {
        const auto v = static_cast<std::int64_t>(r);
        if (v < lo) return DISP_E_OVERFLOW;
        *negative = true;
        *s = v;
        *u = static_cast<std::uint64_t>(v);
      } else {
        const auto v = static_cast<std::uint64_t>(r);
        if (v > hi) return DISP_E_OVERFLOW;
        *negative = false;
        *u = v;
        *s = static_cast<std::int64_t>(v);
      }
      return S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

std::u16string Widen(std::string_view s) { return std::u16string(s.begin(), s.end()); }

// Formats like the platform: integers in full, reals with 15 significant digits (7 for R4),
// exponent form as "1E+20".
std::u16string FormatNumber(const Number& n, bool single) {
  char buffer[64];
  std::to_chars_result res{};
  switch (n.kind) {
    case Number::kSigned: res = std::to_chars(buffer, buffer + sizeof buffer, n.s); break;
    case Number::kUnsigned: res = std::to_chars(buffer, buffer + sizeof buffer, n.u); break;
    case Number::kReal:
      res = std::to_chars(buffer, buffer + sizeof buffer, n.r, std::chars_format::general, single ? 7 : 15);
      break;
  }
  std::string text(buffer, res.ptr);
  for (char& c : text) {
    if (c == 'e') c = 'E';
  }
  return Widen(text);
}

// Writes the number as type vt into out (already empty).
HRESULT WriteNumber(const Number& n, VARTYPE vt, USHORT flags, VARIANT* out) noexcept {
  std::int64_t s = 0;
  std::uint64_t u = 0;
  bool negative = false;
  HRESULT hr = S_OK;
  auto integer = [&](std::int64_t lo, std::uint64_t hi) { return ToInteger(n, lo, hi, &s, &u, &negative); };
  switch (vt) {
    case VT_I1: hr = integer(-128, 127); out->bVal = static_cast<BYTE>(s); break;
    case VT_UI1: hr = integer(0, 255); out->bVal = static_cast<BYTE>(u); break;
    case VT_I2: hr = integer(-32768, 32767); out->iVal = static_cast<SHORT>(s); break;
    case VT_UI2: hr = integer(0, 65535); out->uiVal = static_cast<std::uint16_t>(u); break;
    case VT_I4: hr = integer(INT32_MIN, INT32_MAX); out->lVal = static_cast<LONG>(s); break;
    case VT_INT: hr = integer(INT32_MIN, INT32_MAX); out->intVal = static_cast<std::int32_t>(s); break;
    case VT_UI4: hr = integer(0, UINT32_MAX); out->ulVal = static_cast<std::uint32_t>(u); break;
    case VT_UINT: hr = integer(0, UINT32_MAX); out->uintVal = static_cast<std::uint32_t>(u); break;
    case VT_I8: hr = integer(INT64_MIN, INT64_MAX); out->llVal = s; break;
    case VT_UI8: hr = integer(0, UINT64_MAX); out->llVal = static_cast<std::int64_t>(u); break;
    case VT_R8: out->dblVal = AsReal(n); break;
    case VT_DATE: out->date = AsReal(n); break;
    case VT_R4: {
      const double r = AsReal(n);
      if (std::isfinite(r) && std::fabs(r) > std::numeric_limits<float>::max()) return DISP_E_OVERFLOW;
      out->fltVal = static_cast<float>(r);
      break;
    }
    case VT_CY: {
      const double scaled = std::nearbyint(AsReal(n) * 10000.0);
      if (!(scaled >= -9223372036854775808.0 && scaled < 9223372036854775808.0)) return DISP_E_OVERFLOW;
      out->llVal = static_cast<std::int64_t>(scaled);
      break;
    }
    case VT_BOOL: {
      const bool nonzero = n.kind == Number::kReal ? n.r != 0 : (n.kind == Number::kSigned ? n.s != 0 : n.u != 0);
      out->boolVal = nonzero ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    }
    case VT_BSTR: {
      std::u16string text;
      try {
        text = FormatNumber(n, false);
      } catch (...) {
        return E_OUTOFMEMORY;
      }
      out->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      if (!out->bstrVal) return E_OUTOFMEMORY;
      break;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
  (void)flags;
  if (FAILED(hr)) return hr;
  out->vt = vt;
  return S_OK;
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x - u'A' + u'a');
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y - u'A' + u'a');
    if (x != y) return false;
  }
  return true;
}

// The coercion of a held (non-reference) value; out is empty on entry and on failure.
HRESULT Coerce(const VARIANT& src, USHORT flags, VARTYPE vt, VARIANT* out, int depth) noexcept {
  if (src.vt == vt) return CopyShallowOrOwned(out, &src);
  if (vt == VT_EMPTY) return S_OK;  // anything may be dropped
  if ((src.vt & VT_ARRAY) || (vt & VT_ARRAY)) return DISP_E_TYPEMISMATCH;

  // An object converts through its default property, unless the caller forbids it.
  if (src.vt == VT_DISPATCH || src.vt == VT_UNKNOWN) {
    if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
      if (!src.punkVal) {
        out->vt = vt;
        out->punkVal = nullptr;
        return S_OK;
      }
      void* object = nullptr;
      const HRESULT hr = src.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &object);
      if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
      out->vt = vt;
      out->byref = object;
      return S_OK;
    }
    if ((flags & VARIANT_NOVALUEPROP) || src.vt != VT_DISPATCH || !src.pdispVal || depth > 4) {
      return DISP_E_TYPEMISMATCH;
    }
    VARIANT value;
    DISPPARAMS none;
    HRESULT hr = src.pdispVal->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                      &none, &value, nullptr, nullptr);
    if (FAILED(hr)) {
      (void)VariantClear(&value);
      return DISP_E_TYPEMISMATCH;
    }
    hr = Coerce(value, flags, vt, out, depth + 1);
    (void)VariantClear(&value);
    return hr;
  }

  if (src.vt == VT_NULL || vt == VT_NULL) return DISP_E_TYPEMISMATCH;
  if (src.vt == VT_ERROR || vt == VT_ERROR) {
    // An error code is a 32-bit integer and nothing else.
    if (src.vt == VT_ERROR && (vt == VT_I4 || vt == VT_INT)) {
      out->vt = vt;
      out->lVal = src.scode;
      return S_OK;
    }
    if (vt == VT_ERROR && (src.vt == VT_I4 || src.vt == VT_INT)) {
      out->vt = VT_ERROR;
      out->scode = src.lVal;
      return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
  }
  if (vt == VT_DISPATCH || vt == VT_UNKNOWN || vt == VT_DECIMAL || src.vt == VT_DECIMAL) {
    return DISP_E_TYPEMISMATCH;
  }

  if (src.vt == VT_BOOL && vt == VT_BSTR && (flags & VARIANT_ALPHABOOL)) {
    out->bstrVal = SysAllocString(src.boolVal ? u"True" : u"False");
    if (!out->bstrVal) return E_OUTOFMEMORY;
    out->vt = VT_BSTR;
    return S_OK;
  }
  if (src.vt == VT_BSTR && vt == VT_BOOL) {
    const std::u16string_view text(src.bstrVal ? src.bstrVal : u"", SysStringLen(src.bstrVal));
    if (EqualsIgnoringCase(text, u"True") || EqualsIgnoringCase(text, u"False")) {
      out->vt = VT_BOOL;
      out->boolVal = EqualsIgnoringCase(text, u"True") ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    }
  }
  if (src.vt == VT_R4 && vt == VT_BSTR) {
    std::u16string text;
    try {
      text = FormatNumber(Real(src.fltVal), true);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    out->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!out->bstrVal) return E_OUTOFMEMORY;
    out->vt = VT_BSTR;
    return S_OK;
  }
  if (src.vt == VT_EMPTY && vt == VT_BSTR) {
    out->bstrVal = SysAllocStringLen(u"", 0);
    if (!out->bstrVal) return E_OUTOFMEMORY;
    out->vt = VT_BSTR;
    return S_OK;
  }

  Number n;
  const HRESULT hr = ReadNumber(src, &n);
  if (FAILED(hr)) return hr;
  return WriteNumber(n, vt, flags, out);
}

}  // namespace

void VariantInit(VARIANT* v) noexcept {
  if (!v) return;
  v->vt = VT_EMPTY;
  v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
  v->llVal = 0;
}

HRESULT VariantClear(VARIANT* v) noexcept {
  if (!v) return E_INVALIDARG;
  const VARTYPE vt = v->vt;
  if (!IsValidType(vt)) return DISP_E_BADVARTYPE;
  if (!(vt & VT_BYREF)) {
    if (vt & VT_ARRAY) {
      if (v->parray) {
        const HRESULT hr = SafeArrayDestroy(v->parray);
        if (FAILED(hr)) return hr;  // a locked array stays with its VARIANT
      }
    } else if (vt == VT_BSTR) {
      SysFreeString(v->bstrVal);
    } else if ((vt == VT_DISPATCH || vt == VT_UNKNOWN) && v->punkVal) {
      v->punkVal->Release();
    }
  }
  v->vt = VT_EMPTY;
  v->llVal = 0;
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) noexcept {
  if (!dest || !src) return E_INVALIDARG;
  if (dest == src) return S_OK;
  if (!IsValidType(src->vt)) return DISP_E_BADVARTYPE;
  HRESULT hr = VariantClear(dest);
  if (FAILED(hr)) return hr;
  VARIANT copy;
  hr = CopyShallowOrOwned(&copy, src);
  if (FAILED(hr)) return hr;
  *dest = copy;
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src) noexcept {
  if (!dest || !src) return E_INVALIDARG;
  if (!IsValidType(src->vt)) return DISP_E_BADVARTYPE;
  if (!(src->vt & VT_BYREF)) {
    if (dest == src) return S_OK;
    return VariantCopy(dest, src);
  }
  if (!src->byref) return E_POINTER;
  const VARTYPE base = src->vt & ~VT_BYREF;
  VARIANT value;  // what the reference points at, as a held value, not yet owned
  if (base == VT_VARIANT) {
    const VARIANT* inner = src->pvarVal;
    if (inner->vt & VT_BYREF) return E_INVALIDARG;  // one level only, as the platform does
    if (!IsValidType(inner->vt)) return DISP_E_BADVARTYPE;
    value = *inner;
  } else if (base & VT_ARRAY) {
    value.vt = base;
    value.parray = *src->pparray;
  } else {
    value.vt = base;
    switch (base) {
      case VT_I1: case VT_UI1: value.bVal = *src->pbVal; break;
      case VT_I2: case VT_UI2: case VT_BOOL: value.iVal = *src->piVal; break;
      case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: value.lVal = *src->plVal; break;
      case VT_R4: value.fltVal = *src->pfltVal; break;
      case VT_BSTR: value.bstrVal = *src->pbstrVal; break;
      case VT_DISPATCH: case VT_UNKNOWN: value.punkVal = *src->ppunkVal; break;
      case VT_R8: case VT_DATE: case VT_CY: case VT_I8: case VT_UI8:
        std::memcpy(&value.llVal, src->byref, sizeof value.llVal);
        break;
      default:
        return DISP_E_BADVARTYPE;
    }
  }
  VARIANT copy;
  HRESULT hr = CopyShallowOrOwned(&copy, &value);
  if (FAILED(hr)) return hr;
  return MoveInto(dest, &copy);
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) noexcept {
  if (!dest || !src) return E_INVALIDARG;
  if (!IsValidType(src->vt)) return DISP_E_BADVARTYPE;
  if ((vt & VT_BYREF) || !IsValidType(vt)) return DISP_E_BADVARTYPE;
  VARIANT held;  // src with one reference followed, owned
  HRESULT hr = VariantCopyInd(&held, src);
  if (FAILED(hr)) return hr;
  VARIANT out;
  hr = Coerce(held, flags, vt, &out, 0);
  (void)VariantClear(&held);
  if (FAILED(hr)) {
    (void)VariantClear(&out);
    return hr;
  }
  return MoveInto(dest, &out);
}

}  // namespace kx::platform
