# The Windows build (cross-compiled with cmake/mingw-w64-x86_64.cmake or, for 32-bit hosts,
# cmake/mingw-w64-i686.cmake): the models, the Windows side of the platform, KorvaneX.dll and the
# tests that run them under Wine. The calculator and its setup program are 64-bit only; the setup
# program takes the 32-bit tree's DLL too (KX_DLL32).
enable_language(RC)

# Programs and the DLL import only system DLLs: the C and C++ runtimes and winpthread are linked in.
add_link_options(-static -static-libgcc -static-libstdc++)
# GCC does not realign the stack for 32-byte AVX spills on Windows; unaligned moves are safe there.
add_compile_options(-Wa,-muse-unaligned-vector-move)

if(KX_BUILD_TESTS)
  enable_testing()
  include(cmake/windows_tests.cmake)
endif()

add_subdirectory(platform/windows)
foreach(dir component/models component/errors component/interface component/frame
            component/families)
  add_subdirectory(${dir})
endforeach()
include(component/object/windows.cmake)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_subdirectory(calculator)
endif()

if(KX_BUILD_TESTS)
  add_subdirectory(tests/windows)
endif()
add_subdirectory(bench/windows)
