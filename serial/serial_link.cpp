#include "serial/serial_link.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/serial_device.h"
#include "serial/port_open_text.h"
#include "text/printable.h"

CSerialLink* g_pSerialLink = nullptr;

namespace {

// The most bytes one drain pass delivers before the monitor looks at its other work: a device
// that never stops sending (a USB CDC device ignores the baud rate) must not keep a queued
// write from its turn.
constexpr int MAX_BYTES_PER_DRAIN = 64;

// Wake-ups in a row that said "readable" but gave no byte: not a serial port that works (a
// link to /dev/null polls readable for ever), so the link counts as lost.
constexpr int MAX_EMPTY_WAKEUPS = 3;

// The configuration step that failed, as the owner is told it.
EPortStep PortStepOf(EConfigStep eStep)
{
    switch (eStep) {
    case EConfigStep::SetTimeouts: return EPortStep::SetTimeouts;
    case EConfigStep::SetEventMask: return EPortStep::SetEventMask;
    case EConfigStep::GetState: return EPortStep::GetState;
    case EConfigStep::BuildState: return EPortStep::BuildState;
    case EConfigStep::SetState:
    case EConfigStep::None: break;
    }
    return EPortStep::SetState;
}

// The step as the error box names it.
const char* BoxStepName(EPortStep eStep)
{
    switch (eStep) {
    case EPortStep::SetTimeouts: return "SetCommTimeouts()";
    case EPortStep::SetEventMask: return "SetCommMask()";
    case EPortStep::GetState: return "GetCommState()";
    case EPortStep::BuildState: return "BuildCommDCB()";
    case EPortStep::SetState: return "SetCommState()";
    case EPortStep::Wait: return "WaitCommEvent()";
    case EPortStep::Read: return "ReadFile()";
    case EPortStep::Write: return "WriteFile()";
    case EPortStep::WriteCompletion: return "GetOverlappedResults() in WriteFile()";
    }
    return "";
}

} // namespace

const char* const PORT_ERROR_CAPTION = "Application Error";

std::string PortErrorBoxText(const CPortStepFailure& failure)
{
    return "注意:  " + std::string(BoxStepName(failure.eStep)) + " 通訊埠發生下列錯誤: \n" + failure.strSystemText
           + "\nPort: " + std::to_string(failure.nPort) + "\n";
}

void ILinkOwner::ShowPortFailure(const CPortStepFailure& failure)
{
    ShowPortError(PortErrorBoxText(failure), PORT_ERROR_CAPTION);
}

struct CSerialLink::CImpl {
    // The owner may be replaced while the monitor runs; every use of it holds this lock.
    std::mutex ownerMutex;
    ILinkOwner* pOwner = nullptr;

    // The port lock: opening and configuring, each write, each queue query and each read.
    std::mutex portLock;
    std::unique_ptr<ISerialDevice> pDevice;
    CLineSettings line;
    uint32_t dwEventMask = 0;

    CLinkEvent stopEvent;
    CLinkEvent writeRequestEvent;
    std::thread monitor;

    // The block handed from QueueWrite to the monitor thread.
    std::mutex writeMutex;
    std::vector<uint8_t> abWriteBuffer;
    uint32_t nWriteLength = 0;
    uint64_t nQueuedBlocks = 0;

    // The sent notification the monitor thread is waiting on, so that a closing link can
    // release it.
    std::mutex sendMutex;
    std::shared_ptr<CSendCompletion> pPendingSend;

    int nFailedReadsInRow = 0;
    int nFailedWritesInRow = 0;
    int nEmptyWakeupsInRow = 0;
    // The number of the last block SendPending took, so that a block served between two
    // wake-ups is not written again when its request event is seen.
    uint64_t nServedBlock = 0;
    // The number of the last block whose write began, stamped on every byte read after it.
    // Only the monitor thread uses it while it runs.
    uint64_t nWrittenBlocks = 0;
};

std::string CPortOpenFailure::ExampleUdevRule() const
{
    // The kernel's name of the device is what a rule matches; a link's target is shown, so
    // its last part is that name.
    const size_t nSlash = strDevice.rfind('/');
    const std::string strKernelName = nSlash == std::string::npos ? strDevice : strDevice.substr(nSlash + 1);
    return "SUBSYSTEM==\"tty\", KERNEL==\"" + (strKernelName.empty() ? std::string("ttyUSB0") : strKernelName)
           + "\", GROUP=\"dialout\", MODE=\"0660\"";
}

CPortOpenFailure CPortOpenFailure::WithPrintableNames() const
{
    CPortOpenFailure shown = *this;
    for (std::string* pstrName : {&shown.strDevice, &shown.strGroup, &shown.strSystemText, &shown.strPortsDir,
                                  &shown.strKernelDevice, &shown.strHolderCommand})
        *pstrName = EscapeForTerminal(*pstrName);
    return shown;
}

bool CPortOpenFailure::HasUnprintableNames() const
{
    const CPortOpenFailure shown = WithPrintableNames();
    return shown.strDevice != strDevice || shown.strGroup != strGroup || shown.strSystemText != strSystemText
           || shown.strPortsDir != strPortsDir || shown.strKernelDevice != strKernelDevice
           || shown.strHolderCommand != strHolderCommand;
}

std::string CPortOpenFailure::Describe(int nPort) const
{
    return WordPortOpenFailure(nPort, *this, EnglishPortOpenPhrases());
}

CSerialLink::CSerialLink() : m_pImpl(std::make_unique<CImpl>()) {}

CSerialLink::~CSerialLink()
{
    StopMonitor();
    m_pImpl->pDevice.reset();
}

void CSerialLink::StopMonitor()
{
    m_bClosing.store(true);
    m_pImpl->stopEvent.Signal();
    {
        // A sent notification the owner's thread may never handle (that thread may be the
        // one destroying us) must not hold the monitor thread.
        std::lock_guard<std::mutex> lock(m_pImpl->sendMutex);
        if (m_pImpl->pPendingSend)
            m_pImpl->pPendingSend->Abandon();
    }
    if (m_pImpl->monitor.joinable()) {
        if (m_pImpl->monitor.get_id() == std::this_thread::get_id())
            m_pImpl->monitor.detach();
        else
            m_pImpl->monitor.join();
    }
    m_bRunning.store(false);
}

bool CSerialLink::PrepareOpen(ILinkOwner* pOwner, int nPort, uint32_t dwEventMask, uint32_t nWriteBufferSize)
{
    StopMonitor();
    m_openFailure = CPortOpenFailure();
    SetOwner(pOwner);
    m_nPortNumber = nPort;
    {
        std::lock_guard<std::mutex> lock(m_pImpl->writeMutex);
        m_pImpl->abWriteBuffer.assign(nWriteBufferSize, 0);
        m_pImpl->nWriteLength = 0;
        // A block the previous monitor never took is not written on the new port.
        m_pImpl->nServedBlock = m_pImpl->nQueuedBlocks;
        m_pImpl->nWrittenBlocks = m_pImpl->nQueuedBlocks;
    }
    m_bWritePending.store(false);
    m_pImpl->dwEventMask = dwEventMask;
    m_pImpl->nFailedReadsInRow = 0;
    m_pImpl->nFailedWritesInRow = 0;
    m_pImpl->nEmptyWakeupsInRow = 0;
    m_bLastWriteFailed.store(false);
    std::string strSystemText;
    if (!m_pImpl->stopEvent.Create(&strSystemText) || !m_pImpl->writeRequestEvent.Create(&strSystemText)) {
        m_openFailure.eKind = EPortOpenError::Other;
        m_openFailure.strSystemText = strSystemText;
        return false;
    }
    return true;
}

bool CSerialLink::OpenPort(ILinkOwner* pOwner, int nPort, int nBaud, char cParity, int nDataBits, int nStopBits,
                           uint32_t dwEventMask, uint32_t nWriteBufferSize)
{
    if (!PrepareOpen(pOwner, nPort, dwEventMask, nWriteBufferSize))
        return false;
    std::unique_ptr<ISerialDevice> pDevice;
    {
        std::lock_guard<std::mutex> lock(m_pImpl->portLock);
        m_pImpl->pDevice.reset();
    }
    pDevice = OpenComPort(nPort, &m_openFailure);
    if (!pDevice)
        return false;
    return FinishOpen(std::move(pDevice), nBaud, cParity, nDataBits, nStopBits);
}

bool CSerialLink::OpenDevice(ILinkOwner* pOwner, int nPort, std::unique_ptr<ISerialDevice> pDevice, int nBaud,
                             char cParity, int nDataBits, int nStopBits, uint32_t dwEventMask,
                             uint32_t nWriteBufferSize)
{
    if (!PrepareOpen(pOwner, nPort, dwEventMask, nWriteBufferSize))
        return false;
    {
        std::lock_guard<std::mutex> lock(m_pImpl->portLock);
        m_pImpl->pDevice.reset();
    }
    if (!pDevice) {
        m_openFailure.eKind = EPortOpenError::NotFound;
        return false;
    }
    return FinishOpen(std::move(pDevice), nBaud, cParity, nDataBits, nStopBits);
}

bool CSerialLink::FinishOpen(std::unique_ptr<ISerialDevice> pDevice, int nBaud, char cParity, int nDataBits,
                             int nStopBits)
{
    std::unique_lock<std::mutex> lock(m_pImpl->portLock);
    m_pImpl->pDevice = std::move(pDevice);
    m_pImpl->line = CLineSettings{nBaud, cParity, nDataBits, nStopBits};
    EConfigStep eFailedStep = EConfigStep::None;
    CDeviceError error;
    // A step that fails is shown and the port stays open: the caller goes on regardless.
    if (!m_pImpl->pDevice->Configure(m_pImpl->line, &eFailedStep, &error))
        ShowPortFailure(PortStepOf(eFailedStep), error.strSystemText);
    m_pImpl->pDevice->Purge(true, nullptr);
    lock.unlock();
    m_bClosing.store(false);
    return true;
}

bool CSerialLink::StartMonitor()
{
    if (m_bClosing.load() || !m_pImpl->pDevice || m_pImpl->monitor.joinable())
        return false;
    {
        // The purge the monitor starts with is done here, before the thread exists, so that
        // everything the device sends once this returns is delivered.
        std::lock_guard<std::mutex> lock(m_pImpl->portLock);
        m_pImpl->pDevice->Purge(true, nullptr);
    }
    m_bRunning.store(true);
    try {
        m_pImpl->monitor = std::thread([this] { MonitorProc(); });
    } catch (const std::system_error&) {
        m_bRunning.store(false);
        return false;
    }
    return true;
}

uint64_t CSerialLink::QueueWrite(const uint8_t* pData, uint32_t nLength)
{
    uint64_t nBlock = 0;
    {
        std::lock_guard<std::mutex> lock(m_pImpl->writeMutex);
        uint32_t nCapacity = static_cast<uint32_t>(m_pImpl->abWriteBuffer.size());
        if (nLength > nCapacity)
            nLength = nCapacity;
        if (nLength > 0)
            std::memcpy(m_pImpl->abWriteBuffer.data(), pData, nLength);
        m_pImpl->nWriteLength = nLength;
        nBlock = ++m_pImpl->nQueuedBlocks;
        m_bWritePending.store(true);
        m_bLastWriteFailed.store(false);
    }
    if (m_pImpl->pDevice)
        m_pImpl->pDevice->RaiseDtrRts();
    m_pImpl->writeRequestEvent.Signal();
    return nBlock;
}

std::string CSerialLink::GetDevicePath() const
{
    std::lock_guard<std::mutex> lock(m_pImpl->portLock);
    return m_pImpl->pDevice ? m_pImpl->pDevice->GetPath() : std::string();
}

void CSerialLink::SetOwner(ILinkOwner* pOwner)
{
    std::lock_guard<std::mutex> lock(m_pImpl->ownerMutex);
    m_pImpl->pOwner = pOwner;
}

void CSerialLink::PostToOwner(uint32_t nMsg, uintptr_t wParam)
{
    CLinkMessage msg{nMsg, wParam, m_nPortNumber, nullptr};
    msg.nWrittenBlocks = m_pImpl->nWrittenBlocks;
    std::lock_guard<std::mutex> lock(m_pImpl->ownerMutex);
    if (m_pImpl->pOwner != nullptr)
        m_pImpl->pOwner->PostLinkMessage(std::move(msg));
}

void CSerialLink::SendToOwner(uint32_t nMsg)
{
    auto pCompletion = std::make_shared<CSendCompletion>();
    {
        std::lock_guard<std::mutex> lock(m_pImpl->sendMutex);
        if (m_bClosing.load())
            return;
        m_pImpl->pPendingSend = pCompletion;
    }
    bool bPosted = false;
    {
        std::lock_guard<std::mutex> lock(m_pImpl->ownerMutex);
        if (m_pImpl->pOwner != nullptr) {
            m_pImpl->pOwner->PostLinkMessage(CLinkMessage{nMsg, 0, m_nPortNumber, pCompletion});
            bPosted = true;
        }
    }
    if (bPosted)
        pCompletion->Wait();
    std::lock_guard<std::mutex> lock(m_pImpl->sendMutex);
    m_pImpl->pPendingSend.reset();
}

void CSerialLink::ShowPortFailure(EPortStep eStep, const std::string& strSystemText)
{
    const CPortStepFailure failure{eStep, m_nPortNumber, strSystemText};
    std::lock_guard<std::mutex> lock(m_pImpl->ownerMutex);
    if (m_pImpl->pOwner != nullptr)
        m_pImpl->pOwner->ShowPortFailure(failure);
    else
        // Nobody to show it to (the program is ending); a port failure is still not silent.
        std::fprintf(stderr, "%s: %s", PORT_ERROR_CAPTION, PortErrorBoxText(failure).c_str());
}

void CSerialLink::MonitorProc()
{
    bool bLost = false;
    try {
        bLost = RunMonitor();
    } catch (...) {
        // Only an allocation failure can get here. The thread ends cleanly; re-opening some
        // other port from inside it would surprise the user more than a quiet link.
    }
    {
        std::lock_guard<std::mutex> lock(m_pImpl->portLock);
        // Input only: the last block written (the end-of-transfer byte, say) may still be on its
        // way out, and discarding the output queue now could drop it before the device has it.
        if (!bLost)
            m_pImpl->pDevice->Purge(false, nullptr);
    }
    m_bWritePending.store(false);
    m_bRunning.store(false);
    if (bLost)
        PostToOwner(WM_LINK_LOST, 0);
}

bool CSerialLink::RunMonitor()
{
    ISerialDevice* pDevice = m_pImpl->pDevice.get();
    const uint32_t dwMask = m_pImpl->dwEventMask;
    // Without EV_RXCHAR input is not waited for (it would stay readable and wake us for
    // ever); a hang-up is always noticed.
    const bool bWantInput = (dwMask & EV_RXCHAR) != 0;
    while (!m_bClosing.load()) {
        pDevice->RaiseDtrRts();
        CLinkWaitResult wait = pDevice->WaitForEvents(m_pImpl->stopEvent, bWantInput, m_pImpl->writeRequestEvent);
        if (wait.eSlot == ELinkWaitSlot::Failed) {
            // Nothing can be waited for any more: without the loss reported, every later
            // record would wait out its whole limit five times.
            ShowPortFailure(EPortStep::Wait, wait.strSystemText);
            return true;
        }
        if (wait.eSlot == ELinkWaitSlot::Stop)
            break;
        if (wait.eSlot == ELinkWaitSlot::Device) {
            if (m_bClosing.load())
                break;
            if (wait.bInput) {
                static const struct {
                    uint32_t dwBit;
                    uint32_t nMsg;
                } aNotifications[] = {
                    {EV_CTS, WM_LINK_CTS},   {EV_RXFLAG, WM_LINK_RXFLAG}, {EV_BREAK, WM_LINK_BREAK},
                    {EV_ERR, WM_LINK_ERR},   {EV_RING, WM_LINK_RING},
                };
                for (const auto& n : aNotifications) {
                    if ((dwMask & n.dwBit) != 0)
                        SendToOwner(n.nMsg);
                }
                // Bytes that arrived before a hang-up are still delivered.
                if (DrainReceived())
                    return true;
            }
            if (wait.bHungUp)
                return true;
            // The device slot wins every wait while input flows; a write asked for meanwhile
            // gets its turn after each drain pass.
            if (IsUnservedWrite() && !m_bClosing.load() && SendPending())
                return true;
            continue;
        }
        if (m_bClosing.load())
            break;
        if (SendPending())
            return true;
    }
    return false;
}

bool CSerialLink::DrainReceived()
{
    ISerialDevice* pDevice = m_pImpl->pDevice.get();
    int nDelivered = 0;
    while (!m_bClosing.load() && nDelivered < MAX_BYTES_PER_DRAIN) {
        uint32_t nQueued = 0;
        EIoResult result;
        uint8_t nByte = 0;
        CDeviceError error;
        {
            std::lock_guard<std::mutex> lock(m_pImpl->portLock);
            if (m_bClosing.load())
                return false;
            // A port whose queue cannot even be asked about cannot be read either.
            if (!pDevice->GetQueuedInput(&nQueued, &error))
                return true;
            // Readable with nothing queued: one read tells end of file (a hang-up) from a
            // wake-up that found nothing.
            if (nQueued == 0 && nDelivered > 0)
                break;
            result = pDevice->ReadByte(&nByte, &error);
        }
        switch (result) {
        case EIoResult::Ok:
            m_pImpl->nFailedReadsInRow = 0;
            PostToOwner(WM_LINK_RXBYTE, nByte);
            ++nDelivered;
            break;
        case EIoResult::WouldBlock:
            if (nDelivered > 0) {
                m_pImpl->nEmptyWakeupsInRow = 0;
                return false;
            }
            return ++m_pImpl->nEmptyWakeupsInRow >= MAX_EMPTY_WAKEUPS;
        case EIoResult::Lost:
            return true;
        default:
            // A failed read delivers no byte. A second failure in a row means the device
            // does not work any more: one box, then it counts as lost.
            if (++m_pImpl->nFailedReadsInRow >= 2)
                return true;
            ShowPortFailure(EPortStep::Read, error.strSystemText);
            return false;
        }
    }
    if (nDelivered > 0)
        m_pImpl->nEmptyWakeupsInRow = 0;
    return false;
}

bool CSerialLink::IsUnservedWrite()
{
    std::lock_guard<std::mutex> lock(m_pImpl->writeMutex);
    return m_pImpl->nQueuedBlocks != m_pImpl->nServedBlock;
}

bool CSerialLink::SendPending()
{
    m_pImpl->writeRequestEvent.Reset();
    std::vector<uint8_t> abBlock;
    uint64_t nBlock = 0;
    {
        std::lock_guard<std::mutex> lock(m_pImpl->writeMutex);
        // Already written after a drain pass; this is its late request.
        if (m_pImpl->nQueuedBlocks == m_pImpl->nServedBlock)
            return false;
        abBlock.assign(m_pImpl->abWriteBuffer.begin(), m_pImpl->abWriteBuffer.begin() + m_pImpl->nWriteLength);
        nBlock = m_pImpl->nQueuedBlocks;
        m_pImpl->nServedBlock = nBlock;
    }
    // The write may take 1000 ms beyond the block's own wire time before it counts as failed.
    const uint64_t nWireMs = abBlock.size() * 10ull * 1000 / static_cast<uint64_t>(std::max(m_pImpl->line.nBaud, 1));
    const uint32_t nTimeoutMs = static_cast<uint32_t>(1000 + 2 * std::min<uint64_t>(nWireMs, 600000));
    EIoResult result;
    CDeviceError error;
    // The monitor reads nothing while it writes, so every byte it reads from now on came after
    // this block began to go out (the purge below drops what came before).
    m_pImpl->nWrittenBlocks = nBlock;
    {
        std::lock_guard<std::mutex> lock(m_pImpl->portLock);
        // Whatever the device said before this block is stale: its answer comes after it.
        m_pImpl->pDevice->Purge(true, nullptr);
        result = m_pImpl->pDevice->WriteBlock(abBlock.data(), abBlock.size(), nTimeoutMs,
                                              &m_pImpl->stopEvent, &error);
    }
    const bool bFailed = result == EIoResult::Failed || result == EIoResult::FailedWaiting;
    {
        std::lock_guard<std::mutex> lock(m_pImpl->writeMutex);
        if (nBlock == m_pImpl->nQueuedBlocks) {
            // Set before the pending flag clears, so that whoever sees the write finished
            // also sees that it failed.
            m_bLastWriteFailed.store(bFailed);
            m_bWritePending.store(false);
        }
    }
    if (result == EIoResult::Lost)
        return true;
    if (!bFailed) {
        m_pImpl->nFailedWritesInRow = 0;
        return false;
    }
    // A block that did not leave in time was not sent. A second failure in a row means the
    // port does not take data any more: one box, then it counts as lost.
    if (++m_pImpl->nFailedWritesInRow >= 2)
        return true;
    ShowPortFailure(result == EIoResult::Failed ? EPortStep::Write : EPortStep::WriteCompletion, error.strSystemText);
    return false;
}
