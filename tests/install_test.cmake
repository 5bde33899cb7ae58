# Install tests (label "slow"): each builds the whole project in a fresh release tree, static
# or shared, installs it and builds the examples against the install. They do not depend on
# this build's options, so the sanitizer build leaves them to the release build.
if(NOT AMRCONV_SANITIZE)
  foreach(part static shared)
    add_test(NAME install_${part}
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install_test.sh ${part} ${PROJECT_SOURCE_DIR}
                     $<TARGET_FILE:amrstreamgen> ${CMAKE_CURRENT_SOURCE_DIR}/data)
    set_tests_properties(install_${part} PROPERTIES LABELS slow TIMEOUT 900)
  endforeach()
endif()
# The public headers compile alone, in every language level they promise.
add_test(NAME public_headers
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/public_headers_test.sh ${PROJECT_BINARY_DIR}/amrdec/include)
