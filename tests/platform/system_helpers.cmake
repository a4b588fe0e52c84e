# Helper program for the registry's concurrent-writer test.
add_executable(kx_registry_writer ${CMAKE_CURRENT_LIST_DIR}/registry_writer_main.cpp)
target_link_libraries(kx_registry_writer PRIVATE kx_platform)
add_dependencies(platform_test kx_registry_writer)
target_compile_definitions(platform_test PRIVATE KX_REGISTRY_WRITER="$<TARGET_FILE:kx_registry_writer>")

# A tiny in-process server for the activation tests, plus the registration tool that registers it.
add_library(kx_test_probe MODULE ${CMAKE_CURRENT_LIST_DIR}/activation_module.cpp)
target_link_libraries(kx_test_probe PRIVATE kx_platform)
set_target_properties(kx_test_probe PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden)
add_dependencies(platform_test kx_test_probe kxregsvr)
target_compile_definitions(platform_test PRIVATE KX_TEST_PROBE_MODULE="$<TARGET_FILE:kx_test_probe>"
                                                 KX_REGSVR="$<TARGET_FILE:kxregsvr>"
                                                 KX_PLATFORM_LIBRARY="$<TARGET_FILE:kx_platform>")

# Helper program for the registry's kill and concurrent-registration tests.
add_executable(kx_registry_churn ${CMAKE_CURRENT_LIST_DIR}/registry_churn_main.cpp)
target_link_libraries(kx_registry_churn PRIVATE kx_platform)
add_dependencies(platform_test kx_registry_churn)
target_compile_definitions(platform_test PRIVATE KX_REGISTRY_CHURN="$<TARGET_FILE:kx_registry_churn>")
target_compile_definitions(platform_test PRIVATE KX_PROJECT_VERSION="${PROJECT_VERSION}")
