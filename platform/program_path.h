#pragma once
// Where the program is and what it was given: its own path, the separator of its paths, the
// working directory and its arguments, each as the running system has them. Paths are UTF-8
// on every system.

#include <string>
#include <vector>

// The separator of directories in a path: '/' on Linux, '\\' on Windows.
extern const char g_cPathSeparator;

// The running program's full path (from /proc/self/exe on Linux, the module file name on
// Windows). False when the system does not tell it.
bool GetProgramPath(std::string* pstrPath);

// The working directory; false when the system does not tell it.
bool GetWorkingDirectory(std::string* pstrPath);

// Makes strPath the working directory; false, with the system's reason in *pstrReason when
// given, when it cannot be entered.
bool ChangeDirectory(const std::string& strPath, std::string* pstrReason = nullptr);

// strPath made absolute against the working directory; strPath itself when that fails.
std::string MakeAbsolutePath(const std::string& strPath);

// The program's arguments in UTF-8 (on Windows taken from the wide command line, so that a
// file named in any script arrives whole).
std::vector<std::string> TakeProgramArguments(int argc, char** argv);
