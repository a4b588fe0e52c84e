# KorvaneX.dll: the component's sources against the Windows side of the platform, the type
# library compiled by widl from the same .idl the Linux module reads, and the resources by windres.
set(kx_resource_dir ${PROJECT_SOURCE_DIR}/component/resources)

# widl needs the system's IDispatch (oaidl.idl) and stdole2.tlb, which the .idl leaves implicit.
set(kx_widl_idl ${CMAKE_CURRENT_BINARY_DIR}/korvanex_widl.idl)
set(kx_tlb ${CMAKE_CURRENT_BINARY_DIR}/korvanex.tlb)
add_custom_command(
  OUTPUT ${kx_widl_idl}
  COMMAND ${CMAKE_COMMAND} -DIN=${kx_resource_dir}/korvanex.idl -DOUT=${kx_widl_idl}
          -P ${PROJECT_SOURCE_DIR}/cmake/widl_idl.cmake
  DEPENDS ${kx_resource_dir}/korvanex.idl ${PROJECT_SOURCE_DIR}/cmake/widl_idl.cmake
  VERBATIM)
add_custom_command(
  OUTPUT ${kx_tlb}
  COMMAND ${KX_WIDL} ${KX_WIDL_FLAGS} -I${KX_WINE_IDL_DIR} -L${KX_WINE_LIB_DIR} -t -o ${kx_tlb}
          ${kx_widl_idl}
  DEPENDS ${kx_widl_idl}
  COMMENT "Compiling the type library"
  VERBATIM)
add_custom_target(korvanex_tlb DEPENDS ${kx_tlb})

# The resource script with the compiled type library in place of its .idl and full paths.
file(READ ${kx_resource_dir}/korvanex.rc kx_rc_text)
string(REGEX REPLACE "\"([a-z0-9_]+\\.(bmp|ico|rgs))\"" "\"${kx_resource_dir}/\\1\"" kx_rc_text
       "${kx_rc_text}")
string(REPLACE "\"korvanex.idl\"" "\"${kx_tlb}\"" kx_rc_text "${kx_rc_text}")
set(kx_rc ${CMAKE_CURRENT_BINARY_DIR}/korvanex_windows.rc)
file(CONFIGURE OUTPUT ${kx_rc} CONTENT "#include <windows.h>\n${kx_rc_text}" @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${kx_resource_dir}/korvanex.rc)
set_source_files_properties(${kx_rc} PROPERTIES OBJECT_DEPENDS
  "${kx_tlb};${kx_resource_dir}/kvquantorb.rgs;${kx_resource_dir}/bitmap201.bmp;${kx_resource_dir}/bitmap202.bmp;${kx_resource_dir}/bitmap207.bmp;${kx_resource_dir}/icon206.ico")

# The object's code, shared with the Linux module (component/object/CMakeLists.txt); the type
# library and About box files are the Windows ones: the system serves both from the DLL's own
# resources, where the Linux module reads its resource texts.
set(kx_object_dir ${PROJECT_SOURCE_DIR}/component/object)
set(kx_families_dir ${PROJECT_SOURCE_DIR}/component/families)
add_library(kx_component_core STATIC
  ${kx_object_dir}/about_box_windows.cpp
  ${kx_object_dir}/about_proc.cpp
  ${kx_object_dir}/class_factory.cpp
  ${kx_object_dir}/control_identity.cpp
  ${kx_object_dir}/control_ole.cpp
  ${kx_object_dir}/control_persistence.cpp
  ${kx_object_dir}/control_view.cpp
  ${kx_object_dir}/kv_quantorb.cpp
  ${kx_object_dir}/quantorb_typelib_windows.cpp
  ${kx_families_dir}/black_scholes/black_scholes_members.cpp
  ${kx_families_dir}/binomial/binomial_members.cpp
  ${kx_families_dir}/bjerksund_stensland/bjerksund_stensland_members.cpp
  ${kx_families_dir}/historical_volatility/historical_volatility_members.cpp)
target_include_directories(kx_component_core PUBLIC ${kx_object_dir})
target_link_libraries(kx_component_core
  PUBLIC kx_component_families kx_component_frame kx_component_interface kx_models kx_platform)

add_library(KorvaneX SHARED ${kx_object_dir}/module_exports.cpp ${kx_object_dir}/korvanex.def
            ${kx_rc})
set_target_properties(KorvaneX PROPERTIES OUTPUT_NAME KorvaneX PREFIX "")
# 32-bit: the .def's undecorated names export the __stdcall functions (DllGetClassObject@12).
target_link_options(KorvaneX PRIVATE -Wl,--enable-stdcall-fixup)
target_link_libraries(KorvaneX PRIVATE kx_component_core)
