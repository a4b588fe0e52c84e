// kxauto: calls members of any automation object registered on this machine, for people and for
// programs in other languages, and lists what a class offers from its type information.
//
//   kxauto [--json] <ProgID|{CLSID}> <Member> [arg | Name=arg ...] [--put VALUE]
//   kxauto --batch [--error-status] <ProgID|{CLSID}>
//   kxauto [--json] --list <ProgID|{CLSID}>
//   kxauto [--json] --describe <ProgID|{CLSID}> <Member>
//
// Each arg is JSON (100, 0.05, "text", [1,2,3], [[1,2],[3,4]], null) or, when it is not valid
// JSON, a plain text. The batch mode reads one call per line on standard input and writes one
// result per line, all on one object; see automation_client.h for both shapes.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "automation_client.h"
#include "kx/platform/activation.h"
#include "kx/platform/bstr.h"
#include "kx/platform/registry.h"
#include "member_listing.h"

namespace {

using kx::kxauto::AutomationClient;
using kx::kxauto::MemberInfo;
using kx::kxauto::RequestError;
using json = nlohmann::ordered_json;
using kx::kxauto::DescribeMembers;
using kx::kxauto::FullDescription;
using kx::kxauto::MemberToJson;
using kx::kxauto::SignatureLine;
using kx::platform::FAILED;
using kx::platform::SUCCEEDED;

constexpr int kExitOk = 0;
constexpr int kExitMemberFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoObject = 3;

#ifndef KX_PROJECT_VERSION
#define KX_PROJECT_VERSION "unknown"
#endif

void Usage(std::FILE* to) {
  std::fprintf(
      to,
      "usage: kxauto [--json] <ProgID|{CLSID}> <Member> [arg | Name=arg ...] [--put VALUE]\n"
      "       kxauto --batch [--error-status] <ProgID|{CLSID}>\n"
      "       kxauto [--json] --list <ProgID|{CLSID}>\n"
      "       kxauto [--json] --describe <ProgID|{CLSID}> <Member>\n"
      "       kxauto --help | --version\n"
      "\n"
      "Calls a member of a registered automation class by name and prints its result, its\n"
      "outputs, its events and its error information.\n"
      "\n"
      "  --list          list every member of the class from its type information: kind,\n"
      "                  parameters (name, type, in/out, optional) and documentation\n"
      "  --describe      show one member in full, with how each parameter is passed\n"
      "  --json          write results (and --list, --describe) as JSON\n"
      "  --put VALUE     set the property <Member> to VALUE\n"
      "  --batch         read one JSON call per line on standard input and write one JSON\n"
      "                  result per line, all on one object; every result carries \"line\",\n"
      "                  the number of the input line it answers; blank lines are skipped\n"
      "                  (they get no result, but still count in the numbering)\n"
      "  --error-status  exit with status 1 when any call failed or could not be made; a\n"
      "                  single call always does, batch mode by default exits 0 once the\n"
      "                  object exists\n"
      "  --help          this text;  --version  the version\n"
      "\n"
      "Arguments are JSON values (100, 0.05, \"text\", [1,2], [[1,2],[3,4]], null for an\n"
      "omitted one); nested lists of numbers go as arrays of doubles of as many dimensions;\n"
      "anything that is not JSON is passed as text. Outputs need no argument. A batch line\n"
      "is a call such as\n"
      "  {\"member\": \"BSCallPrice\", \"args\": [100, 100, 0.05, 1, 0.2, 0]}\n"
      "  {\"member\": \"BSCallPrice\", \"args\": {\"StockPrice\": 100, ...}}\n"
      "  {\"member\": \"Base\"}    {\"member\": \"Base\", \"put\": 1}\n"
      "\n"
      "Exit status: 0 done, 1 the call failed (batch: only with --error-status), 2 bad usage\n"
      "or a call that cannot be built, 3 the class cannot be created.\n"
      "The registry is the folder $KX_REGISTRY_DIR (default ~/.config/kx-platform/registry);\n"
      "kxregsvr registers a module in it.\n");
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

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
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
  if (result.contains("hint")) {
    std::printf("  hint: %s\n", result["hint"].get<std::string>().c_str());
  }
}

// Creates the object of `class_text`, or says why not on standard error.
bool CreateOrSay(AutomationClient& client, const std::string& class_text) {
  std::string why;
  const auto hr = client.Create(class_text, &why);
  if (SUCCEEDED(hr)) return true;
  std::fprintf(stderr, "kxauto: %s (0x%08X): %s\n", kx::platform::HresultName(hr),
               static_cast<unsigned>(hr), why.c_str());
  return false;
}

// --list and --describe (member_name non-null): what the type information says.
int RunListing(const std::string& class_text, const std::string* member_name, bool as_json) {
  AutomationClient client;
  if (!CreateOrSay(client, class_text)) return kExitNoObject;
  if (!client.type_info()) {
    std::fprintf(stderr, "kxauto: %s has no type information to list\n", class_text.c_str());
    return kExitNoObject;
  }
  std::vector<std::pair<MemberInfo, bool>> members;  // with whether it is an event
  for (MemberInfo& m : DescribeMembers(client.type_info()))
    members.emplace_back(std::move(m), false);
  for (MemberInfo& m : DescribeMembers(client.source_info()))
    members.emplace_back(std::move(m), true);
  if (member_name) {
    std::erase_if(members, [&](const auto& m) { return !SameName(m.first.name, *member_name); });
    if (members.empty()) {
      std::fprintf(stderr, "kxauto: %s has no member named %s; kxauto --list %s lists them\n",
                   class_text.c_str(), member_name->c_str(), class_text.c_str());
      return kExitUsage;
    }
  }
  if (as_json) {
    json out = json::array();
    for (const auto& [m, event] : members) out.push_back(MemberToJson(m, event));
    std::cout << out.dump(-1, ' ', false, json::error_handler_t::replace) << std::endl;
    return kExitOk;
  }
  if (!member_name) {
    auto name_of = [](kx::platform::ITypeInfo* info) {
      kx::platform::Bstr name;
      if (info)
        (void)info->GetDocumentation(kx::platform::MEMBERID_NIL, name.put(), nullptr, nullptr,
                                     nullptr);
      return name.get() ? name.Utf8() : std::string("?");
    };
    const auto events =
        std::count_if(members.begin(), members.end(), [](const auto& m) { return m.second; });
    std::printf("%s: %zu entries of %s (a property's get and put are two)", class_text.c_str(),
                members.size() - events, name_of(client.type_info()).c_str());
    if (events) {
      std::printf(", %zu event%s of %s", static_cast<std::size_t>(events), events > 1 ? "s" : "",
                  name_of(client.source_info()).c_str());
    }
    std::printf("\n");
  }
  bool first = true;
  for (const auto& [m, event] : members) {
    if (member_name) {
      std::printf("%s%s", first ? "" : "\n", FullDescription(m, event).c_str());
      first = false;
    } else {
      std::printf("%s\n", SignatureLine(m, event).c_str());
      if (!m.doc.empty()) std::printf("    %s\n", m.doc.c_str());
    }
  }
  return kExitOk;
}

// Where a line stopped being JSON, in the parser's words without its prefix.
std::string WhereJsonBroke(const json::parse_error& e) {
  std::string what = e.what();
  const std::size_t colon = what.find(": ", what.find("column"));
  if (colon != std::string::npos) what = what.substr(colon + 2);
  return "malformed JSON at column " + std::to_string(e.byte) + ": " + what;
}

int RunBatch(const std::string& class_text, bool error_status) {
  AutomationClient client;
  std::string why;
  const auto hr = client.Create(class_text, &why);
  if (FAILED(hr)) {
    std::cout << json{{"hresult", hr},
                      {"hresult_name", kx::platform::HresultName(hr)},
                      {"registry", kx::platform::RegistryFilePath()},
                      {"machine_registry",
                       kx::platform::RegistryFilePath(kx::platform::RegistryScope::kMachine)},
                      {"error", {{"source", nullptr}, {"description", why}}}}
                     .dump()
              << std::endl;
    return kExitNoObject;
  }
  std::string line;
  long line_number = 0;
  bool any_failed = false;
  while (std::getline(std::cin, line)) {
    ++line_number;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    json answer = {{"line", line_number}};
    try {
      const json request = json::parse(line);
      json result = client.Call(request);
      for (auto& [key, value] : result.items()) answer[key] = std::move(value);
      any_failed = any_failed || FAILED(answer["hresult"].get<std::int32_t>());
    } catch (const json::parse_error& e) {
      answer["request_error"] = WhereJsonBroke(e);
      answer["column"] = e.byte;
      any_failed = true;
    } catch (const RequestError& e) {
      answer["request_error"] = e.message;
      any_failed = true;
    } catch (const std::exception& e) {
      answer["request_error"] = e.what();
      any_failed = true;
    }
    std::cout << answer.dump(-1, ' ', false, json::error_handler_t::replace) << std::endl;
  }
  return error_status && any_failed ? kExitMemberFailed : kExitOk;
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
    request["args"] = std::move(named);
  } else {
    request["args"] = std::move(positional);
  }

  AutomationClient client;
  if (!CreateOrSay(client, class_text)) return kExitNoObject;
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
  bool batch = false, as_json = false, list = false, describe = false, error_status = false;
  const std::string* put_value = nullptr;
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i] == "--batch") {
      batch = true;
    } else if (words[i] == "--json") {
      as_json = true;
    } else if (words[i] == "--list") {
      list = true;
    } else if (words[i] == "--describe") {
      describe = true;
    } else if (words[i] == "--error-status") {
      error_status = true;
    } else if (words[i] == "--put" && i + 1 < words.size()) {
      put_value = &words[++i];
    } else if (words[i] == "--help" || words[i] == "-h") {
      Usage(stdout);
      return kExitOk;
    } else if (words[i] == "--version") {
      std::printf("kxauto %s\n", KX_PROJECT_VERSION);
      return kExitOk;
    } else {
      rest.push_back(words[i]);
    }
  }
  const int modes = int{batch} + int{list} + int{describe};
  const std::size_t wanted = list || batch ? 1 : 2;
  // --error-status is accepted everywhere: one call already exits 1 when it fails.
  if (modes > 1 || (modes == 1 ? rest.size() != wanted : rest.size() < 2)) {
    Usage(stderr);
    return kExitUsage;
  }
  // No class or member name starts with '-': there it is a mistyped option, not a name to look
  // up (arguments may start with one: -0.2, -inf).
  for (std::size_t i = 0; i < std::min(rest.size(), wanted); ++i) {
    if (rest[i].starts_with('-')) {
      std::fprintf(stderr, "kxauto: unknown option %s (kxauto --help lists them)\n",
                   rest[i].c_str());
      return kExitUsage;
    }
  }
  (void)kx::platform::CoInitializeEx(nullptr, kx::platform::COINIT_APARTMENTTHREADED);
  int status = kExitOk;
  if (batch)
    status = RunBatch(rest[0], error_status);
  else if (list || describe)
    status = RunListing(rest[0], describe ? &rest[1] : nullptr, as_json);
  else
    status = RunOne(rest[0], rest[1], {rest.begin() + 2, rest.end()}, put_value, as_json);
  kx::platform::CoUninitialize();
  return status;
}
