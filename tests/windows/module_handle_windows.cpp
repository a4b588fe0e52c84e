// The module opened as the system's activation opens it: LoadLibrary.
#include "kx/platform/bstr.h"
#include "object_test_support.h"

namespace kx::component::object_test {

ModuleHandle::ModuleHandle() {
  handle_ = ::LoadLibraryW(KX_MODULE_PATH);
  if (!handle_) ADD_FAILURE() << "cannot load the module: error " << ::GetLastError();
}

ModuleHandle::~ModuleHandle() { Close(); }

void ModuleHandle::Close() {
  if (handle_) ::FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

// As the system names the file it loaded, which is what registration writes.
std::string ModuleHandle::Path() {
  HMODULE module = ::LoadLibraryW(KX_MODULE_PATH);
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD n = module ? ::GetModuleFileNameW(module, path, MAX_PATH) : 0;
  if (module) ::FreeLibrary(module);
  return kx::platform::Utf16ToUtf8(std::wstring_view(path, n));
}

void* ModuleHandle::Export(const char* name) const {
  return handle_ ? reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name))
                 : nullptr;
}

namespace {

// The system creates objects only on a thread that entered an apartment: the tests' thread is a
// single-threaded one, as a host's user-interface thread is.
class Apartment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK); }
  void TearDown() override { ::CoUninitialize(); }
};

[[maybe_unused]] ::testing::Environment* const apartment =
    ::testing::AddGlobalTestEnvironment(new Apartment);

}  // namespace

}  // namespace kx::component::object_test
