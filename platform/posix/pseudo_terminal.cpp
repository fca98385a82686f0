#include "platform/posix/pseudo_terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

CPseudoTerminal::~CPseudoTerminal()
{
    Close();
}

bool CPseudoTerminal::Open(bool bNonBlockingMaster, std::string* pstrError)
{
    Close();
    auto fail = [&](const std::string& strText) {
        if (pstrError != nullptr)
            *pstrError = strText + ": " + std::strerror(errno) + ".";
        Close();
        return false;
    };
    m_nMasterFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | (bNonBlockingMaster ? O_NONBLOCK : 0));
    char szName[128] = {};
    if (m_nMasterFd < 0 || ::grantpt(m_nMasterFd) != 0 || ::unlockpt(m_nMasterFd) != 0
        || ::ptsname_r(m_nMasterFd, szName, sizeof(szName)) != 0)
        return fail("Cannot create a pseudo-terminal");
    m_strSlavePath = szName;
    m_nSlaveFd = ::open(szName, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    struct termios tio {};
    if (m_nSlaveFd < 0 || ::tcgetattr(m_nSlaveFd, &tio) != 0)
        return fail("Cannot set up the pseudo-terminal " + m_strSlavePath);
    ::cfmakeraw(&tio);
    if (::tcsetattr(m_nSlaveFd, TCSANOW, &tio) != 0)
        return fail("Cannot set up the pseudo-terminal " + m_strSlavePath);
    return true;
}

void CPseudoTerminal::CloseMaster()
{
    if (m_nMasterFd >= 0)
        ::close(m_nMasterFd);
    m_nMasterFd = -1;
}

void CPseudoTerminal::Close()
{
    CloseMaster();
    if (m_nSlaveFd >= 0)
        ::close(m_nSlaveFd);
    m_nSlaveFd = -1;
}
