// matrixctl ports: one line per COM port present, "COM<n>", the device and a description.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/port_names.h"
#include "serial/enum_ports.h"
#include "serial/port_device_names.h"

namespace {

void PrintPortsUsage(FILE* pOut)
{
    std::fprintf(pOut,
                 "usage: matrixctl ports [--probe]\n"
                 "\n"
                 "Lists the COM ports present, one line each: COM<n> TAB device TAB description.\n"
                 "%s"
                 "\n"
                 "  --probe   open each port briefly instead (busy ports still count as present)\n",
                 GetComPortNamingHelp().c_str());
}

} // namespace

int RunPortsCommand(int argc, char** argv)
{
    bool bProbe = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintPortsUsage(stdout);
            return EXIT_OK;
        }
        if (std::strcmp(argv[i], "--probe") == 0) {
            bProbe = true;
            continue;
        }
        std::fprintf(stderr, "matrixctl ports: unknown argument '%s'.\n", argv[i]);
        PrintPortsUsage(stderr);
        return EXIT_USAGE;
    }

    // A name for a number no port can have is ignored, but not silently.
    for (const std::string& strSentence : DescribeIgnoredPortNames())
        std::fprintf(stderr, "matrixctl ports: %s\n", strSentence.c_str());

    CUIntArray ports;
    if (bProbe)
        ProbeComPorts(ports);
    else
        EnumerateComPorts(ports);
    // What the system calls each port, where it keeps a list of its devices (Windows).
    const std::vector<CPortDeviceEntry> entries = ListPortDeviceEntries();
    for (size_t i = 0; i < ports.GetSize(); ++i) {
        int nPort = static_cast<int>(ports.GetAt(i));
        CComPortInfo info = DescribeComPortWithNames(nPort, entries);
        std::printf("COM%d\t%s\t%s\n", nPort, info.strDevice.c_str(), info.strDescription.c_str());
    }
    if (ports.GetSize() == 0)
        std::fprintf(stderr, "matrixctl ports: no COM ports found.\n");
    return EXIT_OK;
}
