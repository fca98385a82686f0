#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_output.h"
#include "cli/command_line.h"
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
        const pid_t nParent = getpid();
        m_nPid = fork();
        if (m_nPid == 0) {
            // The device ends with the demo however the demo ends, a SIGKILL included: its
            // SIGTERM then removes its link as when the demo stops it. A demo that died before
            // this line leaves the device an orphan at once, which ends here too.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != nParent)
                _exit(127);
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
        PrintOutput("Simulated device: %s", szLine);
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

int RunDemoCommand(const std::vector<std::string>& args)
{
    CCommandLine line("demo", "",
                      "Runs a whole device update of the built-in sample pattern file against a\n"
                      "simulated device at 9600 baud, exactly as 'matrixctl send' talks to a real one.");
    if (const int nStatus = line.Parse(args); nStatus >= 0)
        return nStatus;
    const uint8_t* pSample = nullptr;
    size_t nSample = 0;
    if (!FindProgramResource("PATTERN", "SAMPLE", &pSample, &nSample)) {
        PrintError("matrixctl demo: this build carries no sample pattern file.\n");
        return EXIT_CANNOT_START;
    }

    char szWork[] = "/tmp/matrix-demo-XXXXXX";
    if (mkdtemp(szWork) == nullptr) {
        PrintError("matrixctl demo: cannot create a work directory in /tmp: %s.\n", std::strerror(errno));
        return EXIT_CANNOT_START;
    }
    const std::filesystem::path work(szWork);
    const std::string strPortsDir = (work / "ports").string();
    const std::string strSample = (work / "sample.bin").string();
    std::string strError;
    int nResult = EXIT_CANNOT_START;
    std::filesystem::create_directories(strPortsDir);
    if (!WriteFileAtomically(strSample, pSample, nSample, &strError)) {
        PrintError("matrixctl demo: %s\n", strError.c_str());
    } else {
        constexpr int DEMO_PORT = 9;
        CDemoDevice device;
        if (!device.Start(strPortsDir, DEMO_PORT, &strError)) {
            PrintError("matrixctl demo: %s.\n", strError.c_str());
        } else {
            PrintOutput("Sending the sample pattern file (%zu records) to COM%d at 9600 baud.\n", nSample / 12, DEMO_PORT);
            setenv("MATRIX_PORTS_DIR", strPortsDir.c_str(), 1);
            nResult = RunSendCommand({"--port", std::to_string(DEMO_PORT), strSample});
            if (nResult == EXIT_OK && !device.Wait()) {
                PrintError("matrixctl demo: the simulated device did not end cleanly.\n");
                nResult = EXIT_CANNOT_START;
            }
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(work, ignored);
    return nResult;
}
