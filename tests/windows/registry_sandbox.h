#pragma once
// On Windows the tests that register and unregister the class run in a Wine prefix of their own,
// one at a time (tests/windows/object.cmake): that prefix is their sandbox, and each test sets up
// the registration it needs. Nothing is redirected per test.
namespace kx::platform::test_support {

class RegistrySandbox {
 public:
  RegistrySandbox() {}  // user-provided: a sandbox object is not an unused variable
  RegistrySandbox(const RegistrySandbox&) = delete;
  RegistrySandbox& operator=(const RegistrySandbox&) = delete;
};

}  // namespace kx::platform::test_support
