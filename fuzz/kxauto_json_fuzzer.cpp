// kxauto's JSON side: lines read as the batch mode reads them and run on a registered KvQuantorb
// through the client library, and JSON values converted to VARIANTs for any declared type and
// back. A conversion either succeeds with the value the JSON holds or throws ConversionError.
#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>

#include "automation_client.h"
#include "fuzz_input.h"
#include "kx/platform/activation.h"
#include "kx/platform/safearray.h"
#include "variant_json.h"

using namespace kx::platform;
using json = nlohmann::ordered_json;

namespace {

kx::kxauto::AutomationClient* client = nullptr;

constexpr VARTYPE kDeclared[] = {VT_VARIANT, VT_EMPTY, VT_R8, VT_I4, VT_I2, VT_BSTR, VT_BOOL,
                                 VT_R4, VT_ARRAY | VT_R8, VT_DISPATCH, VT_UNKNOWN, VT_ERROR};

// Tree work grows with the square of the steps; binomial calls with big numbers are skipped so
// every run stays quick.
bool TooMuchWork(const json& request) {
  if (!request.is_object() || !request.contains("member") || !request["member"].is_string())
    return false;
  std::string member = request["member"].get<std::string>();
  for (char& c : member) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (member.rfind("bin", 0) != 0) return false;
  bool heavy = false;
  std::size_t numbers = 0;
  const auto visit = [&](auto&& self, const json& j) -> void {
    if (j.is_number()) {
      ++numbers;
      if (!(std::fabs(j.get<double>()) <= 200)) heavy = true;
    } else if (j.is_string()) {
      heavy = true;  // a text may hold any number
    } else if (j.is_structured()) {
      for (const json& child : j) self(self, child);
    }
  };
  if (request.contains("args")) visit(visit, request["args"]);
  return heavy || numbers > 24;
}

void RunLines(std::string_view text) {
  std::istringstream lines{std::string(text)};
  std::string line;
  int count = 0;
  while (std::getline(lines, line) && count++ < 8) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    const json request = json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (request.is_discarded() || TooMuchWork(request)) continue;
    json answer;
    try {
      answer = client->Call(request);
      KX_FUZZ_CHECK(answer.contains("hresult"));
    } catch (const kx::kxauto::RequestError& e) {
      KX_FUZZ_CHECK(!e.message.empty());
      continue;
    }
    (void)answer.dump(-1, ' ', false, json::error_handler_t::replace);
  }
}

void Convert(kx::fuzz::FuzzInput& in) {
  const VARTYPE declared = kDeclared[in.Below(std::size(kDeclared))];
  const json value = json::parse(in.Rest(), nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return;
  Variant v;
  try {
    kx::kxauto::JsonToVariant(value, declared, &v);
  } catch (const kx::kxauto::ConversionError& e) {
    KX_FUZZ_CHECK(!e.message.empty());
    KX_FUZZ_CHECK(v.vt == VT_EMPTY);  // nothing half-made is left behind
    return;
  }
  // A number arrives as the number it is.
  if (value.is_number() && (v.vt == VT_I4 || v.vt == VT_R8)) {
    const double got = v.vt == VT_I4 ? v.lVal : v.dblVal;
    KX_FUZZ_CHECK(got == value.get<double>());
  }
  // An array's first index is the one asked for.
  if (value.is_object() && value.contains("lower_bound") && (v.vt & VT_ARRAY) && v.parray) {
    LONG lower = 0;
    KX_FUZZ_CHECK(SafeArrayGetLBound(v.parray, 1, &lower) == S_OK);
    KX_FUZZ_CHECK(value["lower_bound"].get<double>() == lower);
  }
  // Out and in again is stable.
  const json out = kx::kxauto::VariantToJson(v);
  Variant again;
  try {
    kx::kxauto::JsonToVariant(out, declared, &again);
  } catch (const kx::kxauto::ConversionError&) {
    return;  // what comes out (error values, nested shapes) need not go in as this type
  }
  KX_FUZZ_CHECK(kx::kxauto::VariantToJson(again).dump() == out.dump());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kx::fuzz::UsePrivateRegistry();
  (void)CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  void* module = dlopen(KX_MODULE_PATH, RTLD_NOW);
  KX_FUZZ_CHECK(module != nullptr);
  auto reg = reinterpret_cast<HRESULT (*)()>(dlsym(module, "DllRegisterServer"));
  KX_FUZZ_CHECK(reg != nullptr && reg() == S_OK);
  client = new kx::kxauto::AutomationClient;
  std::string why;
  KX_FUZZ_CHECK(client->Create("Korvane.Quantorb", &why) == S_OK);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kx::fuzz::FuzzInput in(data, size);
  if (in.Byte() & 1) {
    Convert(in);
  } else {
    RunLines(in.Rest());
  }
  return 0;
}
