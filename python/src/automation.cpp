// korvanex._native.automation: one late-bound object per NativeObject. The pure-Python layer
// (korvanex.automation) binds Python arguments to declared parameters; this side converts them,
// lays out the call through the shared CallFrame, invokes with the GIL released and hands back
// results, error information and the events the call raised.
#include <dlfcn.h>
#include <pybind11/stl.h>

#include <atomic>
#include <cstdlib>
#include <climits>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "automation_values.h"
#include "bindings.h"
#include "call_frame.h"
#include "event_sink.h"
#include "kx/platform/activation.h"
#include "kx/platform/interfaces.h"
#include "kx/platform/module.h"
#include "kx/platform/registry.h"
#include "type_members.h"

namespace kx::python {

namespace py = pybind11;
using namespace kx::platform;
using kx::kxauto::CallFrame;
using kx::kxauto::MemberInfo;
using kx::kxauto::ParamInfo;

namespace {

// Marks a parameter that gets output storage; set once at import, never freed.
PyObject* output_marker = nullptr;

struct RaisedEvent {
  std::thread::id thread;
  std::string name;
  std::vector<std::pair<std::string, Variant>> args;  // declared order
};

// Keeps the events of the default source interface until the thread whose call raised them
// collects them, so that each Python thread sees only its own call's events, in order.
class EventSink final : public kx::kxauto::EventSinkBase {
 public:
  using EventSinkBase::EventSinkBase;

  [[nodiscard]] std::vector<RaisedEvent> Take(std::thread::id thread) {
    std::vector<RaisedEvent> mine;
    const std::lock_guard lock(mutex_);
    for (auto it = events_.begin(); it != events_.end();) {
      if (it->thread == thread) {
        mine.push_back(std::move(*it));
        it = events_.erase(it);
      } else {
        ++it;
      }
    }
    return mine;
  }

 private:
  void Receive(DISPID member, const std::string& name, const std::vector<Argument>& args) override {
    RaisedEvent event{std::this_thread::get_id(),
                      name.empty() ? "dispid" + std::to_string(member) : name, {}};
    for (const Argument& a : args) {
      Variant copy;
      (void)VariantCopyInd(&copy, a.value);
      event.args.emplace_back(a.name, std::move(copy));
    }
    const std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }

  std::mutex mutex_;
  std::vector<RaisedEvent> events_;
};

WORD InvokeFlags(INVOKEKIND kind) {
  switch (kind) {
    case INVOKE_PROPERTYGET:
      return DISPATCH_PROPERTYGET;
    case INVOKE_PROPERTYPUT:
      return DISPATCH_PROPERTYPUT;
    case INVOKE_PROPERTYPUTREF:
      return DISPATCH_PROPERTYPUTREF;
    default:
      return DISPATCH_METHOD;
  }
}

bool NamesArgument(HRESULT hr) {
  return hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW || hr == DISP_E_PARAMNOTFOUND;
}

py::object OptionalText(const std::optional<std::string>& text) {
  return text ? py::object(py::str(*text)) : py::object(py::none());
}

class NativeObject {
 public:
  NativeObject(ComPtr<IDispatch> object, std::string class_text)
      : object_(std::move(object)), class_text_(std::move(class_text)) {
    UINT count = 0;
    if (SUCCEEDED(object_->GetTypeInfoCount(&count)) && count > 0) {
      (void)object_->GetTypeInfo(0, LOCALE_USER_DEFAULT, type_info_.put());
    }
    members_ = kx::kxauto::DescribeMembers(type_info_.get());
    if (type_info_) {
      Bstr name;
      if (SUCCEEDED(
              type_info_->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr)) &&
          name.get()) {
        type_name_ = name.Utf8();
      }
    }
  }
  NativeObject(const NativeObject&) = delete;
  NativeObject& operator=(const NativeObject&) = delete;
  ~NativeObject() { Close(); }

  // (object or None, HRESULT, why): the activation's own code when the class cannot be created.
  static py::tuple Create(const std::string& class_text) {
    const std::u16string text = Utf8ToUtf16(class_text);
    CLSID clsid;
    HRESULT hr = CLSIDFromString(text.c_str(), &clsid);
    if (FAILED(hr)) {
      return py::make_tuple(py::none(), hr,
                            "'" + class_text + "' is neither a registered ProgID nor a {CLSID}");
    }
    ComPtr<IDispatch> object;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.put_void());
    if (FAILED(hr)) {
      return py::make_tuple(py::none(), hr,
                            "cannot create " + class_text + " (" + FormatGuid(clsid) + ")");
    }
    return py::make_tuple(std::make_unique<NativeObject>(std::move(object), class_text), hr, "");
  }

  // [(name, dispid, kind, doc, [(param, vt, flags)])] in the type information's order.
  [[nodiscard]] py::list Members() const {
    py::list out;
    for (const MemberInfo& m : members_) {
      py::list params;
      for (const ParamInfo& p : m.params) params.append(py::make_tuple(p.name, p.vt, p.flags));
      out.append(py::make_tuple(m.name, m.dispid, static_cast<int>(m.kind), m.doc, params));
    }
    return out;
  }

  // Connects to the default source interface; false when the class declares none.
  bool ConnectEvents() {
    if (!object_) throw py::value_error("the object has been released");
    if (cookie_) return true;
    IID source{};
    ComPtr<ITypeInfo> source_info;
    if (!kx::kxauto::FindDefaultSource(object_.get(), &source, &source_info)) return false;
    auto container = object_.As<IConnectionPointContainer>();
    if (!container || FAILED(container->FindConnectionPoint(source, point_.put())) || !point_) {
      return false;
    }
    sink_ = new EventSink(source, std::move(source_info));
    if (FAILED(point_->Advise(sink_, &cookie_))) {
      cookie_ = 0;
      point_.Reset();
      sink_->Release();
      sink_ = nullptr;
      return false;
    }
    return true;
  }

  // args: one entry per declared parameter (shorter is padded with omitted ones): None for
  // omitted, the output marker for output storage, else a value.
  // Returns (dispatch_hr, member_hr, hresult_name, retval, [(param, value)], source,
  // description, argument, [(event, [(param, value)])]).
  py::tuple Invoke(std::size_t index, const py::sequence& args) {
    if (!object_) throw py::value_error("the object has been released");
    if (index >= members_.size()) throw py::index_error("no such member");
    const MemberInfo& m = members_[index];
    if (args.size() > m.params.size()) {
      throw py::type_error(m.name + " takes " + std::to_string(m.params.size()) +
                           " parameters, not " + std::to_string(args.size()));
    }
    CallFrame frame(m.params);
    std::vector<std::size_t> outputs;
    for (std::size_t i = 0; i < args.size(); ++i) {
      const ParamInfo& p = m.params[i];
      const py::object a = args[i];
      if (p.is_retval() || a.is_none()) continue;
      if (a.ptr() == output_marker) {
        if (!frame.ProvideOutput(i)) {
          throw py::type_error("cannot hold an output of " + p.name);
        }
        outputs.push_back(i);
        continue;
      }
      const auto base = static_cast<VARTYPE>(p.vt & ~VT_BYREF);
      if (!frame.Pass(i, ToVariant(a, base, p.name))) {
        throw py::type_error(p.name + " cannot be a value of its declared type " +
                             kx::kxauto::TypeName(p.vt));
      }
    }
    const bool put = m.kind == INVOKE_PROPERTYPUT || m.kind == INVOKE_PROPERTYPUTREF;
    DISPPARAMS* params = frame.Params(put);
    // Held for the call: another thread may close this object while the GIL is released.
    ComPtr<IDispatch> object = object_;
    ComPtr<IDispatch> sink_reference(sink_);
    EventSink* const sink = sink_;
    Variant returned;
    EXCEPINFO excep;
    UINT arg_err = UINT_MAX;
    kx::kxauto::CallOutcome outcome;
    std::vector<RaisedEvent> events;
    {
      py::gil_scoped_release release;
      const HRESULT hr =
          object->Invoke(m.dispid, IID_NULL, LOCALE_USER_DEFAULT, InvokeFlags(m.kind), params,
                         put ? nullptr : &returned, &excep, &arg_err);
      outcome = kx::kxauto::ReadOutcome(hr, &excep);
      if (sink) events = sink->Take(std::this_thread::get_id());
    }

    py::object argument = py::none();
    if (NamesArgument(outcome.dispatch_hr)) {
      if (auto at = frame.ParamAt(arg_err)) argument = py::str(m.params[*at].name);
    }
    py::list written;
    for (std::size_t i : outputs) {
      written.append(py::make_tuple(m.params[i].name, FromVariant(frame.Value(i))));
    }
    py::list raised;
    for (const RaisedEvent& e : events) {
      py::list values;
      for (const auto& [name, value] : e.args)
        values.append(py::make_tuple(name, FromVariant(value)));
      raised.append(py::make_tuple(e.name, values));
    }
    return py::make_tuple(outcome.dispatch_hr, outcome.member_hr, HresultName(outcome.member_hr),
                          FromVariant(returned), written, OptionalText(outcome.source),
                          OptionalText(outcome.description), argument, raised);
  }

  // Disconnects the events and releases the object (and its type information, which lives in
  // the object's module).
  void Close() noexcept {
    if (point_ && cookie_) (void)point_->Unadvise(cookie_);
    cookie_ = 0;
    point_.Reset();
    type_info_.Reset();
    object_.Reset();
    if (sink_) sink_->Release();
    sink_ = nullptr;
  }

  [[nodiscard]] bool closed() const { return !object_; }
  [[nodiscard]] bool events_connected() const { return cookie_ != 0; }
  [[nodiscard]] const std::string& class_text() const { return class_text_; }
  [[nodiscard]] const std::string& type_name() const { return type_name_; }

 private:
  ComPtr<IDispatch> object_;
  ComPtr<ITypeInfo> type_info_;
  std::string class_text_;
  std::string type_name_;
  std::vector<MemberInfo> members_;
  ComPtr<IConnectionPoint> point_;
  EventSink* sink_ = nullptr;  // one reference held
  DWORD cookie_ = 0;
};

// What kxregsvr does: loads the module and calls its (un)registration entry point, writing the
// chosen scope's registry. (HRESULT, its name, the registry file).
py::tuple RegisterServer(const std::string& path, bool machine, bool unregister) {
  const RegistryScope scope = machine ? RegistryScope::kMachine : RegistryScope::kUser;
  const std::string registry = RegistryFilePath(scope);
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) throw py::value_error("cannot load " + path + ": " + dlerror());
  const char* entry = unregister ? kDllUnregisterServerName : kDllRegisterServerName;
  auto fn = reinterpret_cast<DllRegisterServerFn>(dlsym(module, entry));
  if (!fn) {
    dlclose(module);
    throw py::value_error(path + " has no " + entry);
  }
  HRESULT hr;
  {
    py::gil_scoped_release release;
    const RegistryScope before = RegistryWriteScope();
    SetRegistryWriteScope(scope);
    hr = fn();
    SetRegistryWriteScope(before);
  }
  dlclose(module);
  return py::make_tuple(static_cast<long>(hr), std::string(HresultName(hr)), registry);
}

// The registry files a creation reads, and whether the environment chose each folder.
py::tuple RegistryFiles() {
  auto chosen = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
  };
  return py::make_tuple(RegistryFilePath(RegistryScope::kUser), chosen("KX_REGISTRY_DIR"),
                        RegistryFilePath(RegistryScope::kMachine),
                        chosen("KX_MACHINE_REGISTRY_DIR"));
}

}  // namespace

void BindAutomation(py::module_& m) {
  output_marker = py::module_::import("builtins").attr("object")().release().ptr();
  m.attr("OUTPUT") = py::handle(output_marker);
  m.attr("INVOKE_FUNC") = static_cast<int>(INVOKE_FUNC);
  m.attr("INVOKE_PROPERTYGET") = static_cast<int>(INVOKE_PROPERTYGET);
  m.attr("INVOKE_PROPERTYPUT") = static_cast<int>(INVOKE_PROPERTYPUT);
  m.attr("INVOKE_PROPERTYPUTREF") = static_cast<int>(INVOKE_PROPERTYPUTREF);
  m.attr("PARAMFLAG_FIN") = static_cast<int>(PARAMFLAG_FIN);
  m.attr("PARAMFLAG_FOUT") = static_cast<int>(PARAMFLAG_FOUT);
  m.attr("PARAMFLAG_FOPT") = static_cast<int>(PARAMFLAG_FOPT);
  m.attr("PARAMFLAG_FRETVAL") = static_cast<int>(PARAMFLAG_FRETVAL);
  m.attr("VT_BYREF") = static_cast<int>(VT_BYREF);

  py::class_<NativeObject>(m, "NativeObject")
      .def_static("create", &NativeObject::Create, py::arg("class_text"))
      .def("members", &NativeObject::Members)
      .def("connect_events", &NativeObject::ConnectEvents)
      .def("invoke", &NativeObject::Invoke, py::arg("index"), py::arg("args"))
      .def("close", &NativeObject::Close)
      .def_property_readonly("closed", &NativeObject::closed)
      .def_property_readonly("events_connected", &NativeObject::events_connected)
      .def_property_readonly("class_text", &NativeObject::class_text)
      .def_property_readonly("type_name", &NativeObject::type_name);

  m.def("type_name", [](int vt) { return kx::kxauto::TypeName(static_cast<VARTYPE>(vt)); });
  m.def("hresult_name", [](long hr) { return std::string(HresultName(static_cast<HRESULT>(hr))); });
  m.def(
      "free_unused_libraries", [] { CoFreeUnusedLibraries(); },
      "Unloads the modules that no object of theirs holds any longer.");
  m.def("is_module_loaded", [](const std::string& path) { return IsModuleLoaded(path); });
  m.def("register_server", &RegisterServer, py::arg("path"), py::arg("machine"),
        py::arg("unregister"), "Calls a module's DllRegisterServer (or DllUnregisterServer).");
  m.def("registry_files", &RegistryFiles,
        "(user file, from KX_REGISTRY_DIR, machine file, from KX_MACHINE_REGISTRY_DIR).");
}

}  // namespace kx::python
