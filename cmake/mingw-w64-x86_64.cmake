# Cross build for 64-bit Windows with Debian's mingw-w64:
#   cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(kx_mingw x86_64-w64-mingw32)
set(KX_WIDL_FLAGS --win64 CACHE STRING "")
# stdole2.tlb, which the type library imports.
set(KX_WINE_LIB_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows CACHE PATH "")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
