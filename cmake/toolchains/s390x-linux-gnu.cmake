# IBM Z (s390x, big-endian) Linux cross build (Debian package g++-s390x-linux-gnu); tests run
# under qemu-user. It is the byte-order check: every multi-byte field is read and written in
# little-endian order on a big-endian machine.
set(CMAKE_SYSTEM_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
