# kxregsvr [-u] <module>: calls a module's DllRegisterServer / DllUnregisterServer.
add_executable(kxregsvr ${CMAKE_CURRENT_LIST_DIR}/tools/kxregsvr.cpp)
target_link_libraries(kxregsvr PRIVATE kx_platform ${CMAKE_DL_LIBS})
target_compile_definitions(kxregsvr PRIVATE KX_VERSION="${PROJECT_VERSION}")
