# A Linux cross build with Debian's cross compiler for CMAKE_SYSTEM_PROCESSOR (package
# g++-<processor>-linux-gnu), set by the including toolchain file; tests run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(amrconv_cross_triple ${CMAKE_SYSTEM_PROCESSOR}-linux-gnu)
set(CMAKE_C_COMPILER ${amrconv_cross_triple}-gcc)
set(CMAKE_CXX_COMPILER ${amrconv_cross_triple}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${amrconv_cross_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${CMAKE_SYSTEM_PROCESSOR};-L;/usr/${amrconv_cross_triple}
    CACHE STRING "Runs the built ${CMAKE_SYSTEM_PROCESSOR} programs")
include(${CMAKE_CURRENT_LIST_DIR}/emulated_tests.cmake)
