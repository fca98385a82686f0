// The update log's cost per update: what an update pays once it has ended (the file's SHA-256,
// the port's description, the JSON line, the journal, the locked append), for the sample file
// (300 records) and for a file of 100,000 records, best and median of many rounds, appending to
// a log in a temporary folder. A missed target is printed, never a failure.
//
// usage: bench_update_log [ROUNDS]     (default 200)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/matrix_app.h"
#include "app/update_log.h"
#include <unistd.h>

namespace {

constexpr double TARGET_SAMPLE_MS = 5.0;     // the sample file, 3,600 bytes
constexpr double TARGET_LARGE_MS = 20.0;     // 100,000 records, 1.2 MB

std::vector<uint8_t> MakeRecords(size_t nRecords)
{
    std::vector<uint8_t> abData(nRecords * 12, 0x5A);
    for (size_t i = 0; i < nRecords; ++i) {
        abData[i * 12] = 0xC1;
        abData[i * 12 + 11] = 0xC3;
        abData[i * 12 + 1] = static_cast<uint8_t>(i);
    }
    return abData;
}

double TimeOneUpdate(CMatrixApp& app, const std::vector<uint8_t>& abData)
{
    CTransferOutcome outcome;
    outcome.bStarted = true;
    outcome.nPort = app.m_nComPort;
    outcome.nRecords = outcome.nHandled = outcome.nAnswered = static_cast<uint32_t>(abData.size() / 12);
    const auto start = std::chrono::steady_clock::now();
    CUpdateRecorder recorder("matrixctl");
    std::string strError;
    if (!recorder.Finish(app, outcome, abData, "", &strError)) {
        std::fprintf(stderr, "bench_update_log: %s\n", strError.c_str());
        std::exit(2);
    }
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void Report(const char* pszWhat, std::vector<double> adMs, double dTarget)
{
    std::sort(adMs.begin(), adMs.end());
    const double dMedian = adMs[adMs.size() / 2];
    std::printf("%-34s best %7.3f ms  median %7.3f ms  max %7.3f ms   target: median under %.1f ms  %s\n", pszWhat,
                adMs.front(), dMedian, adMs.back(), dTarget, dMedian < dTarget ? "met" : "MISSED");
}

} // namespace

int main(int argc, char** argv)
{
    const int nRounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("bench-update-log-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string strLog = (dir / "updates.log").string();
    ::setenv("MATRIX_UPDATE_LOG", strLog.c_str(), 1);

    CMatrixApp app;
    app.m_nComPort = 9;
    app.SetTransferFile("/benches/pattern.bin");
    const std::vector<uint8_t> abSample = MakeRecords(300);
    const std::vector<uint8_t> abLarge = MakeRecords(100000);
    std::vector<double> adSample;
    std::vector<double> adLarge;
    for (int i = 0; i < nRounds; ++i) {
        adSample.push_back(TimeOneUpdate(app, abSample));
        adLarge.push_back(TimeOneUpdate(app, abLarge));
    }
    std::printf("the update log's cost per update, %d rounds each, log %s (%ju bytes at the end)\n", nRounds,
                strLog.c_str(), static_cast<uintmax_t>(std::filesystem::file_size(strLog)));
    Report("300 records (3,600 bytes)", adSample, TARGET_SAMPLE_MS);
    Report("100,000 records (1.2 MB)", adLarge, TARGET_LARGE_MS);
    std::filesystem::remove_all(dir);
    return 0;
}
