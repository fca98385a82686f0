#pragma once
// The console's requests to stop a command-line program, as one notice: SIGINT, SIGTERM,
// SIGHUP and SIGQUIT on Linux; Ctrl-C, Ctrl-Break and closing the console window on Windows.

#include <functional>
#include <memory>

class CConsoleCancel {
public:
    // From now until destruction, each request calls fnCancel (with the signal or control
    // event number) on a thread of the watcher's own. On Linux, construct it before any other
    // thread starts, so that every thread inherits the blocked signals.
    explicit CConsoleCancel(std::function<void(int)> fnCancel);
    ~CConsoleCancel();
    CConsoleCancel(const CConsoleCancel&) = delete;
    CConsoleCancel& operator=(const CConsoleCancel&) = delete;

private:
    struct CImpl;
    std::unique_ptr<CImpl> m_pImpl;
};

// A write to a closed pipe (the reader of our output went away) fails instead of ending the
// program: a transfer must still end with its end-of-transfer byte. Windows has no such signal.
void IgnoreClosedOutput();
