#include "tests/support/pty_pair.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

bool CPtyPair::WriteFromDevice(const std::vector<uint8_t>& abBytes)
{
    size_t nDone = 0;
    while (nDone < abBytes.size()) {
        ssize_t n = ::write(GetMasterFd(), abBytes.data() + nDone, abBytes.size() - nDone);
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
        struct pollfd pfd = {GetMasterFd(), POLLIN, 0};
        int nReady = ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (nReady < 0 && errno == EINTR)
            continue;
        if (nReady <= 0 || (pfd.revents & POLLIN) == 0)
            break;
        uint8_t abChunk[4096];
        size_t nWant = std::min(sizeof(abChunk), nCount - abBytes.size());
        ssize_t n = ::read(GetMasterFd(), abChunk, nWant);
        if (n <= 0)
            break;
        abBytes.insert(abBytes.end(), abChunk, abChunk + n);
    }
    return abBytes;
}

int CPtyPair::QueuedSlaveInput() const
{
    int nCount = -1;
    if (::ioctl(GetSlaveFd(), FIONREAD, &nCount) != 0)
        return -1;
    return nCount;
}
