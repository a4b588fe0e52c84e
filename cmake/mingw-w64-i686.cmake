# Cross build for 32-bit Windows with Debian's mingw-w64 (g++-mingw-w64-i686-posix), for 32-bit
# hosts (32-bit Office, older script hosts):
#   cmake -S . -B build/windows32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR x86)
set(kx_mingw i686-w64-mingw32)
set(KX_WIDL_FLAGS --win32 CACHE STRING "")
# stdole2.tlb from Wine's 32-bit libraries (wine32:i386).
set(KX_WINE_LIB_DIR /usr/lib/i386-linux-gnu/wine/i386-windows CACHE PATH "")
# SSE2 arithmetic instead of the x87's 80-bit intermediates: the same doubles as the 64-bit DLL
# and the Linux build.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
