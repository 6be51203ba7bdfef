# orvx_add_reference_build_test(NAME FIXTURE): the test, set up as FIXTURE,
# that brings the build machine's own build (ORVX_REFERENCE_BUILD) up to date
# through build_reference.cmake. The cross builds and the web page compare
# their outputs with its commands'.
function(orvx_add_reference_build_test name fixture)
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
            -DREFERENCE_BUILD=${ORVX_REFERENCE_BUILD} -DGENERATOR=${CMAKE_GENERATOR}
            -P ${CMAKE_SOURCE_DIR}/cmake/build_reference.cmake)
  set_tests_properties(${name} PROPERTIES FIXTURES_SETUP ${fixture} TIMEOUT ${ORVX_HANG_TIMEOUT})
endfunction()
