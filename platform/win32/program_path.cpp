#include "platform/program_path.h"

#include "platform/win32/wide_string.h"

#include <shellapi.h>

const char g_cPathSeparator = '\\';

bool GetProgramPath(std::string* pstrPath)
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD dwLength = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (dwLength == 0)
            return false;
        // A full buffer means the name was cut: try again with more room.
        if (dwLength < buffer.size()) {
            *pstrPath = WideToUtf8(buffer.data(), dwLength);
            return !pstrPath->empty();
        }
        if (buffer.size() >= 32768)
            return false;
        buffer.resize(buffer.size() * 2);
    }
}

bool GetWorkingDirectory(std::string* pstrPath)
{
    const DWORD dwNeeded = ::GetCurrentDirectoryW(0, nullptr);
    if (dwNeeded == 0)
        return false;
    std::wstring buffer(dwNeeded, L'\0');
    const DWORD dwLength = ::GetCurrentDirectoryW(dwNeeded, buffer.data());
    if (dwLength == 0 || dwLength >= dwNeeded)
        return false;
    *pstrPath = WideToUtf8(buffer.data(), dwLength);
    return true;
}

bool ChangeDirectory(const std::string& strPath, std::string* pstrReason)
{
    if (::SetCurrentDirectoryW(Utf8ToWide(strPath).c_str()))
        return true;
    if (pstrReason != nullptr)
        *pstrReason = SystemErrorText(::GetLastError());
    return false;
}

std::string MakeAbsolutePath(const std::string& strPath)
{
    const std::wstring strWide = Utf8ToWide(strPath);
    const DWORD dwNeeded = ::GetFullPathNameW(strWide.c_str(), 0, nullptr, nullptr);
    if (dwNeeded == 0)
        return strPath;
    std::wstring buffer(dwNeeded, L'\0');
    const DWORD dwLength = ::GetFullPathNameW(strWide.c_str(), dwNeeded, buffer.data(), nullptr);
    if (dwLength == 0 || dwLength >= dwNeeded)
        return strPath;
    return WideToUtf8(buffer.data(), dwLength);
}

std::vector<std::string> TakeProgramArguments(int argc, char** argv)
{
    // The narrow arguments went through the ANSI code page, which loses every character it
    // lacks (a Chinese file name on an English system); the wide command line has them all.
    std::vector<std::string> args;
    int nCount = 0;
    if (wchar_t** apszArgs = ::CommandLineToArgvW(::GetCommandLineW(), &nCount)) {
        for (int i = 0; i < nCount; ++i)
            args.push_back(WideToUtf8(apszArgs[i], wcslen(apszArgs[i])));
        ::LocalFree(apszArgs);
    } else {
        for (int i = 0; i < argc; ++i)
            args.emplace_back(argv[i] != nullptr ? argv[i] : "");
    }
    return args;
}
