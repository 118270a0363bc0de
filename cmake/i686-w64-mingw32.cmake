# 32-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-i686):
#   cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake ...
set(KTNET_MINGW_TRIPLE i686-w64-mingw32)
set(KTNET_MINGW_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
