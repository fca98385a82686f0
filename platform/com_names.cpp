#include "platform/com_names.h"

long ParseComNameNumber(const std::string& strName)
{
    auto upper = [](char ch) { return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch; };
    if (strName.size() < 4 || upper(strName[0]) != 'C' || upper(strName[1]) != 'O' || upper(strName[2]) != 'M' ||
        strName[3] == '0')
        return 0;
    long nValue = 0;
    for (size_t i = 3; i < strName.size(); ++i) {
        if (strName[i] < '0' || strName[i] > '9')
            return 0;
        // Past the range the value only has to stay out of it, not overflow.
        if (nValue <= MAX_COM_PORT)
            nValue = nValue * 10 + (strName[i] - '0');
    }
    return nValue;
}

int ParseComPortName(const std::string& strName)
{
    const long nPort = ParseComNameNumber(strName);
    return IsComPortInRange(nPort) ? static_cast<int>(nPort) : 0;
}
