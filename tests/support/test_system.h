#pragma once
// The few system calls tests make that each system spells its own way.

// Sets an environment variable of the test process, or removes it when pszValue is nullptr,
// and lets the C library's time functions see a changed TZ.
void SetTestEnvironment(const char* pszName, const char* pszValue);
