// The registration-script interpreter: any text, checked in both modes; a script that checks is
// then run for real on an empty private registry, registered and unregistered again.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "kx/platform/regscript.h"

using namespace kx::platform;

namespace {

std::string registry_file;

bool MentionsNoRemove(std::string_view text) {
  static constexpr std::string_view kWord = "noremove";
  for (std::size_t i = 0; i + kWord.size() <= text.size(); ++i) {
    std::size_t k = 0;
    while (k < kWord.size() && (text[i + k] | 0x20) == kWord[k]) ++k;
    if (k == kWord.size()) return true;
  }
  return false;
}

bool RootEmpty(HKEY root) {
  std::vector<std::string> names;
  const LSTATUS s = RegListSubKeys(root, "", &names);
  return s == ERROR_SUCCESS && names.empty();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  registry_file = kx::fuzz::UsePrivateRegistry() + "/registry.kxr";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view script(reinterpret_cast<const char*>(data), size);
  const RegScriptVariables variables = {{"MODULE", "/opt/kx/lib/Module.so"}, {"NAME", "x y"}};
  HRESULT checked[2] = {};
  int i = 0;
  for (RegScriptMode mode : {RegScriptMode::kRegister, RegScriptMode::kUnregister}) {
    RegistryEdit edit;
    std::string diagnostic;
    checked[i] = AddRegistrationScript(edit, script, variables, mode, &diagnostic);
    KX_FUZZ_CHECK(SUCCEEDED(checked[i]) || checked[i] == E_INVALIDARG ||
                  checked[i] == E_OUTOFMEMORY);
    if (checked[i] == E_INVALIDARG) KX_FUZZ_CHECK(!diagnostic.empty());
    ++i;
  }
  // The syntax does not depend on the mode.
  KX_FUZZ_CHECK(SUCCEEDED(checked[0]) == SUCCEEDED(checked[1]));
  if (FAILED(checked[0]) || size > 2048) return 0;

  std::error_code ignored;
  std::filesystem::remove(registry_file, ignored);
  const HRESULT registered = RunRegistrationScript(script, variables, RegScriptMode::kRegister);
  // A script that checks can be stored; on an empty registry nothing else may fail.
  KX_FUZZ_CHECK(registered == S_OK);
  const HRESULT unregistered = RunRegistrationScript(script, variables, RegScriptMode::kUnregister);
  KX_FUZZ_CHECK(unregistered == S_OK);
  // Without NoRemove, unregistering takes away everything registering wrote.
  if (registered == S_OK && unregistered == S_OK && !MentionsNoRemove(script)) {
    KX_FUZZ_CHECK(RootEmpty(HKEY_CLASSES_ROOT));
    KX_FUZZ_CHECK(RootEmpty(HKEY_CURRENT_USER));
  }
  return 0;
}
