#include "platform/posix/com_ports.h"
#include "platform/posix/posix_serial.h"

#include "platform/file_util.h"
#include "text/printable.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <strings.h>

namespace {

constexpr int KERNEL_PORTS_PER_FAMILY = 32;

std::string ReadFirstLine(const std::string& strPath)
{
    std::ifstream in(strPath);
    std::string strLine;
    if (!in || !std::getline(in, strLine))
        return std::string();
    while (!strLine.empty() && (strLine.back() == '\r' || strLine.back() == ' '))
        strLine.pop_back();
    return strLine;
}

bool PathExists(const std::string& strPath)
{
    struct stat st {};
    return ::stat(strPath.c_str(), &st) == 0;
}

std::string ReadLinkText(const std::string& strPath)
{
    char szTarget[PATH_MAX];
    ssize_t nLength = ::readlink(strPath.c_str(), szTarget, sizeof(szTarget) - 1);
    if (nLength < 0)
        return std::string();
    return std::string(szTarget, static_cast<size_t>(nLength));
}

std::string CanonicalPath(const std::string& strPath)
{
    char* pszReal = ::realpath(strPath.c_str(), nullptr);
    if (pszReal == nullptr)
        return std::string();
    std::string strReal(pszReal);
    std::free(pszReal);
    return strReal;
}

std::string BaseName(const std::string& strPath)
{
    size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

// Why a ports directory that could not be opened was not read: 0 when it simply is not there,
// which only means that nothing is linked yet.
int UnreadableDirectoryErrno(int nErrno)
{
    return nErrno == ENOENT ? 0 : nErrno;
}

// The entry in strDir that names COMn, preferring the upper-case spelling; "" when none, with
// *pnDirErrno saying why when the directory is there but cannot be read.
std::string FindLinkName(const std::string& strDir, int nPort, int* pnDirErrno = nullptr)
{
    std::vector<std::string> aNames;
    int nDirErrno = 0;
    if (DIR* pDir = ::opendir(strDir.c_str())) {
        while (struct dirent* pEntry = ::readdir(pDir)) {
            if (ParseComPortName(pEntry->d_name) == nPort)
                aNames.emplace_back(pEntry->d_name);
        }
        ::closedir(pDir);
    } else {
        nDirErrno = UnreadableDirectoryErrno(errno);
    }
    if (pnDirErrno != nullptr)
        *pnDirErrno = nDirErrno;
    if (aNames.empty())
        return std::string();
    std::sort(aNames.begin(), aNames.end());
    return aNames.front();
}

// Creates strDir and its parents. Directories we create are private to the user.
bool MakeDirectories(const std::string& strDir)
{
    if (strDir.empty())
        return false;
    struct stat st {};
    if (::stat(strDir.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    std::string strParent = DirectoryOf(strDir);
    if (strParent != strDir && !MakeDirectories(strParent))
        return false;
    return ::mkdir(strDir.c_str(), 0700) == 0 || errno == EEXIST;
}

} // namespace

std::string GetPortsDirectory(const CDeviceRoots& roots)
{
    const char* pszDir = std::getenv("MATRIX_PORTS_DIR");
    if (pszDir != nullptr && *pszDir != '\0')
        return pszDir;
    const char* pszRuntime = std::getenv("XDG_RUNTIME_DIR");
    if (pszRuntime != nullptr && *pszRuntime != '\0')
        return std::string(pszRuntime) + "/matrix-update/ports";
    return roots.strTmp + "/matrix-update-" + std::to_string(::getuid()) + "/ports";
}

namespace {

// True when strPath itself (not a link to it) is a directory owned by this user.
bool IsDirectoryOwnedByUser(const std::string& strPath)
{
    struct stat st {};
    return ::lstat(strPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

// True when the ports directory is the shared /tmp fall-back.
bool IsSharedPortsDirectory()
{
    const char* pszOverride = std::getenv("MATRIX_PORTS_DIR");
    const char* pszRuntime = std::getenv("XDG_RUNTIME_DIR");
    return (pszOverride == nullptr || *pszOverride == '\0') && (pszRuntime == nullptr || *pszRuntime == '\0');
}

} // namespace

bool IsPortsDirectoryTrusted(const CDeviceRoots& roots)
{
    if (!IsSharedPortsDirectory())
        return true;
    const std::string strDir = GetPortsDirectory(roots);
    return IsDirectoryOwnedByUser(strDir) && IsDirectoryOwnedByUser(DirectoryOf(strDir));
}

bool IsCharacterDevice(const std::string& strPath)
{
    struct stat st {};
    return ::stat(strPath.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

bool IsPtyMultiplexer(dev_t nDevice)
{
    // Fixed by the kernel for /dev/ptmx; the ptmx node of a devpts mount has the same numbers.
    return major(nDevice) == 5 && minor(nDevice) == 2;
}

bool IsTerminalDevice(const std::string& strPath)
{
    struct stat st {};
    if (::stat(strPath.c_str(), &st) != 0 || !S_ISCHR(st.st_mode) || IsPtyMultiplexer(st.st_rdev))
        return false;
    // Each line: driver name, device path, major, minor or minor range, type.
    std::ifstream drivers("/proc/tty/drivers");
    if (!drivers)
        return true; // no way to tell: a character device is given the benefit of the doubt
    const unsigned int nMajor = major(st.st_rdev);
    const unsigned int nMinor = minor(st.st_rdev);
    std::string strLine;
    while (std::getline(drivers, strLine)) {
        char szName[64], szPath[128], szMinors[64];
        unsigned int nDriverMajor = 0;
        if (std::sscanf(strLine.c_str(), "%63s %127s %u %63s", szName, szPath, &nDriverMajor, szMinors) != 4
            || nDriverMajor != nMajor)
            continue;
        unsigned int nFirst = 0, nLast = 0;
        const int nFields = std::sscanf(szMinors, "%u-%u", &nFirst, &nLast);
        if (nFields < 1)
            continue;
        if (nFields == 1)
            nLast = nFirst;
        if (nMinor >= nFirst && nMinor <= nLast)
            return true;
    }
    return false;
}

bool ProbeComDevice(const std::string& strPath)
{
    // Opening the multiplexer would make a terminal only to throw it away.
    struct stat st {};
    if (::stat(strPath.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && IsPtyMultiplexer(st.st_rdev))
        return false;
    // Non-blocking, so that a modem line cannot hold the open.
    int nFd = ::open(strPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (nFd >= 0) {
        // Only a terminal is a port: /dev/null opens just as well.
        const bool bTerminal = ::isatty(nFd) != 0;
        ::close(nFd);
        return bTerminal;
    }
    return IsPresentButUnavailable(errno);
}

std::string KernelDeviceForComPort(int nPort, const CDeviceRoots& roots)
{
    static const char* const apszFamilies[] = {"ttyS", "ttyUSB", "ttyACM"};
    if (nPort < 1 || nPort > 3 * KERNEL_PORTS_PER_FAMILY)
        return std::string();
    int nFamily = (nPort - 1) / KERNEL_PORTS_PER_FAMILY;
    int nIndex = (nPort - 1) % KERNEL_PORTS_PER_FAMILY;
    return roots.strDev + "/" + apszFamilies[nFamily] + std::to_string(nIndex);
}

bool IsRealUart(int nIndex, const CDeviceRoots& roots)
{
    // The kernel makes ttyS nodes for UARTs it only might have; the unreal ones have no
    // hardware device behind them, or report the type "unknown" (0).
    std::string strTty = roots.strSys + "/class/tty/ttyS" + std::to_string(nIndex);
    if (!PathExists(strTty + "/device"))
        return false;
    std::string strType = ReadFirstLine(strTty + "/type");
    if (!strType.empty())
        return std::atoi(strType.c_str()) != PORT_UNKNOWN;
    // Without the sysfs attribute, ask the driver. O_NONBLOCK so that an absent carrier
    // cannot hold the open; closed at once.
    std::string strDevice = roots.strDev + "/ttyS" + std::to_string(nIndex);
    int nFd = ::open(strDevice.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (nFd < 0)
        return IsPresentButUnavailable(errno);
    struct serial_struct serial {};
    bool bReal = ::ioctl(nFd, TIOCGSERIAL, &serial) == 0 && serial.type != PORT_UNKNOWN;
    ::close(nFd);
    return bReal;
}

std::vector<int> ListLinkedComPorts(const std::string& strDir, std::vector<std::string>* pastrOutOfRange,
                                    int* pnDirErrno)
{
    std::set<int> ports;
    std::set<std::string> outOfRange;
    int nDirErrno = 0;
    if (DIR* pDir = ::opendir(strDir.c_str())) {
        while (struct dirent* pEntry = ::readdir(pDir)) {
            int nPort = ParseComPortName(pEntry->d_name);
            if (nPort > 0)
                ports.insert(nPort);
            else if (ParseComNameNumber(pEntry->d_name) > 0)
                outOfRange.insert(pEntry->d_name);
        }
        ::closedir(pDir);
    } else {
        nDirErrno = UnreadableDirectoryErrno(errno);
    }
    if (pnDirErrno != nullptr)
        *pnDirErrno = nDirErrno;
    if (pastrOutOfRange != nullptr)
        pastrOutOfRange->assign(outOfRange.begin(), outOfRange.end());
    return std::vector<int>(ports.begin(), ports.end());
}

CComPortResolution ResolveComPort(int nPort, const CDeviceRoots& roots)
{
    CComPortResolution result;
    result.strPortsDir = GetPortsDirectory(roots);
    result.strKernelDevice = KernelDeviceForComPort(nPort, roots);
    if (!IsComPortInRange(nPort))
        return result;

    // Links in a directory another user could have filled are not believed.
    std::string strLinkName = IsPortsDirectoryTrusted(roots)
                                  ? FindLinkName(result.strPortsDir, nPort, &result.nPortsDirErrno)
                                  : std::string();
    if (!strLinkName.empty()) {
        // The link is the user's word for this port: it holds even when its device is gone,
        // rather than quietly opening whatever the kernel rule would give.
        result.bResolved = true;
        result.bLinked = true;
        result.strLinkPath = result.strPortsDir + "/" + strLinkName;
        result.strOpenPath = result.strLinkPath;
        result.strDevice = CanonicalPath(result.strLinkPath);
        if (result.strDevice.empty()) {
            std::string strTarget = ReadLinkText(result.strLinkPath);
            if (strTarget.empty())
                result.strDevice = result.strLinkPath;
            else if (strTarget[0] == '/')
                result.strDevice = strTarget;
            else
                result.strDevice = result.strPortsDir + "/" + strTarget;
        }
        return result;
    }

    if (result.strKernelDevice.empty() || !IsCharacterDevice(result.strKernelDevice))
        return result;
    if (nPort <= KERNEL_PORTS_PER_FAMILY && !IsRealUart(nPort - 1, roots))
        return result;
    result.bResolved = true;
    result.strOpenPath = result.strKernelDevice;
    result.strDevice = result.strKernelDevice;
    return result;
}

bool RegisterComPortLink(int nPort, const std::string& strDevice, std::string* pstrError)
{
    auto fail = [&](const std::string& strText) {
        if (pstrError != nullptr)
            *pstrError = strText;
        return false;
    };
    const std::string strDir = GetPortsDirectory();
    if (!MakeDirectories(strDir))
        return fail("Cannot create the ports directory " + EscapeForTerminal(strDir) + ": " + std::strerror(errno) + ".");
    // A directory anyone could have made in /tmp must be ours before we put links in it.
    if (!IsDirectoryOwnedByUser(strDir) || !IsPortsDirectoryTrusted())
        return fail("The ports directory " + EscapeForTerminal(strDir) + " is not a directory owned by this user.");

    const std::string strName = "COM" + std::to_string(nPort);
    // Links for this number in any letter case: a live one belonging to another device is
    // left alone; stale ones (their device is gone) are cleared away.
    for (;;) {
        std::string strExisting = FindLinkName(strDir, nPort);
        if (strExisting.empty())
            break;
        std::string strPath = strDir + "/" + strExisting;
        std::string strTarget = CanonicalPath(strPath);
        if (!strTarget.empty() && IsCharacterDevice(strPath) && strTarget != CanonicalPath(strDevice))
            return fail(strName + " is already linked to " + EscapeForTerminal(strTarget) + " in " + EscapeForTerminal(strDir)
                        + "; choose another port number or remove that link.");
        if (::unlink(strPath.c_str()) != 0)
            return fail("Cannot remove the old link " + EscapeForTerminal(strPath) + ": " + std::strerror(errno) + ".");
    }
    const std::string strLink = strDir + "/" + strName;
    if (::symlink(strDevice.c_str(), strLink.c_str()) != 0)
        return fail("Cannot link " + EscapeForTerminal(strLink) + " to " + EscapeForTerminal(strDevice) + ": " + std::strerror(errno) + ".");
    return true;
}

bool RemoveComPortLink(int nPort, const std::string& strDevice)
{
    const std::string strDir = GetPortsDirectory();
    std::string strName = FindLinkName(strDir, nPort);
    if (strName.empty())
        return false;
    std::string strLink = strDir + "/" + strName;
    // Only our own link: another program may have registered the number since.
    if (ReadLinkText(strLink) != strDevice)
        return false;
    return ::unlink(strLink.c_str()) == 0;
}

void ReadUsbIdentity(const std::string& strDevice, std::string* pstrUsbId, std::string* pstrSerialNumber,
                     const CDeviceRoots& roots)
{
    pstrUsbId->clear();
    pstrSerialNumber->clear();
    std::string strReal = CanonicalPath(strDevice);
    if (strReal.empty())
        strReal = strDevice;
    std::string strDir = CanonicalPath(roots.strSys + "/class/tty/" + BaseName(strReal) + "/device");
    // The USB device (with idVendor) sits a few levels above the tty's interface.
    for (int nLevel = 0; nLevel < 5 && strDir.size() > 1; ++nLevel) {
        const std::string strVendor = ReadFirstLine(strDir + "/idVendor");
        const std::string strProduct = ReadFirstLine(strDir + "/idProduct");
        if (!strVendor.empty() && !strProduct.empty()) {
            *pstrUsbId = strVendor + ":" + strProduct;
            *pstrSerialNumber = ReadFirstLine(strDir + "/serial");
            return;
        }
        strDir = DirectoryOf(strDir);
    }
}

std::string DescribeComDevice(const std::string& strDevice, const CDeviceRoots& roots)
{
    std::string strReal = CanonicalPath(strDevice);
    if (strReal.empty())
        strReal = strDevice;
    if (strReal.rfind(roots.strDev + "/pts/", 0) == 0)
        return "pseudo-terminal";
    std::string strTty = roots.strSys + "/class/tty/" + BaseName(strReal);
    std::string strDeviceDir = CanonicalPath(strTty + "/device");
    if (strDeviceDir.empty())
        return std::string();
    // USB serial ports sit one or two levels below the USB device that knows its product name.
    std::string strDir = strDeviceDir;
    for (int nLevel = 0; nLevel < 4 && strDir.size() > 1; ++nLevel) {
        std::string strProduct = ReadFirstLine(strDir + "/product");
        if (!strProduct.empty())
            return strProduct;
        strDir = DirectoryOf(strDir);
    }
    // Newer kernels put a generic serial-base "port" device between the tty and the driver
    // that actually knows the hardware; look past it.
    strDir = strDeviceDir;
    for (int nLevel = 0; nLevel < 4 && strDir.size() > 1; ++nLevel) {
        std::string strDriver = ReadLinkText(strDir + "/driver");
        if (!strDriver.empty() && strDriver.find("/serial-base/") == std::string::npos)
            return BaseName(strDriver);
        strDir = DirectoryOf(strDir);
    }
    return std::string();
}
