#pragma once
// Points KX_REGISTRY_DIR at a fresh temporary folder for one test and removes it afterwards,
// so no test ever touches the user's registry and tests running in parallel never share one.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
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
    setenv("KX_REGISTRY_DIR", dir_.c_str(), 1);
  }
  ~RegistrySandbox() {
    if (previous_) {
      setenv("KX_REGISTRY_DIR", previous_->c_str(), 1);
    } else {
      unsetenv("KX_REGISTRY_DIR");
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  RegistrySandbox(const RegistrySandbox&) = delete;
  RegistrySandbox& operator=(const RegistrySandbox&) = delete;

  [[nodiscard]] const std::string& dir() const { return dir_; }
  [[nodiscard]] std::string file() const { return dir_ + "/registry.kxr"; }

 private:
  std::string dir_;
  std::optional<std::string> previous_;
};

}  // namespace kx::platform::test_support
