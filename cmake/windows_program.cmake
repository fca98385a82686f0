# What every Windows program of ours carries besides its own resources: a manifest (common
# controls 6, DPI awareness, the Windows versions it supports, no elevation), the project's
# icon in every size Windows asks for, and version information filled from the one version in
# CMakeLists.txt. matrix_windows_program(TARGET DESCRIPTION) adds them to a program.
#
# The icon is rasterised at build time from res/ with rsvg-convert (librsvg2-bin) and packed
# into one .ico with icotool (icoutils). The 16, 32 and 48 pixel images come from
# res/matrix-update-16.svg, the same picture drawn on whole pixels; the others from
# res/matrix-update.svg. 256 pixels is kept as PNG, as Windows expects; the rest as bitmaps
# with an alpha channel, which every Windows from 7 on reads.

set(MATRIX_PRODUCT_NAME "matrix-update")
set(MATRIX_PUBLISHER "The matrix-update developers")
set(MATRIX_COPYRIGHT "Copyright (C) 2026 The matrix-update developers")
set(MATRIX_VERSION_QUAD "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")

find_program(MATRIX_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(MATRIX_ICOTOOL icotool REQUIRED)

set(MATRIX_WIN_RES_SRC ${CMAKE_SOURCE_DIR}/res/win)
set(MATRIX_WIN_RES_GEN ${CMAKE_BINARY_DIR}/res/win)
file(MAKE_DIRECTORY ${MATRIX_WIN_RES_GEN})
# Also the installer's icon (scripts/make-windows-msi.sh reads it from here).
set(MATRIX_ICON_FILE ${MATRIX_WIN_RES_GEN}/matrix-update.ico)

set(_icon_pngs "")
set(_icon_args "")
foreach(_size 16 24 32 48 64 256)
  if(_size EQUAL 16 OR _size EQUAL 32 OR _size EQUAL 48)
    set(_svg ${CMAKE_SOURCE_DIR}/res/matrix-update-16.svg)
  else()
    set(_svg ${CMAKE_SOURCE_DIR}/res/matrix-update.svg)
  endif()
  set(_png ${MATRIX_WIN_RES_GEN}/icon-${_size}.png)
  add_custom_command(OUTPUT ${_png}
    COMMAND ${MATRIX_RSVG_CONVERT} --width ${_size} --height ${_size} --output ${_png} ${_svg}
    DEPENDS ${_svg} VERBATIM)
  list(APPEND _icon_pngs ${_png})
  if(_size EQUAL 256)
    list(APPEND _icon_args --raw=${_png})
  else()
    list(APPEND _icon_args ${_png})
  endif()
endforeach()
add_custom_command(OUTPUT ${MATRIX_ICON_FILE}
  COMMAND ${MATRIX_ICOTOOL} --create --output=${MATRIX_ICON_FILE} ${_icon_args}
  DEPENDS ${_icon_pngs}
  COMMENT "Packing the program icon (16 to 256 pixels)" VERBATIM)
add_custom_target(matrix_icon DEPENDS ${MATRIX_ICON_FILE})

# The message table of the event log entries (res/win/event_messages.mc), compiled by windmc
# (binutils-mingw-w64) into the binary table that the resource script includes.
find_program(MATRIX_WINDMC NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-windmc x86_64-w64-mingw32-windmc windmc REQUIRED)
set(MATRIX_EVENT_MESSAGES_BIN ${MATRIX_WIN_RES_GEN}/MSG00409.bin)
add_custom_command(OUTPUT ${MATRIX_EVENT_MESSAGES_BIN}
  COMMAND ${MATRIX_WINDMC} -r ${MATRIX_WIN_RES_GEN} -h ${MATRIX_WIN_RES_GEN} ${MATRIX_WIN_RES_SRC}/event_messages.mc
  DEPENDS ${MATRIX_WIN_RES_SRC}/event_messages.mc VERBATIM)
add_custom_target(matrix_event_messages DEPENDS ${MATRIX_EVENT_MESSAGES_BIN})

function(matrix_windows_program target description)
  set(MATRIX_PROGRAM_NAME ${target})
  set(MATRIX_PROGRAM_FILE ${target}.exe)
  set(MATRIX_PROGRAM_DESCRIPTION "${description}")
  set(MATRIX_PROGRAM_MANIFEST ${MATRIX_WIN_RES_GEN}/${target}.manifest)
  configure_file(${MATRIX_WIN_RES_SRC}/program.manifest.in ${MATRIX_PROGRAM_MANIFEST} @ONLY)
  set(_rc ${MATRIX_WIN_RES_GEN}/${target}.rc)
  configure_file(${MATRIX_WIN_RES_SRC}/program.rc.in ${_rc} @ONLY)
  set_source_files_properties(${_rc} PROPERTIES
    OBJECT_DEPENDS "${MATRIX_ICON_FILE};${MATRIX_PROGRAM_MANIFEST};${CMAKE_SOURCE_DIR}/res/win/program_resources.h;${MATRIX_EVENT_MESSAGES_BIN}")
  target_sources(${target} PRIVATE ${_rc})
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
  add_dependencies(${target} matrix_icon matrix_event_messages)
endfunction()

# What the installer's build (scripts/make-windows-msi.sh) takes from here, as shell words.
file(WRITE ${MATRIX_WIN_RES_GEN}/product.env
  "MATRIX_VERSION='${PROJECT_VERSION}'\nMATRIX_PUBLISHER='${MATRIX_PUBLISHER}'\nMATRIX_ICON_FILE='${MATRIX_ICON_FILE}'\n")
