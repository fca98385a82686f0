// Times the start-up of matrix-update as a person sees it: from launching the program to its
// dialog first painted, with the skin unpacked and applied and the ports listed. The program
// is copied with its skin library into a fresh folder, as installed: its build
// matrix-update-probe, the same code plus a probe that prints a line once the dialog is shown
// and closes it (the shipped matrix-update has no such hook).
// One simulated port (a pseudo-terminal) is registered so that the port list is not empty.
//
// usage: bench_startup [RUNS] [BUILD_BIN_DIR]   (defaults: 15 runs, the directory of this bench)
// The display is the environment's: under X (e.g. xvfb-run -a) the real xcb platform is
// timed; without DISPLAY the offscreen platform is used. The target is a median under 300 ms.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/posix/pseudo_terminal.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr double TARGET_MS = 300.0;

struct CRun {
    double dShownMs = 0;     // launch to the probe line read
    double dInsideMs = 0;    // what the program measured from main() to the first paint
    double dWholeMs = 0;     // launch to exit, shutdown included
};

std::string OwnDirectory()
{
    std::error_code ec;
    fs::path path = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : path.parent_path().string();
}

bool RunOnce(const std::string& strProgram, CRun* pRun)
{
    int aPipe[2];
    if (::pipe2(aPipe, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, aPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char* apszArgv[] = {const_cast<char*>(strProgram.c_str()), nullptr};

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int nSpawn = ::posix_spawn(&pid, strProgram.c_str(), &actions, nullptr, apszArgv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(aPipe[1]);
    if (nSpawn != 0) {
        ::close(aPipe[0]);
        std::fprintf(stderr, "cannot start %s: %s\n", strProgram.c_str(), std::strerror(nSpawn));
        return false;
    }

    std::string strOut;
    char szBuffer[256];
    bool bShown = false;
    for (;;) {
        const ssize_t n = ::read(aPipe[0], szBuffer, sizeof szBuffer);
        if (n <= 0)
            break;
        strOut.append(szBuffer, static_cast<size_t>(n));
        if (!bShown && strOut.find('\n') != std::string::npos) {
            bShown = true;
            pRun->dShownMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        }
    }
    ::close(aPipe[0]);
    int nStatus = 0;
    ::waitpid(pid, &nStatus, 0);
    pRun->dWholeMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

    long long nInside = -1;
    if (!bShown || std::sscanf(strOut.c_str(), "startup-probe dialog-shown %lld ms", &nInside) != 1) {
        std::fprintf(stderr, "%s did not report its dialog shown (output: %s)\n", strProgram.c_str(), strOut.c_str());
        return false;
    }
    pRun->dInsideMs = static_cast<double>(nInside);
    return WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0;
}

double Median(std::vector<double> ad)
{
    std::sort(ad.begin(), ad.end());
    const size_t n = ad.size();
    return n % 2 ? ad[n / 2] : (ad[n / 2 - 1] + ad[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv)
{
    const int nRuns = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const std::string strSource = argc > 2 ? argv[2] : OwnDirectory();

    // A portable folder of its own, so the runs leave nothing in the source directory.
    char szTemplate[] = "/tmp/bench-startup-XXXXXX";
    if (::mkdtemp(szTemplate) == nullptr) {
        std::perror("mkdtemp");
        return 2;
    }
    const fs::path dir = szTemplate;
    std::error_code ec;
    const struct {
        const char* pszFrom;
        const char* pszTo;
    } aFiles[] = {{"matrix-update-probe", "matrix-update"}, {"libmatrixskin.so", "libmatrixskin.so"}};
    for (const auto& file : aFiles) {
        const char* pszFile = file.pszFrom;
        fs::copy_file(fs::path(strSource) / pszFile, dir / file.pszTo, ec);
        if (ec) {
            std::fprintf(stderr, "cannot copy %s from %s: %s\n", pszFile, strSource.c_str(), ec.message().c_str());
            fs::remove_all(dir, ec);
            return 2;
        }
    }

    // One port in the list: a pseudo-terminal registered as COM9.
    CPseudoTerminal pty;
    std::string strError;
    if (!pty.Open(false, &strError)) {
        std::fprintf(stderr, "%s\n", strError.c_str());
        fs::remove_all(dir, ec);
        return 2;
    }
    fs::create_directory(dir / "ports");
    fs::create_symlink(pty.GetSlavePath(), dir / "ports" / "COM9", ec);
    ::setenv("MATRIX_PORTS_DIR", (dir / "ports").c_str(), 1);
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const char* pszPlatform = std::getenv("QT_QPA_PLATFORM");

    const std::string strProgram = (dir / "matrix-update").string();
    CRun warm;
    bool bOk = RunOnce(strProgram, &warm); // fills the page cache; not counted
    std::vector<double> adShown, adInside, adWhole;
    for (int i = 0; bOk && i < nRuns; ++i) {
        CRun run;
        bOk = RunOnce(strProgram, &run);
        adShown.push_back(run.dShownMs);
        adInside.push_back(run.dInsideMs);
        adWhole.push_back(run.dWholeMs);
    }
    const bool bSkinGone = !fs::exists(dir / "matrix-calm.qss");
    pty.Close();
    fs::remove_all(dir, ec);
    if (!bOk)
        return 2;

    std::printf("matrix-update start-up, %d runs, platform %s\n", nRuns,
                pszPlatform != nullptr ? pszPlatform : "xcb (DISPLAY)");
    std::printf("  launch to dialog shown: median %.1f ms, min %.1f ms, max %.1f ms (target < %.0f ms)\n",
                Median(adShown), *std::min_element(adShown.begin(), adShown.end()),
                *std::max_element(adShown.begin(), adShown.end()), TARGET_MS);
    std::printf("  inside the program, main() to first paint: median %.1f ms\n", Median(adInside));
    std::printf("  launch to exit, shutdown included: median %.1f ms\n", Median(adWhole));
    if (!bSkinGone) {
        std::printf("  the skin file was left behind\n");
        return 1;
    }
    const bool bMet = Median(adShown) < TARGET_MS;
    std::printf("%s\n", bMet ? "target met" : "TARGET MISSED");
    return bMet ? 0 : 1;
}
