// The record transfer against a scripted in-process device, on a fake clock: a reply limit of
// 16.2 s costs nothing, yet every byte travels through the real serial engine and its thread.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/matrix_app.h"
#include "platform/message_queue.h"
#include "platform/tick_clock.h"
#include "serial/serial_link.h"
#include "tests/support/fake_serial_device.h"
#include "tests/support/test_system.h"
#include "transfer/record_transfer.h"

namespace {

using CBytes = std::vector<uint8_t>;

const CBytes g_abOkReply = {0xFB, 'o', 'k', 0xFE};
const CBytes g_abNgReply = {0xFB, 'n', 'g', 0xFE};

class CFakeTicks : public ITickSource {
public:
    uint32_t GetTickCount() override { return m_nNow.load(); }
    std::atomic<uint32_t> m_nNow{1000};
};

// The transfer's host: records captions, boxes and the progress bar, and pumps the link's
// messages. Fake time only moves when nothing is in flight between the engine, the device and
// this queue, so a reply the device gives is always seen before its limit runs out.
class CTransferTestHost : public ILinkOwner, public IStatusWindow, public IProgressBar, public IMessagePump {
public:
    void PostLinkMessage(CLinkMessage msg) override
    {
        if (msg.nMsg == WM_LINK_RXBYTE)
            ++m_nBytesPosted;
        if (msg.nMsg == WM_LINK_LOST)
            m_bLossPosted = true;
        m_queue.Post(std::move(msg));
    }
    void ShowPortError(const std::string& strText, const std::string&) override { m_astrPortErrors.push_back(strText); }
    void SetWindowText(const std::string& strText) override
    {
        m_astrCaptions.push_back(strText);
        if (m_onCaption)
            m_onCaption(strText);
    }
    void MessageBox(const std::string& strText) override { m_astrBoxes.push_back(strText); }
    void SetRange(uint64_t nMin, uint64_t nMax) override { m_anRanges.push_back({nMin, nMax}); }
    void SetPos(uint64_t nPos) override { m_anPositions.push_back(nPos); }

    bool WaitAndDispatch(uint32_t nMaxWaitMs, int*) override
    {
        for (;;) {
            bool bDispatched = false;
            while (auto msg = m_queue.TryTake()) {
                DispatchLinkMessage(*msg);
                if (msg->pCompletion)
                    msg->pCompletion->Complete(0);
                bDispatched = true;
            }
            if (bDispatched)
                return true;
            if (IsQuiet()) {
                m_ticks.m_nNow += nMaxWaitMs;
                return true;
            }
            m_queue.WaitForMessage(5);
        }
    }

    bool IsQuiet() const
    {
        // Read in the order things happen: write pending, reply bytes unread, bytes read but
        // not yet posted, posted but not yet dispatched.
        if (g_pSerialLink != nullptr && g_pSerialLink->IsWritePending())
            return false;
        // A device the test pulled is in flight until the engine has reported it.
        if (m_bDeviceGone.load() && !m_bLossPosted.load())
            return false;
        if (m_pDevice->Unread() != 0)
            return false;
        if (m_pDevice->BytesRead() != m_nBytesPosted.load())
            return false;
        return m_queue.Size() == 0;
    }

    CFakeTicks m_ticks;
    CMessageQueue m_queue;
    CFakeSerialDevice* m_pDevice = nullptr;
    std::atomic<uint64_t> m_nBytesPosted{0};
    std::atomic<bool> m_bDeviceGone{false};
    std::atomic<bool> m_bLossPosted{false};
    std::vector<std::string> m_astrCaptions;
    std::vector<std::string> m_astrBoxes;
    std::vector<std::string> m_astrPortErrors;
    std::vector<std::pair<uint64_t, uint64_t>> m_anRanges;
    std::vector<uint64_t> m_anPositions;
    std::function<void(const std::string&)> m_onCaption;
};

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetTickSource(&m_host.m_ticks);
        ResetReplyAssembler();
        g_bTransferring = 0;
        g_bCancelTransfer = 0;
        g_bLinkLost = 0;
        g_nReplyTimeLimitMs = REPLY_TIME_LIMIT_MS;
        g_pMessagePump = &m_host;
        g_pTransferProgress = &m_host;
        m_app.m_nComPort = 7;

        auto pDevice = std::make_unique<CFakeSerialDevice>();
        m_pDevice = pDevice.get();
        m_host.m_pDevice = m_pDevice;
        m_pLink = std::make_unique<CSerialLink>();
        ASSERT_TRUE(m_pLink->OpenDevice(&m_host, 7, std::move(pDevice), 9600, 'N', 8, 1, EV_RXCHAR | EV_CTS, 1024));
        ASSERT_TRUE(m_pLink->StartMonitor());
        g_pSerialLink = m_pLink.get();
    }

    void TearDown() override
    {
        m_pLink->SetOwner(nullptr);
        g_pSerialLink = nullptr;
        m_pLink.reset();
        g_pMessagePump = nullptr;
        g_pTransferProgress = nullptr;
        SetTickSource(nullptr);
        std::filesystem::remove(m_strFile);
    }

    void WriteTransferFile(const CBytes& data)
    {
        std::ofstream out(m_strFile, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        out.close();
        m_app.SetTransferFile(m_strFile);
    }

    // A file of nRecords records, record i filled with the byte i + 1 between its markers.
    static CBytes MakeRecords(int nRecords)
    {
        CBytes data;
        for (int i = 0; i < nRecords; ++i) {
            data.push_back(0xC1);
            data.insert(data.end(), 10, static_cast<uint8_t>(i + 1));
            data.push_back(0xC3);
        }
        return data;
    }

    CTransferOutcome Run() { return SendPatternFile(&m_host, m_app); }
    uint32_t FakeElapsed() const { return m_host.m_ticks.m_nNow.load() - 1000; }

    CTransferTestHost m_host;
    CMatrixApp m_app;
    CFakeSerialDevice* m_pDevice = nullptr;
    std::unique_ptr<CSerialLink> m_pLink;
    std::string m_strFile = (std::filesystem::temp_directory_path() /
                             ("transfer-test-" + std::to_string(::getpid()) + ".bin")).string();
};

TEST_F(TransferTest, TwoRecordsAnsweredOkShowTheWholeCaptionSequence)
{
    m_pDevice->SetResponder([](const CBytes&) { return g_abOkReply; });
    const CBytes data = MakeRecords(2);
    WriteTransferFile(data);

    const CTransferOutcome outcome = Run();

    const std::vector<std::string> astrExpected = {
        "Now program 2 data...",
        "傳送第0/2筆",
        "傳送第0筆資料回應OK",
        "傳送第1/2筆",
        "傳送第1筆資料回應OK",
        "點矩陣繪圖軟體 傳輸埠:COM7 已傳送共 2 行資料...",
    };
    EXPECT_EQ(m_host.m_astrCaptions, astrExpected);
    EXPECT_TRUE(m_host.m_astrBoxes.empty());
    ASSERT_EQ(m_host.m_anRanges.size(), 1u);
    EXPECT_EQ(m_host.m_anRanges[0], std::make_pair(uint64_t{0}, uint64_t{24}));
    EXPECT_EQ(m_host.m_anPositions, (std::vector<uint64_t>{0, 12}));
    const std::vector<CBytes> aWrites = m_pDevice->GetWrites();
    ASSERT_EQ(aWrites.size(), 3u);
    EXPECT_EQ(aWrites[0], CBytes(data.begin(), data.begin() + 12));
    EXPECT_EQ(aWrites[1], CBytes(data.begin() + 12, data.end()));
    EXPECT_EQ(aWrites[2], CBytes{0xC3});
    EXPECT_TRUE(outcome.bStarted);
    EXPECT_EQ(outcome.nHandled, 2u);
    EXPECT_EQ(outcome.nUnanswered, 0u);
    EXPECT_EQ(g_bTransferring, 0);
    // The 10 ms pause after each record stays.
    EXPECT_GE(FakeElapsed(), 20u);
}

TEST_F(TransferTest, SilentDeviceGetsFiveSendsPerRecordAndTheFinalTextCountsThem)
{
    m_pDevice->SetResponder([](const CBytes&) { return CBytes{}; });
    WriteTransferFile(MakeRecords(2));

    const CTransferOutcome outcome = Run();

    const std::vector<CBytes> aWrites = m_pDevice->GetWrites();
    ASSERT_EQ(aWrites.size(), 11u);
    for (size_t i = 0; i < 10; ++i)
        EXPECT_EQ(aWrites[i][1], i < 5 ? 1 : 2) << "send " << i;
    EXPECT_EQ(aWrites[10], CBytes{0xC3});
    EXPECT_EQ(outcome.nUnanswered, 2u);
    EXPECT_EQ(m_host.m_astrCaptions.back(), "點矩陣繪圖軟體 傳輸埠:COM7 已傳送共 2 行資料... 其中 2 筆無回應");
    // Ten sends and the terminator each waited out the whole 16.2 s limit.
    EXPECT_GE(FakeElapsed(), 11u * 16200u);
    EXPECT_LT(FakeElapsed(), 11u * 16200u + 1000u);
}

TEST_F(TransferTest, WrongRepliesResendWithoutLimitUntilCancelled)
{
    m_pDevice->SetResponder([](const CBytes& written) { return written.size() == 1 ? g_abOkReply : g_abNgReply; });
    int nAbnormal = 0;
    m_host.m_onCaption = [&nAbnormal](const std::string& strText) {
        if (strText == "傳送第0筆資料回應異常" && ++nAbnormal == 25)
            g_bCancelTransfer = 1;
    };
    WriteTransferFile(MakeRecords(3));

    const CTransferOutcome outcome = Run();

    EXPECT_TRUE(outcome.bCancelled);
    EXPECT_TRUE(outcome.NeedsClosingInstruction());
    const std::vector<CBytes> aWrites = m_pDevice->GetWrites();
    // 25 wrong replies, the send that the cancel interrupted, then the terminator alone.
    ASSERT_EQ(aWrites.size(), 27u);
    EXPECT_EQ(aWrites.back(), CBytes{0xC3});
    EXPECT_EQ(m_host.m_astrCaptions.back(), "點矩陣繪圖軟體 傳輸埠:COM7 已傳送共 1 行資料... 已取消更新");
}

TEST_F(TransferTest, FilesThatCannotStartSendNothing)
{
    enum EMake { MISSING, DATA, FIFO, DIRECTORY, SPARSE };
    struct {
        const char* pszName;
        EMake eMake;
        CBytes data;
        const char* pszBoxPart;
        EPatternFileProblem eKind;
        bool bClosingInstruction; // a file with nothing to send still ends with how to finish
    } const aCases[] = {
        {"missing file", MISSING, {}, "transfer-test-", EPatternFileProblem::CannotOpen, false},
        {"empty file", DATA, {}, "傳送檔案為0,請先轉檔", EPatternFileProblem::Empty, true},
        {"no whole record", DATA, {0xC1, 1, 2, 3, 4}, "傳送檔案為0,請先轉檔", EPatternFileProblem::NoWholeRecord, true},
        {"no whole record, note", DATA, {0xC1, 1, 2, 3, 4}, "檔案尾端 5 位元組", EPatternFileProblem::NoWholeRecord, true},
        // A FIFO without a writer blocked the open for ever.
        {"fifo", FIFO, {}, "is a FIFO, not a regular file", EPatternFileProblem::NotRegularFile, false},
        {"directory", DIRECTORY, {}, "is a directory, not a regular file", EPatternFileProblem::NotRegularFile, false},
        // Refused from its size before a byte is read.
        {"sparse 300 MiB", SPARSE, {}, "longer than", EPatternFileProblem::TooLong, false},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        m_host.m_astrBoxes.clear();
        m_host.m_astrCaptions.clear();
        std::filesystem::remove_all(m_strFile);
        if (c.eMake == DATA)
            WriteTransferFile(c.data);
        m_app.SetTransferFile(m_strFile);
        if (c.eMake == FIFO) {
            if (!MakeTestFifo(m_strFile)) {
                std::printf("no FIFO case here: the system has no named pipe a path can name\n");
                continue;
            }
        } else if (c.eMake == DIRECTORY) {
            std::filesystem::create_directory(m_strFile);
        }
        if (c.eMake == SPARSE) {
            WriteTransferFile({});
            std::filesystem::resize_file(m_strFile, 300u * 1024u * 1024u);
        }
        g_bTransferring = 5; // not touched when nothing starts

        const CTransferOutcome outcome = Run();

        EXPECT_FALSE(outcome.bStarted);
        EXPECT_EQ(g_bTransferring, 5);
        EXPECT_TRUE(m_host.m_astrCaptions.empty());
        ASSERT_EQ(m_host.m_astrBoxes.size(), 1u);
        EXPECT_NE(m_host.m_astrBoxes[0].find(c.pszBoxPart), std::string::npos) << m_host.m_astrBoxes[0];
        EXPECT_TRUE(m_pDevice->GetWrites().empty());
        EXPECT_EQ(outcome.fileProblem.eKind, c.eKind);
        EXPECT_EQ(outcome.fileProblem.strPath, m_strFile);
        EXPECT_EQ(outcome.NeedsClosingInstruction(), c.bClosingInstruction);
    }
    std::filesystem::remove_all(m_strFile);
}

TEST_F(TransferTest, TrailingPieceIsReportedAndNeverSent)
{
    m_pDevice->SetResponder([](const CBytes&) { return g_abOkReply; });
    CBytes data = MakeRecords(2);
    data.insert(data.end(), {0xC1, 1, 2, 3, 4});
    WriteTransferFile(data);

    const CTransferOutcome outcome = Run();

    EXPECT_EQ(outcome.nTrailingBytes, 5u);
    const std::vector<CBytes> aWrites = m_pDevice->GetWrites();
    ASSERT_EQ(aWrites.size(), 3u);
    EXPECT_EQ(aWrites[2], CBytes{0xC3});
    EXPECT_EQ(m_host.m_astrCaptions.back(),
              "點矩陣繪圖軟體 傳輸埠:COM7 已傳送共 2 行資料... 檔案尾端 5 位元組不足一筆,未傳送");
}

TEST_F(TransferTest, LostLinkEndsTheTransferAtOnce)
{
    int nWrites = 0;
    CFakeSerialDevice* pDevice = m_pDevice;
    CTransferTestHost* pHost = &m_host;
    m_pDevice->SetResponder([&nWrites, pDevice, pHost](const CBytes&) {
        if (++nWrites == 2) {
            pHost->m_bDeviceGone = true;
            pDevice->Disconnect();
            return CBytes{};
        }
        return g_abOkReply;
    });
    WriteTransferFile(MakeRecords(5));

    const CTransferOutcome outcome = Run();

    EXPECT_TRUE(outcome.bLinkLost);
    EXPECT_EQ(outcome.nHandled, 1u);
    EXPECT_EQ(m_pDevice->GetWrites().size(), 2u);
    EXPECT_EQ(m_host.m_astrCaptions.back(), "傳輸埠:COM7 連線中斷,已傳送 1/5 筆資料,更新未完成");
    // Far less than one reply limit, let alone 5 x 16.2 s per remaining record.
    EXPECT_LT(FakeElapsed(), REPLY_TIME_LIMIT_MS);
}

TEST_F(TransferTest, ARecordThatWasNotWrittenIsSentAgainNotCountedAsUnanswered)
{
    m_pDevice->SetResponder([](const CBytes&) { return g_abOkReply; });
    m_pDevice->FailWrites(1);
    const CBytes data = MakeRecords(1);
    WriteTransferFile(data);

    const CTransferOutcome outcome = Run();

    EXPECT_EQ(m_host.m_astrCaptions, (std::vector<std::string>{"Now program 1 data...", "傳送第0/1筆",
                                                               "傳送第0筆資料回應OK",
                                                               "點矩陣繪圖軟體 傳輸埠:COM7 已傳送共 1 行資料..."}));
    EXPECT_EQ(m_pDevice->GetWrites(), (std::vector<CBytes>{data, CBytes{0xC3}}));
    EXPECT_EQ(m_host.m_astrPortErrors.size(), 1u);
    EXPECT_EQ(outcome.nUnanswered, 0u);
    // The failed write ended its wait at once instead of waiting out the reply limit.
    EXPECT_LT(FakeElapsed(), REPLY_TIME_LIMIT_MS);
}

TEST_F(TransferTest, ProgressRangeCarriesTheWholeLength)
{
    m_pDevice->SetResponder([](const CBytes&) { return g_abOkReply; });
    // Past 65,535 bytes; the range is all this test is about, so it cancels at once.
    WriteTransferFile(MakeRecords(70008 / 12));
    m_host.m_onCaption = [](const std::string&) { g_bCancelTransfer = 1; };

    const CTransferOutcome outcome = Run();

    ASSERT_EQ(m_host.m_anRanges.size(), 1u);
    EXPECT_EQ(m_host.m_anRanges[0].second, 70008u);
    EXPECT_EQ(outcome.nRecords, 70008u / 12u);
    EXPECT_EQ(outcome.nHandled, 0u);
    EXPECT_EQ(m_pDevice->GetWrites(), (std::vector<CBytes>{CBytes{0xC3}}));
}

TEST_F(TransferTest, ReplyCompletedBetweenSendsIsDiscardedByTheNextSend)
{
    m_pDevice->SetResponder([](const CBytes&) { return CBytes{}; });
    for (uint8_t b : g_abOkReply)
        AssembleReplyByte(b);
    ASSERT_EQ(g_nReplyStatus, REPLY_OK);

    const uint8_t abRecord[12] = {0xC1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xC3};
    EXPECT_EQ(SendAndWait(abRecord, 12, 500), REPLY_NONE);
    EXPECT_GE(FakeElapsed(), 500u);
}

// The reply assembler and its judgement, fed byte by byte.
TEST(TransferReplyJudgement, JudgesOnlyTheCurrentReply)
{
    struct {
        const char* pszName;
        CBytes bytes;
        uint8_t nExpected;
    } const aCases[] = {
        {"ok", {0xFB, 'o', 'k', 0xFE}, REPLY_OK},
        {"ok among other bytes", {0xFB, 'a', '1', 'o', 'k', '!', 'z', 0xFE}, REPLY_OK},
        {"no ok", {0xFB, 'n', 'g', 0xFE}, REPLY_ABNORMAL},
        {"upper case", {0xFB, 'O', 'K', 0xFE}, REPLY_ABNORMAL},
        {"empty reply", {0xFB, 0xFE}, REPLY_ABNORMAL},
        {"stale ok behind a shorter reply", {0xFB, 'x', 'x', 'o', 'k', 0xFE, 0xFB, 'n', 'g', 0xFE}, REPLY_ABNORMAL},
        {"ok split by the end of an earlier reply", {0xFB, 'o', 0xFE, 0xFB, 'k', 0xFE}, REPLY_ABNORMAL},
        {"end marker without start judges bytes since the last reply", {0xFB, 'n', 'g', 0xFE, 'o', 'k', 0xFE}, REPLY_OK},
        {"and not those before it", {0xFB, 'o', 'k', 0xFE, 'n', 'g', 0xFE}, REPLY_ABNORMAL},
        {"zero byte ends the text", {0xFB, 0x00, 'o', 'k', 0xFE}, REPLY_ABNORMAL},
        {"noise before the start marker", {'o', 'k', 0xFB, 'n', 'o', 0xFE}, REPLY_ABNORMAL},
        // The start marker restarts the count: the bytes of a full-buffer reply before it,
        // ending in "ok", must not be read back as part of the new one.
        {"start marker after a full buffer and noise", [] {
             CBytes bytes = {0xFB};
             bytes.insert(bytes.end(), 253, 'x');
             const CBytes tail = {'o', 'k', 0xFE, 'z', 'z', 0xFB, 'n', 'g', 0xFE};
             bytes.insert(bytes.end(), tail.begin(), tail.end());
             return bytes;
         }(), REPLY_ABNORMAL},
    };
    for (const auto& c : aCases) {
        ResetReplyAssembler();
        for (uint8_t b : c.bytes)
            AssembleReplyByte(b);
        EXPECT_EQ(g_nReplyStatus, c.nExpected) << c.pszName;
    }
}

TEST(TransferReplyJudgement, ReplyLongerThanTheBufferIsJudgedOnWhatWasKept)
{
    struct {
        const char* pszName;
        size_t nOkAt; // where "ok" stands in a 600-byte reply body
        uint8_t nExpected;
    } const aCases[] = {
        {"ok early, overwritten", 3, REPLY_ABNORMAL},
        {"ok in the last bytes kept", 590, REPLY_OK},
        {"ok across the buffer's wrap", 510, REPLY_OK},
    };
    for (const auto& c : aCases) {
        ResetReplyAssembler();
        AssembleReplyByte(0xFB);
        for (size_t i = 0; i < 600; ++i)
            AssembleReplyByte(i == c.nOkAt ? 'o' : i == c.nOkAt + 1 ? 'k' : 'x');
        AssembleReplyByte(0xFE);
        EXPECT_EQ(g_nReplyStatus, c.nExpected) << c.pszName;
    }
}

} // namespace
