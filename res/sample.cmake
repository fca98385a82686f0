# The sample pattern file, carried so that `matrixctl demo` works from anywhere.
matrix_add_resource(PATTERN SAMPLE ${CMAKE_CURRENT_SOURCE_DIR}/sample.bin)
