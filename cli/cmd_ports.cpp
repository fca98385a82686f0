// matrixctl ports: one line per COM port present, "COM<n>", the device and a description.

#include <string>
#include <vector>

#include "cli/cli_output.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "platform/port_names.h"
#include "serial/enum_ports.h"
#include "serial/port_device_names.h"
#include "text/printable.h"

int RunPortsCommand(const std::vector<std::string>& args)
{
    bool bProbe = false;
    CCommandLine line("ports", "[OPTIONS]",
                      "Lists the COM ports present, one line each: COM<n> TAB device TAB description.\n"
                          + GetComPortNamingHelp());
    line.AddFlag("--probe", &bProbe, "open each port briefly instead (busy ports still count as present)");
    if (const int nStatus = line.Parse(args); nStatus >= 0)
        return nStatus;

    // A name for a number no port can have is ignored, but not silently.
    for (const std::string& strSentence : DescribeIgnoredPortNames())
        PrintError("matrixctl ports: %s\n", strSentence.c_str());

    CUIntArray ports;
    if (bProbe)
        ProbeComPorts(ports);
    else
        EnumerateComPorts(ports);
    // What the system calls each port, where it keeps a list of its devices (Windows).
    const std::vector<CPortDeviceEntry> entries = ListPortDeviceEntries();
    std::string strList;
    for (size_t i = 0; i < ports.GetSize(); ++i) {
        const int nPort = static_cast<int>(ports.GetAt(i));
        // Devices and descriptions come from links and the system: a tab or a line break in
        // them would forge a column or a line.
        const CComPortInfo info = DescribeComPortWithNames(nPort, entries);
        strList += FormatText("COM%d\t%s\t%s\n", nPort, EscapeForTerminal(info.strDevice).c_str(),
                              EscapeForTerminal(info.strDescription).c_str());
    }
    const bool bWritten = WriteOutput(strList);
    if (ports.GetSize() == 0)
        PrintError("matrixctl ports: no COM ports found.\n");
    return bWritten ? EXIT_OK : EXIT_OUTPUT_LOST;
}
