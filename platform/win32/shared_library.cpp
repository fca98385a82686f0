#include "platform/shared_library.h"

#include "platform/win32/wide_string.h"

void* LoadSharedLibrary(const std::string& strPath, std::string* pstrError)
{
    // With a full path and the altered search order, this very file is loaded, and the
    // libraries it needs are looked for beside it first.
    HMODULE hLibrary = ::LoadLibraryExW(Utf8ToWide(strPath).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (hLibrary == nullptr)
        *pstrError = strPath + ": " + SystemErrorText(::GetLastError());
    return reinterpret_cast<void*>(hLibrary);
}

void* FindLibraryFunction(void* hLibrary, const char* pszName)
{
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(hLibrary), pszName));
}

void FreeSharedLibrary(void* hLibrary)
{
    ::FreeLibrary(static_cast<HMODULE>(hLibrary));
}

std::string SharedLibraryFileName(const std::string& strStem)
{
    return strStem + ".dll";
}
