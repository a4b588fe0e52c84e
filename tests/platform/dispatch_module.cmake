# A registered class with a type library for the generic clients' tests (the Python package).
add_library(kx_test_recorder MODULE ${CMAKE_CURRENT_LIST_DIR}/dispatch_module.cpp)
target_link_libraries(kx_test_recorder PRIVATE kx_platform)
set_target_properties(kx_test_recorder PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)

# The call layout shared by the generic clients is tested with the platform.
target_link_libraries(platform_test PRIVATE kx_automation_client)
