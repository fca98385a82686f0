#include "platform/program_path.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <unistd.h>

const char g_cPathSeparator = '/';

bool GetProgramPath(std::string* pstrPath)
{
    std::vector<char> buffer(256);
    for (;;) {
        ssize_t nLength = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (nLength < 0)
            return false;
        if (static_cast<size_t>(nLength) < buffer.size()) {
            pstrPath->assign(buffer.data(), static_cast<size_t>(nLength));
            return !pstrPath->empty();
        }
        if (buffer.size() >= 65536)
            return false;
        buffer.resize(buffer.size() * 2);
    }
}

bool GetWorkingDirectory(std::string* pstrPath)
{
    char szCwd[PATH_MAX];
    if (::getcwd(szCwd, sizeof szCwd) == nullptr)
        return false;
    *pstrPath = szCwd;
    return true;
}

bool ChangeDirectory(const std::string& strPath, std::string* pstrReason)
{
    if (::chdir(strPath.c_str()) == 0)
        return true;
    if (pstrReason != nullptr)
        *pstrReason = std::strerror(errno);
    return false;
}

std::string MakeAbsolutePath(const std::string& strPath)
{
    std::error_code error;
    std::string strAbsolute = std::filesystem::absolute(strPath, error).string();
    return error ? strPath : strAbsolute;
}

std::vector<std::string> TakeProgramArguments(int argc, char** argv)
{
    // Linux hands the arguments over as the bytes they were given: UTF-8 in practice.
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.emplace_back(argv[i] != nullptr ? argv[i] : "");
    return args;
}
