#include "serial/port_open_text.h"

#include <cstdio>
#include <map>

namespace {

// Fills the {name}s of a pattern in one pass, so that a brace in a filled-in name stays text.
std::string FillPattern(const char* pszPattern, const std::map<std::string, std::string>& values)
{
    std::string strOut;
    for (const char* p = pszPattern; *p != '\0'; ++p) {
        if (*p == '{') {
            const char* pEnd = p + 1;
            while (*pEnd != '\0' && *pEnd != '}' && *pEnd != '{')
                ++pEnd;
            if (*pEnd == '}') {
                const auto it = values.find(std::string(p + 1, pEnd));
                if (it != values.end()) {
                    strOut += it->second;
                    p = pEnd;
                    continue;
                }
            }
        }
        strOut += *p;
    }
    return strOut;
}

const char* EnglishSentence(EPortOpenSentence eSentence)
{
    switch (eSentence) {
    case EPortOpenSentence::None: break;
    case EPortOpenSentence::NoSuchPort: return "{port} does not exist.";
    case EPortOpenSentence::NoSuchPortWithReason: return "{port} does not exist: {system}.";
    case EPortOpenSentence::LinkToAbsentDevice:
        return "{named} does not exist: the link {port} in {dir} points to a device that is absent.";
    case EPortOpenSentence::DeviceAbsent: return "{named} does not exist: {system}.";
    case EPortOpenSentence::NoLinkNoKernelDevice:
        return "{port} does not exist: {nolink} and no kernel device stands for that number.";
    case EPortOpenSentence::NoLinkKernelNodeEmpty:
        return "{port} does not exist: {nolink} and {kernel} has no serial port behind it.";
    case EPortOpenSentence::NoLinkKernelNodeAbsent: return "{port} does not exist: {nolink} and {kernel} is absent.";
    case EPortOpenSentence::BusyUnknownHolder: return "{named} is busy: another program is using it.";
    case EPortOpenSentence::BusyModemManager:
        return "{named} is busy: ModemManager (pid {pid}) is probing it; keep it off the adapter with a udev rule"
               " setting ENV{ID_MM_DEVICE_IGNORE}=\"1\" for it, or stop the ModemManager service.";
    case EPortOpenSentence::BusyHolder: return "{named} is busy: {holder} (pid {pid}) is using it.";
    case EPortOpenSentence::NoPermissionGroup:
        return "No permission to open {named}: add your user to the group '{group}' and log in again.";
    case EPortOpenSentence::NoPermissionOwnerOnly:
        return "No permission to open {named}: only {who} may open it (mode {mode}, group {group}); to give access,"
               " put a udev rule such as {rule} into a file in /etc/udev/rules.d/, plug the device in again, and add"
               " your user to the group 'dialout'.";
    case EPortOpenSentence::NoPermissionOther: return "No permission to open {named}: {system}.";
    case EPortOpenSentence::NotSerialPortType: return "{named} is not a serial port: it is {type}.";
    case EPortOpenSentence::NotSerialPortDevice: return "{named} is not a serial port.";
    case EPortOpenSentence::PtyMultiplexer:
        return "{named} is not a serial port: it is the pseudo-terminal multiplexer, which makes a new terminal at"
               " every open; link {port} to the device's own terminal instead.";
    case EPortOpenSentence::CannotOpen: return "Cannot open {named}: {system}.";
    }
    return "";
}

std::string EnglishFileType(EFileType eType)
{
    return DescribeFileType(eType);
}

std::string EnglishPortsDirReason(const CPortOpenFailure& failure)
{
    return failure.strPortsDirError;
}

} // namespace

EPortOpenSentence ChoosePortOpenSentence(const CPortOpenFailure& failure)
{
    switch (failure.eKind) {
    case EPortOpenError::None: return EPortOpenSentence::None;
    case EPortOpenError::NotFound:
        if (failure.strPortsDir.empty())
            // The system's own port names (Windows): there is no link or kernel rule to tell of.
            return failure.strSystemText.empty() ? EPortOpenSentence::NoSuchPort : EPortOpenSentence::NoSuchPortWithReason;
        if (failure.bLinked)
            return EPortOpenSentence::LinkToAbsentDevice;
        if (!failure.strDevice.empty())
            return EPortOpenSentence::DeviceAbsent;
        if (failure.strKernelDevice.empty())
            return EPortOpenSentence::NoLinkNoKernelDevice;
        return failure.bKernelNodeExists ? EPortOpenSentence::NoLinkKernelNodeEmpty
                                         : EPortOpenSentence::NoLinkKernelNodeAbsent;
    case EPortOpenError::Busy:
        if (failure.nHolderPid == 0)
            return EPortOpenSentence::BusyUnknownHolder;
        return failure.bHolderIsModemManager ? EPortOpenSentence::BusyModemManager : EPortOpenSentence::BusyHolder;
    case EPortOpenError::NoPermission:
        if (failure.eAccess == EDeviceAccess::Group)
            return EPortOpenSentence::NoPermissionGroup;
        return failure.eAccess == EDeviceAccess::OwnerOnly ? EPortOpenSentence::NoPermissionOwnerOnly
                                                           : EPortOpenSentence::NoPermissionOther;
    case EPortOpenError::NotSerialPort:
        return failure.eFileType != EFileType::CharacterDevice ? EPortOpenSentence::NotSerialPortType
                                                               : EPortOpenSentence::NotSerialPortDevice;
    case EPortOpenError::PtyMultiplexer: return EPortOpenSentence::PtyMultiplexer;
    case EPortOpenError::Other: break;
    }
    return EPortOpenSentence::CannotOpen;
}

std::string WordPortOpenFailure(int nPort, const CPortOpenFailure& failure, const CPortOpenPhrases& phrases)
{
    if (failure.HasUnprintableNames())
        return WordPortOpenFailure(nPort, failure.WithPrintableNames(), phrases);
    const EPortOpenSentence eSentence = ChoosePortOpenSentence(failure);
    if (eSentence == EPortOpenSentence::None)
        return std::string();
    const std::string strPort = "COM" + std::to_string(nPort);
    char szMode[8];
    std::snprintf(szMode, sizeof szMode, "%04o", failure.nMode);
    std::map<std::string, std::string> values = {
        {"port", strPort},
        {"named", failure.strDevice.empty() ? strPort : strPort + " (" + failure.strDevice + ")"},
        {"system", failure.strSystemText},
        {"dir", failure.strPortsDir},
        {"kernel", failure.strKernelDevice},
        {"pid", std::to_string(failure.nHolderPid)},
        {"holder", failure.strHolderCommand},
        {"group", failure.strGroup},
        {"owner", failure.strOwner},
        {"mode", szMode},
        {"rule", failure.ExampleUdevRule()},
        {"type", phrases.pfnFileType(failure.eFileType)},
        {"dirreason", phrases.pfnPortsDirReason(failure)},
    };
    // A ports directory that cannot be read may well hold the link the user made.
    values["nolink"] =
        FillPattern(failure.nPortsDirErrno != 0 ? phrases.pszPortsDirUnreadable : phrases.pszNoLink, values);
    values["who"] = FillPattern(failure.strOwner == "root" ? phrases.pszWhoRoot : phrases.pszWhoOwner, values);
    return FillPattern(phrases.pfnSentence(eSentence), values);
}

const CPortOpenPhrases& EnglishPortOpenPhrases()
{
    static const CPortOpenPhrases phrases = {
        EnglishSentence,
        "the ports directory {dir} cannot be read ({dirreason})",
        "no device is linked as {port} in {dir}",
        "root",
        "its owner '{owner}'",
        EnglishFileType,
        EnglishPortsDirReason,
    };
    return phrases;
}
