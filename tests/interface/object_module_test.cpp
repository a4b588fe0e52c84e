// The KorvaneX module as hosts see it: registration into the registry, creation by ProgID,
// the interfaces the object answers to, and when the module may be unloaded.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kx/platform/activation.h"
#include "kx/platform/registry.h"
#include "kx/platform/regscript.h"
#include "object_test_support.h"

namespace kx::component::object_test {
namespace {

using namespace kx::platform;

constexpr const char* kClsidKey = "CLSID\\{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17}";
constexpr const char* kAddinKey = "Software\\Microsoft\\Office\\Excel\\Addins\\Korvane.Quantorb.1";
constexpr const char* kName = "= Brambleton Varnix Control";

std::string StringAt(HKEY root, const std::string& path, const char* value = "") {
  std::string s;
  const LSTATUS status = RegGetString(root, path, value, &s);
  return status == ERROR_SUCCESS ? s : "<missing: " + std::to_string(status) + ">";
}

bool KeyExists(HKEY root, const std::string& path) {
  bool exists = false;
  EXPECT_EQ(RegKeyExists(root, path, &exists), ERROR_SUCCESS) << path;
  return exists;
}

using ModuleRegistration = RegisteredModuleTest;

TEST_F(ModuleRegistration, WritesEveryStringValue) {
  const std::string module = ModuleHandle::Path();
  struct Row {
    std::string path, value, expected;
  };
  const std::string clsid = kClsidKey;
  const Row rows[] = {
      {"Korvane.Quantorb.1", "", kName},
      {"Korvane.Quantorb.1\\CLSID", "", "{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17}"},
      {"Korvane.Quantorb", "", kName},
      {"Korvane.Quantorb\\CLSID", "", "{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17}"},
      {"Korvane.Quantorb\\CurVer", "", "Korvane.Quantorb.1"},
      {clsid, "", kName},
      {clsid + "\\ProgID", "", "Korvane.Quantorb.1"},
      {clsid + "\\VersionIndependentProgID", "", "Korvane.Quantorb"},
      {clsid + "\\InprocServer32", "", module},
      {clsid + "\\InprocServer32", "ThreadingModel", "Apartment"},
      {clsid + "\\ToolboxBitmap32", "", module + ", 206"},
      {clsid + "\\MiscStatus", "", "0"},
      {clsid + "\\MiscStatus\\1", "", "132497"},
      {clsid + "\\TypeLib", "", "{7C41E2A0-3B95-4D6E-A1F8-62D0B94C5E17}"},
      {clsid + "\\Version", "", "1.0"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE("HKCR\\" + r.path + " [" + r.value + "]");
    EXPECT_EQ(StringAt(HKEY_CLASSES_ROOT, r.path, r.value.c_str()), r.expected);
  }
  for (const char* empty : {"Programmable", "Control", "Insertable"}) {
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, clsid + "\\" + empty)) << empty;
  }
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Korvane.Quantorb.1\\Insertable"));
  EXPECT_EQ(StringAt(HKEY_CURRENT_USER, kAddinKey, "FriendlyName"), kName);
  DWORD load_behavior = 0;
  EXPECT_EQ(RegGetDword(HKEY_CURRENT_USER, kAddinKey, "LoadBehavior", &load_behavior),
            ERROR_SUCCESS);
  EXPECT_EQ(load_behavior, 3u);
}

TEST_F(ModuleRegistration, RegistersTheTypeLibraryFromTheModule) {
  std::string path;
  ASSERT_EQ(QueryPathOfRegTypeLib(LIBID_KORVANELib, 1, 0, 1033, &path), S_OK);
  EXPECT_EQ(path, ModuleHandle::Path());
  EXPECT_EQ(StringAt(HKEY_CLASSES_ROOT, "TypeLib\\{7C41E2A0-3B95-4D6E-A1F8-62D0B94C5E17}\\1.0"),
            kName);
  EXPECT_EQ(StringAt(HKEY_CLASSES_ROOT, "Interface\\{7C41E2A2-3B95-4D6E-A1F8-62D0B94C5E17}"),
            "IKvQuantorb");
  EXPECT_EQ(StringAt(HKEY_CLASSES_ROOT, "Interface\\{7C41E2A3-3B95-4D6E-A1F8-62D0B94C5E17}"),
            "_IKvQuantorbEvents");
}

TEST_F(ModuleRegistration, ReplacesTheClassAndAddinKeysWhole) {
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, std::string(kClsidKey) + "\\Stale", "", "old"),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_CURRENT_USER, kAddinKey, "Stale", "old"), ERROR_SUCCESS);
  ASSERT_EQ(module_.Register(), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string(kClsidKey) + "\\Stale"));
  std::string ignored;
  EXPECT_EQ(RegGetString(HKEY_CURRENT_USER, kAddinKey, "Stale", &ignored), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(StringAt(HKEY_CURRENT_USER, kAddinKey, "FriendlyName"), kName);
}

TEST_F(ModuleRegistration, UnregisterRemovesOnlyWhatItOwns) {
  // Keys of other classes and add-ins share the parents that must stay.
  ASSERT_EQ(
      RegSetString(HKEY_CLASSES_ROOT, "CLSID\\{00000000-1111-2222-3333-444444444444}", "", "other"),
      ERROR_SUCCESS);
  ASSERT_EQ(module_.Unregister(), S_OK);
  for (const char* gone : {"Korvane.Quantorb.1", "Korvane.Quantorb", kClsidKey,
                           "TypeLib\\{7C41E2A0-3B95-4D6E-A1F8-62D0B94C5E17}",
                           "Interface\\{7C41E2A2-3B95-4D6E-A1F8-62D0B94C5E17}",
                           "Interface\\{7C41E2A3-3B95-4D6E-A1F8-62D0B94C5E17}"}) {
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, gone)) << gone;
  }
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\{00000000-1111-2222-3333-444444444444}"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kAddinKey));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Microsoft\\Office\\Excel\\Addins"));
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID("Korvane.Quantorb", &clsid), CO_E_CLASSSTRING);
  // Unregistering again finds nothing left to remove and still succeeds.
  EXPECT_EQ(module_.Unregister(), S_OK);
}

TEST_F(ModuleRegistration, CLSIDParentStaysEvenWhenLastClassGoes) {
  ASSERT_EQ(module_.Unregister(), S_OK);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Microsoft\\Office\\Excel\\Addins"));
}

TEST_F(ModuleRegistration, BothProgIDsNameTheSameClass) {
  CLSID by_version = GUID_NULL, independent = GUID_NULL;
  ASSERT_EQ(CLSIDFromProgID("Korvane.Quantorb.1", &by_version), S_OK);
  ASSERT_EQ(CLSIDFromProgID("Korvane.Quantorb", &independent), S_OK);
  EXPECT_EQ(by_version, CLSID_KvQuantorb);
  EXPECT_EQ(independent, CLSID_KvQuantorb);
  for (const char* progid : {"Korvane.Quantorb", "Korvane.Quantorb.1"}) {
    SCOPED_TRACE(progid);
    ComPtr<IDispatch> object = Create(progid);
    ASSERT_TRUE(object);
    auto persist = object.As<IPersist>();
    ASSERT_TRUE(persist);
    CLSID reported = GUID_NULL;
    EXPECT_EQ(persist->GetClassID(&reported), S_OK);
    EXPECT_EQ(reported, CLSID_KvQuantorb);
  }
  LPOLESTR progid = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(CLSID_KvQuantorb, &progid), S_OK);
  EXPECT_EQ(Utf16ToUtf8(progid), "Korvane.Quantorb.1");
  CoTaskMemFree(progid);
}

using ObjectInterfaces = RegisteredModuleTest;

TEST_F(ObjectInterfaces, AnswersExactlyTheListedInterfaces) {
  ComPtr<IDispatch> object = Create();
  ASSERT_TRUE(object);
  const IID answered[] = {IID_IUnknown,
                          IID_IKvQuantorb,
                          IID_IDispatch,
                          IID_IViewObjectEx,
                          IID_IViewObject2,
                          IID_IViewObject,
                          IID_IOleInPlaceObjectWindowless,
                          IID_IOleInPlaceObject,
                          IID_IOleWindow,
                          IID_IOleInPlaceActiveObject,
                          IID_IOleControl,
                          IID_IOleObject,
                          IID_IPersistStreamInit,
                          IID_IPersist,
                          IID_ISupportErrorInfo,
                          IID_IConnectionPointContainer,
                          IID_ISpecifyPropertyPages,
                          IID_IQuickActivate,
                          IID_IPersistStorage,
                          IID_IDataObject,
                          IID_IProvideClassInfo,
                          IID_IProvideClassInfo2,
                          IID_IPersistPropertyBag};
  ComPtr<IUnknown> identity;
  ASSERT_EQ(object->QueryInterface(IID_IUnknown, identity.put_void()), S_OK);
  for (const IID& iid : answered) {
    SCOPED_TRACE(FormatGuid(iid));
    ComPtr<IUnknown> p;
    ASSERT_EQ(object->QueryInterface(iid, p.put_void()), S_OK);
    ASSERT_TRUE(p);
    // Every interface leads back to the same object.
    ComPtr<IUnknown> back;
    ASSERT_EQ(p->QueryInterface(IID_IUnknown, back.put_void()), S_OK);
    EXPECT_EQ(back.get(), identity.get());
  }
  const IID refused[] = {IID_IClassFactory,      IID_IPersistStream, IID_IPropertyNotifySink,
                         IID_IConnectionPoint,   IID_IStream,        IID_IPropertyBag,
                         IID_IAdviseSink,        IID_IOleClientSite, IID_ITypeInfo,
                         DIID__IKvQuantorbEvents};
  for (const IID& iid : refused) {
    SCOPED_TRACE(FormatGuid(iid));
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(object->QueryInterface(iid, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
  }
}

TEST_F(ObjectInterfaces, SupportsErrorInfoOnlyForItsDualInterface) {
  ComPtr<IDispatch> object = Create();
  auto support = object.As<ISupportErrorInfo>();
  ASSERT_TRUE(support);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IKvQuantorb), S_OK);
  for (const IID& other : {IID_IDispatch, IID_IUnknown, DIID__IKvQuantorbEvents, IID_IOleObject}) {
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(other), S_FALSE) << FormatGuid(other);
  }
}

TEST_F(ObjectInterfaces, ClassObjectRefusesOtherClassesAndAggregation) {
  ComPtr<IClassFactory> factory;
  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(module_.GetClassObject(IID_IKvQuantorb, IID_IClassFactory, &other),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(other, nullptr);
  ASSERT_EQ(CoGetClassObject(CLSID_KvQuantorb, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             factory.put_void()),
            S_OK);
  ComPtr<IUnknown> object;
  IUnknown* outer = factory.get();
  EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, object.put_void()), CLASS_E_NOAGGREGATION);
  EXPECT_FALSE(object);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, object.put_void()), E_NOINTERFACE);
}

// No other test holds an object of this module while this one runs (tests run one at a time).
TEST(ModuleUnloading, CanUnloadOnlyWithoutObjectsAndLocks) {
  RegistrySandbox registry;
  ModuleHandle module;
  ASSERT_EQ(module.Register(), S_OK);
  EXPECT_EQ(module.CanUnloadNow(), S_OK);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_KvQuantorb, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             factory.put_void()),
            S_OK);
  EXPECT_EQ(module.CanUnloadNow(), S_OK) << "the class object alone keeps nothing loaded";

  ComPtr<IDispatch> first, second;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, first.put_void()), S_OK);
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, second.put_void()), S_OK);
  EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
  first.Reset();
  EXPECT_EQ(module.CanUnloadNow(), S_FALSE) << "one object is still alive";

  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  second.Reset();
  EXPECT_EQ(module.CanUnloadNow(), S_FALSE) << "the server lock is still held";
  ASSERT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(module.CanUnloadNow(), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), E_UNEXPECTED) << "an unlock without a lock";
  EXPECT_EQ(module.CanUnloadNow(), S_OK);
  factory.Reset();

  // With our own handle closed, the platform unloads the module it loaded for the factory.
  module.Close();
  const std::string path = ModuleHandle::Path();
  EXPECT_TRUE(IsModuleLoaded(path));
  CoFreeUnusedLibraries();
  EXPECT_FALSE(IsModuleLoaded(path));
}

}  // namespace
}  // namespace kx::component::object_test
