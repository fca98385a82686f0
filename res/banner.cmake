# The update dialog's banner, bitmap 171: drawn at build time by tools/mkbanner (a picture of
# our own making) as a packed 603 x 168, 24-bit device-independent bitmap.
matrix_add_build_tool(mkbanner ${CMAKE_SOURCE_DIR}/tools/mkbanner.cpp ${CMAKE_SOURCE_DIR}/bitmap/dib_image.cpp
  ${CMAKE_SOURCE_DIR}/platform/posix/pages.cpp)
if(NOT CMAKE_CROSSCOMPILING)
  target_include_directories(mkbanner PRIVATE ${CMAKE_SOURCE_DIR})
endif()

set(MATRIX_BANNER_FILE ${MATRIX_RES_GEN}/banner171.dib)
add_custom_command(OUTPUT ${MATRIX_BANNER_FILE}
  COMMAND mkbanner ${MATRIX_BANNER_FILE}
  DEPENDS mkbanner
  COMMENT "Drawing the banner bitmap")
add_custom_target(matrix_banner DEPENDS ${MATRIX_BANNER_FILE})
list(APPEND MATRIX_RES_DEPENDS matrix_banner)
matrix_add_resource(BITMAP 171 ${MATRIX_BANNER_FILE})
