#pragma once
// Memory straight from the system's pages, for blocks that want to be page-granular and
// zero-filled without clearing them (the bitmap holder's pixels).

#include <cstddef>

// Committed, read-write, zero-filled memory of nSize bytes; nullptr when none can be had.
void* CommitPages(size_t nSize);
// Gives back a block of CommitPages with the size it was made with.
void ReleasePages(void* pBlock, size_t nSize);
