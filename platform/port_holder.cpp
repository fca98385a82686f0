#include "platform/port_holder.h"

#include <cstdlib>
#include <cstring>
#include <fstream>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes a directory stream when the scan returns, whichever way it does.
class CDirectory {
public:
    explicit CDirectory(const std::string& strPath) : m_pDir(::opendir(strPath.c_str())) {}
    ~CDirectory()
    {
        if (m_pDir != nullptr)
            ::closedir(m_pDir);
    }
    CDirectory(const CDirectory&) = delete;
    CDirectory& operator=(const CDirectory&) = delete;
    DIR* Get() const { return m_pDir; }

private:
    DIR* m_pDir;
};

// A decimal process id, or 0 for any other name.
int ParsePid(const char* pszName)
{
    if (pszName[0] == '\0' || std::strlen(pszName) > 9)
        return 0;
    for (const char* p = pszName; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return 0;
    }
    return std::atoi(pszName);
}

bool HoldsDevice(int nPid, dev_t nDevice)
{
    const std::string strFds = "/proc/" + std::to_string(nPid) + "/fd";
    CDirectory fds(strFds);
    if (fds.Get() == nullptr)
        return false; // another user's process, or one that has just ended
    while (const dirent* pEntry = ::readdir(fds.Get())) {
        if (pEntry->d_name[0] == '.')
            continue;
        // stat follows the descriptor's link to the open file itself, so a device opened
        // through a COMn link or a by-id name is still recognised.
        struct stat st {};
        if (::stat((strFds + "/" + pEntry->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == nDevice)
            return true;
    }
    return false;
}

std::string CommandOf(int nPid)
{
    std::ifstream comm("/proc/" + std::to_string(nPid) + "/comm");
    std::string strCommand;
    std::getline(comm, strCommand);
    return strCommand;
}

} // namespace

bool FindPortHolder(const std::string& strDevicePath, CPortHolder* pHolder)
{
    struct stat device {};
    if (strDevicePath.empty() || ::stat(strDevicePath.c_str(), &device) != 0 || !S_ISCHR(device.st_mode))
        return false;
    CDirectory proc("/proc");
    if (proc.Get() == nullptr)
        return false;
    const int nSelf = static_cast<int>(::getpid());
    while (const dirent* pEntry = ::readdir(proc.Get())) {
        const int nPid = ParsePid(pEntry->d_name);
        if (nPid <= 0 || nPid == nSelf || !HoldsDevice(nPid, device.st_rdev))
            continue;
        pHolder->nPid = nPid;
        pHolder->strCommand = CommandOf(nPid);
        return true;
    }
    return false;
}

bool IsModemManager(const CPortHolder& holder)
{
    return holder.strCommand == "ModemManager";
}
