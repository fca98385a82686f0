#pragma once
// CSerialLink: one open COM port with its monitor thread. The monitor thread performs all
// port I/O after the open and talks to the owner only through link messages
// (serial/link_messages.h): every received byte is posted as WM_LINK_RXBYTE.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/serial_device.h"
#include "serial/link_messages.h"

class CSerialLink {
public:
    CSerialLink();
    virtual ~CSerialLink();
    CSerialLink(const CSerialLink&) = delete;
    CSerialLink& operator=(const CSerialLink&) = delete;

    // Opens COMn (by the system's name for it: see OpenComPort) and configures it. Returns false
    // only when the device cannot be opened; GetOpenFailure() then says why. A failed
    // configuration step is shown through the owner's ShowPortFailure and still returns true.
    bool OpenPort(ILinkOwner* pOwner, int nPort, int nBaud, char cParity, int nDataBits, int nStopBits,
                  uint32_t dwEventMask, uint32_t nWriteBufferSize);
    // The same on a device that is already open (a test's fake or pseudo-terminal); takes ownership.
    bool OpenDevice(ILinkOwner* pOwner, int nPort, std::unique_ptr<ISerialDevice> pDevice, int nBaud,
                    char cParity, int nDataBits, int nStopBits, uint32_t dwEventMask, uint32_t nWriteBufferSize);

    // Starts the monitor thread; true when a thread was created.
    bool StartMonitor();

    // Copies up to the write capacity from pData and asks the monitor thread to write it.
    // Returns at once; must not be called again before the previous block was written. Returns
    // the block's number: bytes read after its write are posted with nWrittenBlocks at least that.
    uint64_t QueueWrite(const uint8_t* pData, uint32_t nLength);

    // Replaces the owner (nullptr: notifications are dropped). Safe while the monitor runs.
    void SetOwner(ILinkOwner* pOwner);

    const CPortOpenFailure& GetOpenFailure() const { return m_openFailure; }
    // The path of the device open on this link ("" when none is).
    std::string GetDevicePath() const;
    bool IsMonitorRunning() const { return m_bRunning.load(); }
    // True from QueueWrite until the monitor thread has finished writing that block.
    bool IsWritePending() const { return m_bWritePending.load(); }
    // True when the last block queued could not be written (it failed or did not leave the
    // port within its limit): it did not reach the device. Cleared by the next QueueWrite.
    bool DidLastWriteFail() const { return m_bLastWriteFailed.load(); }

private:
    void StopMonitor();
    bool PrepareOpen(ILinkOwner* pOwner, int nPort, uint32_t dwEventMask, uint32_t nWriteBufferSize);
    bool FinishOpen(std::unique_ptr<ISerialDevice> pDevice, int nBaud, char cParity, int nDataBits, int nStopBits);
    void PostToOwner(uint32_t nMsg, uintptr_t wParam);
    void SendToOwner(uint32_t nMsg);
    void ShowPortFailure(EPortStep eStep, const std::string& strSystemText);
    void MonitorProc();
    // The monitor loop and its two helpers return true when the device went away.
    bool RunMonitor();
    bool DrainReceived();
    bool SendPending();
    bool IsUnservedWrite();

    struct CImpl;
    std::unique_ptr<CImpl> m_pImpl;
    std::atomic<bool> m_bClosing{false};
    std::atomic<bool> m_bRunning{false};
    std::atomic<bool> m_bWritePending{false};
    std::atomic<bool> m_bLastWriteFailed{false};
    int m_nPortNumber = 0;
    CPortOpenFailure m_openFailure;
};

// The dialog's current link, or none: it stays open between updates and start-up destroys it at
// the end. A transfer runs on the link its CRecordTransfer is given, not on this one.
extern CSerialLink* g_pSerialLink;
