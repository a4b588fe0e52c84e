# The object's own tests (module and registration, dispatch and events, properties and
# persistence): the same sources as on Linux, on the system's runtime. They register and
# unregister the class as they go, so they get a prefix of their own and run as one program (one
# Wine start instead of one per case).
# Linux only: the control's drawing and About box tests (they drive our runtime's drawing surface
# and dialog host), the kxauto client's and the resource readers' (both our runtime's own).
# Where the system's dispatch through the type library answers otherwise than our runtime's, seen
# under Wine 8: the dual interface's dispatch half also lists IDispatch's seven methods; a
# property put refused with S_FALSE comes back from Invoke as S_OK; a type mismatch leaves the
# argument's position unset, missing arguments give DISP_E_BADPARAMCOUNT, surplus ones pass.
string(JOIN ":" kx_object_system_dispatch
  Dispatch.TypeInformationDescribesEveryMember
  Properties.RefusedEditReturnsSFalseAndKeepsTheValue
  Dispatch.ArgumentFaultsNameTheirPosition)
set(kx_interface_tests ${PROJECT_SOURCE_DIR}/tests/interface)
add_executable(object_test
    module_handle_windows.cpp
    ${kx_interface_tests}/object_test_support.cpp
    ${kx_interface_tests}/object_module_test.cpp
    ${kx_interface_tests}/object_dispatch_test.cpp
    ${kx_interface_tests}/object_persistence_test.cpp
    per_user_registration_test.cpp)
target_link_libraries(object_test PRIVATE kx_platform GTest::gtest GTest::gtest_main)
# registry_sandbox.h of this folder stands for the Linux one.
target_include_directories(object_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${kx_interface_tests}
                           ${PROJECT_SOURCE_DIR}/component/interface
                           ${PROJECT_SOURCE_DIR}/tests/platform)
# The DLL as the tests' Wine drive Z: shows the build folder.
target_compile_definitions(object_test PRIVATE KX_MODULE_PATH=L"Z:$<TARGET_FILE:KorvaneX>")
add_dependencies(object_test KorvaneX)
add_test(NAME windows_object_test
         COMMAND ${KX_WINE_RUN} ${CMAKE_BINARY_DIR}/object-tests $<TARGET_FILE:object_test>
                 --gtest_filter=-${kx_object_system_dispatch})
set_tests_properties(windows_object_test PROPERTIES TIMEOUT 600 LABELS windows)
