#pragma once
// COM port numbers and names, as every part of the program reads them: setting.ini stores a
// number, the operator types "COM5", the system lists "COM5", a link is named "com5". The
// system layer names its ports in these very words (Windows its devices, the Linux namespace
// its links), so they sit here, beneath the port names each system hands out.

#include <string>

// The one range of COM numbers, as the system's probing covers: for names the system gives,
// links, the kernel rule, a port given on the command line and the ComPort setting.
constexpr int MIN_COM_PORT = 1;
constexpr int MAX_COM_PORT = 255;
inline bool IsComPortInRange(long long nPort)
{
    return nPort >= MIN_COM_PORT && nPort <= MAX_COM_PORT;
}

// The number of a "COMn" name in any letter case (no sign, no leading zero), however large
// (capped past the range); 0 when it is no such name.
long ParseComNameNumber(const std::string& strName);

// Parses "COMn" in any letter case with n in the range; 0 when it is no such name.
int ParseComPortName(const std::string& strName);
