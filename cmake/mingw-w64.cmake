# Shared part of the mingw-w64 toolchain files: the caller sets KTNET_MINGW_TRIPLE and
# KTNET_MINGW_PROCESSOR first. Debian's cross compilers and their Windows headers and
# libraries live under /usr/<triple>.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KTNET_MINGW_PROCESSOR})

# The POSIX thread model: std::thread and std::mutex, which the shop's web page server needs;
# winpthread goes into the .exe with the rest (below).
set(CMAKE_C_COMPILER ${KTNET_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KTNET_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KTNET_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KTNET_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread go into the .exe, so that it needs nothing beyond the
# DLLs every Windows has (KERNEL32, msvcrt, SETUPAPI, HID, WS2_32).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
