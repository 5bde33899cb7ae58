# Install script (amrdec/CMakeLists.txt): writes amrnbdec's pkg-config files for the prefix
# chosen at install time, with normalised paths (no "//", "/./" or "/../") and the
# directories given relative to ${prefix} where they lie under it.
#
#   shared build: amrnbdec.pc, the shared library (-lamrnbdec; a linker takes libamrnbdec.so
#                 before libamrnbdec.a in the same directory)
#   static build: amrnbdec-static.pc, the static archive by its path and -DAMRNB_STATIC; and
#                 amrnbdec.pc with the same content if the prefix has none yet, so that a
#                 static install alone answers to `pkg-config amrnbdec` too. Installing the
#                 shared build afterwards replaces that one, and a static install leaves the
#                 shared build's alone: the result is the same in either order.
#
# Set before: AMRNBDEC_PC_KIND (static or shared), AMRNBDEC_PC_VERSION, AMRNBDEC_PC_LIBDIR,
# AMRNBDEC_PC_INCLUDEDIR (relative to the prefix or absolute), AMRNBDEC_PC_ARCHIVE (the
# library's file name), AMRNBDEC_PC_WORK_DIR (where the files are written before installing).

cmake_policy(VERSION 3.20)  # an install script runs without the project's policies

cmake_path(SET amrnbdec_prefix NORMALIZE "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "(.)/+$" "\\1" amrnbdec_prefix "${amrnbdec_prefix}")
if(amrnbdec_prefix STREQUAL "/")
  set(amrnbdec_prefix "")  # ${prefix}/lib is then /lib, not //lib
endif()

# amrnbdec_pc_dir(OUT DIR): DIR as an absolute, normalised path (OUT) and as written in the
# file (OUT_pc): "${prefix}/..." under the prefix, the absolute path elsewhere.
function(amrnbdec_pc_dir out dir)
  if(IS_ABSOLUTE "${dir}")
    cmake_path(SET path NORMALIZE "${dir}")
  else()
    cmake_path(SET path NORMALIZE "${amrnbdec_prefix}/${dir}")
  endif()
  string(REGEX REPLACE "(.)/+$" "\\1" path "${path}")
  set(pc "${path}")
  string(LENGTH "${amrnbdec_prefix}/" length)
  string(SUBSTRING "${path}/" 0 ${length} head)
  if(head STREQUAL "${amrnbdec_prefix}/")
    string(SUBSTRING "${path}" ${length} -1 tail)
    set(pc "\${prefix}/${tail}")
    if(tail STREQUAL "")
      set(pc "\${prefix}")
    endif()
  endif()
  set(${out} "${path}" PARENT_SCOPE)
  set(${out}_pc "${pc}" PARENT_SCOPE)
endfunction()

amrnbdec_pc_dir(amrnbdec_libdir "${AMRNBDEC_PC_LIBDIR}")
amrnbdec_pc_dir(amrnbdec_includedir "${AMRNBDEC_PC_INCLUDEDIR}")

set(amrnbdec_pc_head "prefix=${amrnbdec_prefix}
libdir=${amrnbdec_libdir_pc}
includedir=${amrnbdec_includedir_pc}
")
set(amrnbdec_description "Fixed-point AMR-NB speech decoder (3GPP TS 26.073 algorithm) with C and C++ interfaces")
if(AMRNBDEC_PC_KIND STREQUAL "shared")
  set(amrnbdec_files amrnbdec.pc)
  set(amrnbdec_pc_body "
Name: amrnbdec
Description: ${amrnbdec_description}
Version: ${AMRNBDEC_PC_VERSION}
Cflags: -I\${includedir}
Libs: -L\${libdir} -lamrnbdec
")
else()
  set(amrnbdec_files amrnbdec-static.pc)
  set(amrnbdec_existing "")
  if(EXISTS "$ENV{DESTDIR}${amrnbdec_libdir}/pkgconfig/amrnbdec.pc")
    file(READ "$ENV{DESTDIR}${amrnbdec_libdir}/pkgconfig/amrnbdec.pc" amrnbdec_existing)
  endif()
  if(amrnbdec_existing STREQUAL "" OR amrnbdec_existing MATCHES "-DAMRNB_STATIC")
    list(APPEND amrnbdec_files amrnbdec.pc)  # none yet, or a static install's own
  endif()
  set(amrnbdec_pc_body "
Name: amrnbdec-static
Description: ${amrnbdec_description}, static library
Version: ${AMRNBDEC_PC_VERSION}
Cflags: -I\${includedir} -DAMRNB_STATIC
Libs: \${libdir}/${AMRNBDEC_PC_ARCHIVE}
")
endif()

foreach(file ${amrnbdec_files})
  file(WRITE "${AMRNBDEC_PC_WORK_DIR}/${file}" "${amrnbdec_pc_head}${amrnbdec_pc_body}")
  # Removed first: file(INSTALL) would keep another install's file written in the same second.
  file(REMOVE "$ENV{DESTDIR}${amrnbdec_libdir}/pkgconfig/${file}")
  file(INSTALL DESTINATION "${amrnbdec_libdir}/pkgconfig" TYPE FILE
       FILES "${AMRNBDEC_PC_WORK_DIR}/${file}")
endforeach()
