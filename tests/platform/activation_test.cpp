#include "kx/platform/activation.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <string>
#include <vector>

#include "activation_probe.h"
#include "kx/platform/comptr.h"
#include "kx/platform/handles.h"
#include "kx/platform/interfaces.h"
#include "kx/platform/registry.h"
#include "registry_sandbox.h"

extern char** environ;

namespace kx::platform {
namespace {

using test_support::ITestProbe;
using test_support::kClsidTestProbe;
using test_support::kIidTestProbe;
using test_support::RegistrySandbox;

int RunRegsvr(std::vector<std::string> args) {
  args.insert(args.begin(), KX_REGSVR);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, KX_REGSVR, nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

bool ReallyLoaded(const char* path) {
  void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle != nullptr;
}

class Activation : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(RunRegsvr({KX_TEST_PROBE_MODULE}), 0); }
  RegistrySandbox sandbox_;
};

TEST_F(Activation, ProgIdsResolveThroughCurVerAndBack) {
  CLSID by_version{}, by_independent{};
  EXPECT_EQ(CLSIDFromProgID(u"KxTest.Probe.1", &by_version), S_OK);
  EXPECT_EQ(CLSIDFromProgID(u"KxTest.Probe", &by_independent), S_OK);  // only CurVer there
  EXPECT_EQ(by_version, kClsidTestProbe);
  EXPECT_EQ(by_independent, kClsidTestProbe);

  LPOLESTR progid = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(kClsidTestProbe, &progid), S_OK);
  EXPECT_EQ(std::u16string(progid), u"KxTest.Probe.1");
  CoTaskMemFree(progid);

  CLSID parsed{};
  EXPECT_EQ(CLSIDFromString(u"{5A0C0E11-7D2B-4F3A-9C61-0B8E2A6F4D01}", &parsed), S_OK);
  EXPECT_EQ(parsed, kClsidTestProbe);
  EXPECT_EQ(CLSIDFromString(u"KxTest.Probe", &parsed), S_OK);
  EXPECT_EQ(parsed, kClsidTestProbe);
  EXPECT_EQ(CLSIDFromString(u"{5A0C0E11-7D2B}", &parsed), CO_E_CLASSSTRING);

  OLECHAR buffer[39];
  EXPECT_EQ(StringFromGUID2(kClsidTestProbe, buffer, 39), 39);
  EXPECT_EQ(std::u16string(buffer), u"{5A0C0E11-7D2B-4F3A-9C61-0B8E2A6F4D01}");
  EXPECT_EQ(StringFromGUID2(kClsidTestProbe, buffer, 38), 0);
}

TEST_F(Activation, CreatesByProgIdAndUnloadsOnlyAfterTheLastRelease) {
  ASSERT_FALSE(IsModuleLoaded(KX_TEST_PROBE_MODULE));
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"KxTest.Probe", &clsid), S_OK);
  ITestProbe* first = nullptr;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidTestProbe,
                             reinterpret_cast<void**>(&first)),
            S_OK);
  ASSERT_NE(first, nullptr);
  LONG twice = 0;
  EXPECT_EQ(first->Twice(21, &twice), S_OK);
  EXPECT_EQ(twice, 42);
  EXPECT_TRUE(IsModuleLoaded(KX_TEST_PROBE_MODULE));

  IUnknown* second = nullptr;
  ASSERT_EQ(
      CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&second)),
      S_OK);
  LONG live = 0;
  EXPECT_EQ(first->LiveObjects(&live), S_OK);
  EXPECT_EQ(live, 2);

  first->Release();
  CoFreeUnusedLibraries();
  EXPECT_TRUE(IsModuleLoaded(KX_TEST_PROBE_MODULE)) << "an object is still alive";
  EXPECT_TRUE(ReallyLoaded(KX_TEST_PROBE_MODULE));

  // A server lock taken through the class factory also keeps it.
  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
  second->Release();
  CoFreeUnusedLibraries();
  EXPECT_TRUE(IsModuleLoaded(KX_TEST_PROBE_MODULE)) << "the server lock is still held";
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  // Refused, so the module's count stays at zero and it can unload below.
  EXPECT_EQ(factory->LockServer(FALSE), E_UNEXPECTED) << "an unlock without a lock";

  CoFreeUnusedLibraries();
  EXPECT_FALSE(IsModuleLoaded(KX_TEST_PROBE_MODULE));
  EXPECT_FALSE(ReallyLoaded(KX_TEST_PROBE_MODULE)) << "dlclose must really unload the module";

  // It loads again on the next creation.
  ComPtr<ITestProbe> again;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidTestProbe,
                             reinterpret_cast<void**>(again.put())),
            S_OK);
  EXPECT_TRUE(IsModuleLoaded(KX_TEST_PROBE_MODULE));
  again = nullptr;
  CoFreeUnusedLibraries();
  EXPECT_FALSE(IsModuleLoaded(KX_TEST_PROBE_MODULE));
}

TEST_F(Activation, UnregistrationRemovesTheClassButKeepsTheClsidKey) {
  ASSERT_EQ(RunRegsvr({"-u", KX_TEST_PROBE_MODULE}), 0);
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(u"KxTest.Probe", &clsid), CO_E_CLASSSTRING);
  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(kClsidTestProbe, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  bool exists = false;
  ASSERT_EQ(RegKeyExists(HKEY_CLASSES_ROOT, "CLSID", &exists), ERROR_SUCCESS);
  EXPECT_TRUE(exists);
  EXPECT_NE(RunRegsvr({"/no/such/module.so"}), 0);
}

TEST(ActivationErrors, EachFailureHasItsOwnCode) {
  RegistrySandbox sandbox;
  const std::string clsid_key = "CLSID\\{5A0C0E11-7D2B-4F3A-9C61-0B8E2A6F4D01}";
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Loop.A\\CurVer", "", "Loop.B"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Loop.B\\CurVer", "", "Loop.A"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Bad.Clsid\\CLSID", "", "not a guid"), ERROR_SUCCESS);

  struct Case {
    const char* what;
    const char* inproc_server;  // nullptr: no InprocServer32 key
    HRESULT create;
  };
  const Case cases[] = {
      {"class not registered", nullptr, REGDB_E_CLASSNOTREG},
      {"module file missing", "/no/such/module.so", HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)},
      {"module without DllGetClassObject", KX_PLATFORM_LIBRARY, CO_E_ERRORINDLL},
      {"empty module path", "", REGDB_E_CLASSNOTREG},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.inproc_server) {
      ASSERT_EQ(
          RegSetString(HKEY_CLASSES_ROOT, clsid_key + "\\InprocServer32", "", c.inproc_server),
          ERROR_SUCCESS);
    }
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(
        CoCreateInstance(kClsidTestProbe, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
        c.create);
    EXPECT_EQ(object, nullptr);
    if (c.inproc_server) {
      ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "CLSID"), ERROR_SUCCESS);
    }
  }

  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(u"No.Such.Prog", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"Loop.A", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"Bad.Clsid", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"Loop.A\\CurVer", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(static_cast<LPCOLESTR>(nullptr), &clsid), E_POINTER);
  LPOLESTR progid = nullptr;
  EXPECT_EQ(ProgIDFromCLSID(kClsidTestProbe, &progid), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(progid, nullptr);
  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(kClsidTestProbe, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(kClsidTestProbe, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr),
            E_POINTER);

  // An unreadable registry is reported as such, not as a missing class.
  { std::ofstream(sandbox.file(), std::ios::trunc) << "garbage"; }
  EXPECT_EQ(CLSIDFromProgID(u"Loop.A", &clsid), REGDB_E_READREGDB);
  EXPECT_EQ(CoCreateInstance(kClsidTestProbe, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            REGDB_E_READREGDB);
  EXPECT_EQ(ProgIDFromCLSID(kClsidTestProbe, &progid), REGDB_E_READREGDB);
}

TEST(Apartment, InitialisationIsCountedPerThread) {
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  CoUninitialize();
  CoUninitialize();
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED),
            S_OK);  // fully uninitialised: a new start
  CoUninitialize();
  CoUninitialize();  // one too many is ignored
}

}  // namespace
}  // namespace kx::platform
