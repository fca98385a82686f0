// Fuzzes the settings-file reader and writer on untrusted text: every lookup stays in bounds,
// and a value written is the value read back.
#include <cstdint>
#include <string>
#include <string_view>

#include "app/profile.h"

namespace {

void CheckSetThenFind(std::string_view svText, const char* pszSection, const char* pszKey, const char* pszValue)
{
    std::string strValue;
    if (FindProfileValue(svText, pszSection, pszKey, &strValue))
        (void)ParseProfileInt(strValue);
    std::string strNew = SetProfileValue(svText, pszSection, pszKey, pszValue);
    if (!FindProfileValue(strNew, pszSection, pszKey, &strValue) || strValue != pszValue)
        __builtin_trap();
    // Setting the same value again changes nothing.
    if (SetProfileValue(strNew, pszSection, pszKey, pszValue) != strNew)
        __builtin_trap();
    std::string strRemoved = RemoveProfileValue(strNew, pszSection, pszKey);
    if (strRemoved.size() >= strNew.size())
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize > MAX_PROFILE_BYTES)
        return 0;
    std::string_view svText(reinterpret_cast<const char*>(pData), nSize);
    CheckSetThenFind(svText, "Connection", "ComPort", "42");
    CheckSetThenFind(svText, "a", "B", "x y");
    (void)ParseProfileInt(svText);
    return 0;
}
