# What both Windows cross builds share; the toolchain files for 64-bit (mingw-w64-x86_64.cmake)
# and 32-bit (mingw-w64-i686.cmake) set kx_mingw, the processor and the folders, then include this.
# Debian's mingw-w64 with posix threads: std::thread, std::mutex.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${kx_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${kx_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${kx_mingw}-windres)
set(KX_WIDL ${kx_mingw}-widl CACHE FILEPATH "IDL compiler for the type library")
set(KX_OBJDUMP ${kx_mingw}-objdump CACHE FILEPATH "Reads the DLL's import and export tables")
# Where Wine's packages put the system .idl files (mingw-w64 ships none).
set(KX_WINE_IDL_DIR /usr/include/wine/wine/windows CACHE PATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${kx_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
