#include "platform/win32/wide_string.h"

#include <climits>

std::wstring Utf8ToWide(const std::string& str)
{
    if (str.empty() || str.size() > INT_MAX)
        return std::wstring();
    const int nLength = static_cast<int>(str.size());
    const int nWide = ::MultiByteToWideChar(CP_UTF8, 0, str.data(), nLength, nullptr, 0);
    if (nWide <= 0)
        return std::wstring();
    std::wstring strWide(static_cast<size_t>(nWide), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, str.data(), nLength, strWide.data(), nWide);
    return strWide;
}

std::string WideToUtf8(const wchar_t* psz, size_t nLength)
{
    if (psz == nullptr || nLength == 0 || nLength > INT_MAX)
        return std::string();
    const int nWide = static_cast<int>(nLength);
    const int nBytes = ::WideCharToMultiByte(CP_UTF8, 0, psz, nWide, nullptr, 0, nullptr, nullptr);
    if (nBytes <= 0)
        return std::string();
    std::string str(static_cast<size_t>(nBytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, psz, nWide, str.data(), nBytes, nullptr, nullptr);
    return str;
}

std::string WideToUtf8(const std::wstring& str)
{
    return WideToUtf8(str.data(), str.size());
}

std::string SystemErrorText(DWORD dwError)
{
    wchar_t* pszText = nullptr;
    const DWORD dwLength = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwError,
        0, reinterpret_cast<wchar_t*>(&pszText), 0, nullptr);
    std::string strText;
    if (dwLength > 0 && pszText != nullptr)
        strText = WideToUtf8(pszText, dwLength);
    if (pszText != nullptr)
        ::LocalFree(pszText);
    while (!strText.empty() && (strText.back() == '\n' || strText.back() == '\r' || strText.back() == ' '
                                || strText.back() == '.'))
        strText.pop_back();
    if (strText.empty())
        strText = "system error " + std::to_string(dwError);
    return strText;
}
