#pragma once
// A pseudo-terminal pair for tests: the program opens the slave side as its serial device;
// the test plays the device on the master side. The helper keeps one raw slave descriptor of
// its own, as the device simulator does, so the slave's settings are raw from the start and
// the master sees no hang-up while the program reopens the port.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CPtyPair {
public:
    CPtyPair();
    ~CPtyPair();
    CPtyPair(const CPtyPair&) = delete;
    CPtyPair& operator=(const CPtyPair&) = delete;

    bool IsOpen() const { return m_nMasterFd >= 0 && m_nSlaveFd >= 0; }
    const std::string& GetSlavePath() const { return m_strSlavePath; }
    int GetMasterFd() const { return m_nMasterFd; }
    // The helper's own slave descriptor (it shares the terminal's queues with the program's).
    int GetSlaveFd() const { return m_nSlaveFd; }

    // The device speaks: the bytes become input of the slave side.
    bool WriteFromDevice(const std::vector<uint8_t>& abBytes);
    // Reads what the program wrote, until nCount bytes came or nTimeoutMs of real time passed
    // (a safety net; tests do not rely on it for timing).
    std::vector<uint8_t> ReadFromHost(size_t nCount, int nTimeoutMs);
    // Bytes queued as input of the slave side, not yet read by anybody.
    int QueuedSlaveInput() const;
    // Pulls the device: the slave side is hung up.
    void CloseMaster();

private:
    int m_nMasterFd = -1;
    int m_nSlaveFd = -1;
    std::string m_strSlavePath;
};
