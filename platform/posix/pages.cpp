#include "platform/pages.h"

#include <sys/mman.h>

void* CommitPages(size_t nSize)
{
    void* p = ::mmap(nullptr, nSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void ReleasePages(void* pBlock, size_t nSize)
{
    if (pBlock != nullptr)
        ::munmap(pBlock, nSize);
}
