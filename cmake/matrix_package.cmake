# The Debian package: a second install layout beside the portable folder. Its install rules
# belong to the component "deb" and are left out of a plain `cmake --install`, so the portable
# folder stays exactly as it was; CPack installs only this component, below /usr:
#   bin/matrix-update, bin/matrixctl            the programs
#   lib/matrix-update/libmatrixskin.so           the skin library, where only the dialog looks
#   share/applications, share/icons/hicolor      desktop entry and icon
#   share/bash-completion/completions/matrixctl  completion of matrixctl's commands
#   share/matrix-update/sample.bin               the sample pattern file of the README's walk-through
#   share/doc/matrix-update                      copyright, changelog, README.Debian
#   share/man/man1                               the manual pages
# `make package` builds it; tests/package/check_package.sh checks it.

set(MATRIX_PACKAGE_MAINTAINER "The matrix-update developers <matrix-update@example.com>"
    CACHE STRING "Maintainer named in the Debian package and its changelog")

set(_deb_doc share/doc/matrix-update)
set(_deb_src ${CMAKE_SOURCE_DIR}/res/deb)
set(_deb_gen ${CMAKE_BINARY_DIR}/deb)

install(TARGETS matrixctl RUNTIME DESTINATION bin COMPONENT deb EXCLUDE_FROM_ALL)
if(MATRIX_BUILD_GUI)
  install(TARGETS matrix-update RUNTIME DESTINATION bin COMPONENT deb EXCLUDE_FROM_ALL)
  install(TARGETS matrixskin LIBRARY DESTINATION lib/matrix-update COMPONENT deb EXCLUDE_FROM_ALL)
  install(FILES ${_deb_src}/matrix-update.desktop DESTINATION share/applications
          COMPONENT deb EXCLUDE_FROM_ALL)
  install(FILES ${CMAKE_SOURCE_DIR}/res/matrix-update.svg DESTINATION share/icons/hicolor/scalable/apps
          COMPONENT deb EXCLUDE_FROM_ALL)
endif()
install(FILES ${_deb_src}/matrixctl.bash-completion DESTINATION share/bash-completion/completions
        RENAME matrixctl COMPONENT deb EXCLUDE_FROM_ALL)
# Outside the doc folder, which minimal systems leave out when they install a package.
install(FILES ${CMAKE_SOURCE_DIR}/res/sample.bin DESTINATION share/matrix-update COMPONENT deb EXCLUDE_FROM_ALL)

# Debian wants the changelog and the manual pages compressed with gzip -9n: -n leaves out the
# name and time, so the package is the same from one build to the next.
configure_file(${_deb_src}/changelog.in ${_deb_gen}/changelog @ONLY)
find_program(MATRIX_GZIP gzip REQUIRED)
set(_deb_gzipped "")
foreach(_file ${_deb_gen}/changelog ${_deb_src}/matrixctl.1 ${_deb_src}/matrix-update.1)
  get_filename_component(_name ${_file} NAME)
  add_custom_command(OUTPUT ${_deb_gen}/${_name}.gz
    COMMAND ${MATRIX_GZIP} -9nc ${_file} > ${_deb_gen}/${_name}.gz
    DEPENDS ${_file} VERBATIM)
  list(APPEND _deb_gzipped ${_deb_gen}/${_name}.gz)
endforeach()
add_custom_target(matrix_deb_gzipped ALL DEPENDS ${_deb_gzipped})
install(FILES ${_deb_src}/copyright ${_deb_src}/README.Debian ${_deb_gen}/changelog.gz
        DESTINATION ${_deb_doc} COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES ${_deb_gen}/matrixctl.1.gz DESTINATION share/man/man1 COMPONENT deb EXCLUDE_FROM_ALL)
if(MATRIX_BUILD_GUI)
  install(FILES ${_deb_gen}/matrix-update.1.gz DESTINATION share/man/man1 COMPONENT deb EXCLUDE_FROM_ALL)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME matrix-update)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${MATRIX_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "load pattern files into a serial-attached dot-matrix device")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Only the package's component, from this build tree.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};deb;/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MATRIX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The summary comes first by itself; CPack indents these lines and turns the empty one into " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "matrix-update sends a file of 12-byte pattern records to a dot-matrix device
on a serial port at 9600 baud, record by record, judging the device's reply
after each and resending where needed. It shows progress, can be cancelled,
and tells the operator how to finish the update on the device.

The package holds the dialog (matrix-update) and a command-line front end
(matrixctl) with a device simulator.")
# Depends computed from the programs and the skin library by dpkg-shlibdeps, at cpack time, in
# cmake/matrix_package_depends.cmake (which says why not by CPack itself). To that the dialog
# adds what it loads at run time: Qt's platform plugins to start at all (xcb, wayland), and a
# font that has the Chinese texts.
set(_deb_elf_files $<TARGET_FILE:matrixctl>)
if(MATRIX_BUILD_GUI)
  list(APPEND _deb_elf_files $<TARGET_FILE:matrix-update> $<TARGET_FILE:matrixskin>)
  set(CPACK_MATRIX_DEB_MORE_DEPENDS ", qt6-qpa-plugins")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-arphic-uming | fonts-noto-cjk")
endif()
file(GENERATE OUTPUT ${_deb_gen}/elf_files.cmake CONTENT "set(MATRIX_DEB_ELF_FILES \"${_deb_elf_files}\")\n")
set(CPACK_MATRIX_DEB_ELF_LIST ${_deb_gen}/elf_files.cmake)
set(CPACK_MATRIX_DEB_WORK_DIR ${_deb_gen}/shlibdeps)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/matrix_package_depends.cmake)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS bash-completion)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
