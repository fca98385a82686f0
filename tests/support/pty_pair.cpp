#include "tests/support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

CPtyPair::CPtyPair()
{
    m_nMasterFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_nMasterFd < 0)
        return;
    char szName[128] = {};
    if (::grantpt(m_nMasterFd) != 0 || ::unlockpt(m_nMasterFd) != 0
        || ::ptsname_r(m_nMasterFd, szName, sizeof(szName)) != 0) {
        CloseMaster();
        return;
    }
    m_strSlavePath = szName;
    m_nSlaveFd = ::open(szName, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_nSlaveFd < 0)
        return;
    struct termios tio {};
    if (::tcgetattr(m_nSlaveFd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(m_nSlaveFd, TCSANOW, &tio);
    }
}

CPtyPair::~CPtyPair()
{
    CloseMaster();
    if (m_nSlaveFd >= 0)
        ::close(m_nSlaveFd);
}

bool CPtyPair::WriteFromDevice(const std::vector<uint8_t>& abBytes)
{
    size_t nDone = 0;
    while (nDone < abBytes.size()) {
        ssize_t n = ::write(m_nMasterFd, abBytes.data() + nDone, abBytes.size() - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        nDone += static_cast<size_t>(n);
    }
    return true;
}

std::vector<uint8_t> CPtyPair::ReadFromHost(size_t nCount, int nTimeoutMs)
{
    std::vector<uint8_t> abBytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (abBytes.size() < nCount) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        struct pollfd pfd = {m_nMasterFd, POLLIN, 0};
        int nReady = ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (nReady < 0 && errno == EINTR)
            continue;
        if (nReady <= 0 || (pfd.revents & POLLIN) == 0)
            break;
        uint8_t abChunk[4096];
        size_t nWant = std::min(sizeof(abChunk), nCount - abBytes.size());
        ssize_t n = ::read(m_nMasterFd, abChunk, nWant);
        if (n <= 0)
            break;
        abBytes.insert(abBytes.end(), abChunk, abChunk + n);
    }
    return abBytes;
}

int CPtyPair::QueuedSlaveInput() const
{
    int nCount = -1;
    if (::ioctl(m_nSlaveFd, FIONREAD, &nCount) != 0)
        return -1;
    return nCount;
}

void CPtyPair::CloseMaster()
{
    if (m_nMasterFd >= 0)
        ::close(m_nMasterFd);
    m_nMasterFd = -1;
}
