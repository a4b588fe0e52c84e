#include "variant_json.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "kx/platform/safearray.h"

namespace kx::kxauto {

using namespace kx::platform;
using json = nlohmann::ordered_json;

namespace {

[[noreturn]] void Fail(const std::string& why) { throw ConversionError{why}; }

// Input from anyone: lists nested deeper, or arrays held in arrays deeper, than any real call
// needs would only exhaust the stack of the recursive conversion.
constexpr std::size_t kMaxNesting = 64;
thread_local std::size_t nesting = 0;

class NestingLevel {
 public:
  NestingLevel() {
    if (nesting >= kMaxNesting) {
      Fail("arrays nested deeper than " + std::to_string(kMaxNesting) + " levels");
    }
    ++nesting;
  }
  ~NestingLevel() { --nesting; }
  NestingLevel(const NestingLevel&) = delete;
  NestingLevel& operator=(const NestingLevel&) = delete;
};

bool IsSpecialDouble(const json& v, double* out) {
  if (!v.is_string()) return false;
  const std::string& s = v.get_ref<const std::string&>();
  if (s == "nan")
    *out = std::numeric_limits<double>::quiet_NaN();
  else if (s == "inf")
    *out = std::numeric_limits<double>::infinity();
  else if (s == "-inf")
    *out = -std::numeric_limits<double>::infinity();
  else
    return false;
  return true;
}

bool IsNumberLike(const json& v) {
  double ignored;
  return v.is_number() || IsSpecialDouble(v, &ignored);
}

double ToDouble(const json& v) {
  double d = 0;
  if (IsSpecialDouble(v, &d)) return d;
  if (!v.is_number()) Fail("expected a number, found " + v.dump());
  return v.get<double>();
}

// Whether a JSON integer fits a LONG; an unsigned one above 2^63 must not wrap to a negative.
bool FitsLong(const json& v) {
  if (v.is_number_unsigned()) return v.get<std::uint64_t>() <= INT32_MAX;
  return v.is_number_integer() && v.get<std::int64_t>() >= INT32_MIN &&
         v.get<std::int64_t>() <= INT32_MAX;
}

// The natural value of a JSON scalar.
void NaturalScalar(const json& v, VARIANT* out) {
  double special;
  if (v.is_boolean()) {
    out->vt = VT_BOOL;
    out->boolVal = v.get<bool>() ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (FitsLong(v)) {
    out->vt = VT_I4;
    out->lVal = static_cast<LONG>(v.get<std::int64_t>());
  } else if (v.is_number() || IsSpecialDouble(v, &special)) {
    out->vt = VT_R8;
    out->dblVal = ToDouble(v);
  } else if (v.is_string()) {
    out->vt = VT_BSTR;
    out->bstrVal = SysAllocStringUtf8(v.get_ref<const std::string&>());
    if (!out->bstrVal) Fail("out of memory");
  } else {
    Fail("cannot pass " + v.dump() + " as a single value");
  }
}

// The extents of nested lists, outermost first: every list at one depth must have the length of
// the first one there, and values stand only at the deepest level.
std::vector<ULONG> ShapeOf(const json& values) {
  std::vector<ULONG> extents;
  for (const json* level = &values;; level = &(*level)[0]) {
    extents.push_back(static_cast<ULONG>(level->size()));
    if (level->empty() || !(*level)[0].is_array()) break;
  }
  return extents;
}

// Checks that `node` at `depth` fits `extents`; clears *numbers when a value is not a number.
void CheckShape(const json& node, std::size_t depth, const std::vector<ULONG>& extents,
                bool* numbers) {
  if (node.size() != extents[depth]) {
    Fail(depth == 1 && extents.size() == 2
             ? "the rows of a 2-D array must be lists of one length"
             : "the lists at depth " + std::to_string(depth + 1) + " of an array must all have " +
                   std::to_string(extents[depth]) + " elements");
  }
  const bool innermost = depth + 1 == extents.size();
  for (const json& x : node) {
    if (x.is_array() != !innermost) Fail("mixed lists and values in one array");
    if (innermost)
      *numbers = *numbers && IsNumberLike(x);
    else
      CheckShape(x, depth + 1, extents, numbers);
  }
}

SAFEARRAY* MakeArray(const json& shape) {
  const json* values = &shape;
  LONG lower = 0;
  if (shape.is_object()) {
    if (!shape.contains("values") || !shape["values"].is_array()) {
      Fail("an array object needs \"values\": [...]");
    }
    values = &shape["values"];
    if (shape.contains("lower_bound")) {
      if (!FitsLong(shape["lower_bound"])) Fail("\"lower_bound\" must be a 32-bit integer");
      lower = static_cast<LONG>(shape["lower_bound"].get<std::int64_t>());
    }
  }
  // Nested lists of any depth are one array of that many dimensions, the first index outermost.
  const std::vector<ULONG> extents = ShapeOf(*values);
  if (extents.size() > kMaxNesting) {
    Fail("arrays of more than " + std::to_string(kMaxNesting) + " dimensions");
  }
  bool numbers = true;
  CheckShape(*values, 0, extents, &numbers);
  // Every index must be a LONG too: the last one of a dimension is lower + extent - 1.
  for (ULONG extent : extents) {
    if (static_cast<std::int64_t>(lower) + extent - 1 > INT32_MAX) {
      Fail("the array's indices would pass 2147483647");
    }
  }
  const VARTYPE element = numbers ? VT_R8 : VT_VARIANT;
  std::vector<SAFEARRAYBOUND> bounds;
  for (ULONG extent : extents) bounds.push_back({extent, lower});
  SAFEARRAY* array = SafeArrayCreate(element, static_cast<UINT>(bounds.size()), bounds.data());
  if (!array) Fail("cannot create an array of that size");
  std::vector<LONG> index(extents.size(), lower);
  auto put = [&](const json& x) {
    HRESULT hr;
    if (numbers) {
      const double d = ToDouble(x);
      hr = SafeArrayPutElement(array, index.data(), &d);
    } else {
      Variant v;
      try {
        JsonToVariant(x, VT_VARIANT, &v);
      } catch (...) {
        (void)SafeArrayDestroy(array);
        throw;
      }
      hr = SafeArrayPutElement(array, index.data(), &v);
    }
    if (FAILED(hr)) {
      (void)SafeArrayDestroy(array);
      Fail("cannot fill the array");
    }
  };
  auto fill = [&](auto& self, const json& node, std::size_t depth) -> void {
    for (std::size_t k = 0; k < node.size(); ++k) {
      index[depth] = lower + static_cast<LONG>(k);
      if (depth + 1 == extents.size())
        put(node[k]);
      else
        self(self, node[k], depth + 1);
    }
  };
  fill(fill, *values, 0);
  return array;
}

json ArrayToJson(SAFEARRAY* array) {
  if (!array) return nullptr;
  VARTYPE element = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(array, &element))) return nullptr;
  const UINT dims = SafeArrayGetDim(array);
  if (dims < 1) return nullptr;
  std::vector<LONG> lower(dims), upper(dims);
  for (UINT d = 0; d < dims; ++d) {
    if (FAILED(SafeArrayGetLBound(array, d + 1, &lower[d])) ||
        FAILED(SafeArrayGetUBound(array, d + 1, &upper[d]))) {
      return nullptr;
    }
  }
  std::vector<LONG> index(dims);
  auto element_at = [&]() -> json {
    Variant v;
    switch (element) {
      case VT_R8: {
        double d = 0;
        (void)SafeArrayGetElement(array, index.data(), &d);
        return DoubleToJson(d);
      }
      case VT_I4: {
        LONG l = 0;
        (void)SafeArrayGetElement(array, index.data(), &l);
        return l;
      }
      case VT_I2: {
        SHORT s = 0;
        (void)SafeArrayGetElement(array, index.data(), &s);
        return s;
      }
      case VT_BSTR: {
        BSTR b = nullptr;
        (void)SafeArrayGetElement(array, index.data(), &b);
        Bstr owned = Bstr::Attach(b);
        return owned.Utf8();
      }
      case VT_VARIANT:
        (void)SafeArrayGetElement(array, index.data(), &v);
        return VariantToJson(v);
      default:
        return nullptr;
    }
  };
  // Nested lists, the first dimension outermost: the shape JSON input takes.
  auto level = [&](auto& self, UINT d) -> json {
    json out = json::array();
    for (std::int64_t k = lower[d]; k <= upper[d]; ++k) {
      index[d] = static_cast<LONG>(k);
      out.push_back(d + 1 == dims ? element_at() : self(self, d + 1));
    }
    return out;
  };
  return level(level, 0);
}

}  // namespace

json DoubleToJson(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  return value;
}

void JsonToVariant(const json& value, VARTYPE declared, VARIANT* out) {
  VariantInit(out);
  const bool is_array_spec = value.is_array() || (value.is_object() && value.contains("values"));
  if (is_array_spec) {
    const NestingLevel level;
    out->parray = MakeArray(value);
    VARTYPE element = VT_EMPTY;
    (void)SafeArrayGetVartype(out->parray, &element);
    out->vt = static_cast<VARTYPE>(VT_ARRAY | element);
    return;
  }
  if (value.is_object()) Fail("unexpected object " + value.dump());
  if (value.is_null()) Fail("null is not a value");
  switch (declared) {
    case VT_R8:
    case VT_R4:
      if (IsNumberLike(value)) {
        out->vt = VT_R8;
        out->dblVal = ToDouble(value);
        if (declared == VT_R4) {
          out->vt = VT_R4;
          out->fltVal = static_cast<float>(out->dblVal);
        }
        return;
      }
      break;
    default:
      break;
  }
  // Other declared types are coerced by the object's dispatch, which reports a mismatch with the
  // argument's position.
  NaturalScalar(value, out);
}

json VariantToJson(const VARIANT& value) {
  const VARTYPE vt = value.vt;
  if (vt & VT_BYREF) {
    if (!value.byref) return nullptr;
    const VARTYPE base = vt & static_cast<VARTYPE>(~VT_BYREF);
    if (base == VT_VARIANT) return VariantToJson(*value.pvarVal);
    if (base & VT_ARRAY) return ArrayToJson(*value.pparray);
    switch (base) {
      case VT_R8:
        return DoubleToJson(*value.pdblVal);
      case VT_R4:
        return DoubleToJson(*value.pfltVal);
      case VT_I4:
        return *value.plVal;
      case VT_I2:
        return *value.piVal;
      case VT_BOOL:
        return *value.pboolVal != VARIANT_FALSE;
      case VT_BSTR:
        return BstrToUtf8(*value.pbstrVal);
      default:
        return "<by-reference value of type " + std::to_string(base) + ">";
    }
  }
  if (vt & VT_ARRAY) return ArrayToJson(value.parray);
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
      return nullptr;
    case VT_R8:
      return DoubleToJson(value.dblVal);
    case VT_R4:
      return DoubleToJson(value.fltVal);
    case VT_I4:
    case VT_INT:
      return value.lVal;
    case VT_I2:
      return value.iVal;
    case VT_UI1:
      return value.bVal;
    case VT_UI2:
      return value.uiVal;
    case VT_UI4:
    case VT_UINT:
      return value.ulVal;
    case VT_I8:
      return value.llVal;
    case VT_BOOL:
      return value.boolVal != VARIANT_FALSE;
    case VT_BSTR:
      return BstrToUtf8(value.bstrVal);
    case VT_ERROR:
      return json{{"scode", value.scode}, {"scode_name", HresultName(value.scode)}};
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return "<object>";
    default:
      return "<value of type " + std::to_string(vt) + ">";
  }
}

}  // namespace kx::kxauto
