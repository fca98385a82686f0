// matrixctl ports: one line per COM port present, "COM<n>", the device and a description.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/com_ports.h"
#include "platform/printable.h"
#include "serial/enum_ports.h"

namespace {

void PrintPortsUsage(FILE* pOut)
{
    std::fprintf(pOut,
                 "usage: matrixctl ports [--probe]\n"
                 "\n"
                 "Lists the COM ports present, one line each: COM<n> TAB device TAB description.\n"
                 "A port is a link named COM<n> in the ports directory (%s),\n"
                 "else COM1-32 = /dev/ttyS0-31 (real UARTs only), COM33-64 = /dev/ttyUSB0-31,\n"
                 "COM65-96 = /dev/ttyACM0-31.\n"
                 "\n"
                 "  --probe   open each port briefly instead (busy ports still count as present)\n",
                 GetPortsDirectory().c_str());
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

    // A link for a number no port can have is ignored, but not silently.
    std::vector<std::string> astrOutOfRange;
    ListLinkedComPorts(GetPortsDirectory(), &astrOutOfRange);
    for (const std::string& strName : astrOutOfRange)
        std::fprintf(stderr, "matrixctl ports: the link %s/%s is ignored: COM ports are numbered %d to %d.\n",
                     EscapeForTerminal(GetPortsDirectory()).c_str(), strName.c_str(), MIN_COM_PORT, MAX_COM_PORT);

    CUIntArray ports;
    if (bProbe)
        ProbeComPorts(ports);
    else
        EnumerateComPorts(ports);
    for (size_t i = 0; i < ports.GetSize(); ++i) {
        int nPort = static_cast<int>(ports.GetAt(i));
        CComPortResolution resolution = ResolveComPort(nPort);
        std::printf("COM%d\t%s\t%s\n", nPort, resolution.strDevice.c_str(),
                    DescribeComDevice(resolution.strDevice).c_str());
    }
    if (ports.GetSize() == 0)
        std::fprintf(stderr, "matrixctl ports: no COM ports found.\n");
    return EXIT_OK;
}
