// The record transfer against a scripted in-process device, on a fake clock: a reply limit of
// 16.2 s costs nothing, yet every byte travels through the real serial engine and its thread.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/matrix_app.h"
#include "app/operator_texts.h"
#include "cli/gang_send.h"
#include "cli/send_status.h"
#include "platform/tick_clock.h"
#include "serial/message_queue.h"
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
        Note(strText);
        if (m_onCaption)
            m_onCaption(strText);
    }
    void MessageBox(const std::string& strText) override { m_astrBoxes.push_back(strText); }
    void SetRange(uint64_t nMin, uint64_t nMax) override { m_anRanges.push_back({nMin, nMax}); }
    void SetPos(uint64_t nPos) override
    {
        m_anPositions.push_back(nPos);
        Note("position " + std::to_string(nPos));
    }
    // Captions, positions and (from a responder, on the monitor thread) writes, in the order
    // they happened.
    void Note(const std::string& strEvent)
    {
        std::lock_guard<std::mutex> lock(m_eventMutex);
        m_astrEvents.push_back(strEvent);
    }
    std::vector<std::string> Events()
    {
        std::lock_guard<std::mutex> lock(m_eventMutex);
        return m_astrEvents;
    }
    // Waits (in real time, bounded) until the monitor has posted nCount more bytes than
    // nBefore, without dispatching them: they wait in the queue as a slow host's would.
    bool WaitUntilPosted(uint64_t nBefore, uint64_t nCount)
    {
        for (int i = 0; i < 5000 && m_nBytesPosted.load() < nBefore + nCount; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return m_nBytesPosted.load() >= nBefore + nCount;
    }

    bool WaitAndDispatch(uint32_t nMaxWaitMs, int*) override
    {
        for (;;) {
            bool bDispatched = false;
            while (auto msg = m_queue.TryTake()) {
                m_pTransfer->DispatchLinkMessage(*msg);
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
        if (m_pTransfer->GetLink() != nullptr && m_pTransfer->GetLink()->IsWritePending())
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
    CRecordTransfer* m_pTransfer = nullptr;
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
    std::mutex m_eventMutex;
    std::vector<std::string> m_astrEvents;
};

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetTickSource(&m_host.m_ticks);
        m_host.m_pTransfer = &m_transfer;
        m_transfer.SetMessagePump(&m_host);
        m_transfer.SetProgress(&m_host);
        m_app.m_nComPort = 7;
        OpenLink();
    }

    void OpenLink(uint32_t dwEventMask = EV_RXCHAR | EV_CTS)
    {
        auto pDevice = std::make_unique<CFakeSerialDevice>();
        m_pDevice = pDevice.get();
        m_host.m_pDevice = m_pDevice;
        m_host.m_nBytesPosted = 0;
        m_pLink = std::make_unique<CSerialLink>();
        ASSERT_TRUE(m_pLink->OpenDevice(&m_host, 7, std::move(pDevice), 9600, 'N', 8, 1, dwEventMask, 1024));
        ASSERT_TRUE(m_pLink->StartMonitor());
        m_transfer.SetLink(m_pLink.get());
    }

    // A fresh device on a fresh link and a clean record of what the host was shown, for a
    // table whose rows each need their own.
    void ReopenWithNewDevice(uint32_t dwEventMask = EV_RXCHAR | EV_CTS)
    {
        m_pLink->SetOwner(nullptr);
        m_transfer.SetLink(nullptr);
        m_pLink.reset();
        m_host.m_astrCaptions.clear();
        m_host.m_astrPortErrors.clear();
        m_host.m_onCaption = nullptr;
        OpenLink(dwEventMask);
    }

    // Devices for the tables below; each answers the end-of-transfer byte ok.
    enum EDevice {
        SILENT,
        WRONG,           // every record answered with a whole frame that holds no ok
        SPLIT,           // FB 'o' to one send, 'k' FE to the next
        FIRST_RECORD_OK, // answers record 0 ok, nothing else
        SECOND_RECORD_OK,
    };
    void SetDevice(EDevice eDevice)
    {
        auto pnSends = std::make_shared<int>(0);
        m_pDevice->SetResponder([eDevice, pnSends](const CBytes& written) -> CBytes {
            if (written.size() == 1)
                return g_abOkReply;
            switch (eDevice) {
            case SILENT: break;
            case WRONG: return g_abNgReply;
            case SPLIT: return ++*pnSends % 2 == 1 ? CBytes{0xFB, 'o'} : CBytes{'k', 0xFE};
            case FIRST_RECORD_OK: return written[1] == 1 ? g_abOkReply : CBytes{};
            case SECOND_RECORD_OK: return written[1] == 2 ? g_abOkReply : CBytes{};
            }
            return CBytes{};
        });
    }
    // How many times the device got the record whose value bytes are nValue.
    size_t SendsOf(uint8_t nValue) const
    {
        const std::vector<CBytes> aWrites = m_pDevice->GetWrites();
        return static_cast<size_t>(std::count_if(aWrites.begin(), aWrites.end(), [nValue](const CBytes& w) {
            return w.size() == 12 && w[1] == nValue;
        }));
    }

    void TearDown() override
    {
        m_pLink->SetOwner(nullptr);
        m_transfer.SetLink(nullptr);
        m_pLink.reset();
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

    // What a host does: the file read and checked first, then sent as read.
    CTransferOutcome Run()
    {
        std::vector<uint8_t> data;
        CTransferOutcome outcome;
        if (!LoadPatternFile(&m_host, m_app.GetTransferFile(), &data, &outcome))
            return outcome;
        return m_transfer.SendPatternFile(&m_host, m_app.m_nComPort, data);
    }
    // How often each caption was shown.
    size_t CaptionCount(const std::string& strCaption) const
    {
        return static_cast<size_t>(std::count(m_host.m_astrCaptions.begin(), m_host.m_astrCaptions.end(), strCaption));
    }
    uint32_t FakeElapsed() const { return m_host.m_ticks.m_nNow.load() - 1000; }

    CTransferTestHost m_host;
    CRecordTransfer m_transfer;
    CMatrixApp m_app;
    CFakeSerialDevice* m_pDevice = nullptr;
    std::unique_ptr<CSerialLink> m_pLink;
    std::string m_strFile = (std::filesystem::temp_directory_path() /
                             ("transfer-test-" + std::to_string(::getpid()) + ".bin")).string();
};

TEST_F(TransferTest, TwoRecordsAnsweredOkShowTheWholeCaptionSequence)
{
    CTransferTestHost* pHost = &m_host;
    m_pDevice->SetResponder([pHost](const CBytes& written) {
        pHost->Note("write " + std::to_string(written.size()));
        return g_abOkReply;
    });
    const CBytes data = MakeRecords(2);
    WriteTransferFile(data);

    const CTransferOutcome outcome = Run();

    // The bar moves once a record is handled, to its offset; a complete update leaves it full.
    const std::vector<std::string> astrExpected = {
        "Now program 2 data...",
        "傳送第0/2筆",
        "write 12",
        "傳送第0筆資料回應OK",
        "position 0",
        "傳送第1/2筆",
        "write 12",
        "傳送第1筆資料回應OK",
        "position 12",
        "write 1",
        "position 24",
        "點矩陣繪圖軟體 傳輸埠:COM7 已傳送共 2 行資料...",
    };
    EXPECT_EQ(m_host.Events(), astrExpected);
    EXPECT_TRUE(m_host.m_astrBoxes.empty());
    ASSERT_EQ(m_host.m_anRanges.size(), 1u);
    EXPECT_EQ(m_host.m_anRanges[0], std::make_pair(uint64_t{0}, uint64_t{24}));
    const std::vector<CBytes> aWrites = m_pDevice->GetWrites();
    ASSERT_EQ(aWrites.size(), 3u);
    EXPECT_EQ(aWrites[0], CBytes(data.begin(), data.begin() + 12));
    EXPECT_EQ(aWrites[1], CBytes(data.begin() + 12, data.end()));
    EXPECT_EQ(aWrites[2], CBytes{0xC3});
    EXPECT_TRUE(outcome.bStarted);
    EXPECT_EQ(outcome.nHandled, 2u);
    EXPECT_EQ(outcome.nAnswered, 2u);
    EXPECT_EQ(outcome.GetEnding(), ETransferEnding::Complete);
    EXPECT_FALSE(m_transfer.IsTransferring());
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
    EXPECT_EQ(outcome.nResends, 8u);
    EXPECT_EQ(m_host.m_astrCaptions.back(), "點矩陣繪圖軟體 傳輸埠:COM7 已傳送共 2 行資料... 其中 2 筆無回應");
    // Ten sends and the terminator each waited out the whole 16.2 s limit.
    EXPECT_GE(FakeElapsed(), 11u * 16200u);
    EXPECT_LT(FakeElapsed(), 11u * 16200u + 1000u);
}

TEST_F(TransferTest, WrongRepliesResendWithoutLimitUntilCancelled)
{
    m_pDevice->SetResponder([](const CBytes& written) { return written.size() == 1 ? g_abOkReply : g_abNgReply; });
    int nAbnormal = 0;
    m_host.m_onCaption = [this, &nAbnormal](const std::string& strText) {
        if (strText == "傳送第0筆資料回應異常" && ++nAbnormal == 25)
            m_transfer.RequestCancel();
    };
    WriteTransferFile(MakeRecords(3));

    const CTransferOutcome outcome = Run();

    EXPECT_TRUE(outcome.bCancelled);
    EXPECT_EQ(outcome.GetEnding(), ETransferEnding::Incomplete);
    const std::vector<CBytes> aWrites = m_pDevice->GetWrites();
    // 25 wrong replies, the send that the cancel interrupted, then the terminator alone.
    ASSERT_EQ(aWrites.size(), 27u);
    EXPECT_EQ(outcome.nResends, 25u);
    EXPECT_EQ(aWrites.back(), CBytes{0xC3});
    // The wait the cancel cut short is not a missing reply.
    EXPECT_EQ(CaptionCount("傳送第0筆資料無回應"), 0u);
    ASSERT_GE(m_host.m_astrCaptions.size(), 2u);
    EXPECT_EQ(m_host.m_astrCaptions[m_host.m_astrCaptions.size() - 2], "傳送第0筆資料時已取消更新");
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
    } const aCases[] = {
        {"missing file", MISSING, {}, "transfer-test-", EPatternFileProblem::CannotOpen},
        {"empty file", DATA, {}, "傳送檔案為0,請先轉檔", EPatternFileProblem::Empty},
        {"no whole record", DATA, {0xC1, 1, 2, 3, 4}, "傳送檔案為0,請先轉檔", EPatternFileProblem::NoWholeRecord},
        {"no whole record, note", DATA, {0xC1, 1, 2, 3, 4}, "檔案尾端 5 位元組", EPatternFileProblem::NoWholeRecord},
        // A FIFO without a writer blocked the open for ever.
        {"fifo", FIFO, {}, "is a FIFO, not a regular file", EPatternFileProblem::NotRegularFile},
        {"directory", DIRECTORY, {}, "is a directory, not a regular file", EPatternFileProblem::NotRegularFile},
        // Refused from its size before a byte is read.
        {"sparse 300 MiB", SPARSE, {}, "longer than", EPatternFileProblem::TooLong},
        // A CSV file renamed .bin was sent, and each record waited out five reply limits.
        {"csv renamed .bin", DATA, [] { const std::string str = "x,y,i1,i2,i3\n1.5,2.25,1,2,3\n"; return CBytes(str.begin(), str.end()); }(),
         "is not a pattern file: record 1 (byte 0) starts with 0x78 instead of the start marker 0xC1.",
         EPatternFileProblem::NotPatternFile},
        {"bad end marker in record 2", DATA, [] { CBytes data = MakeRecords(3); data[23] = 0x00; return data; }(),
         "is not a pattern file: record 2 (byte 12) ends with 0x00 instead of the end marker 0xC3.",
         EPatternFileProblem::NotPatternFile},
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
        const CTransferOutcome outcome = Run();

        EXPECT_FALSE(outcome.bStarted);
        EXPECT_FALSE(m_transfer.IsTransferring());
        EXPECT_TRUE(m_host.m_astrCaptions.empty());
        ASSERT_EQ(m_host.m_astrBoxes.size(), 1u);
        EXPECT_NE(m_host.m_astrBoxes[0].find(c.pszBoxPart), std::string::npos) << m_host.m_astrBoxes[0];
        EXPECT_TRUE(m_pDevice->GetWrites().empty());
        EXPECT_EQ(outcome.fileProblem.eKind, c.eKind);
        EXPECT_EQ(outcome.fileProblem.strPath, m_strFile);
        EXPECT_EQ(outcome.GetEnding(), ETransferEnding::NothingSent);
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

TEST_F(TransferTest, AFailedWriteIsNoSendAndOnlyFailuresInARowEndTheLink)
{
    struct {
        const char* pszName;
        EDevice eDevice;
        int nRecords;
        std::vector<int> anFailedWrites; // the numbers of the writes that do not leave
        size_t nSendsOfRecord0;
        uint32_t nAnswered;
        size_t nPortErrors;
    } const aCases[] = {
        // The write that failed is not one of the five sends a silent device gets.
        {"a failed write, then silence", SILENT, 1, {1}, 5, 0, 1},
        // A good write between two failures: they are not in a row, and the link stays.
        {"failed, good, failed", FIRST_RECORD_OK, 2, {1, 3}, 1, 1, 2},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        ReopenWithNewDevice();
        SetDevice(c.eDevice);
        m_pDevice->FailWriteAttempts(c.anFailedWrites);
        WriteTransferFile(MakeRecords(c.nRecords));

        const CTransferOutcome outcome = Run();

        EXPECT_FALSE(outcome.bLinkLost);
        EXPECT_EQ(outcome.nHandled, static_cast<uint32_t>(c.nRecords));
        EXPECT_EQ(SendsOf(1), c.nSendsOfRecord0);
        EXPECT_EQ(outcome.nAnswered, c.nAnswered);
        EXPECT_EQ(m_host.m_astrPortErrors.size(), c.nPortErrors);
        EXPECT_EQ(m_pDevice->GetWrites().back(), CBytes{0xC3});
    }
}

TEST_F(TransferTest, AnswersBelongToTheSendTheyAnswer)
{
    struct {
        const char* pszName;
        EDevice eDevice;
        int nRecords;
        // As this caption shows (first time), a whole good answer has been read by the link
        // and waits in the host's queue: it came before the send that follows.
        const char* pszLateAnswerAt;
        uint8_t nRecordAsked; // the record looked at (its value bytes)
        size_t nSends;
        uint32_t nAnswered;
    } const aCases[] = {
        // Halves of one frame, each after its own send, used to be joined into "回應OK".
        {"a frame split across two sends", SPLIT, 1, nullptr, 1, 5, 0},
        {"an answer read before the resend", SILENT, 1, "傳送第0筆資料無回應", 1, 5, 0},
        {"an answer read before the next record", FIRST_RECORD_OK, 2, "傳送第1/2筆", 2, 5, 1},
        // The control: an answer that comes after its send counts.
        {"an answer after its send", SECOND_RECORD_OK, 2, nullptr, 2, 1, 1},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        // Without the clear-to-send notification, which the monitor waits for us to handle, the
        // late answer is read and posted while this thread looks away.
        ReopenWithNewDevice(EV_RXCHAR);
        SetDevice(c.eDevice);
        WriteTransferFile(MakeRecords(c.nRecords));
        bool bLate = false;
        m_host.m_onCaption = [&](const std::string& strCaption) {
            if (bLate || c.pszLateAnswerAt == nullptr || strCaption != c.pszLateAnswerAt)
                return;
            bLate = true;
            const uint64_t nBefore = m_host.m_nBytesPosted.load();
            m_pDevice->Feed(g_abOkReply);
            EXPECT_TRUE(m_host.WaitUntilPosted(nBefore, g_abOkReply.size()));
        };

        const CTransferOutcome outcome = Run();

        EXPECT_EQ(bLate, c.pszLateAnswerAt != nullptr);
        EXPECT_EQ(SendsOf(c.nRecordAsked), c.nSends);
        EXPECT_EQ(outcome.nAnswered, c.nAnswered);
        EXPECT_EQ(outcome.nUnanswered, static_cast<uint32_t>(c.nRecords) - c.nAnswered);
    }
}

TEST_F(TransferTest, LimitsForADeviceThatAnswersBadly)
{
    struct {
        const char* pszName;
        uint32_t nGiveUpAfter;
        uint32_t nMaxWrongReplies;
        EDevice eDevice;
        int nRecords;
        size_t nWrites; // the end-of-transfer byte included
        uint32_t nUnanswered;
        const char* pszFinal;
    } const aCases[] = {
        {"--give-up-after 2, a dead device", 2, 0, SILENT, 4, 11, 2,
         "點矩陣繪圖軟體 傳輸埠:COM7 已傳送共 2 行資料... 其中 2 筆無回應 連續 2 筆無回應,已停止傳送"},
        {"an answer breaks the row", 2, 0, SECOND_RECORD_OK, 4, 17, 3,
         "點矩陣繪圖軟體 傳輸埠:COM7 已傳送共 4 行資料... 其中 3 筆無回應"},
        {"--max-wrong-replies 3, an always-wrong device", 0, 3, WRONG, 2, 7, 2,
         "點矩陣繪圖軟體 傳輸埠:COM7 已傳送共 2 行資料... 其中 2 筆無回應"},
        // Records given up for wrong replies got replies: the device is not dead.
        {"wrong replies are no silence", 1, 2, WRONG, 3, 7, 3,
         "點矩陣繪圖軟體 傳輸埠:COM7 已傳送共 3 行資料... 其中 3 筆無回應"},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        ReopenWithNewDevice();
        SetDevice(c.eDevice);
        m_transfer.SetLimits(c.nGiveUpAfter, c.nMaxWrongReplies);
        WriteTransferFile(MakeRecords(c.nRecords));

        const CTransferOutcome outcome = Run();

        EXPECT_EQ(m_pDevice->GetWrites().size(), c.nWrites);
        EXPECT_EQ(m_pDevice->GetWrites().back(), CBytes{0xC3});
        EXPECT_EQ(outcome.nUnanswered, c.nUnanswered);
        EXPECT_EQ(m_host.m_astrCaptions.back(), c.pszFinal);
        EXPECT_EQ(SendExitStatus(outcome, false), 3);
    }
}

// A cancel is the ending only while a record still waits for its answer: pressed during the
// last record's wait (after an earlier one was given up) it is, pressed once every record was
// answered it cuts nothing short.
TEST_F(TransferTest, ACancelEndsTheUpdateOnlyBeforeEveryRecordWasAnswered)
{
    struct {
        const char* pszName;
        EDevice eDevice;
        int nRecords;
        const char* pszCancelAt; // the caption whose showing presses cancel
        bool bCancelled;
        int nExitStatus;
        const char* pszFinal;
    } const aCases[] = {
        {"during the last record, after one was given up", SILENT, 2, "傳送第1/2筆", true, 4,
         "點矩陣繪圖軟體 傳輸埠:COM7 已傳送共 2 行資料... 其中 1 筆無回應 已取消更新"},
        {"once every record was answered", FIRST_RECORD_OK, 1, "傳送第0筆資料回應OK", false, 0,
         "點矩陣繪圖軟體 傳輸埠:COM7 已傳送共 1 行資料..."},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        ReopenWithNewDevice();
        SetDevice(c.eDevice);
        WriteTransferFile(MakeRecords(c.nRecords));
        const std::string strCancelAt = c.pszCancelAt;
        m_host.m_onCaption = [this, strCancelAt](const std::string& strCaption) {
            if (strCaption == strCancelAt)
                m_transfer.RequestCancel();
        };

        const CTransferOutcome outcome = Run();
        m_transfer.ClearCancel();

        EXPECT_EQ(outcome.bCancelled, c.bCancelled);
        EXPECT_EQ(SendExitStatus(outcome, false), c.nExitStatus);
        EXPECT_EQ(m_host.m_astrCaptions.back(), c.pszFinal);
        EXPECT_EQ(m_pDevice->GetWrites().back(), CBytes{0xC3});
    }
}

TEST_F(TransferTest, ProgressRangeCarriesTheWholeLength)
{
    m_pDevice->SetResponder([](const CBytes&) { return g_abOkReply; });
    // Past 65,535 bytes; the range is all this test is about, so it cancels at once.
    WriteTransferFile(MakeRecords(70008 / 12));
    m_host.m_onCaption = [this](const std::string&) { m_transfer.RequestCancel(); };

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
        m_transfer.AssembleReplyByte(b);
    ASSERT_EQ(m_transfer.GetReplyStatus(), REPLY_OK);

    const uint8_t abRecord[12] = {0xC1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xC3};
    EXPECT_EQ(m_transfer.SendAndWait(abRecord, 12, 500), REPLY_NONE);
    EXPECT_GE(FakeElapsed(), 500u);
}

// Each ending's facts decide its box (both dialogs and matrixctl's last line) and matrixctl's
// exit status, in one place each.
TEST(TransferEnding, EveryEndingHasOneBoxAndOneExitStatus)
{
    enum EBox { NO_BOX, CLOSING, WARNING };
    auto make = [](uint32_t nRecords, uint32_t nAnswered, uint32_t nUnanswered) {
        CTransferOutcome outcome;
        outcome.bStarted = true;
        outcome.nPort = 7;
        outcome.nRecords = nRecords;
        outcome.nHandled = nAnswered + nUnanswered;
        outcome.nAnswered = nAnswered;
        outcome.nUnanswered = nUnanswered;
        return outcome;
    };
    struct {
        const char* pszName;
        CTransferOutcome outcome;
        bool bOutputLost;
        int nStatus;
        EBox eBox;
        const char* pszBoxPart;
    } const aCases[] = {
        {"complete", make(3, 3, 0), false, 0, CLOSING, ""},
        {"complete, output closed", make(3, 3, 0), true, 5, CLOSING, ""},
        {"complete, trailing bytes", [&] { auto o = make(3, 3, 0); o.nTrailingBytes = 5; return o; }(), false, 0, CLOSING, ""},
        {"a record without reply", make(3, 2, 1), false, 3, WARNING, "COM7 的裝置只確認收到 2/3 筆資料,其中 1 筆無回應"},
        {"given up for wrong replies", [&] { auto o = make(3, 2, 1); o.nWrongGivenUp = 1; return o; }(), false, 3,
         WARNING, "1 筆一再回應異常"},
        {"stopped by --give-up-after", [&] { auto o = make(300, 0, 2); o.bGaveUp = true; return o; }(), false, 3,
         WARNING, "0/300 筆資料,其中 2 筆無回應,因連續多筆無回應而停止傳送"},
        {"cancelled", [&] { auto o = make(300, 5, 0); o.nHandled = 6; o.bCancelled = true; return o; }(), false, 4,
         WARNING, "已取消更新,傳輸埠 COM7 的裝置只確認收到 5/300 筆資料"},
        {"cancelled after a record was given up", [&] { auto o = make(3, 0, 1); o.bCancelled = true; return o; }(),
         true, 4, WARNING, "已取消更新,傳輸埠 COM7 的裝置只確認收到 0/3 筆資料,其中 1 筆無回應"},
        {"link lost", [&] { auto o = make(5, 1, 0); o.bLinkLost = true; return o; }(), false, 2, WARNING,
         "傳輸埠 COM7 連線中斷,裝置只確認收到 1/5 筆資料"},
        {"file refused", [] { CTransferOutcome o; o.fileProblem.eKind = EPatternFileProblem::NotPatternFile; return o; }(),
         false, 2, NO_BOX, ""},
        {"empty file", [] { CTransferOutcome o; o.fileProblem.eKind = EPatternFileProblem::Empty; return o; }(), false,
         2, NO_BOX, ""},
        {"port not opened", CTransferOutcome(), false, 2, NO_BOX, ""},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(SendExitStatus(c.outcome, c.bOutputLost), c.nStatus);
        bool bWarning = true;
        const std::string strBox = UpdateEndingText(c.outcome, &bWarning);
        EXPECT_EQ(bWarning, c.eBox == WARNING);
        EXPECT_EQ(strBox.empty(), c.eBox == NO_BOX);
        EXPECT_EQ(strBox == TEXT_CLOSING_INSTRUCTION, c.eBox == CLOSING);
        EXPECT_EQ(c.outcome.GetEnding(), c.eBox == CLOSING   ? ETransferEnding::Complete
                                         : c.eBox == WARNING ? ETransferEnding::Incomplete
                                                             : ETransferEnding::NothingSent);
        if (c.eBox == WARNING) {
            EXPECT_NE(strBox.find(c.pszBoxPart), std::string::npos) << strBox;
            // Never a word of how to finish, nor that the update will be complete.
            EXPECT_EQ(strBox.find("完成更新"), std::string::npos) << strBox;
            EXPECT_NE(strBox.find("再按「開始更新」傳送整個檔案"), std::string::npos) << strBox;
        }
    }
}

TEST(TransferEnding, SeveralPortsEndWithTheMostSeriousStatus)
{
    const struct {
        std::vector<int> anStatuses;
        int nExpected;
    } aCases[] = {
        {{0, 0, 0}, 0},
        {{0, 4, 3}, 3},
        {{4, 3, 2, 0}, 2},
        {{4, 0}, 4},
        {{5, 0}, 5},
        {{5, 4}, 4},
    };
    for (const auto& c : aCases)
        EXPECT_EQ(CombineSendExitStatuses(c.anStatuses), c.nExpected) << ::testing::PrintToString(c.anStatuses);
}

// Three transfers at once, each on its own thread, link and device, as `matrixctl send` to
// three ports runs them: a fine device, a silent one and one pulled after its first record.
// Each ends as its own device makes it end; the fine one gets exactly its bytes. Real time with
// a short reply limit: the fake clock is one for the whole program.
TEST(TransferGang, ThreeDevicesAtOnceEachEndAsItsOwnDeviceMakesIt)
{
    enum EDevice { FINE, SILENT, PULLED };
    const struct {
        EDevice eDevice;
        size_t nWrites; // the end-of-transfer byte included
        uint32_t nHandled;
        uint32_t nAnswered;
        uint32_t nUnanswered;
        uint32_t nResends;
        bool bLinkLost;
        int nExitStatus;
        const char* pszOutcome;
    } aCases[] = {
        {FINE, 4, 3, 3, 0, 0, false, 0, "complete"},
        {SILENT, 16, 3, 0, 3, 12, false, 3, "no reply"},
        {PULLED, 2, 1, 1, 0, 0, true, 2, "link lost"},
    };
    CBytes data;
    for (uint8_t i = 1; i <= 3; ++i) {
        data.push_back(0xC1);
        data.insert(data.end(), 10, i);
        data.push_back(0xC3);
    }
    COutputChoice quiet;
    quiet.eMode = EOutputMode::Quiet;
    CGangBoard board(quiet, true, {3, 4, 5});
    std::vector<std::unique_ptr<CGangPort>> apPorts;
    std::vector<CFakeSerialDevice*> apDevices;
    for (size_t i = 0; i < std::size(aCases); ++i) {
        apPorts.push_back(std::make_unique<CGangPort>(static_cast<int>(3 + i), i, board));
        apPorts.back()->GetTransfer().SetReplyTimeLimit(150);
        auto pDevice = std::make_unique<CFakeSerialDevice>();
        CFakeSerialDevice* pRaw = pDevice.get();
        auto pnWrites = std::make_shared<int>(0);
        pDevice->SetResponder([eDevice = aCases[i].eDevice, pRaw, pnWrites](const CBytes& written) -> CBytes {
            if (eDevice == SILENT)
                return CBytes{};
            if (eDevice == PULLED && ++*pnWrites == 2) {
                pRaw->Disconnect();
                return CBytes{};
            }
            (void)written;
            return g_abOkReply;
        });
        apDevices.push_back(pRaw);
        ASSERT_TRUE(apPorts.back()->OpenDevice(std::move(pDevice)));
    }
    CMessageQueue done;
    for (auto& pPort : apPorts)
        ASSERT_TRUE(pPort->Start(data, [&done] { done.Post(CLinkMessage{WM_USER, 0, 0, nullptr}); }));
    for (auto& pPort : apPorts)
        pPort->Finish();
    EXPECT_EQ(done.Size(), std::size(aCases));

    std::vector<int> anStatuses;
    for (size_t i = 0; i < std::size(aCases); ++i) {
        const auto& c = aCases[i];
        SCOPED_TRACE(c.pszOutcome);
        const CGangPortResult result = apPorts[i]->GetResult();
        EXPECT_EQ(result.nPort, static_cast<int>(3 + i));
        EXPECT_EQ(result.strDevice, "fake-serial-device");
        EXPECT_EQ(DescribeGangOutcome(result.outcome), c.pszOutcome);
        EXPECT_EQ(result.outcome.nHandled, c.nHandled);
        EXPECT_EQ(result.outcome.nAnswered, c.nAnswered);
        EXPECT_EQ(result.outcome.nUnanswered, c.nUnanswered);
        EXPECT_EQ(result.outcome.nResends, c.nResends);
        EXPECT_EQ(result.outcome.bLinkLost, c.bLinkLost);
        EXPECT_EQ(result.nExitStatus, c.nExitStatus);
        const std::vector<CBytes> aWrites = apDevices[i]->GetWrites();
        EXPECT_EQ(aWrites.size(), c.nWrites);
        if (c.eDevice == FINE) {
            // Exactly the file's records, each once, then the end-of-transfer byte.
            std::vector<CBytes> aExpected;
            for (size_t nOffset = 0; nOffset < data.size(); nOffset += 12)
                aExpected.emplace_back(data.begin() + static_cast<long>(nOffset), data.begin() + static_cast<long>(nOffset + 12));
            aExpected.push_back(CBytes{0xC3});
            EXPECT_EQ(aWrites, aExpected);
        } else if (c.eDevice == SILENT) {
            EXPECT_EQ(aWrites.back(), CBytes{0xC3});
        }
        anStatuses.push_back(result.nExitStatus);
    }
    EXPECT_EQ(CombineSendExitStatuses(anStatuses), 2);
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
        CRecordTransfer transfer;
        for (uint8_t b : c.bytes)
            transfer.AssembleReplyByte(b);
        EXPECT_EQ(transfer.GetReplyStatus(), c.nExpected) << c.pszName;
    }
}

// Sends and bytes as the host sees them: each byte stamped with the blocks the link had
// written when it read it.
TEST(TransferReplyJudgement, OnlyAReplyBegunAfterItsSendAnswersIt)
{
    constexpr int SEND = -1; // the next block, number 2, is queued here
    struct {
        const char* pszName;
        std::vector<int> events; // bytes read after block 1, SEND, bytes read after block 2
        std::vector<int> late;   // bytes read before block 2 but handled after its send
        uint8_t nExpected;
    } const aCases[] = {
        {"whole reply after the send", {SEND, 0xFB, 'o', 'k', 0xFE}, {}, REPLY_OK},
        {"head before, tail after the send", {0xFB, 'o', SEND, 'k', 0xFE}, {}, REPLY_NONE},
        {"start marker read before the send", {SEND, 'o', 'k', 0xFE}, {0xFB}, REPLY_NONE},
        {"whole reply read before the send", {SEND}, {0xFB, 'o', 'k', 0xFE}, REPLY_NONE},
        {"a torn tail, then a whole reply", {SEND, 'x', 0xFE, 0xFB, 'o', 'k', 0xFE}, {}, REPLY_OK},
        {"a torn tail holding ok", {SEND, 'o', 'k', 0xFE}, {}, REPLY_NONE},
    };
    for (const auto& c : aCases) {
        CRecordTransfer transfer;
        transfer.ExpectReplyTo(1);
        uint64_t nWritten = 1;
        auto receive = [&transfer](int nByte, uint64_t nStamp) {
            CLinkMessage msg{WM_LINK_RXBYTE, static_cast<uintptr_t>(nByte), 7, nullptr};
            msg.nWrittenBlocks = nStamp;
            transfer.DispatchLinkMessage(msg);
        };
        for (int nEvent : c.events) {
            if (nEvent != SEND) {
                receive(nEvent, nWritten);
                continue;
            }
            transfer.ExpectReplyTo(2);
            for (int nByte : c.late)
                receive(nByte, 1);
            nWritten = 2;
        }
        EXPECT_EQ(transfer.GetReplyStatus(), c.nExpected) << c.pszName;
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
        CRecordTransfer transfer;
        transfer.AssembleReplyByte(0xFB);
        for (size_t i = 0; i < 600; ++i)
            transfer.AssembleReplyByte(i == c.nOkAt ? 'o' : i == c.nOkAt + 1 ? 'k' : 'x');
        transfer.AssembleReplyByte(0xFE);
        EXPECT_EQ(transfer.GetReplyStatus(), c.nExpected) << c.pszName;
    }
}

} // namespace
