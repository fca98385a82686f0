// Times `matrixctl pattern render` and `matrixctl pattern check` on a pattern file of 100,000
// records, as a person runs them: the whole program, from launch to exit, reading the file and
// (render) writing the SVG. Each runs several times in turns; the best and the median count.
// Beside them, the core's share of render: laying out the picture of the same records.
// A missed target is printed, not a failure; a command that fails is one (status 2).
//
// usage: bench_pattern [RUNS] [MATRIXCTL]   (defaults: 5 runs, matrixctl beside this bench)

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_util.h"
#include "transfer/pattern.h"
#include "transfer/pattern_picture.h"
#include "transfer/pattern_summary.h"

extern char** environ;

namespace {

constexpr int RECORDS = 100000;
constexpr double RENDER_TARGET_S = 1.0;
// No target is set for check; it reads the same file render does and draws nothing, so it
// should answer at least as fast: render's target holds for it too.
constexpr double CHECK_TARGET_S = 1.0;

// A spiral of 100,000 dots across most of what a record holds, with twelve values of i1 (a
// legend of their own colours would have eight; twelve take the ramp, the costlier colouring).
std::vector<uint8_t> MakePattern()
{
    std::vector<uint8_t> data(static_cast<size_t>(RECORDS) * PATTERN_RECORD_SIZE);
    for (int i = 0; i < RECORDS; ++i) {
        const double dTurn = static_cast<double>(i) / RECORDS;
        const double dRadius = 2 + 28 * dTurn;
        const double dAngle = dTurn * 2 * 3.14159265358979 * 40;
        BuildPatternRecord(CPatternValues{dRadius * std::cos(dAngle), dRadius * std::sin(dAngle), i % 12, i % 256, i},
                           &data[static_cast<size_t>(i) * PATTERN_RECORD_SIZE]);
    }
    return data;
}

// Runs the program with its output to /dev/null; seconds from launch to exit, or -1 when it
// could not be started or did not exit with status 0.
double RunTimed(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& strArg : args)
        argv.push_back(const_cast<char*>(strArg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t nPid = 0;
    const int nSpawn = posix_spawn(&nPid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (nSpawn != 0)
        return -1;
    int nStatus = 0;
    if (waitpid(nPid, &nStatus, 0) != nPid || !WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0)
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct CTimes {
    std::vector<double> adSeconds;
    double Best() const { return *std::min_element(adSeconds.begin(), adSeconds.end()); }
    double Median() const
    {
        std::vector<double> sorted = adSeconds;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
};

void PrintRow(const char* pszWhat, const CTimes& times, double dTarget)
{
    const bool bMet = times.Median() < dTarget;
    std::printf("%-34s %9.1f %9.1f   under %.0f ms: %s\n", pszWhat, times.Best() * 1000, times.Median() * 1000,
                dTarget * 1000, bMet ? "met" : "MISSED");
}

} // namespace

int main(int argc, char** argv)
{
    const int nRuns = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 100) : 5;
    const std::string strCtl =
        argc > 2 ? argv[2] : (std::filesystem::canonical("/proc/self/exe").parent_path() / "matrixctl").string();

    char szWork[] = "/tmp/matrix-bench-XXXXXX";
    if (mkdtemp(szWork) == nullptr) {
        std::perror("bench_pattern: mkdtemp");
        return 2;
    }
    const std::filesystem::path work(szWork);
    const std::string strBin = (work / "spiral.bin").string();
    const std::string strSvg = (work / "spiral.svg").string();
    const std::vector<uint8_t> data = MakePattern();
    std::string strError;
    if (!WriteFileAtomically(strBin, data.data(), data.size(), &strError)) {
        std::fprintf(stderr, "bench_pattern: %s\n", strError.c_str());
        return 2;
    }

    CTimes render, check, layout;
    bool bFailed = false;
    for (int nRun = 0; nRun < nRuns && !bFailed; ++nRun) {
        const double dRender = RunTimed({strCtl, "pattern", "render", strBin, "-o", strSvg});
        const double dCheck = RunTimed({strCtl, "pattern", "check", strBin});
        bFailed = dRender < 0 || dCheck < 0;
        render.adSeconds.push_back(dRender);
        check.adSeconds.push_back(dCheck);

        const auto start = std::chrono::steady_clock::now();
        const CPatternPicture picture = BuildPatternPicture(DecodePatternRecords(data.data(), data.size()), {});
        layout.adSeconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        bFailed = bFailed || picture.aPoints.size() != RECORDS;
    }
    std::error_code ec;
    const uintmax_t nSvgBytes = std::filesystem::file_size(strSvg, ec);
    std::filesystem::remove_all(work, ec);
    if (bFailed) {
        std::fprintf(stderr, "bench_pattern: %s pattern render or check failed on %d records\n", strCtl.c_str(),
                     RECORDS);
        return 2;
    }

    std::printf("%d records (%d bytes), %d runs; the SVG is %ju bytes\n", RECORDS, RECORDS * 12, nRuns, nSvgBytes);
    std::printf("%-34s %9s %9s   %s\n", "", "best ms", "median ms", "target");
    PrintRow("matrixctl pattern render", render, RENDER_TARGET_S);
    PrintRow("matrixctl pattern check", check, CHECK_TARGET_S);
    std::printf("%-34s %9.1f %9.1f   (part of render)\n", "the core's layout of the picture", layout.Best() * 1000,
                layout.Median() * 1000);
    return 0;
}
