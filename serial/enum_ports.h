#pragma once
// COM port discovery: the ports present on the machine, as COM numbers.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A growable array of unsigned port numbers. Entries are appended in the order found; it is
// never sorted and duplicates are kept.
class CUIntArray {
public:
    size_t GetSize() const { return m_aValues.size(); }
    // Grows with zeros or cuts to nNewSize entries.
    void SetSize(size_t nNewSize) { m_aValues.resize(nNewSize, 0); }
    void RemoveAll() { m_aValues.clear(); }
    // Appends and returns the new entry's index.
    size_t Add(uint32_t nValue)
    {
        m_aValues.push_back(nValue);
        return m_aValues.size() - 1;
    }
    // nIndex must be below GetSize().
    uint32_t GetAt(size_t nIndex) const { return m_aValues.at(nIndex); }
    uint32_t& operator[](size_t nIndex) { return m_aValues.at(nIndex); }
    uint32_t operator[](size_t nIndex) const { return m_aValues.at(nIndex); }

private:
    std::vector<uint32_t> m_aValues;
};

// Empties the list and appends every COM number that resolves to an existing character
// device (a link in the ports directory, or the kernel rule), ascending.
void EnumerateComPorts(CUIntArray& ports);

// The probing method: opens each COM number the namespace gives (the kernel rule's 1 to 96
// and every linked number up to 255) that resolves to a device, and closes it at once; a port
// that is busy or may not be opened still counts as present.
// Empties the list first; ascending.
void ProbeComPorts(CUIntArray& ports);

// What stands behind COMn for a person: the device (a path on Linux, the system's device name
// on Windows) and a short description ("" when nothing is known).
struct CComPortInfo {
    std::string strDevice;
    std::string strDescription;
};
CComPortInfo DescribeComPort(int nPort);

// One sentence each for the names of COM ports that are ignored because no port can have their
// number (a link numbered outside 1 to 255 on Linux). Windows gives its own names: none there.
std::vector<std::string> DescribeIgnoredPortNames();

// A few lines for a help text: how this system names its COM ports.
std::string GetComPortNamingHelp();
