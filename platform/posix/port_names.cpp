// COM ports as Linux names them: the COM port namespace of platform/posix/com_ports.h (links in
// the ports directory, then the kernel rule) stands in for the system's device names.

#include "platform/port_names.h"

#include <cstring>
#include <set>

#include "platform/posix/com_ports.h"
#include "text/printable.h"

namespace {

constexpr int HIGHEST_KERNEL_PORT = 96;

// Every number that could resolve: the linked ones and the kernel rule's range.
std::set<int> CandidatePorts(int nHighest)
{
    std::set<int> ports;
    for (int nPort = 1; nPort <= nHighest; ++nPort)
        ports.insert(nPort);
    for (int nPort : ListLinkedComPorts(GetPortsDirectory()))
        ports.insert(nPort);
    return ports;
}

} // namespace

bool ListComDeviceNames(std::vector<std::string>* pastrNames)
{
    // The namespace is the Linux stand-in for the system's device names: every number that
    // resolves to a terminal device (never /dev/null or another character device).
    pastrNames->clear();
    for (int nPort : CandidatePorts(HIGHEST_KERNEL_PORT)) {
        CComPortResolution resolution = ResolveComPort(nPort);
        if (resolution.bResolved && IsTerminalDevice(resolution.strOpenPath))
            pastrNames->push_back("COM" + std::to_string(nPort));
    }
    return true;
}

std::vector<int> ListProbeCandidates()
{
    const std::set<int> ports = CandidatePorts(HIGHEST_KERNEL_PORT);
    return std::vector<int>(ports.begin(), ports.end());
}

bool ProbeComPort(int nPort)
{
    CComPortResolution resolution = ResolveComPort(nPort);
    return resolution.bResolved && ProbeComDevice(resolution.strOpenPath);
}

CComPortInfo DescribeComPort(int nPort)
{
    CComPortInfo info;
    info.strDevice = ResolveComPort(nPort).strDevice;
    info.strDescription = DescribeComDevice(info.strDevice);
    ReadUsbIdentity(info.strDevice, &info.strUsbId, &info.strSerialNumber);
    return info;
}

std::string GetComPortNamingHelp()
{
    return "A port is a link named COM<n> in the ports directory (" + GetPortsDirectory()
           + "),\nelse COM1-32 = /dev/ttyS0-31 (real UARTs only), COM33-64 = /dev/ttyUSB0-31,\n"
             "COM65-96 = /dev/ttyACM0-31.\n";
}

std::vector<std::string> DescribeIgnoredPortNames()
{
    std::vector<std::string> astrOutOfRange;
    const std::string strDir = GetPortsDirectory();
    int nDirErrno = 0;
    ListLinkedComPorts(strDir, &astrOutOfRange, &nDirErrno);
    std::vector<std::string> astrSentences;
    if (nDirErrno != 0)
        astrSentences.push_back("the ports directory " + EscapeForTerminal(strDir) + " cannot be read ("
                                + std::strerror(nDirErrno) + "): no COM<n> link in it is seen.");
    for (const std::string& strName : astrOutOfRange)
        astrSentences.push_back("the link " + EscapeForTerminal(strDir) + "/" + strName +
                                " is ignored: COM ports are numbered " + std::to_string(MIN_COM_PORT) + " to " +
                                std::to_string(MAX_COM_PORT) + ".");
    return astrSentences;
}

// The device's product or driver above stands for what Windows lists: no separate list here.
std::vector<CPortDeviceEntry> ListPortDeviceEntries()
{
    return {};
}
