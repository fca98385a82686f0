#include "platform/console_output.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

int DescriptorOf(EConsoleStream eStream)
{
    return eStream == EConsoleStream::Output ? STDOUT_FILENO : STDERR_FILENO;
}

} // namespace

// A Linux terminal needs no preparing: it takes UTF-8 and its sequences as they come.
CConsoleSession::CConsoleSession() = default;

CConsoleSession::~CConsoleSession() = default;

bool IsConsoleTerminal(EConsoleStream eStream)
{
    return ::isatty(DescriptorOf(eStream)) != 0;
}

int GetConsoleColumns(EConsoleStream eStream)
{
    struct winsize size {};
    if (::ioctl(DescriptorOf(eStream), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

bool DoesConsoleFollowSequences(EConsoleStream eStream)
{
    const char* pszTerm = std::getenv("TERM");
    return IsConsoleTerminal(eStream) && !(pszTerm != nullptr && std::strcmp(pszTerm, "dumb") == 0);
}

bool WriteConsoleText(EConsoleStream eStream, std::string_view svText)
{
    const int fd = DescriptorOf(eStream);
    while (!svText.empty()) {
        const ssize_t nWritten = ::write(fd, svText.data(), svText.size());
        if (nWritten < 0 && errno == EINTR)
            continue;
        if (nWritten <= 0)
            return false;
        svText.remove_prefix(static_cast<size_t>(nWritten));
    }
    return true;
}
