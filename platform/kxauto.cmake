# kxauto: the command-line automation client (one call, or JSON calls in batch). Its client and
# JSON conversions are a library of their own, for the other generic clients and their tests.
find_package(nlohmann_json 3 REQUIRED)
add_library(kx_automation_client STATIC
  ${CMAKE_CURRENT_LIST_DIR}/tools/kxauto/automation_client.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tools/kxauto/call_frame.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tools/kxauto/event_sink.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tools/kxauto/member_listing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tools/kxauto/type_members.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tools/kxauto/variant_json.cpp)
target_include_directories(kx_automation_client PUBLIC ${CMAKE_CURRENT_LIST_DIR}/tools/kxauto)
target_link_libraries(kx_automation_client PUBLIC kx_platform nlohmann_json::nlohmann_json)

add_executable(kxauto ${CMAKE_CURRENT_LIST_DIR}/tools/kxauto/main.cpp)
target_link_libraries(kxauto PRIVATE kx_automation_client)
target_compile_definitions(kxauto PRIVATE KX_PROJECT_VERSION="${PROJECT_VERSION}")
