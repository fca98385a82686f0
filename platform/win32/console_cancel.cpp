#include "platform/console_cancel.h"

#include <mutex>

#include <windows.h>

namespace {

// The console calls its handlers on a thread it creates, with no argument of ours: the one
// watcher that lives is found here.
std::mutex g_watcherMutex;
std::function<void(int)>* g_pfnCancel = nullptr;

BOOL WINAPI OnConsoleControl(DWORD dwCtrlType)
{
    switch (dwCtrlType) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT: {
        std::lock_guard<std::mutex> lock(g_watcherMutex);
        if (g_pfnCancel == nullptr)
            return FALSE;
        (*g_pfnCancel)(static_cast<int>(dwCtrlType));
        return TRUE;
    }
    default:
        return FALSE;
    }
}

} // namespace

struct CConsoleCancel::CImpl {
    std::function<void(int)> fnCancel;
};

CConsoleCancel::CConsoleCancel(std::function<void(int)> fnCancel) : m_pImpl(std::make_unique<CImpl>())
{
    m_pImpl->fnCancel = std::move(fnCancel);
    {
        std::lock_guard<std::mutex> lock(g_watcherMutex);
        g_pfnCancel = &m_pImpl->fnCancel;
    }
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

CConsoleCancel::~CConsoleCancel()
{
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    std::lock_guard<std::mutex> lock(g_watcherMutex);
    if (g_pfnCancel == &m_pImpl->fnCancel)
        g_pfnCancel = nullptr;
}

void IgnoreClosedOutput()
{
}
