#pragma once
// What the record transfer needs of its host window. The dialog implements these over
// Qt widgets; matrixctl over stdout/stderr; the tests over recorders and a fake clock.

#include <cstdint>
#include <string>

#include "platform/file_util.h"
#include "transfer/pattern.h"

// Why the pattern file was not sent, as facts a front end can word in its own language.
enum class EPatternFileProblem {
    None,
    NotChosen,   // no file name was given
    CannotOpen,     // nErrno says why
    NotRegularFile, // a FIFO, a device, a directory, a socket: eFileType says which
    TooLong,        // larger than the transfer takes
    CannotRead,     // nErrno says why
    NoMemory,
    Empty,          // the file has no bytes
    NoWholeRecord,  // 1 to 11 bytes: nothing whole to send
    NotPatternFile, // a record's start or end marker is wrong: markerFault says where
};

struct CPatternFileProblem {
    EPatternFileProblem eKind = EPatternFileProblem::None;
    std::string strPath;
    int nErrno = 0;
    EFileType eFileType = EFileType::Regular;
    CPatternMarkerFault markerFault;
};

// The "status window": its caption shows the progress texts.
class IStatusWindow {
public:
    virtual ~IStatusWindow() = default;
    virtual void SetWindowText(const std::string& strText) = 0;
    // A modal box with an OK button and the application's default caption.
    virtual void MessageBox(const std::string& strText) = 0;
    // The file could not be sent. strText says so in one sentence (the empty file's in the
    // device's own words); a host that words its messages itself uses the facts instead.
    virtual void ReportFileProblem(const CPatternFileProblem& problem, const std::string& strText)
    {
        (void)problem;
        MessageBox(strText);
    }
};

// The progress bar a transfer drives (CRecordTransfer::SetProgress).
class IProgressBar {
public:
    virtual ~IProgressBar() = default;
    virtual void SetRange(uint64_t nMin, uint64_t nMax) = 0;
    virtual void SetPos(uint64_t nPos) = 0;
};

// The calling thread's message queue, as a transfer pumps it while it waits.
class IMessagePump {
public:
    virtual ~IMessagePump() = default;
    // Dispatches every message waiting; when none is waiting, blocks until one arrives or
    // nMaxWaitMs ticks (platform/tick_clock.h) have passed, then dispatches what came.
    // Returns false when a quit message was taken (its code in *pnQuitCode).
    virtual bool WaitAndDispatch(uint32_t nMaxWaitMs, int* pnQuitCode) = 0;
};
