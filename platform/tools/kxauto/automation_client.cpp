#include "automation_client.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <optional>

#include "kx/platform/activation.h"
#include "kx/platform/errorinfo.h"
#include "kx/platform/interfaces.h"
#include "call_frame.h"
#include "event_sink.h"
#include "kx/platform/registry.h"
#include "type_members.h"
#include "variant_json.h"

namespace kx::kxauto {

using namespace kx::platform;
using json = nlohmann::ordered_json;

namespace {

[[noreturn]] void Refuse(const std::string& why) { throw RequestError{why}; }

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The object's texts may explain a refusal in another language's declarations; JSON callers get
// one line in this client's terms after them.
constexpr const char* kForeignDeclarationHint =
    "kxauto: from JSON, give arrays as lists of numbers (nested for more dimensions), which "
    "arrive as arrays of doubles, and leave outputs out or null: kxauto supplies them";

bool SpeaksOfOtherLanguages(const json& value) {
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    for (const char* marker : {"Visual Basic", "Visual C++", "Dim ", "As Variant", "As Double"}) {
      if (text.find(marker) != std::string::npos) return true;
    }
    return false;
  }
  if (value.is_structured()) {
    for (const json& inner : value) {
      if (SpeaksOfOtherLanguages(inner)) return true;
    }
  }
  return false;
}

// Copying or converting JSON recurses once per level; a call from anyone must not be able to
// exhaust the stack with deep nesting, so its depth is measured without recursion first.
constexpr std::size_t kMaxCallDepth = 100;

bool NestedTooDeep(const json& value) {
  std::vector<std::pair<const json*, std::size_t>> pending{{&value, 1}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    if (!node->is_structured()) continue;
    if (depth > kMaxCallDepth) return true;
    for (const json& inner : *node) pending.emplace_back(&inner, depth + 1);
  }
  return false;
}

}  // namespace

std::string RegistryAdvice() {
  const char* chosen = std::getenv("KX_REGISTRY_DIR");
  const std::string file = RegistryFilePath();
  const char* machine_chosen = std::getenv("KX_MACHINE_REGISTRY_DIR");
  const std::string machine = RegistryFilePath(RegistryScope::kMachine);
  return "registry in use: " + (file.empty() ? std::string("none (no home folder)") : file) +
         (chosen && *chosen ? " (from KX_REGISTRY_DIR)"
                            : " (the default; KX_REGISTRY_DIR names another folder)") +
         ", and the machine's: " + machine +
         (machine_chosen && *machine_chosen ? " (from KX_MACHINE_REGISTRY_DIR)" : " (the default)") +
         "; register a module with: kxregsvr /path/to/module.so (or kxregsvr --machine, as root)";
}

// Keeps the events of the object's default source interface as JSON.
class EventSink final : public EventSinkBase {
 public:
  using EventSinkBase::EventSinkBase;

  [[nodiscard]] json TakeEvents() {
    json out = json::array();
    for (json& e : events_) out.push_back(std::move(e));
    events_.clear();
    return out;
  }

 private:
  void Receive(DISPID member, const std::string& name, const std::vector<Argument>& args) override {
    json event = json::object();
    event["event"] = name.empty() ? "dispid " + std::to_string(member) : name;
    for (const Argument& a : args) event[a.name] = VariantToJson(*a.value);
    events_.push_back(std::move(event));
  }

  std::vector<json> events_;
};

struct AutomationClient::Member {
  HRESULT hr = S_OK;
  DISPID dispid = DISPID_UNKNOWN;
  bool described = false;  // type information was found for it
  INVOKEKIND kind = INVOKE_FUNC;
  using Param = ParamInfo;
  std::vector<Param> params;  // declared order, retval included
};

AutomationClient::AutomationClient() = default;

AutomationClient::~AutomationClient() { Release(); }

void AutomationClient::Release() noexcept {
  if (point_ && cookie_) (void)point_->Unadvise(cookie_);
  cookie_ = 0;
  point_.Reset();
  source_info_.Reset();
  type_info_.Reset();
  object_.Reset();
  if (sink_) sink_->Release();
  sink_ = nullptr;
}

HRESULT AutomationClient::Create(const std::string& class_text, std::string* why) {
  Release();
  const std::u16string text = Utf8ToUtf16(class_text);
  CLSID clsid;
  HRESULT hr = CLSIDFromString(text.c_str(), &clsid);
  if (FAILED(hr)) {
    *why = "'" + class_text + "' is neither a registered ProgID nor a {CLSID}; " + RegistryAdvice();
    return hr;
  }
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object_.put_void());
  if (FAILED(hr)) {
    *why = "cannot create " + class_text + " (" + FormatGuid(clsid) + "); " + RegistryAdvice();
    return hr;
  }
  UINT count = 0;
  if (SUCCEEDED(object_->GetTypeInfoCount(&count)) && count > 0) {
    (void)object_->GetTypeInfo(0, LOCALE_USER_DEFAULT, type_info_.put());
  }

  // The default source interface, from the class's type information.
  IID source{};
  ComPtr<ITypeInfo> source_info;
  const bool have_source = FindDefaultSource(object_.get(), &source, &source_info);
  source_info_ = source_info;
  if (have_source) {
    if (auto container = object_.As<IConnectionPointContainer>()) {
      if (SUCCEEDED(container->FindConnectionPoint(source, point_.put())) && point_) {
        sink_ = new EventSink(source, source_info);
        if (FAILED(point_->Advise(sink_, &cookie_))) {
          cookie_ = 0;
          point_.Reset();
        }
      }
    }
  }
  return S_OK;
}

AutomationClient::Member AutomationClient::FindMember(const std::string& name, bool put) {
  Member m;
  std::u16string wide = Utf8ToUtf16(name);
  LPOLESTR names[1] = {wide.data()};
  m.hr = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &m.dispid);
  if (FAILED(m.hr) || !type_info_) return m;
  // A method, else the property get (or the put when one is asked for).
  if (auto info = DescribeMember(type_info_.get(), m.dispid, put)) {
    m.described = true;
    m.kind = info->kind;
    m.params = std::move(info->params);
  }
  return m;
}

json AutomationClient::Call(const json& request) {
  if (!object_) Refuse("no object");
  if (NestedTooDeep(request)) {
    Refuse("the call is nested deeper than " + std::to_string(kMaxCallDepth) + " levels");
  }
  if (!request.is_object())
    Refuse("a call is a JSON object such as {\"member\": \"Name\", \"args\": [...]}");
  if (!request.contains("member") || !request["member"].is_string()) {
    Refuse("the call has no \"member\" text");
  }
  for (const auto& [key, value] : request.items()) {
    if (key != "member" && key != "args" && key != "put") Refuse("unknown key \"" + key + "\"");
  }
  const std::string name = request["member"].get<std::string>();
  const bool put = request.contains("put");
  const json no_args = json::array();
  const json& args = request.contains("args") ? request["args"] : no_args;
  if (!args.is_array() && !args.is_object()) Refuse("\"args\" must be a list or an object");
  if (put && !args.empty()) Refuse("a property put takes its value in \"put\" only");

  json result = {{"member", name}};
  const Member m = FindMember(name, put);
  if (FAILED(m.hr)) {
    result["hresult"] = m.hr;
    result["hresult_name"] = HresultName(m.hr);
    result["outputs"] = json::object();
    result["events"] = json::array();
    result["error"] = {{"source", nullptr}, {"description", "no member named " + name}};
    return result;
  }
  if (put && m.described && m.kind != INVOKE_PROPERTYPUT)
    Refuse(name + " is not a settable property");

  // Values the call passes, declared order; nullopt = omitted.
  const std::size_t n = m.params.size();
  std::vector<std::optional<json>> given(n);
  std::optional<std::size_t> retval;
  for (std::size_t i = 0; i < n; ++i) {
    if (m.params[i].flags & PARAMFLAG_FRETVAL) retval = i;
  }
  auto takes_value = [&](std::size_t i) { return m.params[i].takes_value(); };
  std::vector<json> untyped;  // positional values of a member without type information
  if (put) {
    if (m.described && n >= 1)
      given[0] = request["put"];
    else
      untyped.push_back(request["put"]);
  } else if (args.is_array()) {
    if (!m.described) {
      for (const json& a : args) untyped.push_back(a);
    } else {
      std::size_t next = 0;
      for (const json& a : args) {
        while (next < n && !takes_value(next)) ++next;
        if (next >= n) Refuse("too many arguments for " + name);
        // null means left out, so that a required output gets its storage either way.
        if (!a.is_null()) given[next] = a;
        ++next;
      }
    }
  } else {
    if (!m.described) Refuse(name + " has no type information: pass its arguments as a list");
    for (const auto& [key, value] : args.items()) {
      std::size_t i = 0;
      while (i < n && !SameName(m.params[i].name, key)) ++i;
      if (i >= n) Refuse(name + " has no parameter named " + key);
      if (!takes_value(i)) Refuse(key + " is an output of " + name + ", not an argument");
      if (!value.is_null()) given[i] = value;
    }
  }

  // Values of a member without type information are passed by value, as VARIANTs.
  std::vector<ParamInfo> params = m.params;
  if (!m.described) params.assign(untyped.size(), ParamInfo{.name = {}, .vt = VT_VARIANT});
  CallFrame frame(std::move(params));
  try {
    if (!m.described) {
      for (std::size_t i = 0; i < untyped.size(); ++i) {
        if (untyped[i].is_null()) continue;
        Variant v;
        JsonToVariant(untyped[i], VT_VARIANT, &v);
        (void)frame.Pass(i, std::move(v));
      }
    } else {
      for (std::size_t i = 0; i < n; ++i) {
        const Member::Param& p = m.params[i];
        if (p.is_retval() || (given[i] && given[i]->is_null())) continue;
        if (given[i]) {
          Variant v;
          JsonToVariant(*given[i], static_cast<VARTYPE>(p.vt & ~VT_BYREF), &v);
          if (!frame.Pass(i, std::move(v)))
            Refuse("argument " + p.name + " cannot be a value of its declared type");
        } else if ((p.flags & PARAMFLAG_FOUT) && !(p.flags & PARAMFLAG_FOPT)) {
          // Required outputs get storage; an optional one left out stays omitted.
          if (!frame.ProvideOutput(i)) Refuse("cannot hold an output of " + p.name);
        }
      }
    }
  } catch (const ConversionError& e) {
    Refuse(e.message);
  }

  WORD flags = DISPATCH_METHOD;
  if (put)
    flags = DISPATCH_PROPERTYPUT;
  else if (!m.described)
    flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
  else if (m.kind == INVOKE_PROPERTYGET)
    flags = DISPATCH_PROPERTYGET;

  Variant returned;
  EXCEPINFO excep;
  // The dispatch sets arg_err only for an argument it was given; a sentinel tells the cases apart.
  constexpr UINT kNoArgument = ~UINT{0};
  UINT arg_err = kNoArgument;
  const HRESULT hr = object_->Invoke(m.dispid, IID_NULL, LOCALE_USER_DEFAULT, flags,
                                     frame.Params(put), put ? nullptr : &returned, &excep,
                                     &arg_err);
  const CallOutcome outcome = ReadOutcome(hr, &excep);
  const HRESULT member_hr = outcome.member_hr;
  json error = nullptr;
  if (outcome.has_error_info) {
    error = {{"source", outcome.source ? json(*outcome.source) : json(nullptr)},
             {"description", outcome.description ? json(*outcome.description) : json(nullptr)}};
  }

  result["hresult"] = member_hr;
  result["hresult_name"] = HresultName(member_hr);
  if (hr != member_hr) {
    result["dispatch_hresult"] = hr;
    result["dispatch_hresult_name"] = HresultName(hr);
  }
  if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW || hr == DISP_E_PARAMNOTFOUND) &&
      frame.ParamAt(arg_err)) {
    const std::size_t declared = *frame.ParamAt(arg_err);
    result["argument"] = m.described ? m.params[declared].name : "arg" + std::to_string(declared);
  } else if (hr == DISP_E_PARAMNOTFOUND && arg_err == kNoArgument && m.described) {
    // A required parameter the call did not pass at all: the first one, in declared order.
    for (std::size_t i = 0; i < n; ++i) {
      if (!frame.Passed(i) && !m.params[i].is_retval() && !m.params[i].is_optional()) {
        result["argument"] = m.params[i].name;
        break;
      }
    }
  }
  json outputs = json::object();
  if (m.described) {
    for (std::size_t i = 0; i < n; ++i) {
      if ((m.params[i].flags & PARAMFLAG_FOUT) && !m.params[i].is_retval() && frame.Passed(i)) {
        outputs[m.params[i].name] = VariantToJson(frame.Value(i));
      }
    }
  }
  json returned_value = VariantToJson(returned);
  if (retval) outputs[m.params[*retval].name] = returned_value;
  result["outputs"] = std::move(outputs);
  if (retval || returned.vt != VT_EMPTY) result["retval"] = std::move(returned_value);
  result["events"] = sink_ ? sink_->TakeEvents() : json::array();
  result["error"] = std::move(error);
  if (SpeaksOfOtherLanguages(result["error"]) || SpeaksOfOtherLanguages(result["events"])) {
    result["hint"] = kForeignDeclarationHint;
  }
  return result;
}

}  // namespace kx::kxauto
