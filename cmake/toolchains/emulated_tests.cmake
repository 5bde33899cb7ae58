# Included by the Linux cross toolchain files. Test programs that start amrconv as a child
# process find it by a compiled-in path, AMRCONV_BINARY. Under qemu-user a child process is
# started by the host kernel, which cannot run a foreign binary, so at the end of the
# configuration that path is replaced by a launcher script that runs amrconv under the
# emulator. (Under Wine a Windows program starts another one itself; no launcher is needed.)
function(amrconv_launch_through_emulator)
  if(NOT TARGET amrconv OR NOT CMAKE_CROSSCOMPILING_EMULATOR)
    return()
  endif()
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
  set(launcher "${CMAKE_BINARY_DIR}/amrconv-emulated")
  file(GENERATE OUTPUT "${launcher}"
       CONTENT "#!/bin/sh\nexec ${emulator} \"$<TARGET_FILE:amrconv>\" \"$@\"\n"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                        WORLD_READ WORLD_EXECUTE)
  if(NOT IS_DIRECTORY "${CMAKE_BINARY_DIR}/tests")
    return()
  endif()
  get_property(targets DIRECTORY "${CMAKE_SOURCE_DIR}/tests" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(definitions ${target} COMPILE_DEFINITIONS)
    if(definitions MATCHES "AMRCONV_BINARY=")
      list(TRANSFORM definitions REPLACE "^AMRCONV_BINARY=.*$" "AMRCONV_BINARY=\"${launcher}\"")
      set_property(TARGET ${target} PROPERTY COMPILE_DEFINITIONS "${definitions}")
    endif()
  endforeach()
endfunction()
# The toolchain file is read more than once per configuration; the call is scheduled once.
get_property(scheduled GLOBAL PROPERTY AMRCONV_LAUNCHER_SCHEDULED)
if(NOT scheduled)
  set_property(GLOBAL PROPERTY AMRCONV_LAUNCHER_SCHEDULED TRUE)
  cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL amrconv_launch_through_emulator)
endif()
