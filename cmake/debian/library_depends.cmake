# Run by cpack before it packs (CPACK_PROJECT_CONFIG_FILE): the library's
# package depends on the packages of the libraries libdaz.so needs, as
# dpkg-shlibdeps finds them on this machine. CPack would run it too, but
# whenever it looks at a library under /usr/lib it also writes maintainer
# scripts that call ldconfig, which the package's trigger does instead.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_DAZ_SHARED_LIBRARY)
  set(work "${CPACK_TOPLEVEL_DIRECTORY}/library-depends")
  file(MAKE_DIRECTORY "${work}/debian")
  file(WRITE "${work}/debian/control" "")
  # (Its warning that the library is not in a package's folder yet is shown
  # only with an error.)
  execute_process(COMMAND dpkg-shlibdeps -O -e "${CPACK_DAZ_SHARED_LIBRARY}"
                  WORKING_DIRECTORY "${work}" OUTPUT_VARIABLE depends ERROR_VARIABLE errors
                  RESULT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE)
  file(REMOVE_RECURSE "${work}")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "dpkg-shlibdeps on ${CPACK_DAZ_SHARED_LIBRARY} failed:\n${errors}")
  endif()
  string(REGEX REPLACE "^shlibs:Depends=" "" CPACK_DEBIAN_LIB_PACKAGE_DEPENDS "${depends}")
endif()
