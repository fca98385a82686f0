#include "ui/qt/qt_hosts.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QProgressBar>
#include <QTimer>

#include <atomic>
#include <climits>

namespace {

std::atomic<uint64_t> g_nNextLinkGeneration{1};

} // namespace

// Notes a quit request (QCoreApplication::quit sends the application a Quit event) while
// letting it through, so that a transfer's pump can end its wait early as a quit message would.
class CQtMessagePump::CQuitWatcher : public QObject {
public:
    bool eventFilter(QObject* pObject, QEvent* pEvent) override
    {
        if (pObject == QCoreApplication::instance() && pEvent->type() == QEvent::Quit)
            m_bQuitSeen = true;
        return false;
    }
    bool m_bQuitSeen = false;
};

CQtMessagePump::CQtMessagePump() : m_pQuitWatcher(new CQuitWatcher)
{
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->installEventFilter(m_pQuitWatcher);
}

CQtMessagePump::~CQtMessagePump()
{
    delete m_pQuitWatcher; // also removes it from the application's filters
}

bool CQtMessagePump::WaitAndDispatch(uint32_t nMaxWaitMs, int* pnQuitCode)
{
    m_pQuitWatcher->m_bQuitSeen = false;
    // The timer only wakes the dispatcher at the deadline; events that arrive sooner end the
    // wait at once. Precise, because the transfer waits in slices of 10 ms.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    deadline.start(static_cast<int>(std::min<uint32_t>(nMaxWaitMs, INT_MAX)));
    QEventLoop loop;
    loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (m_pQuitWatcher->m_bQuitSeen) {
        if (pnQuitCode != nullptr)
            *pnQuitCode = 0;
        return false;
    }
    return true;
}

void CQtProgressBar::SetRange(uint64_t nMin, uint64_t nMax)
{
    m_nShift = 0;
    while ((nMax >> m_nShift) > static_cast<uint64_t>(INT_MAX))
        ++m_nShift;
    if (m_pBar)
        m_pBar->setRange(Scale(nMin), Scale(nMax));
}

void CQtProgressBar::SetPos(uint64_t nPos)
{
    if (m_pBar)
        m_pBar->setValue(Scale(nPos));
}

int CQtProgressBar::Scale(uint64_t nValue) const
{
    return static_cast<int>(std::min<uint64_t>(nValue >> m_nShift, INT_MAX));
}

QEvent::Type CQtLinkEvent::EventType()
{
    static const QEvent::Type eType = static_cast<QEvent::Type>(QEvent::registerEventType());
    return eType;
}

CQtLinkEvent::~CQtLinkEvent()
{
    if (m_msg.pCompletion && !m_bCompleted)
        m_msg.pCompletion->Abandon();
}

void CQtLinkEvent::Complete(intptr_t nResult)
{
    if (m_msg.pCompletion && !m_bCompleted)
        m_msg.pCompletion->Complete(nResult);
    m_bCompleted = true;
}

CQtLinkOwner::CQtLinkOwner(QObject* pTarget, ErrorHandler fnShowError)
    : m_pTarget(pTarget), m_fnShowError(std::move(fnShowError)), m_nGeneration(g_nNextLinkGeneration++)
{
}

void CQtLinkOwner::PostLinkMessage(CLinkMessage msg)
{
    // postEvent is safe from any thread; the event is handled on the target's thread.
    QCoreApplication::postEvent(m_pTarget, new CQtLinkEvent(std::move(msg), m_nGeneration));
}

void CQtLinkOwner::ShowPortError(const std::string& strText, const std::string& strCaption)
{
    // Queued, so that the monitor thread never waits for a person to read the box.
    ErrorHandler fnShow = m_fnShowError;
    QMetaObject::invokeMethod(
        m_pTarget, [fnShow, strText, strCaption] { fnShow(strText, strCaption); }, Qt::QueuedConnection);
}
