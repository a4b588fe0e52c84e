// A late-bound automation client for one object: creates it through the registry, connects a
// sink to its default source interface, and runs calls described as JSON, answering each with a
// JSON result. It knows nothing of any particular class: names, parameter kinds and types come
// from the object's type information.
//
// Call:   {"member": "Name", "args": [positional...] | {"ParamName": value, ...}}
//         {"member": "Name", "put": value}            property put
// Result: {"member": ..., "hresult": n, "hresult_name": "S_OK", "outputs": {name: value},
//          "retval": value, "events": [{"event": "Done", param: value...}],
//          "error": {"source": ..., "description": ...} or null, "hint": text when the object's
//          own texts speak of another language's declarations}
// Positional arguments fill the parameters that take a value ([in] and [in, out]) in declared
// order; [out] parameters and the retval are supplied by the client. A parameter left out (or
// given as null) is passed as omitted. "hresult" is the member's own result: the error's code
// when the dispatch reports an exception.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "kx/platform/comptr.h"
#include "kx/platform/hresult.h"
#include "kx/platform/typeinfo.h"

namespace kx::kxauto {

/// Where the registry in use lives and how a module gets into it, for messages about a class
/// that cannot be found or created.
[[nodiscard]] std::string RegistryAdvice();

/// A call that cannot be made as written (bad JSON shape, unknown parameter name); the message
/// says why. Failures of the object itself are results, not errors.
struct RequestError {
  std::string message;
};

class EventSink;

class AutomationClient {
 public:
  AutomationClient();
  ~AutomationClient();
  AutomationClient(const AutomationClient&) = delete;
  AutomationClient& operator=(const AutomationClient&) = delete;

  /// Creates the object of a ProgID or "{CLSID}" and connects to its default source interface
  /// when it has one. The failure's HRESULT otherwise, with `why` saying which step failed.
  [[nodiscard]] kx::platform::HRESULT Create(const std::string& class_text, std::string* why);

  /// Runs one call. Throws RequestError for a call that cannot be built.
  [[nodiscard]] nlohmann::ordered_json Call(const nlohmann::ordered_json& request);

  /// The type information of the object's interface and of its default source interface; null
  /// when the class has none.
  [[nodiscard]] kx::platform::ITypeInfo* type_info() const noexcept { return type_info_.get(); }
  [[nodiscard]] kx::platform::ITypeInfo* source_info() const noexcept { return source_info_.get(); }

  /// Whether Done-style events could be connected (the object has a default source interface).
  [[nodiscard]] bool events_connected() const noexcept { return cookie_ != 0; }
  /// Disconnects the sink and releases the object.
  void Release() noexcept;

 private:
  struct Member;
  [[nodiscard]] Member FindMember(const std::string& name, bool put);

  kx::platform::ComPtr<kx::platform::IDispatch> object_;
  kx::platform::ComPtr<kx::platform::ITypeInfo> type_info_;    // may be null
  kx::platform::ComPtr<kx::platform::ITypeInfo> source_info_;  // may be null
  kx::platform::ComPtr<kx::platform::IConnectionPoint> point_;
  EventSink* sink_ = nullptr;  // one reference held
  kx::platform::DWORD cookie_ = 0;
};

}  // namespace kx::kxauto
