// The Qt hosts of the core: notifications from another thread reach the user-interface thread
// (and release their sender even when dropped), the pump wakes on events, the progress bar
// holds ranges past an int.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QThread>

#include <limits>
#include <memory>
#include <thread>

#include "ui/qt/qt_hosts.h"

namespace {

// Records the link events it receives, completing the synchronous ones.
class CEventSink : public QObject {
public:
    bool event(QEvent* pEvent) override
    {
        if (pEvent->type() != CQtLinkEvent::EventType())
            return QObject::event(pEvent);
        auto* pLinkEvent = static_cast<CQtLinkEvent*>(pEvent);
        m_aReceived.push_back(pLinkEvent->Message().wParam);
        m_nGeneration = pLinkEvent->Generation();
        m_bOnOwnThread = QThread::currentThread() == thread();
        pLinkEvent->Complete(77);
        return true;
    }
    std::vector<uintptr_t> m_aReceived;
    uint64_t m_nGeneration = 0;
    bool m_bOnOwnThread = false;
};

TEST(UpdateDlgHosts, NotificationsCrossToTheUserInterfaceThread)
{
    CEventSink sink;
    std::string strShownText, strShownCaption;
    bool bShownOnOwnThread = false;
    CQtLinkOwner owner(&sink, [&](const std::string& strText, const std::string& strCaption) {
        strShownText = strText;
        strShownCaption = strCaption;
        bShownOnOwnThread = QThread::currentThread() == sink.thread();
    });
    CQtLinkOwner newer(&sink, nullptr);
    EXPECT_GT(newer.Generation(), owner.Generation());

    intptr_t nResult = 0;
    bool bHandled = false;
    std::thread monitor([&] {
        for (uintptr_t b : {uintptr_t{0xFB}, uintptr_t{'o'}, uintptr_t{'k'}, uintptr_t{0xFE}})
            owner.PostLinkMessage(CLinkMessage{WM_LINK_RXBYTE, b, 4, nullptr});
        owner.ShowPortError("the port failed", "Application Error");
        // A sent notification: the monitor waits until the owner's thread has handled it.
        auto pCompletion = std::make_shared<CSendCompletion>();
        owner.PostLinkMessage(CLinkMessage{WM_LINK_CTS, 0x99, 4, pCompletion});
        bHandled = pCompletion->Wait(&nResult);
    });
    // The waiting monitor is released only by this thread's event processing.
    while (sink.m_aReceived.size() < 5)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    monitor.join();
    EXPECT_EQ(sink.m_aReceived, (std::vector<uintptr_t>{0xFB, 'o', 'k', 0xFE, 0x99}));
    EXPECT_EQ(sink.m_nGeneration, owner.Generation());
    EXPECT_TRUE(sink.m_bOnOwnThread);
    EXPECT_TRUE(bHandled);
    EXPECT_EQ(nResult, 77);
    EXPECT_EQ(strShownText, "the port failed");
    EXPECT_EQ(strShownCaption, "Application Error");
    EXPECT_TRUE(bShownOnOwnThread);
}

TEST(UpdateDlgHosts, ADroppedSentNotificationReleasesItsSender)
{
    auto pSink = std::make_unique<CEventSink>();
    CQtLinkOwner owner(pSink.get(), nullptr);
    auto pCompletion = std::make_shared<CSendCompletion>();
    owner.PostLinkMessage(CLinkMessage{WM_LINK_CTS, 0, 4, pCompletion});
    // The receiver goes away with the event still queued: Qt discards it, and the sender must
    // not wait for ever.
    pSink.reset();
    bool bHandled = true;
    std::thread sender([&] { bHandled = pCompletion->Wait(); });
    sender.join();
    EXPECT_FALSE(bHandled);
}

TEST(UpdateDlgHosts, PumpWakesOnAnEvent)
{
    CEventSink sink;
    CQtLinkOwner owner(&sink, nullptr);
    CQtMessagePump pump;
    // A message from another thread ends a long wait at once, dispatched.
    std::thread poster([&] { owner.PostLinkMessage(CLinkMessage{WM_LINK_RXBYTE, 0x41, 1, nullptr}); });
    QElapsedTimer elapsed;
    elapsed.start();
    int nQuitCode = -1;
    while (sink.m_aReceived.empty() && elapsed.elapsed() < 20000)
        EXPECT_TRUE(pump.WaitAndDispatch(10000, &nQuitCode));
    poster.join();
    EXPECT_LT(elapsed.elapsed(), 5000);
    EXPECT_EQ(sink.m_aReceived, std::vector<uintptr_t>{0x41});
    // With nothing waiting it returns at the deadline.
    EXPECT_TRUE(pump.WaitAndDispatch(1, &nQuitCode));
}

TEST(UpdateDlgHosts, ProgressRangesPastAnInt)
{
    struct {
        uint64_t nMax, nPos;
        double dExpectedFraction;
    } const aCases[] = {
        {24, 12, 0.5},
        {65536 + 24, 65536, 65536.0 / (65536 + 24)}, // no 16-bit wrap
        {uint64_t{5} << 30, uint64_t{5} << 29, 0.5},
        {std::numeric_limits<uint64_t>::max(), std::numeric_limits<uint64_t>::max() / 4, 0.25},
    };
    QProgressBar bar;
    CQtProgressBar progress(&bar);
    for (const auto& c : aCases) {
        progress.SetRange(0, c.nMax);
        progress.SetPos(c.nPos);
        EXPECT_EQ(bar.minimum(), 0) << c.nMax;
        ASSERT_GT(bar.maximum(), 0) << c.nMax;
        EXPECT_NEAR(static_cast<double>(bar.value()) / bar.maximum(), c.dExpectedFraction, 1e-6) << c.nMax;
    }
    progress.SetRange(0, 120);
    progress.SetPos(108);
    EXPECT_EQ(bar.maximum(), 120);
    EXPECT_EQ(bar.value(), 108);
}

} // namespace
