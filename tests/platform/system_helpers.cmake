# Helper program for the registry's concurrent-writer test.
add_executable(kx_registry_writer ${CMAKE_CURRENT_LIST_DIR}/registry_writer_main.cpp)
target_link_libraries(kx_registry_writer PRIVATE kx_platform)
add_dependencies(platform_test kx_registry_writer)
target_compile_definitions(platform_test PRIVATE KX_REGISTRY_WRITER="$<TARGET_FILE:kx_registry_writer>")
