// A whole update of 500 records through matrixctl send against matrixctl simulate, paced at
// 9600 baud and unpaced, in one run. Measures wall time per record and the sending process's
// CPU time, and checks them against our targets:
//   paced:   at most 1.05 x (16 bytes of wire time at 960 bytes/s + the 10 ms pause) per record
//   unpaced: at most 12 ms per record on average
//   CPU:     the sender uses at most 5% of the wall time
// Usage: bench_transfer [MATRIXCTL]   (default: matrixctl beside this program)

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_setup.h"

namespace {

constexpr int RECORDS = 500;
constexpr int PORT = 21;

pid_t Spawn(const std::vector<std::string>& args, int nStdout)
{
    const pid_t nPid = fork();
    if (nPid == 0) {
        if (nStdout >= 0)
            dup2(nStdout, STDOUT_FILENO);
        const int nNull = open("/dev/null", O_WRONLY);
        dup2(nNull, STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return nPid;
}

struct CRun {
    double dWallSeconds = 0;
    double dCpuSeconds = 0;
    int nStatus = -1;
};

CRun RunUpdate(const std::string& strCtl, const std::string& strFile, bool bPaced)
{
    CRun run;
    int aPipe[2];
    if (pipe(aPipe) != 0)
        return run;
    std::vector<std::string> simArgs = {strCtl, "simulate", "--port", std::to_string(PORT), "--once"};
    if (bPaced) {
        simArgs.push_back("--pace");
        simArgs.push_back("9600");
    }
    const pid_t nSim = Spawn(simArgs, aPipe[1]);
    close(aPipe[1]);
    FILE* pSimOut = fdopen(aPipe[0], "r");
    char szLine[256];
    if (pSimOut == nullptr || std::fgets(szLine, sizeof(szLine), pSimOut) == nullptr) {
        std::fprintf(stderr, "bench_transfer: the simulator did not start\n");
        return run;
    }

    const auto tStart = std::chrono::steady_clock::now();
    const int nNull = open("/dev/null", O_WRONLY);
    const pid_t nSend = Spawn({strCtl, "send", "--quiet", "--port", std::to_string(PORT), strFile}, nNull);
    close(nNull);
    int nStatus = 0;
    rusage usage{};
    wait4(nSend, &nStatus, 0, &usage);
    const auto tEnd = std::chrono::steady_clock::now();
    run.dWallSeconds = std::chrono::duration<double>(tEnd - tStart).count();
    run.dCpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.nStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    waitpid(nSim, nullptr, 0);
    std::fclose(pSimOut);
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    const std::filesystem::path self = std::filesystem::canonical("/proc/self/exe");
    const std::string strCtl = argc > 1 ? argv[1] : (self.parent_path() / "matrixctl").string();

    std::filesystem::path work;
    std::string strFile;
    if (!PrepareBenchFolder("bench_transfer", "/tmp/matrix-bench-XXXXXX", RECORDS, &work, &strFile))
        return 2;

    // 12 bytes out and a 4-byte reply at 960 bytes/s, plus the 10 ms pause after each record.
    const double dPacedBudgetMs = 1.05 * ((12.0 + 4.0) / 960.0 * 1000.0 + 10.0);
    const double dUnpacedBudgetMs = 12.0;
    bool bAllMet = true;
    std::printf("%-8s %8s %10s %10s %9s %7s  %s\n", "mode", "records", "wall s", "ms/record", "cpu s", "cpu %", "target");
    for (bool bPaced : {true, false}) {
        const CRun run = RunUpdate(strCtl, strFile, bPaced);
        const double dPerRecord = run.dWallSeconds * 1000.0 / RECORDS;
        const double dCpuShare = run.dWallSeconds > 0 ? 100.0 * run.dCpuSeconds / run.dWallSeconds : 100.0;
        const double dBudget = bPaced ? dPacedBudgetMs : dUnpacedBudgetMs;
        const bool bMet = run.nStatus == 0 && dPerRecord <= dBudget && dCpuShare <= 5.0;
        bAllMet = bAllMet && bMet;
        std::printf("%-8s %8d %10.2f %10.2f %9.3f %6.1f%%  <= %.2f ms/record, <= 5%% cpu: %s%s\n",
                    bPaced ? "9600" : "unpaced", RECORDS, run.dWallSeconds, dPerRecord, run.dCpuSeconds, dCpuShare,
                    dBudget, bMet ? "met" : "MISSED", run.nStatus == 0 ? "" : " (send failed)");
    }
    std::filesystem::remove_all(work);
    return bAllMet ? 0 : 1;
}
