#include "tests/support/test_system.h"

#include <stdlib.h>
#include <time.h>

void SetTestEnvironment(const char* pszName, const char* pszValue)
{
    // An empty value removes the variable from the C runtime's environment.
    ::_putenv_s(pszName, pszValue != nullptr ? pszValue : "");
    ::_tzset();
}

bool MakeTestFifo(const std::string&)
{
    return false;
}
