# The skin archive: mkskinzip packs one style sheet per line of skins/palettes.txt, made from
# skins/skin.qss.in, into skin.zip, which the program carries as ZIPDB / IDR_SKIN.
matrix_add_build_tool(mkskinzip ${CMAKE_SOURCE_DIR}/tools/mkskinzip.cpp)
if(NOT CMAKE_CROSSCOMPILING)
  target_link_libraries(mkskinzip PRIVATE ZLIB::ZLIB)
endif()

set(MATRIX_SKIN_ZIP ${CMAKE_CURRENT_BINARY_DIR}/skin.zip)
add_custom_command(OUTPUT ${MATRIX_SKIN_ZIP}
  COMMAND mkskinzip ${MATRIX_SKIN_ZIP} ${CMAKE_CURRENT_SOURCE_DIR}/skins/palettes.txt
          ${CMAKE_CURRENT_SOURCE_DIR}/skins/skin.qss.in
  DEPENDS mkskinzip ${CMAKE_CURRENT_SOURCE_DIR}/skins/palettes.txt ${CMAKE_CURRENT_SOURCE_DIR}/skins/skin.qss.in
  COMMENT "Packing the skin archive"
  VERBATIM)
add_custom_target(matrix_skin_zip DEPENDS ${MATRIX_SKIN_ZIP})
list(APPEND MATRIX_RES_DEPENDS matrix_skin_zip)
matrix_add_resource(ZIPDB IDR_SKIN ${MATRIX_SKIN_ZIP})
