#include "tests/support/test_system.h"

#include <stdlib.h>
#include <time.h>

void SetTestEnvironment(const char* pszName, const char* pszValue)
{
    if (pszValue != nullptr)
        ::setenv(pszName, pszValue, 1);
    else
        ::unsetenv(pszName);
    ::tzset();
}
