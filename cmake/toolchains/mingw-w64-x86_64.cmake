# Windows x64 cross build with MinGW-w64 (Debian package g++-mingw-w64-x86-64); tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# One self-contained .exe: the C++ runtime, libgcc and winpthread linked in, so that the
# program needs no DLL beside the system's own.
# M_PI and the other <cmath> constants, which strict ISO mode hides on this runtime.
set(CMAKE_CXX_FLAGS_INIT "-D_USE_MATH_DEFINES")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Debian's wine64 package keeps its loader in /usr/lib/wine; the wine package adds /usr/bin/wine.
find_program(AMRCONV_WINE NAMES wine wine64 PATHS /usr/lib/wine)
if(AMRCONV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${AMRCONV_WINE} CACHE STRING "Runs the built Windows programs")
endif()
