#pragma once
// CPseudoTerminal: a pseudo-terminal that stands in for a serial adapter. A program opens the
// slave side as its serial device; whoever plays the device (the simulator, a test, a bench)
// reads and writes the master side. The object keeps one raw slave descriptor of its own, so
// the slave's settings are raw from the start and the master sees no hang-up each time the
// program closes the port.

#include <string>

class CPseudoTerminal {
public:
    CPseudoTerminal() = default;
    ~CPseudoTerminal();
    CPseudoTerminal(const CPseudoTerminal&) = delete;
    CPseudoTerminal& operator=(const CPseudoTerminal&) = delete;

    // Creates the pair. bNonBlockingMaster: reads and writes on the master never block.
    // Returns false with one sentence in *pstrError (when given) if it cannot be made.
    bool Open(bool bNonBlockingMaster, std::string* pstrError = nullptr);

    bool IsOpen() const { return m_nMasterFd >= 0 && m_nSlaveFd >= 0; }
    int GetMasterFd() const { return m_nMasterFd; }
    // Our own slave descriptor: it shares the terminal's queues and settings with the program's.
    int GetSlaveFd() const { return m_nSlaveFd; }
    const std::string& GetSlavePath() const { return m_strSlavePath; }

    // The device is pulled: the slave side is hung up (its node goes with the master).
    void CloseMaster();
    // The device is pulled and everything of it released.
    void Close();

private:
    int m_nMasterFd = -1;
    int m_nSlaveFd = -1;
    std::string m_strSlavePath;
};
