# Packages made by CPack: on Linux a Debian package (cpack -G DEB), on Windows a zip
# (cpack -G ZIP), and the source tarball (cpack --config CPackSourceConfig.cmake).
# scripts/package.sh configures the builds they need: the shared library
# (-DBUILD_SHARED_LIBS=ON) and, for the Debian package, the prefix /usr.
include(GNUInstallDirs)

# README and LICENSE: under share/doc/amrconv, or at the top of the Windows zip.
if(AMRCONV_INSTALL)
  if(WIN32)
    set(amrconv_doc_dir .)
  else()
    set(amrconv_doc_dir ${CMAKE_INSTALL_DOCDIR})
  endif()
  install(FILES README.md LICENSE DESTINATION ${amrconv_doc_dir})
endif()

set(CPACK_PACKAGE_NAME amrconv)
set(CPACK_PACKAGE_VENDOR "amrconv")
set(CPACK_PACKAGE_CONTACT "amrconv maintainers <amrconv@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "AMR-NB speech recordings to WAV: amrconv, amrconv-batch and the amrnbdec library")
set(CPACK_PACKAGE_DESCRIPTION
    "amrconv converts narrow-band AMR speech recordings stored as AMR-in-WAV files into PCM WAV
files with its own fixed-point AMR-NB decoder (3GPP TS 26.073), or into AMR storage files;
amrconv-batch converts whole folder trees on several threads. The package also holds the
decoder library libamrnbdec, its headers, pkg-config and CMake files.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  # Everything in one folder of the zip; the programs find the DLL beside them in bin/.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME amrconv-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # amrconv_VERSION_ARCH.deb
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  # Dependencies read from the programs' and the library's imports by dpkg-shlibdeps, and a
  # shlibs file with the ldconfig trigger for the shared library.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
endif()

set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME amrconv-${PROJECT_VERSION})
set(CPACK_SOURCE_IGNORE_FILES
    "/\\\\.git$" "/\\\\.git/" "/build/" "/node_modules/" "/__pycache__/" "\\\\.swp$")

include(CPack)
