#include "platform/pages.h"

#include <windows.h>

void* CommitPages(size_t nSize)
{
    return ::VirtualAlloc(nullptr, nSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void ReleasePages(void* pBlock, size_t)
{
    if (pBlock != nullptr)
        ::VirtualFree(pBlock, 0, MEM_RELEASE);
}
