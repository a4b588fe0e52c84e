#pragma once
// Points KX_REGISTRY_DIR at a fresh temporary folder for one test, and KX_MACHINE_REGISTRY_DIR
// at its "machine" subfolder, and removes both afterwards, so no test ever touches the user's or
// the machine's registry and tests running in parallel never share one.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace kx::platform::test_support {

class RegistrySandbox {
 public:
  RegistrySandbox() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kxreg-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed for " << pattern;
    dir_ = pattern;
    if (const char* old = getenv("KX_REGISTRY_DIR")) previous_ = old;
    if (const char* old = getenv("KX_MACHINE_REGISTRY_DIR")) previous_machine_ = old;
    setenv("KX_REGISTRY_DIR", dir_.c_str(), 1);
    setenv("KX_MACHINE_REGISTRY_DIR", machine_dir().c_str(), 1);
  }
  ~RegistrySandbox() {
    Restore("KX_REGISTRY_DIR", previous_);
    Restore("KX_MACHINE_REGISTRY_DIR", previous_machine_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  RegistrySandbox(const RegistrySandbox&) = delete;
  RegistrySandbox& operator=(const RegistrySandbox&) = delete;

  [[nodiscard]] const std::string& dir() const { return dir_; }
  [[nodiscard]] std::string file() const { return dir_ + "/registry.kxr"; }
  [[nodiscard]] std::string machine_dir() const { return dir_ + "/machine"; }
  [[nodiscard]] std::string machine_file() const { return machine_dir() + "/registry.kxr"; }

 private:
  static void Restore(const char* name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }

  std::string dir_;
  std::optional<std::string> previous_;
  std::optional<std::string> previous_machine_;
};

// A registry file's bytes, read and written whole, for tests that compare or damage them.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

}  // namespace kx::platform::test_support
