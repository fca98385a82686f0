#pragma once
// The few system calls tests make that each system spells its own way.

#include <string>

// Sets an environment variable of the test process, or removes it when pszValue is nullptr,
// and lets the C library's time functions see a changed TZ.
void SetTestEnvironment(const char* pszName, const char* pszValue);

// Makes a FIFO (a named pipe nobody writes to) at strPath; false where the system has none
// that a path can name (Windows).
bool MakeTestFifo(const std::string& strPath);
