#pragma once
// CFakeSerialDevice: a scripted serial device that lives in the test process. Every block
// written is recorded and handed to the responder; its answer becomes readable at once,
// inside the write call. It can be waited on like the real device: an event of its own is
// signalled while bytes are unread, and after Disconnect.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial_device.h"

class CFakeSerialDevice : public ISerialDevice {
public:
    using CResponder = std::function<std::vector<uint8_t>(const std::vector<uint8_t>& written)>;

    CFakeSerialDevice();
    ~CFakeSerialDevice() override;

    void SetResponder(CResponder responder);
    std::vector<std::vector<uint8_t>> GetWrites() const;
    // Bytes readable and not yet read.
    size_t Unread() const;
    // Bytes handed out by one-byte reads, in all.
    uint64_t BytesRead() const;
    // The device speaks without being asked.
    void Feed(const std::vector<uint8_t>& abBytes);
    // From now on the device reports a hang-up: reads and writes fail as lost.
    void Disconnect();
    // How the device's input behaves beyond what was fed.
    enum class EInput {
        Fed,          // what Feed and the responder gave, then nothing
        Endless,      // a device that never stops sending (0x55 for ever, purges or not)
        ReadableEmpty, // polls readable, but there is never a byte to read
        QueryFails,   // polls readable, and asking for the queued count fails
        WaitFails,    // the next wait fails itself (as poll with EINVAL); Feed wakes a waiting one
    };
    void SetInput(EInput eInput);
    // The next nCount writes do not leave the port within their limit (nothing is written).
    void FailWrites(int nCount);
    // The writes with these numbers (the first write asked of the device is 1) do not leave.
    void FailWriteAttempts(std::vector<int> anAttempts);
    // Writes ("write") and purges ("purge input", "purge both") in order, into a log that
    // outlives the device (the link destroys it).
    void SetEventLog(std::shared_ptr<std::vector<std::string>> pLog);
    // The line settings of the last Configure.
    CLineSettings GetLineSettings() const;

    const std::string& GetPath() const override { return m_strPath; }
    bool Configure(const CLineSettings& line, EConfigStep* peFailedStep, CDeviceError* pError) override;
    bool Purge(bool bOutputToo, CDeviceError* pError) override;
    void RaiseDtrRts() override {}
    bool GetQueuedInput(uint32_t* pnCount, CDeviceError* pError) override;
    EIoResult ReadByte(uint8_t* pByte, CDeviceError* pError) override;
    EIoResult WriteBlock(const uint8_t* pData, size_t nLength, uint32_t nTimeoutMs, const CLinkEvent* pCancel,
                         CDeviceError* pError) override;
    CLinkWaitResult WaitForEvents(const CLinkEvent& stop, bool bWantInput, const CLinkEvent& writeRequest) override;

private:
    // Keeps the event signalled exactly while there is something to report. Holds m_mutex.
    void UpdateReadableLocked();

    const std::string m_strPath = "fake-serial-device";
    CLinkEvent m_readable;
    mutable std::mutex m_mutex;
    CResponder m_responder;
    std::vector<std::vector<uint8_t>> m_aWrites;
    std::deque<uint8_t> m_abUnread;
    uint64_t m_nBytesRead = 0;
    bool m_bSignalled = false;
    CLineSettings m_line;
    std::atomic<bool> m_bDisconnected{false};
    EInput m_eInput = EInput::Fed;
    int m_nWritesToFail = 0;
    int m_nWriteAttempts = 0;
    std::vector<int> m_anAttemptsToFail;
    std::shared_ptr<std::vector<std::string>> m_pEventLog;
};
