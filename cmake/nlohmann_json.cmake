# nlohmann/json writes matrixctl's JSON and writes and reads the update log. It is header-only:
# Debian's nlohmann-json3-dev puts it in /usr/include/nlohmann. As with CLI11, the Linux build
# takes it through the package's own configuration, and the cross build for Windows copies only
# those headers into its build tree, so that the Linux /usr/include never comes onto the cross
# compiler's path.
if(TARGET matrix_json)
  return()
endif()
add_library(matrix_json INTERFACE)
if(CMAKE_CROSSCOMPILING)
  find_path(MATRIX_JSON_INCLUDE_DIR nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT MATRIX_JSON_INCLUDE_DIR)
    message(FATAL_ERROR "nlohmann/json is missing: /usr/include/nlohmann/json.hpp comes with nlohmann-json3-dev (scripts/install-deps.sh)")
  endif()
  set(MATRIX_JSON_COPY ${CMAKE_BINARY_DIR}/third_party/nlohmann_json/include)
  file(REMOVE_RECURSE ${MATRIX_JSON_COPY})
  file(COPY ${MATRIX_JSON_INCLUDE_DIR}/nlohmann DESTINATION ${MATRIX_JSON_COPY} FILES_MATCHING PATTERN "*.hpp")
  target_include_directories(matrix_json SYSTEM INTERFACE ${MATRIX_JSON_COPY})
else()
  find_package(nlohmann_json 3 CONFIG REQUIRED)
  target_link_libraries(matrix_json INTERFACE nlohmann_json::nlohmann_json)
endif()
