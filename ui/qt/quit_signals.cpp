#include "ui/qt/quit_signals.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QWidget>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The self-pipe: a signal handler may only write a byte; the Qt thread reads it. One set of
// signals per process, so the descriptors are process-wide.
int g_anSignalPipe[2] = {-1, -1};
const int g_anQuitSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};

extern "C" void OnQuitSignal(int nSignal)
{
    const int nSavedErrno = errno;
    const unsigned char nByte = static_cast<unsigned char>(nSignal);
    // A full pipe means a quit is already on its way; the byte can be dropped.
    (void)!::write(g_anSignalPipe[1], &nByte, 1);
    errno = nSavedErrno;
}

} // namespace

CQuitSignals::CQuitSignals(std::function<void(int nSignal)> fnQuit, QObject* pParent)
    : QObject(pParent), m_fnQuit(std::move(fnQuit))
{
    if (g_anSignalPipe[0] >= 0 || ::pipe2(g_anSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_pNotifier = new QSocketNotifier(g_anSignalPipe[0], QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &CQuitSignals::OnReadable);
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int nSignal : g_anQuitSignals)
        ::sigaction(nSignal, &action, nullptr);
}

CQuitSignals::~CQuitSignals()
{
    if (m_pNotifier == nullptr)
        return;
    for (int nSignal : g_anQuitSignals)
        ::signal(nSignal, SIG_DFL);
    delete m_pNotifier;
    ::close(g_anSignalPipe[0]);
    ::close(g_anSignalPipe[1]);
    g_anSignalPipe[0] = g_anSignalPipe[1] = -1;
}

void CQuitSignals::OnReadable()
{
    unsigned char abSignals[16];
    for (;;) {
        const ssize_t nRead = ::read(g_anSignalPipe[0], abSignals, sizeof abSignals);
        if (nRead <= 0)
            break;
        for (ssize_t i = 0; i < nRead; ++i)
            m_fnQuit(abSignals[i]);
    }
}

void CloseOpenPrompts(QWidget* pMain)
{
    // Innermost first: a box over the file dialog goes before the file dialog.
    for (int i = 0; i < 8; ++i) {
        QWidget* pModal = QApplication::activeModalWidget();
        auto* pDialog = qobject_cast<QDialog*>(pModal);
        if (pDialog == nullptr || pDialog == pMain)
            return;
        pDialog->reject();
    }
}
