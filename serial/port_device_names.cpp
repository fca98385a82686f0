#include "serial/port_device_names.h"

#include <cctype>
#include <cstdio>

#include "platform/com_names.h"

namespace {

char Upper(char ch)
{
    return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
}

int HexDigit(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    ch = Upper(ch);
    return ch >= 'A' && ch <= 'F' ? ch - 'A' + 10 : -1;
}

// The four hex digits after the first "<strTag>_" in strText, in any letter case.
bool FindTaggedId(const std::string& strText, const char* pszTag, uint16_t* pnId)
{
    for (size_t nPos = 0; nPos + 8 <= strText.size(); ++nPos) {
        if (Upper(strText[nPos]) != pszTag[0] || Upper(strText[nPos + 1]) != pszTag[1] ||
            Upper(strText[nPos + 2]) != pszTag[2] || strText[nPos + 3] != '_')
            continue;
        // The tag must start a part of the id, not end some longer word.
        if (nPos > 0 && std::isalnum(static_cast<unsigned char>(strText[nPos - 1])))
            continue;
        unsigned nId = 0;
        bool bHex = true;
        for (size_t i = nPos + 4; i < nPos + 8 && bHex; ++i) {
            const int nDigit = HexDigit(strText[i]);
            bHex = nDigit >= 0;
            nId = nId * 16 + static_cast<unsigned>(nDigit);
        }
        // Exactly four digits: a fifth would make it some other number.
        if (bHex && (nPos + 8 == strText.size() || HexDigit(strText[nPos + 8]) < 0)) {
            *pnId = static_cast<uint16_t>(nId);
            return true;
        }
    }
    return false;
}

} // namespace

int ParseFriendlyNamePort(const std::string& strFriendlyName)
{
    size_t nEnd = strFriendlyName.find_last_not_of(" \t");
    if (nEnd == std::string::npos || strFriendlyName[nEnd] != ')')
        return 0;
    const size_t nOpen = strFriendlyName.rfind('(', nEnd);
    if (nOpen == std::string::npos)
        return 0;
    std::string strInside = strFriendlyName.substr(nOpen + 1, nEnd - nOpen - 1);
    // A pair of linked virtual ports names this one first.
    const size_t nArrow = strInside.find("->");
    if (nArrow != std::string::npos)
        strInside.resize(nArrow);
    const size_t nFirst = strInside.find_first_not_of(" \t");
    const size_t nLast = strInside.find_last_not_of(" \t");
    if (nFirst == std::string::npos)
        return 0;
    return ParseComPortName(strInside.substr(nFirst, nLast - nFirst + 1));
}

bool ParseUsbIds(const std::string& strHardwareId, uint16_t* pnVendor, uint16_t* pnProduct)
{
    uint16_t nVendor = 0;
    uint16_t nProduct = 0;
    if (!FindTaggedId(strHardwareId, "VID", &nVendor) || !FindTaggedId(strHardwareId, "PID", &nProduct))
        return false;
    *pnVendor = nVendor;
    *pnProduct = nProduct;
    return true;
}

int GetEntryComPort(const CPortDeviceEntry& entry)
{
    const int nPort = ParseFriendlyNamePort(entry.strFriendlyName);
    return nPort != 0 ? nPort : ParseComPortName(entry.strPortName);
}

std::string DescribePortDeviceEntry(const CPortDeviceEntry& entry)
{
    std::string strText = entry.strFriendlyName;
    for (const std::string& strId : entry.astrHardwareIds) {
        uint16_t nVendor = 0;
        uint16_t nProduct = 0;
        if (ParseUsbIds(strId, &nVendor, &nProduct)) {
            char szIds[40];
            std::snprintf(szIds, sizeof szIds, "USB VID:PID %04X:%04X", nVendor, nProduct);
            strText += strText.empty() ? std::string(szIds) : ", " + std::string(szIds);
            break;
        }
    }
    return strText;
}

std::string ParseInstanceSerialNumber(const std::string& strInstanceId)
{
    // Only a USB device's own id carries it; a driver's bus (FTDIBUS\...) words its ids its own way.
    if (strInstanceId.size() < 4 || Upper(strInstanceId[0]) != 'U' || Upper(strInstanceId[1]) != 'S' ||
        Upper(strInstanceId[2]) != 'B' || strInstanceId[3] != '\\')
        return std::string();
    const size_t nSlash = strInstanceId.rfind('\\');
    const std::string strLast = strInstanceId.substr(nSlash + 1);
    // Windows makes up an id with '&' in it for a device without a serial number.
    if (nSlash < 4 || strLast.empty() || strLast.find('&') != std::string::npos)
        return std::string();
    return strLast;
}

CComPortInfo DescribeComPortWithNames(int nPort, const std::vector<CPortDeviceEntry>& entries)
{
    CComPortInfo info = DescribeComPort(nPort);
    for (const CPortDeviceEntry& entry : entries) {
        if (GetEntryComPort(entry) == nPort) {
            const std::string strText = DescribePortDeviceEntry(entry);
            if (!strText.empty())
                info.strDescription = strText;
            for (const std::string& strId : entry.astrHardwareIds) {
                uint16_t nVendor = 0;
                uint16_t nProduct = 0;
                if (ParseUsbIds(strId, &nVendor, &nProduct)) {
                    char szId[16];
                    std::snprintf(szId, sizeof szId, "%04x:%04x", nVendor, nProduct);
                    info.strUsbId = szId;
                    info.strSerialNumber = ParseInstanceSerialNumber(entry.strInstanceId);
                    break;
                }
            }
            break;
        }
    }
    return info;
}
