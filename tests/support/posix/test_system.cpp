#include "tests/support/test_system.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

void SetTestEnvironment(const char* pszName, const char* pszValue)
{
    if (pszValue != nullptr)
        ::setenv(pszName, pszValue, 1);
    else
        ::unsetenv(pszName);
    ::tzset();
}

bool MakeTestFifo(const std::string& strPath)
{
    return ::mkfifo(strPath.c_str(), 0600) == 0;
}
