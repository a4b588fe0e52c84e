# The KvQuantorb object's own parts (type library, registration, connection point, persistence,
# drawing, about box), the embedded resources, and the KorvaneX module with its four exports.
set(kx_resource_dir ${PROJECT_SOURCE_DIR}/component/resources)
set(kx_resource_script ${kx_resource_dir}/korvanex.rc)

# Every file the resource script lists is embedded; a new line there reconfigures.
file(STRINGS ${kx_resource_script} kx_resource_lines REGEX "^[0-9]+[ \t]+[A-Z]+[ \t]+\"[^\"]+\"")
set(kx_resource_files ${kx_resource_script})
foreach(line IN LISTS kx_resource_lines)
  string(REGEX MATCH "\"([^\"]+)\"" _ "${line}")
  list(APPEND kx_resource_files ${kx_resource_dir}/${CMAKE_MATCH_1})
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${kx_resource_script})

set(kx_embedded_resources ${CMAKE_CURRENT_BINARY_DIR}/embedded_resources_data.cpp)
add_custom_command(
  OUTPUT ${kx_embedded_resources}
  COMMAND ${CMAKE_COMMAND} -DRC=${kx_resource_script} -DOUT=${kx_embedded_resources}
          -P ${CMAKE_CURRENT_LIST_DIR}/embed_resources.cmake
  DEPENDS ${kx_resource_files} ${CMAKE_CURRENT_LIST_DIR}/embed_resources.cmake
  COMMENT "Embedding the component resources"
  VERBATIM)

target_sources(kx_component_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/about_box.cpp
  ${CMAKE_CURRENT_LIST_DIR}/class_factory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/control_identity.cpp
  ${CMAKE_CURRENT_LIST_DIR}/control_ole.cpp
  ${CMAKE_CURRENT_LIST_DIR}/control_persistence.cpp
  ${CMAKE_CURRENT_LIST_DIR}/control_view.cpp
  ${CMAKE_CURRENT_LIST_DIR}/embedded_resources.cpp
  ${CMAKE_CURRENT_LIST_DIR}/quantorb_typelib.cpp
  ${CMAKE_CURRENT_LIST_DIR}/resource_lexer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/resource_script.cpp
  ${CMAKE_CURRENT_LIST_DIR}/type_library_text.cpp
  ${kx_embedded_resources})

# KorvaneX.so, loaded by hosts through the registry. Only the four exports leave the module.
add_library(KorvaneX MODULE ${CMAKE_CURRENT_LIST_DIR}/module_exports.cpp)
set_target_properties(KorvaneX PROPERTIES OUTPUT_NAME KorvaneX PREFIX "")
target_link_libraries(KorvaneX PRIVATE kx_component_core)
target_link_options(KorvaneX PRIVATE
  -Wl,--version-script=${CMAKE_CURRENT_LIST_DIR}/korvanex_exports.map)
# clang's sanitizer runtimes live in the program, so a fuzzing build's module has undefined ones.
if(NOT KX_BUILD_FUZZERS)
  target_link_options(KorvaneX PRIVATE -Wl,--no-undefined)
endif()
set_property(TARGET KorvaneX APPEND PROPERTY LINK_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/korvanex_exports.map)
