# kxauto: the command-line automation client (one call, or JSON calls in batch).
find_package(nlohmann_json 3 REQUIRED)
add_executable(kxauto
  ${CMAKE_CURRENT_LIST_DIR}/tools/kxauto/automation_client.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tools/kxauto/main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tools/kxauto/variant_json.cpp)
target_link_libraries(kxauto PRIVATE kx_platform nlohmann_json::nlohmann_json)
