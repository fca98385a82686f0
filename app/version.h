#pragma once
// The program's version, as the build gives it from the one place it is set (the project's
// version in CMakeLists.txt); both programs print it for --version.

// "1.0.0" and the like.
const char* GetProgramVersion();
