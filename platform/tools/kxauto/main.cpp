// kxauto: calls members of any automation object registered on this machine, for people and for
// programs in other languages.
//
//   kxauto [--json] <ProgID|{CLSID}> <Member> [arg | Name=arg ...] [--put VALUE]
//   kxauto --batch <ProgID|{CLSID}>
//
// Each arg is JSON (100, 0.05, "text", [1,2,3], [[1,2],[3,4]], null) or, when it is not valid
// JSON, a plain text. The batch mode reads one call per line on standard input and writes one
// result per line, all on one object; see automation_client.h for both shapes.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "automation_client.h"
#include "kx/platform/activation.h"

namespace {

using kx::kxauto::AutomationClient;
using kx::kxauto::RequestError;
using json = nlohmann::ordered_json;
using kx::platform::FAILED;

constexpr int kExitOk = 0;
constexpr int kExitMemberFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoObject = 3;

void Usage() {
  std::fprintf(
      stderr,
      "usage: kxauto [--json] <ProgID|{CLSID}> <Member> [arg | Name=arg ...] [--put VALUE]\n"
      "       kxauto --batch <ProgID|{CLSID}>\n"
      "Arguments are JSON values (100, 0.05, \"text\", [1,2], [[1,2],[3,4]], null for an\n"
      "omitted one); anything that is not JSON is passed as text. In batch mode each line\n"
      "of standard input is a call such as\n"
      "  {\"member\": \"BSCallPrice\", \"args\": [100, 100, 0.05, 1, 0.2, 0]}\n"
      "  {\"member\": \"BSCallPrice\", \"args\": {\"StockPrice\": 100, ...}}\n"
      "  {\"member\": \"Base\"}    {\"member\": \"Base\", \"put\": 1}\n"
      "and each result one line of JSON.\n");
}

json ParseArgument(const std::string& text) {
  json value = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return text;
  return value;
}

bool IsParameterName(const std::string& text) {
  if (text.empty() || !(std::isalpha(static_cast<unsigned char>(text[0])) || text[0] == '_')) {
    return false;
  }
  for (char c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  }
  return true;
}

std::string Show(const json& value) { return value.dump(); }

void PrintText(const json& result) {
  std::printf("%s: %s (0x%08X)\n", result["member"].get<std::string>().c_str(),
              result["hresult_name"].get<std::string>().c_str(),
              static_cast<unsigned>(result["hresult"].get<std::int32_t>()));
  if (result.contains("argument")) {
    std::printf("  argument: %s\n", result["argument"].get<std::string>().c_str());
  }
  for (const auto& [name, value] : result["outputs"].items()) {
    std::printf("  %s = %s\n", name.c_str(), Show(value).c_str());
  }
  for (const json& event : result["events"]) {
    std::string line = "  event " + event.value("event", std::string("?")) + "(";
    bool first = true;
    for (const auto& [name, value] : event.items()) {
      if (name == "event") continue;
      line += (first ? "" : ", ") + name + "=" + Show(value);
      first = false;
    }
    std::printf("%s)\n", line.c_str());
  }
  if (!result["error"].is_null()) {
    const json& e = result["error"];
    std::printf("  error: source %s, description %s\n", Show(e["source"]).c_str(),
                Show(e["description"]).c_str());
  }
}

int RunBatch(const std::string& class_text) {
  AutomationClient client;
  std::string why;
  const auto hr = client.Create(class_text, &why);
  if (FAILED(hr)) {
    std::cout << json{{"hresult", hr},
                      {"hresult_name", kx::platform::HresultName(hr)},
                      {"error", {{"source", nullptr}, {"description", why}}}}
                     .dump()
              << std::endl;
    return kExitNoObject;
  }
  std::string line;
  long line_number = 0;
  while (std::getline(std::cin, line)) {
    ++line_number;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    json answer;
    const json request = json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (request.is_discarded()) {
      answer = {{"line", line_number}, {"request_error", "malformed JSON"}};
    } else {
      try {
        answer = client.Call(request);
      } catch (const RequestError& e) {
        answer = {{"line", line_number}, {"request_error", e.message}};
      } catch (const std::exception& e) {
        answer = {{"line", line_number}, {"request_error", e.what()}};
      }
    }
    std::cout << answer.dump(-1, ' ', false, json::error_handler_t::replace) << std::endl;
  }
  return kExitOk;
}

int RunOne(const std::string& class_text, const std::string& member,
           const std::vector<std::string>& args, const std::string* put_value, bool as_json) {
  json request = {{"member", member}};
  json positional = json::array();
  json named = json::object();
  for (const std::string& a : args) {
    const std::size_t eq = a.find('=');
    if (eq != std::string::npos && IsParameterName(a.substr(0, eq))) {
      named[a.substr(0, eq)] = ParseArgument(a.substr(eq + 1));
    } else {
      positional.push_back(ParseArgument(a));
    }
  }
  if (!positional.empty() && !named.empty()) {
    std::fprintf(stderr, "kxauto: give arguments either by position or by name, not both\n");
    return kExitUsage;
  }
  if (put_value) {
    request["put"] = ParseArgument(*put_value);
  } else if (!named.empty()) {
    request["args"] = named;
  } else {
    request["args"] = positional;
  }

  AutomationClient client;
  std::string why;
  const auto hr = client.Create(class_text, &why);
  if (FAILED(hr)) {
    std::fprintf(stderr, "kxauto: %s: %s (0x%08X)\n", why.c_str(), kx::platform::HresultName(hr),
                 static_cast<unsigned>(hr));
    return kExitNoObject;
  }
  json result;
  try {
    result = client.Call(request);
  } catch (const RequestError& e) {
    std::fprintf(stderr, "kxauto: %s\n", e.message.c_str());
    return kExitUsage;
  }
  if (as_json) {
    std::cout << result.dump(-1, ' ', false, json::error_handler_t::replace) << std::endl;
  } else {
    PrintText(result);
  }
  return FAILED(result["hresult"].get<std::int32_t>()) ? kExitMemberFailed : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  bool batch = false, as_json = false;
  const std::string* put_value = nullptr;
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i] == "--batch") {
      batch = true;
    } else if (words[i] == "--json") {
      as_json = true;
    } else if (words[i] == "--put" && i + 1 < words.size()) {
      put_value = &words[++i];
    } else if (words[i] == "--help" || words[i] == "-h") {
      Usage();
      return kExitOk;
    } else {
      rest.push_back(words[i]);
    }
  }
  if (batch ? rest.size() != 1 : rest.size() < 2) {
    Usage();
    return kExitUsage;
  }
  (void)kx::platform::CoInitializeEx(nullptr, kx::platform::COINIT_APARTMENTTHREADED);
  int status = batch ? RunBatch(rest[0])
                     : RunOne(rest[0], rest[1], {rest.begin() + 2, rest.end()}, put_value, as_json);
  kx::platform::CoUninitialize();
  return status;
}
