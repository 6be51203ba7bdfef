# The build machine's own build of this tree, whose outputs a cross build's
# must equal: its five commands brought up to date, configured first (as the
# default preset does) when the folder holds no build yet. So a cross preset
# runs on a fresh clone by itself.
# Usage: cmake -DSOURCE_DIR=DIR -DREFERENCE_BUILD=DIR -DGENERATOR=NAME -P build_reference.cmake
foreach(variable SOURCE_DIR REFERENCE_BUILD GENERATOR)
  if(NOT ${variable})
    message(FATAL_ERROR "build_reference.cmake: ${variable} not given")
  endif()
endforeach()
if(NOT EXISTS "${REFERENCE_BUILD}/CMakeCache.txt")
  message(STATUS "Configuring the build machine's build in ${REFERENCE_BUILD}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${REFERENCE_BUILD} -G ${GENERATOR}
            -DCMAKE_BUILD_TYPE=Release
    COMMAND_ERROR_IS_FATAL ANY)
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} --build ${REFERENCE_BUILD} --target orvx dazbmp pngdaz dazpng rgbdaz imgdaz
  COMMAND_ERROR_IS_FATAL ANY)
