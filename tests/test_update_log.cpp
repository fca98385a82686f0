// The update log: what a line says of each way an update ends, lines that several writers
// append at once, rotation, and lines a reader must skip.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/matrix_app.h"
#include "app/update_log.h"
#include "platform/sha256.h"
#include "tests/support/env_guard.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<std::string> ReadLines(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    std::vector<std::string> astrLines;
    for (std::string strLine; std::getline(in, strLine);)
        astrLines.push_back(strLine);
    return astrLines;
}

class UpdateLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_dir.Path().empty());
        m_strLog = m_dir.File("updates.log");
        m_env.Set("MATRIX_UPDATE_LOG", m_strLog);
    }

    CTempDir m_dir{"matrix-log"};
    CEnvGuard m_env;
    std::string m_strLog;
};

CTransferOutcome MakeOutcome(uint32_t nRecords, uint32_t nAnswered, uint32_t nUnanswered)
{
    CTransferOutcome outcome;
    outcome.bStarted = true;
    outcome.nPort = 7;
    outcome.nRecords = nRecords;
    outcome.nAnswered = nAnswered;
    outcome.nUnanswered = nUnanswered;
    outcome.nHandled = nAnswered + nUnanswered;
    return outcome;
}

} // namespace

// Each ending as the log names it, with the counts taken from the transfer's facts, the file's
// size and digest, and the reason only for a refused update; every line reads back whole.
TEST_F(UpdateLogTest, EachEndingIsRecordedWithItsFacts)
{
    const std::vector<uint8_t> abAbc = {'a', 'b', 'c'};
    const std::string strAbcDigest = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    struct {
        const char* pszName;
        CTransferOutcome outcome;
        std::string strReason;
        const char* pszOutcome;
        bool bReasonKept;
    } const aCases[] = {
        {"complete", [] { auto o = MakeOutcome(3, 3, 0); o.nResends = 2; o.nTrailingBytes = 5; return o; }(), "",
         "complete", false},
        {"cancelled", [] { auto o = MakeOutcome(300, 5, 1); o.nHandled = 7; o.bCancelled = true; return o; }(), "",
         "cancelled", false},
        {"records without reply", [] { auto o = MakeOutcome(3, 2, 1); o.nResends = 4; return o; }(), "", "unanswered",
         false},
        {"stopped after silent records", [] { auto o = MakeOutcome(300, 0, 2); o.bGaveUp = true; return o; }(), "",
         "unanswered", false},
        {"link lost while cancelling", [] { auto o = MakeOutcome(5, 1, 0); o.bLinkLost = true; o.bCancelled = true;
                                            return o; }(),
         "", "link lost", false},
        {"refused file", [] { CTransferOutcome o; o.strFailure = "x.bin is not a pattern file."; return o; }(), "",
         "refused", true},
        {"refused port", CTransferOutcome(), "COM7 is busy.", "refused", true},
    };
    CMatrixApp app;
    app.m_nComPort = 7;
    const std::string strFile = m_dir.File("pattern \"1\".bin");
    app.SetTransferFile(strFile);
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        CUpdateRecorder recorder("matrixctl");
        std::string strError;
        ASSERT_TRUE(recorder.Finish(app, c.outcome, abAbc, c.strReason, &strError)) << strError;

        std::vector<CUpdateLogEntry> entries;
        size_t nDamaged = 0;
        ASSERT_TRUE(ReadUpdateLog(m_strLog, &entries, &nDamaged, &strError)) << strError;
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ(nDamaged, 0u);
        const CUpdateLogEntry& entry = entries.back();
        EXPECT_EQ(entry.strOutcome, c.pszOutcome);
        EXPECT_EQ(entry.nPort, 7);
        EXPECT_EQ(entry.strFrontEnd, "matrixctl");
        EXPECT_EQ(entry.strFile, strFile);
        EXPECT_EQ(entry.nSize, std::optional<uint64_t>(3));
        EXPECT_EQ(entry.strSha256, strAbcDigest);
        EXPECT_EQ(entry.nRecords, c.outcome.nRecords);
        EXPECT_EQ(entry.nHandled, c.outcome.nHandled);
        EXPECT_EQ(entry.nUnanswered, c.outcome.nUnanswered);
        EXPECT_EQ(entry.nResends, c.outcome.nResends);
        EXPECT_EQ(entry.nTrailingBytes, c.outcome.nTrailingBytes);
        EXPECT_EQ(entry.strReason, c.bReasonKept ? (c.strReason.empty() ? c.outcome.strFailure : c.strReason) : "");
        EXPECT_EQ(entry.strVersion, recorder.GetEntry().strVersion);
        EXPECT_FALSE(entry.strVersion.empty());
        // Local time with its offset: 2026-12-08T19:45:12.345+01:00.
        ASSERT_EQ(entry.strTime.size(), 29u) << entry.strTime;
        EXPECT_EQ(entry.strTime[10], 'T');
        EXPECT_TRUE(entry.strTime[23] == '+' || entry.strTime[23] == '-') << entry.strTime;
    }
    EXPECT_EQ(ReadLines(m_strLog).size(), std::size(aCases));
}

// A refused file was not kept in memory: its size and digest come from the file itself, and a
// file that cannot be read has neither.
TEST_F(UpdateLogTest, ARefusedFileIsDescribedFromTheDisk)
{
    const std::string strText = m_dir.File("notes.txt");
    std::ofstream(strText, std::ios::binary) << "abc";
    CMatrixApp app;
    app.m_nComPort = 3;
    CTransferOutcome refused;
    refused.strFailure = "not a pattern file";
    for (const auto& [strPath, bReadable] : {std::pair{strText, true}, std::pair{m_dir.File("missing.bin"), false}}) {
        app.SetTransferFile(strPath);
        CUpdateRecorder recorder("dialog");
        std::string strError;
        ASSERT_TRUE(recorder.Finish(app, refused, {}, "", &strError)) << strError;
        EXPECT_EQ(recorder.GetEntry().nSize.has_value(), bReadable);
        EXPECT_EQ(recorder.GetEntry().strSha256,
                  bReadable ? "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad" : "");
    }
}

TEST(UpdateLogLines, DamagedLinesAreRefused)
{
    const std::string strGood = R"({"time":"2026-12-08T10:00:00.000+01:00","outcome":"complete","port":"COM3","records":2})";
    struct {
        const char* pszName;
        std::string strLine;
        bool bRead;
    } const aCases[] = {
        {"whole", strGood, true},
        {"torn at the end", strGood.substr(0, strGood.size() - 9), false},
        {"not an object", "[1,2,3]", false},
        {"not JSON", "garbage{", false},
        {"no time", R"({"outcome":"complete"})", false},
        {"no outcome", R"({"time":"2026-12-08T10:00:00.000+01:00"})", false},
        {"a count as text", R"({"time":"t","outcome":"complete","records":"2"})", false},
        {"a negative count", R"({"time":"t","outcome":"complete","records":-2})", false},
        {"a count past 32 bits", R"({"time":"t","outcome":"complete","handled":4294967296})", false},
        {"a port no port can have", R"({"time":"t","outcome":"complete","port":"COM0"})", false},
        {"a field a later version added", R"({"time":"t","outcome":"complete","gang":[1,2]})", true},
        {"nulls for what was not known", R"({"time":"t","outcome":"refused","port":null,"size":null,"sha256":null})",
         true},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        CUpdateLogEntry entry;
        EXPECT_EQ(ParseUpdateLogLine(c.strLine, &entry), c.bRead);
    }
}

// Outside names (a file name with quotes, a line break, bytes that are not UTF-8) never break
// the line, and the JSON shown to a terminal is ASCII with everything else escaped.
TEST(UpdateLogLines, OutsideNamesStayInsideTheirField)
{
    CUpdateLogEntry entry;
    entry.strTime = "2026-12-08T10:00:00.000+01:00";
    entry.strOutcome = "complete";
    entry.strFile = "C:\\圖樣\\a\"b\nc\x1b[31m\xff.bin";
    const std::string strLine = FormatUpdateLogLine(entry);
    ASSERT_FALSE(strLine.empty());
    EXPECT_EQ(std::count(strLine.begin(), strLine.end(), '\n'), 1);
    EXPECT_EQ(strLine.back(), '\n');
    CUpdateLogEntry read;
    ASSERT_TRUE(ParseUpdateLogLine(strLine.substr(0, strLine.size() - 1), &read));
    // The byte that is no UTF-8 is replaced; everything else comes back as written.
    EXPECT_EQ(read.strFile, "C:\\圖樣\\a\"b\nc\x1b[31m\xef\xbf\xbd.bin");
    EXPECT_TRUE(std::all_of(read.strJson.begin(), read.strJson.end(),
                            [](char ch) { return ch >= 0x20 && ch < 0x7f; }))
        << read.strJson;
}

TEST(UpdateLogLines, LocalTimeCarriesItsOffset)
{
    struct {
        int nOffset;
        const char* pszExpected;
    } const aCases[] = {
        {0, "2026-03-04T05:06:07.089+00:00"},
        {60, "2026-03-04T05:06:07.089+01:00"},
        {-330, "2026-03-04T05:06:07.089-05:30"},
        {525, "2026-03-04T05:06:07.089+08:45"},
    };
    for (const auto& c : aCases) {
        CLocalTime time;
        time.nYear = 2026;
        time.nMonth = 3;
        time.nDay = 4;
        time.nHour = 5;
        time.nMinute = 6;
        time.nSecond = 7;
        time.nMillisecond = 89;
        time.nUtcOffsetMinutes = c.nOffset;
        EXPECT_EQ(FormatIsoLocalTime(time), c.pszExpected);
    }
}

TEST(UpdateLogDigest, MatchesTheStandardsVectors)
{
    const std::string strLong(1000000, 'a');
    EXPECT_EQ(Sha256Hex("", 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex(strLong.data(), strLong.size()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    // Pieces of any size give the digest of the whole.
    CSha256 hash;
    for (size_t nStart = 0; nStart < strLong.size(); nStart += 4093)
        ASSERT_TRUE(hash.Update(strLong.data() + nStart, std::min<size_t>(4093, strLong.size() - nStart)));
    std::array<uint8_t, SHA256_DIGEST_BYTES> abDigest{};
    ASSERT_TRUE(hash.Finish(&abDigest));
    EXPECT_EQ(abDigest[0], 0xcd);
    EXPECT_EQ(abDigest[31], 0xd0);
}

// Eight writers (two dialogs and six sends on one bench, say) of 200 lines each, with one
// rotation on the way: every line is in the log or its rotated part, whole and exactly once.
TEST_F(UpdateLogTest, ConcurrentWritersNeitherInterleaveNorLoseLines)
{
    constexpr int WRITERS = 8;
    constexpr int LINES = 200;
    auto makeLine = [](int nWriter, int nLine) {
        CUpdateLogEntry entry;
        entry.strTime = "2026-12-08T10:00:00.000+01:00";
        entry.strOutcome = "complete";
        entry.nPort = nWriter + 1;
        entry.nRecords = static_cast<uint32_t>(nLine);
        entry.strFile = std::string(static_cast<size_t>(100 + nLine % 7 * 50), 'f');
        return FormatUpdateLogLine(entry);
    };
    uint64_t nTotal = 0;
    for (int w = 0; w < WRITERS; ++w)
        for (int i = 0; i < LINES; ++i)
            nTotal += makeLine(w, i).size();
    // Rotated once, about two thirds of the way.
    const uint64_t nRotateAt = nTotal * 2 / 3;

    std::vector<std::thread> aThreads;
    std::vector<int> anFailures(WRITERS, 0);
    for (int w = 0; w < WRITERS; ++w) {
        aThreads.emplace_back([&, w] {
            for (int i = 0; i < LINES; ++i) {
                std::string strError;
                if (!AppendUpdateLogLine(m_strLog, makeLine(w, i), &strError, nRotateAt))
                    ++anFailures[static_cast<size_t>(w)];
            }
        });
    }
    for (std::thread& thread : aThreads)
        thread.join();
    for (int w = 0; w < WRITERS; ++w)
        EXPECT_EQ(anFailures[static_cast<size_t>(w)], 0) << "writer " << w;

    std::vector<std::string> astrLines = ReadLines(m_strLog + ".1");
    const size_t nRotated = astrLines.size();
    EXPECT_GT(nRotated, 0u);
    for (std::string& strLine : ReadLines(m_strLog))
        astrLines.push_back(std::move(strLine));
    ASSERT_EQ(astrLines.size(), static_cast<size_t>(WRITERS * LINES));
    std::set<std::pair<int, uint32_t>> seen;
    for (const std::string& strLine : astrLines) {
        CUpdateLogEntry entry;
        ASSERT_TRUE(ParseUpdateLogLine(strLine, &entry)) << strLine.substr(0, 80);
        EXPECT_TRUE(seen.emplace(entry.nPort, entry.nRecords).second) << "twice: " << strLine.substr(0, 80);
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(WRITERS * LINES));
}

// The log moves to updates.log.1 once it has reached the limit; a second rotation replaces the
// first, so the log never holds more than about twice the limit. Readers take both, oldest first.
TEST_F(UpdateLogTest, RotatesOnceAtTheLimit)
{
    auto line = [](uint32_t nRecords) {
        CUpdateLogEntry entry;
        entry.strTime = "t";
        entry.strOutcome = "complete";
        entry.nRecords = nRecords;
        return FormatUpdateLogLine(entry);
    };
    const uint64_t nLineSize = line(10).size();
    std::string strError;
    // Three lines fill the limit; the fourth starts a new file.
    for (uint32_t n = 10; n < 17; ++n)
        ASSERT_TRUE(AppendUpdateLogLine(m_strLog, line(n), &strError, 3 * nLineSize)) << strError;
    EXPECT_EQ(ReadLines(m_strLog + ".1").size(), 3u);
    EXPECT_EQ(ReadLines(m_strLog).size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(m_strLog + ".2"));

    std::vector<CUpdateLogEntry> entries;
    size_t nDamaged = 0;
    ASSERT_TRUE(ReadUpdateLog(m_strLog, &entries, &nDamaged, &strError)) << strError;
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries.front().nRecords, 13u);
    EXPECT_EQ(entries.back().nRecords, 16u);
}

// A torn last line (a writer killed mid-line, a full disk) costs that line only: the next
// update's line and every earlier one still read.
TEST_F(UpdateLogTest, ATornLineCostsOnlyItself)
{
    CUpdateLogEntry entry;
    entry.strTime = "t";
    entry.strOutcome = "complete";
    const std::string strLine = FormatUpdateLogLine(entry);
    std::string strError;
    ASSERT_TRUE(AppendUpdateLogLine(m_strLog, strLine, &strError));
    ASSERT_TRUE(AppendUpdateLogLine(m_strLog, strLine.substr(0, 20), &strError));
    ASSERT_TRUE(AppendUpdateLogLine(m_strLog, strLine, &strError));

    std::vector<CUpdateLogEntry> entries;
    size_t nDamaged = 0;
    ASSERT_TRUE(ReadUpdateLog(m_strLog, &entries, &nDamaged, &strError)) << strError;
    // The torn piece was ended before the next line was written after it.
    EXPECT_EQ(entries.size(), 2u);
    EXPECT_EQ(nDamaged, 1u);
}

// A log that cannot be written (its folder is gone, or a directory stands in its place) is a
// result with one sentence naming the file, not a failure of the update.
TEST_F(UpdateLogTest, AnUnwritableLogIsASentence)
{
    std::filesystem::create_directory(m_dir.Path() / "updates.log");
    for (const std::string& strPath : {m_dir.File("no-such-folder/updates.log"), m_strLog}) {
        SCOPED_TRACE(strPath);
        m_env.Set("MATRIX_UPDATE_LOG", strPath);
        CMatrixApp app;
        app.m_nComPort = 2;
        CUpdateRecorder recorder("dialog");
        std::string strError;
        EXPECT_FALSE(recorder.Finish(app, MakeOutcome(1, 1, 0), {1, 2, 3}, "", &strError));
        EXPECT_NE(strError.find(strPath), std::string::npos) << strError;
    }
}
