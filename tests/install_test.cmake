# Install tests (label "slow"): a static and a shared release tree of the whole project are
# built side by side (two fixtures that may run in parallel), then installed into one prefix,
# and the examples are built against the install (tests/install_test.sh). They do not depend
# on this build's options, so the sanitizer build leaves them to the release build.
if(NOT AMRCONV_SANITIZE)
  set(amrconv_install_work ${CMAKE_CURRENT_BINARY_DIR}/install_test)
  foreach(kind static shared)
    add_test(NAME install_build_${kind}
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install_test.sh build ${kind} ${PROJECT_SOURCE_DIR}
                     ${amrconv_install_work})
    set_tests_properties(install_build_${kind} PROPERTIES
      LABELS slow TIMEOUT 900 FIXTURES_SETUP amrconv_install_trees)
  endforeach()
  add_test(NAME install_side_by_side
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install_test.sh check ${PROJECT_SOURCE_DIR}
                   ${amrconv_install_work} $<TARGET_FILE:amrstreamgen> ${CMAKE_CURRENT_SOURCE_DIR}/data)
  set_tests_properties(install_side_by_side PROPERTIES
    LABELS slow TIMEOUT 900 FIXTURES_REQUIRED amrconv_install_trees)
endif()
