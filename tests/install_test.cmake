# Install tests: the static package from this build, and a shared build of its own.
foreach(part static shared)
  add_test(NAME install_${part}
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install_test.sh ${part} ${PROJECT_SOURCE_DIR}
                   ${PROJECT_BINARY_DIR} $<TARGET_FILE:amrstreamgen>
                   ${CMAKE_CURRENT_SOURCE_DIR}/data ${AMRCONV_SANITIZE})
  set_tests_properties(install_${part} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
endforeach()
