# Tests of the KorvaneX module through the platform (registry, activation, dispatch), of its
# resource texts, and of the kxauto client run on it.
find_package(nlohmann_json 3 REQUIRED)
kx_add_test(object_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/module_handle_linux.cpp
    ${CMAKE_CURRENT_LIST_DIR}/object_test_support.cpp
    ${CMAKE_CURRENT_LIST_DIR}/object_module_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/object_dispatch_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/object_persistence_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/object_control_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/object_kxauto_test.cpp
  LIBS kx_platform nlohmann_json::nlohmann_json
  LABELS "sanitize;threads")
# The test binds through the platform only; it takes the component's identifiers from its header.
target_include_directories(object_test PRIVATE ${PROJECT_SOURCE_DIR}/component/interface
                                               ${PROJECT_SOURCE_DIR}/tests/platform)
target_compile_definitions(object_test PRIVATE
  KX_MODULE_PATH="$<TARGET_FILE:KorvaneX>"
  KX_KXAUTO_PATH="$<TARGET_FILE:kxauto>"
  KX_PROJECT_VERSION="${PROJECT_VERSION}"
  KX_RESOURCE_DIR="${PROJECT_SOURCE_DIR}/component/resources")
add_dependencies(object_test KorvaneX kxauto)

kx_add_test(object_resources_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/object_resources_test.cpp
  LIBS kx_component_core
  LABELS "sanitize;threads")
target_compile_definitions(object_resources_test PRIVATE
  KX_RESOURCE_DIR="${PROJECT_SOURCE_DIR}/component/resources")
