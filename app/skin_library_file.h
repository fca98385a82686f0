#pragma once
// The stem of the skin library's file name, looked for in the program's directory at start-up
// (platform/shared_library.h makes it the system's file name: libmatrixskin.so on Linux,
// matrixskin.dll on Windows). cmake/skin_library_name.cmake reads the stem from this line, so the
// loader and the build can never disagree on it: keep it a single #define of a plain string.
#define MATRIX_SKIN_LIBRARY_STEM "matrixskin"
