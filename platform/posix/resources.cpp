#include "platform/resources.h"

#include <cstring>

bool FindProgramResource(const char* pszType, const char* pszName, const uint8_t** ppData, size_t* pnSize)
{
    if (pszType == nullptr || pszName == nullptr)
        return false;
    for (const CResourceEntry* p = g_aEmbeddedResources; p->pszType != nullptr; ++p) {
        if (std::strcmp(p->pszType, pszType) == 0 && std::strcmp(p->pszName, pszName) == 0) {
            if (ppData != nullptr)
                *ppData = p->pBegin;
            if (pnSize != nullptr)
                *pnSize = static_cast<size_t>(p->pEnd - p->pBegin);
            return true;
        }
    }
    return false;
}
