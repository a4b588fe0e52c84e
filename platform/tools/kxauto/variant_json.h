// Automation values to and from JSON for the command-line client.
//
// JSON in: numbers, texts, true/false, arrays (a list is 1-D, a list of equal-length lists is 2-D
// with the first index the row, lists nested n deep are n-D with the first index outermost;
// numbers make VT_R8 arrays, anything else VT_VARIANT arrays) and
// {"lower_bound": n, "values": [...]} for an array whose indices start at n. The texts "nan",
// "inf" and "-inf" stand for those doubles where a double is wanted.
// JSON out: the same shapes, any number of dimensions; non-finite doubles as "nan", "inf", "-inf"; VT_EMPTY and VT_NULL as
// null; an error value as {"scode": n, "scode_name": "..."}.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "kx/platform/variant.h"

namespace kx::kxauto {

/// Thrown for JSON that cannot become the value asked for; the message says why.
struct ConversionError {
  std::string message;
};

/// A value for a parameter declared as `declared` (its VARTYPE without VT_BYREF; VT_VARIANT or
/// VT_EMPTY when any type will do). Throws ConversionError.
void JsonToVariant(const nlohmann::ordered_json& value, kx::platform::VARTYPE declared,
                   kx::platform::VARIANT* out);

/// Any value, following VT_BYREF.
[[nodiscard]] nlohmann::ordered_json VariantToJson(const kx::platform::VARIANT& value);

/// A double as JSON: a number, or "nan", "inf", "-inf".
[[nodiscard]] nlohmann::ordered_json DoubleToJson(double value);

}  // namespace kx::kxauto
