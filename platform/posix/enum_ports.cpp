#include "serial/enum_ports.h"

#include <set>

#include "platform/com_ports.h"

namespace {

constexpr int HIGHEST_KERNEL_PORT = 96;
constexpr int HIGHEST_PROBED_PORT = 255;

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

void EnumerateComPorts(CUIntArray& ports)
{
    ports.SetSize(0);
    for (int nPort : CandidatePorts(HIGHEST_KERNEL_PORT)) {
        CComPortResolution resolution = ResolveComPort(nPort);
        if (resolution.bResolved && IsCharacterDevice(resolution.strOpenPath))
            ports.Add(static_cast<uint32_t>(nPort));
    }
}

void ProbeComPorts(CUIntArray& ports)
{
    ports.SetSize(0);
    for (int nPort : CandidatePorts(HIGHEST_KERNEL_PORT)) {
        if (nPort > HIGHEST_PROBED_PORT)
            break;
        CComPortResolution resolution = ResolveComPort(nPort);
        if (!resolution.bResolved)
            continue;
        if (ProbeComDevice(resolution.strOpenPath))
            ports.Add(static_cast<uint32_t>(nPort));
    }
}
