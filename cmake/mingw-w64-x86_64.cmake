# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads: std::thread, std::mutex).
#   cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(kx_mingw x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${kx_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${kx_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${kx_mingw}-windres)
set(KX_WIDL ${kx_mingw}-widl CACHE FILEPATH "IDL compiler for the type library")
set(KX_WIDL_FLAGS --win64 CACHE STRING "")
set(KX_OBJDUMP ${kx_mingw}-objdump CACHE FILEPATH "Reads the DLL's import and export tables")
# Where Wine's packages put the system .idl files and stdole2.tlb (mingw-w64 ships neither).
set(KX_WINE_IDL_DIR /usr/include/wine/wine/windows CACHE PATH "")
set(KX_WINE_LIB_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows CACHE PATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${kx_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
