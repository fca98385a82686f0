#pragma once
// Loading a shared library of ours at run time (dlopen on Linux, LoadLibrary on Windows).

#include <string>

// Loads the library at strPath (that very file, never one found on a search path). Returns an
// opaque handle, or nullptr with the system's text in *pstrError.
void* LoadSharedLibrary(const std::string& strPath, std::string* pstrError);
// The address of an exported function, or nullptr.
void* FindLibraryFunction(void* hLibrary, const char* pszName);
void FreeSharedLibrary(void* hLibrary);
// The system's file name for a shared library of ours named strStem: "lib<stem>.so" on Linux,
// "<stem>.dll" on Windows.
std::string SharedLibraryFileName(const std::string& strStem);
