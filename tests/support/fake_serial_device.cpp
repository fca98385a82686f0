#include "tests/support/fake_serial_device.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

void SetLost(CDeviceError* pError)
{
    if (pError != nullptr) {
        pError->eKind = EDeviceErrorKind::Lost;
        pError->nErrno = EIO;
        pError->strSystemText = std::strerror(EIO);
    }
}

// A failure of the kind "anything else", with the system's text for nErrno.
void SetOther(CDeviceError* pError, int nErrno)
{
    if (pError != nullptr) {
        pError->eKind = EDeviceErrorKind::Other;
        pError->nErrno = nErrno;
        pError->strSystemText = std::strerror(nErrno);
    }
}

} // namespace

CFakeSerialDevice::CFakeSerialDevice()
{
    m_readable.Create();
}

CFakeSerialDevice::~CFakeSerialDevice() = default;

void CFakeSerialDevice::SetResponder(CResponder responder)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_responder = std::move(responder);
}

std::vector<std::vector<uint8_t>> CFakeSerialDevice::GetWrites() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_aWrites;
}

size_t CFakeSerialDevice::Unread() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_abUnread.size();
}

uint64_t CFakeSerialDevice::BytesRead() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nBytesRead;
}

void CFakeSerialDevice::Feed(const std::vector<uint8_t>& abBytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_abUnread.insert(m_abUnread.end(), abBytes.begin(), abBytes.end());
    UpdateReadableLocked();
}

void CFakeSerialDevice::Disconnect()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bDisconnected.store(true);
    UpdateReadableLocked();
}

void CFakeSerialDevice::SetInput(EInput eInput)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_eInput = eInput;
    UpdateReadableLocked();
}

void CFakeSerialDevice::FailWrites(int nCount)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nWritesToFail = nCount;
}

void CFakeSerialDevice::FailWriteAttempts(std::vector<int> anAttempts)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_anAttemptsToFail = std::move(anAttempts);
}

CLineSettings CFakeSerialDevice::GetLineSettings() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_line;
}

bool CFakeSerialDevice::Configure(const CLineSettings& line, EConfigStep* peFailedStep, CDeviceError*)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_line = line;
    if (peFailedStep != nullptr)
        *peFailedStep = EConfigStep::None;
    return true;
}

void CFakeSerialDevice::SetEventLog(std::shared_ptr<std::vector<std::string>> pLog)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pEventLog = std::move(pLog);
}

bool CFakeSerialDevice::Purge(bool bOutputToo, CDeviceError*)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pEventLog)
        m_pEventLog->push_back(bOutputToo ? "purge both" : "purge input");
    m_abUnread.clear();
    UpdateReadableLocked();
    return true;
}

bool CFakeSerialDevice::GetQueuedInput(uint32_t* pnCount, CDeviceError* pError)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_eInput == EInput::QueryFails) {
        SetOther(pError, ENOTTY);
        return false;
    }
    *pnCount = m_eInput == EInput::Endless ? 4096u : static_cast<uint32_t>(m_abUnread.size());
    return true;
}

EIoResult CFakeSerialDevice::ReadByte(uint8_t* pByte, CDeviceError* pError)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bDisconnected.load()) {
        SetLost(pError);
        return EIoResult::Lost;
    }
    if (m_eInput == EInput::Endless) {
        *pByte = 0x55;
        ++m_nBytesRead;
        return EIoResult::Ok;
    }
    if (m_abUnread.empty())
        return EIoResult::WouldBlock;
    *pByte = m_abUnread.front();
    m_abUnread.pop_front();
    ++m_nBytesRead;
    UpdateReadableLocked();
    return EIoResult::Ok;
}

EIoResult CFakeSerialDevice::WriteBlock(const uint8_t* pData, size_t nLength, uint32_t, const CLinkEvent*,
                                        CDeviceError* pError)
{
    std::vector<uint8_t> abWritten(pData, pData + nLength);
    CResponder responder;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bDisconnected.load()) {
            SetLost(pError);
            return EIoResult::Lost;
        }
        ++m_nWriteAttempts;
        const bool bFailThis = std::find(m_anAttemptsToFail.begin(), m_anAttemptsToFail.end(), m_nWriteAttempts)
                               != m_anAttemptsToFail.end();
        if (m_nWritesToFail > 0 || bFailThis) {
            if (!bFailThis)
                --m_nWritesToFail;
            SetOther(pError, ETIMEDOUT);
            return EIoResult::FailedWaiting;
        }
        m_aWrites.push_back(abWritten);
        if (m_pEventLog)
            m_pEventLog->push_back("write");
        responder = m_responder;
    }
    // The responder runs without the lock, so it may look at the device itself.
    std::vector<uint8_t> abAnswer;
    if (responder)
        abAnswer = responder(abWritten);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_abUnread.insert(m_abUnread.end(), abAnswer.begin(), abAnswer.end());
    UpdateReadableLocked();
    return EIoResult::Ok;
}

CLinkWaitResult CFakeSerialDevice::WaitForEvents(const CLinkEvent& stop, bool bWantInput, const CLinkEvent& writeRequest)
{
    // Like the real device: without interest in input, only a stop or a write request wakes it.
    const CLinkEvent* apEvents[3] = {&stop, bWantInput ? &m_readable : nullptr, &writeRequest};
    CLinkWaitResult result;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_eInput == EInput::WaitFails) {
            result.strSystemText = std::strerror(EINVAL);
            return result;
        }
    }
    switch (WaitForLinkEvent(apEvents, 3, &result.strSystemText)) {
    case 0: result.eSlot = ELinkWaitSlot::Stop; break;
    case 1:
        result.eSlot = ELinkWaitSlot::Device;
        result.bInput = true;
        result.bHungUp = m_bDisconnected.load();
        break;
    case 2: result.eSlot = ELinkWaitSlot::WriteRequest; break;
    default: break;
    }
    return result;
}

void CFakeSerialDevice::UpdateReadableLocked()
{
    bool bWant = m_bDisconnected.load() || !m_abUnread.empty() ||
                 (m_eInput != EInput::Fed && m_eInput != EInput::WaitFails);
    if (bWant == m_bSignalled)
        return;
    if (bWant)
        m_readable.Signal();
    else
        m_readable.Reset();
    m_bSignalled = bWant;
}
