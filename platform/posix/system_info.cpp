#include "platform/system_info.h"

#include <climits>
#include <ctime>
#include <vector>

#include <pwd.h>
#include <unistd.h>

std::string GetLoginName()
{
    // The account the process runs as, not the terminal's owner (getlogin): under sudo or from
    // a service those differ, and the log says who did the update.
    std::vector<char> buffer(16384);
    passwd pwd {};
    passwd* pResult = nullptr;
    if (::getpwuid_r(::getuid(), &pwd, buffer.data(), buffer.size(), &pResult) == 0 && pResult != nullptr &&
        pwd.pw_name != nullptr)
        return pwd.pw_name;
    return std::to_string(::getuid());
}

std::string GetMachineName()
{
    char szName[HOST_NAME_MAX + 1] = {};
    if (::gethostname(szName, sizeof szName - 1) != 0)
        return std::string();
    return szName;
}

CLocalTime GetLocalTimeNow()
{
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local {};
    CLocalTime time;
    if (::localtime_r(&now.tv_sec, &local) == nullptr)
        return time;
    time.nYear = local.tm_year + 1900;
    time.nMonth = local.tm_mon + 1;
    time.nDay = local.tm_mday;
    time.nHour = local.tm_hour;
    time.nMinute = local.tm_min;
    time.nSecond = local.tm_sec;
    time.nMillisecond = static_cast<int>(now.tv_nsec / 1000000);
    time.nUtcOffsetMinutes = static_cast<int>(local.tm_gmtoff / 60);
    return time;
}
