#include "platform/resources.h"

#include <cctype>
#include <string>

#include <windows.h>

#include "platform/win32/wide_string.h"

namespace {

// A resource script names a resource by number or by word; a name of digits is a number.
std::wstring ResourceKey(const char* psz, bool* pbNumber, WORD* pnNumber)
{
    std::string str(psz);
    bool bDigits = !str.empty() && str.size() <= 5;
    for (char ch : str)
        bDigits = bDigits && std::isdigit(static_cast<unsigned char>(ch)) != 0;
    *pbNumber = bDigits && std::stoul(str) <= 0xFFFF;
    *pnNumber = *pbNumber ? static_cast<WORD>(std::stoul(str)) : 0;
    return Utf8ToWide(str);
}

} // namespace

bool FindProgramResource(const char* pszType, const char* pszName, const uint8_t** ppData, size_t* pnSize)
{
    if (pszType == nullptr || pszName == nullptr)
        return false;
    bool bNameNumber = false;
    WORD nName = 0;
    const std::wstring strName = ResourceKey(pszName, &bNameNumber, &nName);
    bool bTypeNumber = false;
    WORD nType = 0;
    std::wstring strType = ResourceKey(pszType, &bTypeNumber, &nType);
    const wchar_t* pszTypeKey = bTypeNumber ? MAKEINTRESOURCEW(nType) : strType.c_str();
    if (std::string(pszType) == "BITMAP")
        pszTypeKey = MAKEINTRESOURCEW(2); // RT_BITMAP
    HRSRC hInfo = ::FindResourceW(nullptr, bNameNumber ? MAKEINTRESOURCEW(nName) : strName.c_str(), pszTypeKey);
    if (hInfo == nullptr)
        return false;
    HGLOBAL hData = ::LoadResource(nullptr, hInfo);
    const void* pData = hData != nullptr ? ::LockResource(hData) : nullptr;
    if (pData == nullptr)
        return false;
    // Resources stay mapped with the program's image for the whole run.
    if (ppData != nullptr)
        *ppData = static_cast<const uint8_t*>(pData);
    if (pnSize != nullptr)
        *pnSize = ::SizeofResource(nullptr, hInfo);
    return true;
}
