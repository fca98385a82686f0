#include "platform/shared_library.h"

#include <dlfcn.h>

void* LoadSharedLibrary(const std::string& strPath, std::string* pstrError)
{
    // A path with a "/" makes dlopen take this very file and never search the library path.
    void* hLibrary = ::dlopen(strPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (hLibrary == nullptr) {
        const char* pszError = ::dlerror();
        *pstrError = pszError != nullptr ? pszError : strPath + ": cannot be loaded";
    }
    return hLibrary;
}

void* FindLibraryFunction(void* hLibrary, const char* pszName)
{
    return ::dlsym(hLibrary, pszName);
}

void FreeSharedLibrary(void* hLibrary)
{
    ::dlclose(hLibrary);
}

std::string SharedLibraryFileName(const std::string& strStem)
{
    return "lib" + strStem + ".so";
}
