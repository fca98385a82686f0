#pragma once
// Who holds a device open: when a port is busy, the operator is better served by "held by
// ModemManager (pid 612)" than by "another program is using it".

#include <string>

struct CPortHolder {
    int nPid = 0;
    std::string strCommand; // the process's command name, as the system shows it
};

// Looks through the open files of the processes this user may see for one that has the device
// at strDevicePath open (the same device, by its device number, whatever path opened it); of
// several, the one holding the device's lock. Our own process is never named. False when no holder can be seen: the device is held by a
// process of another user, or it is not a device at all.
bool FindPortHolder(const std::string& strDevicePath, CPortHolder* pHolder);

// True for the modem manager service that probes every new serial adapter and keeps it open
// while it does, which is the usual holder of a port nobody else should be using.
bool IsModemManager(const CPortHolder& holder);
