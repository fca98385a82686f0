// The serial device over Win32 overlapped I/O on \\.\COMn. Every comm call of the program's
// serial I/O on Windows is in this file.
//
// The wait for input is a pending one-byte overlapped read, not WaitCommEvent: the read works
// the same on every driver and under Wine on a pseudo-terminal, where WaitCommEvent fails or
// ends at once. The byte it brings is held here and handed out by the next ReadByte.

#include "platform/serial_device.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "platform/win32/wide_string.h"

// The handle inside a link event, for the waits of this file.
struct CLinkEventNative {
    static HANDLE Get(const CLinkEvent* pEvent)
    {
        return pEvent != nullptr && pEvent->m_nNative != -1 ? reinterpret_cast<HANDLE>(pEvent->m_nNative) : nullptr;
    }
};

namespace {

// What a Win32 error code means for the port. bOpening: the error came from opening it.
EDeviceErrorKind ClassifyError(DWORD dwError, bool bOpening)
{
    switch (dwError) {
    case ERROR_SUCCESS:
        return EDeviceErrorKind::None;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_UNIT:
        return bOpening ? EDeviceErrorKind::NotFound : EDeviceErrorKind::Lost;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        // A port another program holds is refused as "access denied".
        return bOpening ? EDeviceErrorKind::Busy : EDeviceErrorKind::Other;
    case ERROR_BROKEN_PIPE:       // a pending read when the device was pulled
    case ERROR_NOT_READY:         // every call after that
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
        return bOpening ? EDeviceErrorKind::Other : EDeviceErrorKind::Lost;
    default:
        return EDeviceErrorKind::Other;
    }
}

CDeviceError MakeError(DWORD dwError, bool bOpening)
{
    CDeviceError error;
    error.eKind = ClassifyError(dwError, bOpening);
    error.nErrno = static_cast<int>(dwError);
    error.strSystemText = SystemErrorText(dwError);
    return error;
}

class CWin32SerialDevice : public ISerialDevice {
public:
    CWin32SerialDevice(HANDLE hPort, HANDLE hReadEvent, HANDLE hWriteEvent, std::string strPath)
        : m_hPort(hPort), m_strPath(std::move(strPath))
    {
        m_ovRead.hEvent = hReadEvent;
        m_ovWrite.hEvent = hWriteEvent;
    }

    ~CWin32SerialDevice() override
    {
        CancelPendingRead();
        ::CloseHandle(m_hPort);
        ::CloseHandle(m_ovRead.hEvent);
        ::CloseHandle(m_ovWrite.hEvent);
    }

    const std::string& GetPath() const override { return m_strPath; }

    bool Configure(const CLineSettings& line, EConfigStep* peFailedStep, CDeviceError* pError) override
    {
        // A read waits for its byte without a time limit; a write's limit is the engine's own.
        COMMTIMEOUTS timeouts {};
        if (!::SetCommTimeouts(m_hPort, &timeouts))
            return Fail(EConfigStep::SetTimeouts, ::GetLastError(), peFailedStep, pError);
        if (!::SetCommMask(m_hPort, EV_RXCHAR))
            return Fail(EConfigStep::SetEventMask, ::GetLastError(), peFailedStep, pError);
        (void)::SetupComm(m_hPort, 4096, 4096);

        DCB dcb {};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(m_hPort, &dcb))
            return Fail(EConfigStep::GetState, ::GetLastError(), peFailedStep, pError);
        const char cParity = static_cast<char>(line.cParity >= 'a' ? line.cParity - 'a' + 'A' : line.cParity);
        wchar_t szDefinition[80];
        std::swprintf(szDefinition, 80, L"baud=%d parity=%c data=%d stop=%d", line.nBaud, cParity, line.nDataBits,
                      line.nStopBits);
        if (std::string("NEOMS").find(cParity) == std::string::npos || !::BuildCommDCBW(szDefinition, &dcb))
            return Fail(EConfigStep::BuildState, ERROR_INVALID_PARAMETER, peFailedStep, pError);
        // Raw bytes both ways. A driver may carry software flow control over from whoever used
        // the port before (a pseudo-terminal under Wine shows its IXON that way): then 0x11 and
        // 0x13 vanish from the records and a 0x13 from the device stops every later write.
        dcb.fBinary = TRUE;
        dcb.fParity = cParity != 'N' ? TRUE : FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.fErrorChar = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        if (!::SetCommState(m_hPort, &dcb))
            return Fail(EConfigStep::SetState, ::GetLastError(), peFailedStep, pError);
        if (peFailedStep != nullptr)
            *peFailedStep = EConfigStep::None;
        return true;
    }

    bool Purge(bool bOutputToo, CDeviceError* pError) override
    {
        // The driver's queue is cleared, but a pending read stays: it waits for the next byte,
        // and taking it back and issuing it again would cost two trips through the system for
        // every record. A read that has already ended brought a byte from before the purge:
        // that byte goes, as does one held from earlier.
        m_bHaveByte = false;
        const DWORD dwOutput = bOutputToo ? PURGE_TXABORT | PURGE_TXCLEAR : 0;
        if (!::PurgeComm(m_hPort, PURGE_RXCLEAR | dwOutput)) {
            SetError(::GetLastError(), pError);
            return false;
        }
        if (m_bReadPending && HasOverlappedIoCompleted(&m_ovRead)) {
            (void)FinishRead();
            m_bHaveByte = false;
        }
        return true;
    }

    void RaiseDtrRts() override
    {
        // A port without modem lines (a pseudo-terminal under Wine) refuses this every time, and
        // each refusal is a trip through the system on the way to every write and every wait:
        // a line that was refused once is not asked for again.
        if (!m_bDtrRefused.load(std::memory_order_relaxed) && !::EscapeCommFunction(m_hPort, SETDTR))
            m_bDtrRefused.store(true, std::memory_order_relaxed);
        if (!m_bRtsRefused.load(std::memory_order_relaxed) && !::EscapeCommFunction(m_hPort, SETRTS))
            m_bRtsRefused.store(true, std::memory_order_relaxed);
    }

    bool GetQueuedInput(uint32_t* pnCount, CDeviceError* pError) override
    {
        DWORD dwErrors = 0;
        COMSTAT status {};
        if (!::ClearCommError(m_hPort, &dwErrors, &status)) {
            SetError(::GetLastError(), pError);
            return false;
        }
        *pnCount = static_cast<uint32_t>(status.cbInQue) + (m_bHaveByte ? 1u : 0u);
        return true;
    }

    EIoResult ReadByte(uint8_t* pByte, CDeviceError* pError) override
    {
        if (m_bHaveByte) {
            *pByte = m_nHeldByte;
            m_bHaveByte = false;
            return EIoResult::Ok;
        }
        if (!m_bReadPending) {
            // With reads that wait for their byte, only read what is known to be there.
            uint32_t nQueued = 0;
            if (!GetQueuedInput(&nQueued, pError))
                return ResultOf(pError);
            if (nQueued == 0)
                return EIoResult::WouldBlock;
            DWORD dwError = StartRead();
            if (dwError != ERROR_SUCCESS && dwError != ERROR_IO_PENDING) {
                SetError(dwError, pError);
                return ResultOf(pError);
            }
        }
        // The byte is queued, so the read completes at once; a read that does not is left
        // pending for the next wait.
        if (m_bReadPending && ::WaitForSingleObject(m_ovRead.hEvent, 1000) != WAIT_OBJECT_0)
            return EIoResult::WouldBlock;
        DWORD dwError = FinishRead();
        if (dwError != ERROR_SUCCESS) {
            SetError(dwError, pError);
            return ResultOf(pError);
        }
        if (!m_bHaveByte)
            return EIoResult::WouldBlock;
        *pByte = m_nHeldByte;
        m_bHaveByte = false;
        return EIoResult::Ok;
    }

    EIoResult WriteBlock(const uint8_t* pData, size_t nLength, uint32_t nTimeoutMs, const CLinkEvent* pCancel,
                         CDeviceError* pError) override
    {
        if (nLength == 0)
            return EIoResult::Ok;
        const ULONGLONG nDeadline = ::GetTickCount64() + nTimeoutMs;
        DWORD dwWritten = 0;
        if (!::WriteFile(m_hPort, pData, static_cast<DWORD>(nLength), &dwWritten, &m_ovWrite)) {
            const DWORD dwError = ::GetLastError();
            if (dwError != ERROR_IO_PENDING) {
                SetError(dwError, pError);
                return ResultOf(pError) == EIoResult::Lost ? EIoResult::Lost : EIoResult::Failed;
            }
            // The write is under way: wait for it, the deadline, or a cancel.
            HANDLE hCancel = CLinkEventNative::Get(pCancel);
            HANDLE ahWait[2] = {hCancel, m_ovWrite.hEvent};
            const DWORD nFirst = hCancel != nullptr ? 0 : 1;
            const ULONGLONG nNow = ::GetTickCount64();
            const DWORD dwLeft = nNow < nDeadline ? static_cast<DWORD>(nDeadline - nNow) : 0;
            const DWORD dwWait = ::WaitForMultipleObjects(2 - nFirst, ahWait + nFirst, FALSE, dwLeft);
            if (dwWait != WAIT_OBJECT_0 + (1 - nFirst)) {
                // Cancelled, out of time, or the wait failed: the write is taken back before
                // its buffer can go away.
                const DWORD dwWaitError = dwWait == WAIT_TIMEOUT ? ERROR_TIMEOUT : ::GetLastError();
                ::CancelIoEx(m_hPort, &m_ovWrite);
                ::GetOverlappedResult(m_hPort, &m_ovWrite, &dwWritten, TRUE);
                if (nFirst == 0 && dwWait == WAIT_OBJECT_0)
                    return EIoResult::Cancelled;
                SetError(dwWaitError, pError);
                return EIoResult::FailedWaiting;
            }
            if (!::GetOverlappedResult(m_hPort, &m_ovWrite, &dwWritten, FALSE)) {
                SetError(::GetLastError(), pError);
                return ResultOf(pError) == EIoResult::Lost ? EIoResult::Lost : EIoResult::FailedWaiting;
            }
        }
        if (dwWritten != nLength) {
            // A short write is no success: the device would get a cut record.
            SetError(ERROR_WRITE_FAULT, pError);
            return EIoResult::FailedWaiting;
        }
        return EIoResult::Ok;
    }

    CLinkWaitResult WaitForEvents(const CLinkEvent& stop, bool bWantInput, const CLinkEvent& writeRequest) override
    {
        CLinkWaitResult result;
        HANDLE hStop = CLinkEventNative::Get(&stop);
        HANDLE hWrite = CLinkEventNative::Get(&writeRequest);
        for (;;) {
            if (bWantInput && !m_bHaveByte && !m_bReadPending) {
                const DWORD dwError = StartRead();
                if (dwError != ERROR_SUCCESS && dwError != ERROR_IO_PENDING)
                    return DeviceFailure(dwError, hStop);
            }
            if (bWantInput && m_bHaveByte) {
                // Input is there already; only a stop comes before it.
                if (hStop != nullptr && ::WaitForSingleObject(hStop, 0) == WAIT_OBJECT_0) {
                    result.eSlot = ELinkWaitSlot::Stop;
                    return result;
                }
                result.eSlot = ELinkWaitSlot::Device;
                result.bInput = true;
                return result;
            }
            // The lowest signalled handle wins, as the slots are ordered.
            HANDLE ahWait[3] = {};
            ELinkWaitSlot aeSlots[3] = {};
            DWORD nCount = 0;
            if (hStop != nullptr) {
                ahWait[nCount] = hStop;
                aeSlots[nCount++] = ELinkWaitSlot::Stop;
            }
            if (bWantInput && m_bReadPending) {
                ahWait[nCount] = m_ovRead.hEvent;
                aeSlots[nCount++] = ELinkWaitSlot::Device;
            }
            if (hWrite != nullptr) {
                ahWait[nCount] = hWrite;
                aeSlots[nCount++] = ELinkWaitSlot::WriteRequest;
            }
            const DWORD dwWait = ::WaitForMultipleObjects(nCount, ahWait, FALSE, INFINITE);
            if (dwWait >= WAIT_OBJECT_0 + nCount) {
                result.strSystemText = SystemErrorText(::GetLastError());
                return result;
            }
            const ELinkWaitSlot eSlot = aeSlots[dwWait - WAIT_OBJECT_0];
            if (eSlot != ELinkWaitSlot::Device) {
                result.eSlot = eSlot;
                return result;
            }
            const DWORD dwError = FinishRead();
            if (dwError == ERROR_OPERATION_ABORTED)
                continue; // a read ended without cause (Wine does this on a pseudo-terminal): read again
            if (dwError != ERROR_SUCCESS)
                return DeviceFailure(dwError, hStop);
            // A read that ended with no byte is issued again.
        }
    }

private:
    // Issues the one-byte read. ERROR_SUCCESS: it completed at once (a byte may be held now);
    // ERROR_IO_PENDING: it is under way; anything else: it failed.
    DWORD StartRead()
    {
        DWORD dwRead = 0;
        if (::ReadFile(m_hPort, &m_nReadBuffer, 1, &dwRead, &m_ovRead)) {
            if (dwRead == 1) {
                m_nHeldByte = m_nReadBuffer;
                m_bHaveByte = true;
            }
            return ERROR_SUCCESS;
        }
        const DWORD dwError = ::GetLastError();
        if (dwError == ERROR_IO_PENDING)
            m_bReadPending = true;
        return dwError;
    }

    // Takes the result of the pending read, which has ended.
    DWORD FinishRead()
    {
        DWORD dwRead = 0;
        const BOOL bOk = ::GetOverlappedResult(m_hPort, &m_ovRead, &dwRead, TRUE);
        m_bReadPending = false;
        if (!bOk)
            return ::GetLastError();
        if (dwRead == 1) {
            m_nHeldByte = m_nReadBuffer;
            m_bHaveByte = true;
        }
        return ERROR_SUCCESS;
    }

    void CancelPendingRead()
    {
        if (!m_bReadPending)
            return;
        ::CancelIoEx(m_hPort, &m_ovRead);
        DWORD dwRead = 0;
        ::GetOverlappedResult(m_hPort, &m_ovRead, &dwRead, TRUE);
        m_bReadPending = false;
    }

    // A read that failed while waiting: a device that went away is reported as hung up.
    CLinkWaitResult DeviceFailure(DWORD dwError, HANDLE hStop)
    {
        CLinkWaitResult result;
        if (hStop != nullptr && ::WaitForSingleObject(hStop, 0) == WAIT_OBJECT_0) {
            result.eSlot = ELinkWaitSlot::Stop;
            return result;
        }
        if (ClassifyError(dwError, false) == EDeviceErrorKind::Lost) {
            result.eSlot = ELinkWaitSlot::Device;
            result.bHungUp = true;
            return result;
        }
        result.strSystemText = SystemErrorText(dwError);
        return result;
    }

    static EIoResult ResultOf(const CDeviceError* pError)
    {
        return pError != nullptr && pError->eKind == EDeviceErrorKind::Lost ? EIoResult::Lost : EIoResult::Failed;
    }

    void SetError(DWORD dwError, CDeviceError* pError)
    {
        CDeviceError error = MakeError(dwError, false);
        if (pError != nullptr)
            *pError = error;
        else
            m_lastError = error;
    }

    bool Fail(EConfigStep eStep, DWORD dwError, EConfigStep* peFailedStep, CDeviceError* pError)
    {
        if (peFailedStep != nullptr)
            *peFailedStep = eStep;
        SetError(dwError, pError);
        return false;
    }

    HANDLE m_hPort;
    std::string m_strPath;
    OVERLAPPED m_ovRead {};
    OVERLAPPED m_ovWrite {};
    bool m_bReadPending = false;
    uint8_t m_nReadBuffer = 0; // the pending read's target: it must outlive the read
    bool m_bHaveByte = false;
    uint8_t m_nHeldByte = 0;
    CDeviceError m_lastError;
    // Raised by the monitor thread and by QueueWrite on the owner's thread.
    std::atomic<bool> m_bDtrRefused{false};
    std::atomic<bool> m_bRtsRefused{false};
};

} // namespace

std::unique_ptr<ISerialDevice> OpenComPort(int nPort, CPortOpenFailure* pFailure)
{
    CPortOpenFailure failure;
    if (nPort < 1 || nPort > 255) {
        failure.eKind = EPortOpenError::NotFound;
        *pFailure = failure;
        return nullptr;
    }
    // The \\.\ form reaches every port; a bare "COM10" and above would name no device.
    const std::string strPath = "\\\\.\\COM" + std::to_string(nPort);
    HANDLE hPort = ::CreateFileW(Utf8ToWide(strPath).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED, nullptr);
    if (hPort == INVALID_HANDLE_VALUE) {
        CDeviceError error = MakeError(::GetLastError(), true);
        failure.strSystemText = error.strSystemText;
        switch (error.eKind) {
        case EDeviceErrorKind::NotFound: failure.eKind = EPortOpenError::NotFound; break;
        case EDeviceErrorKind::Busy: failure.eKind = EPortOpenError::Busy; break;
        default: failure.eKind = EPortOpenError::Other; break;
        }
        *pFailure = failure;
        return nullptr;
    }
    HANDLE hReadEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE hWriteEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (hReadEvent == nullptr || hWriteEvent == nullptr) {
        failure.eKind = EPortOpenError::Other;
        failure.strSystemText = SystemErrorText(::GetLastError());
        for (HANDLE h : {hReadEvent, hWriteEvent, hPort})
            if (h != nullptr)
                ::CloseHandle(h);
        *pFailure = failure;
        return nullptr;
    }
    *pFailure = failure;
    return std::make_unique<CWin32SerialDevice>(hPort, hReadEvent, hWriteEvent, strPath);
}

bool CLinkEvent::Create(std::string* pstrSystemText)
{
    Close();
    HANDLE hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (hEvent == nullptr) {
        if (pstrSystemText != nullptr)
            *pstrSystemText = SystemErrorText(::GetLastError());
        return false;
    }
    m_nNative = reinterpret_cast<intptr_t>(hEvent);
    return true;
}

void CLinkEvent::Close()
{
    if (m_nNative != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_nNative));
    m_nNative = -1;
}

void CLinkEvent::Signal() const
{
    if (HANDLE hEvent = CLinkEventNative::Get(this))
        ::SetEvent(hEvent);
}

void CLinkEvent::Reset() const
{
    if (HANDLE hEvent = CLinkEventNative::Get(this))
        ::ResetEvent(hEvent);
}

int WaitForLinkEvent(const CLinkEvent* const* apEvents, size_t nCount, std::string* pstrSystemText)
{
    HANDLE ahWait[MAXIMUM_WAIT_OBJECTS] = {};
    int anIndex[MAXIMUM_WAIT_OBJECTS] = {};
    DWORD nWait = 0;
    for (size_t i = 0; i < nCount && nWait < MAXIMUM_WAIT_OBJECTS; ++i) {
        if (HANDLE hEvent = CLinkEventNative::Get(apEvents[i])) {
            ahWait[nWait] = hEvent;
            anIndex[nWait++] = static_cast<int>(i);
        }
    }
    // With several signalled, the wait reports the lowest: the order of the slots holds.
    const DWORD dwWait = ::WaitForMultipleObjects(nWait, ahWait, FALSE, INFINITE);
    if (dwWait < WAIT_OBJECT_0 + nWait)
        return anIndex[dwWait - WAIT_OBJECT_0];
    if (pstrSystemText != nullptr)
        *pstrSystemText = SystemErrorText(::GetLastError());
    return -1;
}
