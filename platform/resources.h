#pragma once
// The program's own resources: files from res/ compiled into the program at build time
// and looked up by type and name, as a desktop program finds its module resources.

#include <cstddef>
#include <cstdint>

struct CResourceEntry {
    const char* pszType;
    const char* pszName;
    const unsigned char* pBegin;
    const unsigned char* pEnd;
};

// Finds the resource of the given type and name (both compared exactly). Returns false
// when the program carries no such resource; the bytes stay valid for the whole run.
// The table the build generates from res/, ended by an entry whose type is null.
extern const CResourceEntry g_aEmbeddedResources[];

bool FindProgramResource(const char* pszType, const char* pszName, const uint8_t** ppData, size_t* pnSize);
