#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/file_util.h"
#include "platform/resources.h"

namespace {

// The simulated device for the demo: matrixctl simulate in a child process, registered as
// COM9 in a ports directory of the demo's own, so no real port and no user link is touched.
class CDemoDevice {
public:
    ~CDemoDevice()
    {
        if (m_nPid > 0) {
            kill(m_nPid, SIGTERM);
            waitpid(m_nPid, nullptr, 0);
        }
        if (m_pOut != nullptr)
            std::fclose(m_pOut);
    }

    bool Start(const std::string& strPortsDir, int nPort, std::string* pstrError)
    {
        int aPipe[2];
        if (pipe2(aPipe, O_CLOEXEC) != 0) {
            *pstrError = std::string("cannot create a pipe: ") + std::strerror(errno);
            return false;
        }
        const std::string strPort = std::to_string(nPort);
        m_nPid = fork();
        if (m_nPid == 0) {
            dup2(aPipe[1], STDOUT_FILENO);
            setenv("MATRIX_PORTS_DIR", strPortsDir.c_str(), 1);
            execl("/proc/self/exe", "matrixctl", "simulate", "--port", strPort.c_str(), "--pace", "9600", "--once",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(aPipe[1]);
        if (m_nPid < 0) {
            close(aPipe[0]);
            *pstrError = std::string("cannot start the simulated device: ") + std::strerror(errno);
            return false;
        }
        m_pOut = fdopen(aPipe[0], "r");
        char szLine[512];
        if (m_pOut == nullptr || std::fgets(szLine, sizeof(szLine), m_pOut) == nullptr) {
            *pstrError = "the simulated device did not start";
            return false;
        }
        std::printf("Simulated device: %s", szLine);
        std::fflush(stdout);
        return true;
    }

    // Waits for the device to finish (it ends after the end-of-transfer byte); true on success.
    bool Wait()
    {
        int nStatus = 0;
        const bool bOk = waitpid(m_nPid, &nStatus, 0) == m_nPid && WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0;
        m_nPid = -1;
        return bOk;
    }

private:
    pid_t m_nPid = -1;
    FILE* m_pOut = nullptr;
};

} // namespace

int RunDemoCommand(int argc, char** argv)
{
    if (argc > 0 && (std::strcmp(argv[0], "--help") == 0 || std::strcmp(argv[0], "-h") == 0)) {
        std::printf("usage: matrixctl demo\n\nRuns a whole device update of the built-in sample pattern file against a\n"
                    "simulated device at 9600 baud, exactly as 'matrixctl send' talks to a real one.\n");
        return EXIT_OK;
    }
    const uint8_t* pSample = nullptr;
    size_t nSample = 0;
    if (!FindProgramResource("PATTERN", "SAMPLE", &pSample, &nSample)) {
        std::fprintf(stderr, "matrixctl demo: this build carries no sample pattern file.\n");
        return EXIT_CANNOT_START;
    }

    char szWork[] = "/tmp/matrix-demo-XXXXXX";
    if (mkdtemp(szWork) == nullptr) {
        std::fprintf(stderr, "matrixctl demo: cannot create a work directory in /tmp: %s.\n", std::strerror(errno));
        return EXIT_CANNOT_START;
    }
    const std::filesystem::path work(szWork);
    const std::string strPortsDir = (work / "ports").string();
    const std::string strSample = (work / "sample.bin").string();
    std::string strError;
    int nResult = EXIT_CANNOT_START;
    std::filesystem::create_directories(strPortsDir);
    if (!WriteFileAtomically(strSample, pSample, nSample, &strError)) {
        std::fprintf(stderr, "matrixctl demo: %s\n", strError.c_str());
    } else {
        constexpr int DEMO_PORT = 9;
        CDemoDevice device;
        if (!device.Start(strPortsDir, DEMO_PORT, &strError)) {
            std::fprintf(stderr, "matrixctl demo: %s.\n", strError.c_str());
        } else {
            std::printf("Sending the sample pattern file (%zu records) to COM%d at 9600 baud.\n", nSample / 12, DEMO_PORT);
            std::fflush(stdout);
            setenv("MATRIX_PORTS_DIR", strPortsDir.c_str(), 1);
            std::string strPort = std::to_string(DEMO_PORT);
            std::vector<char*> args = {const_cast<char*>("--port"), strPort.data(), const_cast<char*>(strSample.c_str())};
            nResult = RunSendCommand(static_cast<int>(args.size()), args.data());
            if (nResult == EXIT_OK && !device.Wait()) {
                std::fprintf(stderr, "matrixctl demo: the simulated device did not end cleanly.\n");
                nResult = EXIT_CANNOT_START;
            }
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(work, ignored);
    return nResult;
}
