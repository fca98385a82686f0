# CLI11 parses matrixctl's command lines. It is header-only: Debian's libcli11-dev puts it in
# /usr/include/CLI. The Linux build takes it through the package's own configuration. The cross
# build for Windows copies only those headers into its build tree and includes them from there:
# the Linux /usr/include, whose headers belong to another C library, must never come onto the
# cross compiler's include path.
add_library(matrix_cli11 INTERFACE)
if(CMAKE_CROSSCOMPILING)
  find_path(MATRIX_CLI11_INCLUDE_DIR CLI/CLI.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT MATRIX_CLI11_INCLUDE_DIR)
    message(FATAL_ERROR "CLI11 is missing: /usr/include/CLI/CLI.hpp comes with libcli11-dev (scripts/install-deps.sh)")
  endif()
  set(MATRIX_CLI11_COPY ${CMAKE_BINARY_DIR}/third_party/cli11/include)
  file(REMOVE_RECURSE ${MATRIX_CLI11_COPY})
  file(COPY ${MATRIX_CLI11_INCLUDE_DIR}/CLI DESTINATION ${MATRIX_CLI11_COPY} FILES_MATCHING PATTERN "*.hpp")
  target_include_directories(matrix_cli11 SYSTEM INTERFACE ${MATRIX_CLI11_COPY})
else()
  find_package(CLI11 CONFIG REQUIRED)
  target_link_libraries(matrix_cli11 INTERFACE CLI11::CLI11)
endif()
