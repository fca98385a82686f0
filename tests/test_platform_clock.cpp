#include <gtest/gtest.h>

#include <thread>

#include "platform/tick_clock.h"
#include "serial/message_queue.h"

namespace {

class CFixedTicks : public ITickSource {
public:
    uint32_t GetTickCount() override { return m_nNow; }
    uint32_t m_nNow = 0;
};

TEST(PlatformClock, TicksSinceSurvivesTheWrap)
{
    CFixedTicks ticks;
    SetTickSource(&ticks);
    struct {
        uint32_t nStart, nNow, nExpected;
    } const aCases[] = {
        {0, 16200, 16200},
        {0xFFFFFFF0u, 0x10u, 0x20u},
        {5, 5, 0},
    };
    for (const auto& c : aCases) {
        ticks.m_nNow = c.nNow;
        EXPECT_EQ(TicksSince(c.nStart), c.nExpected) << c.nStart << " -> " << c.nNow;
    }
    SetTickSource(nullptr);
}

TEST(PlatformMessageQueue, WaitWakesOnPostFromAnotherThread)
{
    CMessageQueue queue;
    EXPECT_FALSE(queue.WaitForMessage(0));
    std::thread poster([&queue] { queue.Post(CLinkMessage{WM_LINK_RXBYTE, 0x41, 3, nullptr}); });
    // Generous limit: the wake-up, not the limit, ends the wait.
    EXPECT_TRUE(queue.WaitForMessage(10000));
    poster.join();
    auto msg = queue.TryTake();
    ASSERT_TRUE(msg.has_value());
    EXPECT_EQ(msg->wParam, 0x41u);
    EXPECT_EQ(msg->lParam, 3);
    EXPECT_FALSE(queue.TryTake().has_value());
}

TEST(PlatformMessageQueue, QuitEndsTheWait)
{
    CMessageQueue queue;
    queue.PostQuit(7);
    EXPECT_FALSE(queue.WaitForMessage(10000));
    EXPECT_EQ(queue.TakeQuit(), 7);
    EXPECT_FALSE(queue.TakeQuit().has_value());
}

} // namespace
