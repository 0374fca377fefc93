#include "memory.h"
#include <stdlib.h>

static int FailCountdown;
static long LiveBlocks;

static bool ShouldFail()
{
    if (FailCountdown <= 0)
        return false;
    return --FailCountdown == 0;
}

void* MemAlloc(size_t size)
{
    if (ShouldFail())
        return nullptr;
    void* block = malloc(size ? size : 1);
    if (block)
        LiveBlocks++;
    return block;
}

void* MemRealloc(void* block, size_t size)
{
    if (!block)
        return MemAlloc(size);
    if (ShouldFail())
        return nullptr;
    return realloc(block, size ? size : 1);
}

void MemFree(void* block)
{
    if (!block)
        return;
    LiveBlocks--;
    free(block);
}

void MemFailNth(int n) { FailCountdown = n; }
long MemLiveBlocks() { return LiveBlocks; }
