// What the tests of the KorvaneX module share: a temporary registry, the module loaded from its
// build path, the object created through the registry, and late-bound calls by name.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "ikvquantorb.h"
#include "kx/platform/comptr.h"
#include "kx/platform/interfaces.h"
#include "kx/platform/module.h"
#include "kx/platform/variant.h"
#include "registry_sandbox.h"
#include "variant_args.h"

namespace kx::component::object_test {

using kx::platform::test_support::RegistrySandbox;

/// The module file as built, opened as the platform's activation opens it (the same image).
class ModuleHandle {
 public:
  ModuleHandle();
  ~ModuleHandle();
  ModuleHandle(const ModuleHandle&) = delete;
  ModuleHandle& operator=(const ModuleHandle&) = delete;

  [[nodiscard]] kx::platform::HRESULT Register() const;
  [[nodiscard]] kx::platform::HRESULT Unregister() const;
  [[nodiscard]] kx::platform::HRESULT CanUnloadNow() const;
  [[nodiscard]] kx::platform::HRESULT GetClassObject(kx::platform::REFCLSID clsid,
                                                     kx::platform::REFIID riid,
                                                     void** object) const;
  /// Closes this handle (the platform may still hold its own).
  void Close();
  /// The module's full path as registration writes it.
  [[nodiscard]] static std::string Path();

 private:
  [[nodiscard]] void* Export(const char* name) const;  // null when absent or not loaded

  void* handle_ = nullptr;
};

/// A registered module in a temporary registry: the base of most tests here.
class RegisteredModuleTest : public ::testing::Test {
 protected:
  void SetUp() override;
  [[nodiscard]] kx::platform::ComPtr<kx::platform::IDispatch> Create(
      const char* progid = "Korvane.Quantorb") const;

  RegistrySandbox registry_;
  ModuleHandle module_;
};

/// One Invoke by name: arguments in declared order (the helper reverses them).
struct CallResult {
  kx::platform::HRESULT hr = kx::platform::S_OK;
  kx::platform::Variant value;
  std::string source;
  std::string description;
  kx::platform::SCODE scode = 0;
  kx::platform::UINT arg_err = 0;
};
[[nodiscard]] DISPID IdOf(kx::platform::IDispatch* object, const char16_t* name);
[[nodiscard]] CallResult CallByName(kx::platform::IDispatch* object, const char16_t* name,
                                    std::vector<kx::platform::VARIANT> args,
                                    kx::platform::WORD flags = kx::platform::DISPATCH_METHOD);
[[nodiscard]] CallResult PutByName(kx::platform::IDispatch* object, const char16_t* name,
                                   kx::platform::VARIANT value);
using kx::platform::test_support::I2;
using kx::platform::test_support::I4;
using kx::platform::test_support::Missing;
using kx::platform::test_support::R8;
using kx::platform::test_support::RefR8;
using kx::platform::test_support::RefVariant;

/// Base and BlockingMode read through IDispatch.
[[nodiscard]] kx::platform::LONG BaseOf(kx::platform::IDispatch* object);
[[nodiscard]] kx::platform::SHORT BlockingOf(kx::platform::IDispatch* object);

/// Records every Done it receives, in order.
class DoneRecorder final : public kx::platform::IDispatch {
 public:
  struct Done {
    kx::platform::SHORT last_method;
    kx::platform::SHORT error_code;
    std::string error_string;
  };
  explicit DoneRecorder(bool answers_events_iid = true) : answers_(answers_events_iid) {}
  kx::platform::HRESULT QueryInterface(kx::platform::REFIID riid, void** object) override;
  kx::platform::ULONG AddRef() override { return ++references_; }
  kx::platform::ULONG Release() override { return --references_; }  // owned by the test
  kx::platform::HRESULT GetTypeInfoCount(kx::platform::UINT* count) override;
  kx::platform::HRESULT GetTypeInfo(kx::platform::UINT, kx::platform::LCID,
                                    kx::platform::ITypeInfo** info) override;
  kx::platform::HRESULT GetIDsOfNames(kx::platform::REFIID, kx::platform::LPOLESTR*,
                                      kx::platform::UINT, kx::platform::LCID, DISPID*) override;
  kx::platform::HRESULT Invoke(DISPID member, kx::platform::REFIID riid, kx::platform::LCID lcid,
                               kx::platform::WORD flags, kx::platform::DISPPARAMS* params,
                               VARIANT* result, kx::platform::EXCEPINFO* excep,
                               kx::platform::UINT* arg_err) override;

  std::vector<Done> events;
  std::vector<std::string> faults;  // anything unexpected about a call
  kx::platform::ULONG references_ = 0;

 private:
  bool answers_;
};

/// Connects a sink to the object's _IKvQuantorbEvents point; disconnects on destruction.
class EventConnection {
 public:
  EventConnection(kx::platform::IDispatch* object, kx::platform::IUnknown* sink);
  ~EventConnection();
  [[nodiscard]] kx::platform::HRESULT hr() const { return hr_; }

 private:
  kx::platform::ComPtr<kx::platform::IConnectionPoint> point_;
  kx::platform::DWORD cookie_ = 0;
  kx::platform::HRESULT hr_ = kx::platform::E_FAIL;
};

}  // namespace kx::component::object_test
