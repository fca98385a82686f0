#pragma once
// Unpacks the program's skin file from the skin archive carried among its resources.

#include <cstddef>
#include <cstdint>
#include <string>

// The entry of the skin archive that the program uses.
constexpr int SKIN_ENTRY = 26;

// Unpacks entry nEntry of the embedded skin archive (resource "ZIPDB" / "IDR_SKIN") into
// strDirectory (the current directory when empty) under the entry's own name and returns that
// name. Returns an empty name when the archive is missing or unreadable, has no such entry, the
// name would point outside the directory, or the directory cannot be entered. A file that
// could not be written still gives its name: the caller then fails to load it and runs with
// the ordinary look.
std::string ExtractSkinFile(int nEntry, const std::string& strDirectory = std::string());

// The same over an archive block given by the caller.
std::string ExtractSkinFileFromBlock(const void* pData, size_t nSize, int nEntry,
                                     const std::string& strDirectory = std::string());
