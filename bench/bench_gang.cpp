// A send to several devices at once: matrixctl send to N simulated devices (matrixctl simulate,
// each paced at 9600 baud), 500 records each, against one device alone in the same run.
// Measures the wall time of the whole send and the sending process's CPU time, and checks:
//   8 devices:  wall time at most 1.05 x one device alone; the sender's CPU at most 5% of one
//               core (CPU seconds / wall seconds) for all 8 together
//   32 devices: it completes (figures printed, no target)
// Usage: bench_gang [MATRIXCTL]   (default: matrixctl beside this program)

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_setup.h"

namespace {

constexpr int RECORDS = 500;
constexpr int FIRST_PORT = 40;

pid_t Spawn(const std::vector<std::string>& args, int nStdout, int nStderr = -1)
{
    const pid_t nPid = fork();
    if (nPid == 0) {
        if (nStdout >= 0)
            dup2(nStdout, STDOUT_FILENO);
        const int nNull = open("/dev/null", O_WRONLY);
        dup2(nStderr >= 0 ? nStderr : nNull, STDERR_FILENO);
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

// Starts nDevices simulators on consecutive ports, sends strFile to all of them in one
// matrixctl send, and waits for the simulators (each ends after the end-of-transfer byte).
CRun RunGang(const std::string& strCtl, const std::string& strFile, int nDevices)
{
    CRun run;
    std::vector<pid_t> anSims;
    std::vector<FILE*> apOut;
    std::string strPorts;
    for (int i = 0; i < nDevices; ++i) {
        int aPipe[2];
        if (pipe(aPipe) != 0)
            return run;
        const int nPort = FIRST_PORT + i;
        anSims.push_back(Spawn({strCtl, "simulate", "--port", std::to_string(nPort), "--once", "--pace", "9600"},
                               aPipe[1]));
        close(aPipe[1]);
        FILE* pOut = fdopen(aPipe[0], "r");
        char szLine[256];
        if (pOut == nullptr || std::fgets(szLine, sizeof(szLine), pOut) == nullptr) {
            std::fprintf(stderr, "bench_gang: the simulator on COM%d did not start\n", nPort);
            return run;
        }
        apOut.push_back(pOut);
        strPorts += (i == 0 ? "" : ",") + std::to_string(nPort);
    }

    const auto tStart = std::chrono::steady_clock::now();
    const int nNull = open("/dev/null", O_WRONLY);
    // What the send says on stderr is kept, to show why it failed.
    const std::string strErrors = strFile + ".err";
    const int nErrors = open(strErrors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const pid_t nSend = Spawn({strCtl, "send", "--quiet", "--port", strPorts, strFile}, nNull, nErrors);
    close(nNull);
    close(nErrors);
    int nStatus = 0;
    rusage usage{};
    wait4(nSend, &nStatus, 0, &usage);
    const auto tEnd = std::chrono::steady_clock::now();
    run.dWallSeconds = std::chrono::duration<double>(tEnd - tStart).count();
    run.dCpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.nStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    for (pid_t nSim : anSims) {
        // A simulator whose send failed would wait for ever for its end-of-transfer byte.
        if (run.nStatus != 0)
            kill(nSim, SIGTERM);
        waitpid(nSim, nullptr, 0);
    }
    for (FILE* pOut : apOut)
        std::fclose(pOut);
    if (run.nStatus != 0) {
        std::string strError;
        std::vector<uint8_t> abText;
        if (ReadWholeFile(strErrors, &abText, &strError, 1 << 20, nullptr))
            std::fprintf(stderr, "bench_gang: send to %d devices exited %d:\n%.*s", nDevices, run.nStatus,
                         static_cast<int>(std::min<size_t>(abText.size(), 2000)), reinterpret_cast<const char*>(abText.data()));
    }
    return run;
}

void PrintRun(const char* pszName, int nDevices, const CRun& run, const std::string& strTarget)
{
    const double dCpuShare = run.dWallSeconds > 0 ? 100.0 * run.dCpuSeconds / run.dWallSeconds : 100.0;
    std::printf("%-10s %7d %8d %9.2f %9.3f %6.2f%%  %s%s\n", pszName, nDevices, RECORDS, run.dWallSeconds,
                run.dCpuSeconds, dCpuShare, strTarget.c_str(), run.nStatus == 0 ? "" : " (send failed)");
}

} // namespace

int main(int argc, char** argv)
{
    const std::filesystem::path self = std::filesystem::canonical("/proc/self/exe");
    const std::string strCtl = argc > 1 ? argv[1] : (self.parent_path() / "matrixctl").string();

    std::filesystem::path work;
    std::string strFile;
    if (!PrepareBenchFolder("bench_gang", "/tmp/matrix-bench-gang-XXXXXX", RECORDS, &work, &strFile))
        return 2;

    std::printf("%-10s %7s %8s %9s %9s %7s  %s\n", "run", "devices", "records", "wall s", "cpu s", "cpu %",
                "target");
    const CRun alone = RunGang(strCtl, strFile, 1);
    PrintRun("alone", 1, alone, "(the measure for 8)");
    const CRun eight = RunGang(strCtl, strFile, 8);
    const double dRatio = alone.dWallSeconds > 0 ? eight.dWallSeconds / alone.dWallSeconds : 0.0;
    const double dCpuShare = eight.dWallSeconds > 0 ? 100.0 * eight.dCpuSeconds / eight.dWallSeconds : 100.0;
    const bool bMet = alone.nStatus == 0 && eight.nStatus == 0 && dRatio <= 1.05 && dCpuShare <= 5.0;
    char szTarget[160];
    std::snprintf(szTarget, sizeof szTarget, "%.3f x alone <= 1.05, cpu <= 5%%: %s", dRatio, bMet ? "met" : "MISSED");
    PrintRun("gang", 8, eight, szTarget);
    const CRun many = RunGang(strCtl, strFile, 32);
    std::snprintf(szTarget, sizeof szTarget, "%.3f x alone, completes: %s",
                  alone.dWallSeconds > 0 ? many.dWallSeconds / alone.dWallSeconds : 0.0,
                  many.nStatus == 0 ? "yes" : "NO");
    PrintRun("gang", 32, many, szTarget);
    std::filesystem::remove_all(work);
    return bMet && many.nStatus == 0 ? 0 : 1;
}
