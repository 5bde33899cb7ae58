# ARM64 Linux cross build (Debian package g++-aarch64-linux-gnu); tests run under qemu-user.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
