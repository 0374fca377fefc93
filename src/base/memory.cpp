#include "memory.h"
#include <stdlib.h>

static int FailCountdown;
static bool FailureStays;
static long LiveBlocks;
static long RefusedCount;

static bool ShouldFail()
{
    if (FailCountdown <= 0)
        return false;
    bool fail = FailCountdown == 1;
    if (!fail || !FailureStays)
        FailCountdown--;
    if (fail)
        RefusedCount++;
    return fail;
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

void MemFailNth(int n)
{
    FailCountdown = n;
    FailureStays = false;
}

void MemFailFrom(int n)
{
    FailCountdown = n;
    FailureStays = true;
}

long MemLiveBlocks() { return LiveBlocks; }
long MemRefusals() { return RefusedCount; }
