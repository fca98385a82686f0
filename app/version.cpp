#include "app/version.h"

#ifndef MATRIX_VERSION
#error "MATRIX_VERSION is given by the build (CMakeLists.txt)"
#endif

const char* GetProgramVersion()
{
    return MATRIX_VERSION;
}
