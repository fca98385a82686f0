#include "platform/port_holder.h"

// Windows keeps no list of who has a COM port open that a program of the user may read, so a
// busy port is said to be busy without a name.
bool FindPortHolder(const std::string&, CPortHolder*)
{
    return false;
}

bool IsModemManager(const CPortHolder&)
{
    return false;
}
