#include "platform/console_cancel.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <thread>

struct CConsoleCancel::CImpl {
    int nSignalFd = -1;
    int nStopFd = -1;
    sigset_t oldMask;
    std::thread thread;
};

CConsoleCancel::CConsoleCancel(std::function<void(int)> fnCancel) : m_pImpl(std::make_unique<CImpl>())
{
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    // A closed terminal and Ctrl-\ end the transfer like the others: cancelled, the
    // end-of-transfer byte still sent (SIGQUIT would otherwise leave the device mid-update).
    sigaddset(&mask, SIGHUP);
    sigaddset(&mask, SIGQUIT);
    pthread_sigmask(SIG_BLOCK, &mask, &m_pImpl->oldMask);
    m_pImpl->nSignalFd = signalfd(-1, &mask, SFD_CLOEXEC);
    m_pImpl->nStopFd = eventfd(0, EFD_CLOEXEC);
    if (m_pImpl->nSignalFd < 0 || m_pImpl->nStopFd < 0)
        return;
    CImpl* pImpl = m_pImpl.get();
    m_pImpl->thread = std::thread([pImpl, fnCancel = std::move(fnCancel)] {
        pollfd aFds[2] = {{pImpl->nStopFd, POLLIN, 0}, {pImpl->nSignalFd, POLLIN, 0}};
        for (;;) {
            if (poll(aFds, 2, -1) < 0)
                continue; // EINTR
            if (aFds[0].revents != 0)
                return;
            if (aFds[1].revents != 0) {
                signalfd_siginfo info;
                if (read(pImpl->nSignalFd, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info)))
                    fnCancel(static_cast<int>(info.ssi_signo));
            }
        }
    });
}

CConsoleCancel::~CConsoleCancel()
{
    if (m_pImpl->thread.joinable()) {
        const uint64_t nOne = 1;
        ssize_t nWritten = write(m_pImpl->nStopFd, &nOne, sizeof(nOne));
        (void)nWritten;
        m_pImpl->thread.join();
    }
    if (m_pImpl->nSignalFd >= 0)
        close(m_pImpl->nSignalFd);
    if (m_pImpl->nStopFd >= 0)
        close(m_pImpl->nStopFd);
    pthread_sigmask(SIG_SETMASK, &m_pImpl->oldMask, nullptr);
}

void IgnoreClosedOutput()
{
    std::signal(SIGPIPE, SIG_IGN);
}
