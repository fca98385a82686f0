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

enum EHold { HOLD_NONE, HOLD_OPEN, HOLD_LOCKED };

// Whether the open file behind /proc/PID/fd/N carries a lock: the kernel lists the locks of an
// open file in its fdinfo. (The table of all locks names the process that took a lock, which
// may have handed the descriptor on and ended, as flock(1) does.)
bool IsLockedOpenFile(int nPid, const char* pszFd)
{
    std::ifstream info("/proc/" + std::to_string(nPid) + "/fdinfo/" + pszFd);
    std::string strLine;
    while (std::getline(info, strLine)) {
        if (strLine.rfind("lock:", 0) == 0)
            return true;
    }
    return false;
}

EHold HoldsDevice(int nPid, dev_t nDevice)
{
    const std::string strFds = "/proc/" + std::to_string(nPid) + "/fd";
    CDirectory fds(strFds);
    if (fds.Get() == nullptr)
        return HOLD_NONE; // another user's process, or one that has just ended
    EHold eHold = HOLD_NONE;
    while (const dirent* pEntry = ::readdir(fds.Get())) {
        if (pEntry->d_name[0] == '.')
            continue;
        // stat follows the descriptor's link to the open file itself, so a device opened
        // through a COMn link or a by-id name is still recognised.
        struct stat st {};
        if (::stat((strFds + "/" + pEntry->d_name).c_str(), &st) != 0 || !S_ISCHR(st.st_mode) || st.st_rdev != nDevice)
            continue;
        if (IsLockedOpenFile(nPid, pEntry->d_name))
            return HOLD_LOCKED;
        eHold = HOLD_OPEN;
    }
    return eHold;
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
    // Several processes may have the device open (a device simulator keeps its terminal open);
    // the one that makes it busy is the one holding its lock, when one does.
    const int nSelf = static_cast<int>(::getpid());
    int nHolder = 0;
    while (const dirent* pEntry = ::readdir(proc.Get())) {
        const int nPid = ParsePid(pEntry->d_name);
        if (nPid <= 0 || nPid == nSelf)
            continue;
        const EHold eHold = HoldsDevice(nPid, device.st_rdev);
        if (eHold == HOLD_LOCKED) {
            nHolder = nPid;
            break;
        }
        if (eHold == HOLD_OPEN && nHolder == 0)
            nHolder = nPid;
    }
    if (nHolder == 0)
        return false;
    pHolder->nPid = nHolder;
    pHolder->strCommand = CommandOf(nHolder);
    return true;
}

bool IsModemManager(const CPortHolder& holder)
{
    return holder.strCommand == "ModemManager";
}
