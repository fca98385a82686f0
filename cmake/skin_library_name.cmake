# The skin library's file stem, read from the header the loader uses (app/skin_library_file.h),
# so that the build and start-up can never disagree on it. Sets MATRIX_SKIN_LIBRARY_STEM.
file(STRINGS ${CMAKE_SOURCE_DIR}/app/skin_library_file.h _matrix_skin_line
     REGEX "^#define MATRIX_SKIN_LIBRARY_STEM \"[^\"]+\"")
string(REGEX REPLACE ".*\"([^\"]+)\".*" "\\1" MATRIX_SKIN_LIBRARY_STEM "${_matrix_skin_line}")
if(NOT MATRIX_SKIN_LIBRARY_STEM MATCHES "^[a-z]+$")
  message(FATAL_ERROR "app/skin_library_file.h: cannot read the skin library's file name")
endif()
