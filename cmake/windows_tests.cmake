# GoogleTest cross-built from the sources Debian's googletest package installs, and every test
# program run through Wine in the build's private prefix (scripts/wine-run.sh).
set(KX_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to cross-build")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${KX_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
include(GoogleTest)

# The system's programs the tests name (regsvr32, reg, cscript) are of the build's bitness.
set(KX_WINE_BITS)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(KX_WINE_BITS --32)
endif()
set(KX_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh ${KX_WINE_BITS})
set(CMAKE_CROSSCOMPILING_EMULATOR ${KX_WINE_RUN} ${CMAKE_BINARY_DIR})

# kx_add_test(name SOURCES ... LIBS ...): a GoogleTest program whose cases ctest runs under Wine.
function(kx_add_test name)
  cmake_parse_arguments(T "" "FILTER" "SOURCES;LIBS;LABELS;FIXTURES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest GTest::gtest_main)
  set(properties TIMEOUT 600 LABELS windows)
  if(T_FIXTURES)
    list(APPEND properties FIXTURES_REQUIRED ${T_FIXTURES})
  endif()
  set(filter)
  if(T_FILTER)
    set(filter TEST_FILTER ${T_FILTER})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 300 ${filter}
                       PROPERTIES ${properties})
endfunction()
