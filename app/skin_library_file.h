#pragma once
// The file name of the skin library, looked for in the program's directory at start-up.
// ui/skinlib/CMakeLists.txt reads the name from this line, so the loader and the build can
// never disagree on it: keep it a single #define of a plain string.
#define MATRIX_SKIN_LIBRARY_FILE "libmatrixskin.so"
