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

// Empties the list and appends the number of every COM port the system names (ascending, each
// once); when the system cannot list its names, the probing method's list instead.
void EnumerateComPorts(CUIntArray& ports);

// The probing method: opens each port number the system gives as a candidate (on Linux the
// kernel rule's 1 to 96 and every linked number, on Windows 1 to 255), within 1 to 255, and
// closes it at once; a port that is busy or may not be opened still counts as present.
// Empties the list first; ascending.
void ProbeComPorts(CUIntArray& ports);
