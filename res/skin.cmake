# The skin archive: mkskinzip packs one style sheet per line of skins/palettes.txt, made from
# skins/skin.qss.in, into skin.zip, which the program carries as ZIPDB / IDR_SKIN.
add_executable(mkskinzip ${CMAKE_SOURCE_DIR}/tools/mkskinzip.cpp)
target_link_libraries(mkskinzip PRIVATE ZLIB::ZLIB)

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

# A namespace-scope const array has internal linkage unless an extern declaration is in sight,
# and the generated table has none, so the look-up in platform/ could not link against it.
# Declaring it here (harmless if a header declares it too) gives the table external linkage.
string(FIND "${MATRIX_RES_DECLS}" "g_aEmbeddedResources" _matrix_table_declared)
if(_matrix_table_declared EQUAL -1)
  string(APPEND MATRIX_RES_DECLS "extern const CResourceEntry g_aEmbeddedResources[];\n")
endif()
