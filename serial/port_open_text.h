#pragma once
// The sentence a port that could not be opened makes: which facts make which sentence is
// decided here once, and each language words the sentences from a table of phrases (English
// below for matrixctl, Chinese in app/operator_texts.cpp for the dialogs).

#include <string>

#include "platform/serial_device.h"

// Each sentence a port-open failure can make.
enum class EPortOpenSentence {
    None,
    NoSuchPort,              // the system's own names (Windows), no reason given
    NoSuchPortWithReason,    // the same with the system's reason
    LinkToAbsentDevice,      // COMn is linked, but the device it names is gone
    DeviceAbsent,            // the device COMn resolved to does not exist
    NoLinkNoKernelDevice,    // no link for COMn, and the kernel rule has no device for the number
    NoLinkKernelNodeEmpty,   // ... its device node is there with no serial port behind it
    NoLinkKernelNodeAbsent,  // ... its device node is absent
    BusyUnknownHolder,
    BusyModemManager,
    BusyHolder,
    NoPermissionGroup,       // joining the device's group gives access
    NoPermissionOwnerOnly,   // only the owner may open it: a udev rule is the way
    NoPermissionOther,
    NotSerialPortType,       // it names no device at all: a directory, a FIFO, ...
    NotSerialPortDevice,     // a device, but not a serial port
    PtyMultiplexer,
    CannotOpen,
};

// The phrases of one language. A sentence is a pattern in which {port} ("COM5"), {named}
// ("COM5 (/dev/ttyUSB0)"), {system}, {dir} (the ports directory), {kernel} (the kernel rule's
// device), {pid}, {holder}, {group}, {mode}, {rule} (ExampleUdevRule), {type}, {nolink} and
// {who} stand for the facts; any other brace is text.
struct CPortOpenPhrases {
    const char* (*pfnSentence)(EPortOpenSentence eSentence); // a switch, so the compiler sees a missing one
    const char* pszPortsDirUnreadable; // {nolink} when the ports directory cannot be read ({dirreason})
    const char* pszNoLink;             // {nolink} when it holds no link for the port
    const char* pszWhoRoot;            // {who} when root owns the device
    const char* pszWhoOwner;           // {who} for any other owner ({owner})
    std::string (*pfnFileType)(EFileType eType);                    // {type}
    std::string (*pfnPortsDirReason)(const CPortOpenFailure& failure); // {dirreason}
};

EPortOpenSentence ChoosePortOpenSentence(const CPortOpenFailure& failure);

// The sentence for COMn in the given language; names from outside in it are escaped.
std::string WordPortOpenFailure(int nPort, const CPortOpenFailure& failure, const CPortOpenPhrases& phrases);

// matrixctl's English phrases, those of CPortOpenFailure::Describe.
const CPortOpenPhrases& EnglishPortOpenPhrases();
