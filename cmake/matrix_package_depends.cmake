# Included by cpack for each generator (CPACK_PROJECT_CONFIG_FILE): the Debian package's
# Depends, computed by dpkg-shlibdeps from the programs and the skin library as built.
#
# CPack can run dpkg-shlibdeps itself (CPACK_DEBIAN_PACKAGE_SHLIBDEPS), but then it also adds
# ldconfig calls to postinst and postrm for any shared library below /usr/lib, the private skin
# library under /usr/lib/matrix-update among them. That library is never on the loader's path,
# and libc's trigger runs ldconfig anyway, so the package has no maintainer scripts at all.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
include(${CPACK_MATRIX_DEB_ELF_LIST})
# dpkg-shlibdeps looks for debian/control in the folder it runs in; an empty one will do.
set(_work ${CPACK_MATRIX_DEB_WORK_DIR})
file(MAKE_DIRECTORY ${_work}/debian)
file(WRITE ${_work}/debian/control "")
execute_process(COMMAND dpkg-shlibdeps -O ${MATRIX_DEB_ELF_FILES}
  WORKING_DIRECTORY ${_work}
  OUTPUT_VARIABLE _substvars ERROR_VARIABLE _errors RESULT_VARIABLE _status)
if(NOT _status EQUAL 0 OR NOT _substvars MATCHES "shlibs:Depends=([^\n]*)")
  message(FATAL_ERROR "dpkg-shlibdeps could not compute the package's Depends (status ${_status}): ${_errors}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}${CPACK_MATRIX_DEB_MORE_DEPENDS}")
