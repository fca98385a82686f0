#include "serial/enum_ports.h"

#include <set>

#include "platform/com_names.h"
#include "platform/port_names.h"

void EnumerateComPorts(CUIntArray& ports)
{
    ports.SetSize(0);
    std::vector<std::string> astrNames;
    if (!ListComDeviceNames(&astrNames)) {
        // Without the system's list, the ports are found by opening each in turn.
        ProbeComPorts(ports);
        return;
    }
    // Ascending and each once, whatever order the system lists them in: the drop-down reads
    // best that way, and a name the system gives twice is still one port.
    std::set<int> found;
    for (const std::string& strName : astrNames) {
        if (const int nPort = ParseComPortName(strName); nPort > 0)
            found.insert(nPort);
    }
    for (int nPort : found)
        ports.Add(static_cast<uint32_t>(nPort));
}

void ProbeComPorts(CUIntArray& ports)
{
    ports.SetSize(0);
    for (int nPort : ListProbeCandidates()) {
        if (IsComPortInRange(nPort) && ProbeComPort(nPort))
            ports.Add(static_cast<uint32_t>(nPort));
    }
}
