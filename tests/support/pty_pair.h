#pragma once
// A pseudo-terminal pair for tests: the program opens the slave side as its serial device;
// the test plays the device on the master side, with the reads and writes a test needs.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/pseudo_terminal.h"

class CPtyPair {
public:
    CPtyPair() { m_terminal.Open(false); }
    CPtyPair(const CPtyPair&) = delete;
    CPtyPair& operator=(const CPtyPair&) = delete;

    bool IsOpen() const { return m_terminal.IsOpen(); }
    const std::string& GetSlavePath() const { return m_terminal.GetSlavePath(); }
    int GetMasterFd() const { return m_terminal.GetMasterFd(); }
    // The helper's own slave descriptor (it shares the terminal's queues with the program's).
    int GetSlaveFd() const { return m_terminal.GetSlaveFd(); }

    // The device speaks: the bytes become input of the slave side.
    bool WriteFromDevice(const std::vector<uint8_t>& abBytes);
    // Reads what the program wrote, until nCount bytes came or nTimeoutMs of real time passed
    // (a safety net; tests do not rely on it for timing).
    std::vector<uint8_t> ReadFromHost(size_t nCount, int nTimeoutMs);
    // Bytes queued as input of the slave side, not yet read by anybody.
    int QueuedSlaveInput() const;
    // Pulls the device: the slave side is hung up.
    void CloseMaster() { m_terminal.CloseMaster(); }

private:
    CPseudoTerminal m_terminal;
};
