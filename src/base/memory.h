// Heap access for the server's own data, with a hook that lets tests make
// a chosen allocation fail.
#pragma once
#include <stddef.h>

void* MemAlloc(size_t size);
void* MemRealloc(void* block, size_t size);
void MemFree(void* block);

// Test hook: the Nth allocation or reallocation from now fails (N >= 1);
// 0 turns failures off.
void MemFailNth(int n);
// Test hook: the Nth allocation from now and every one after it fail, until
// MemFailNth(0).
void MemFailFrom(int n);
// Number of blocks handed out and not yet freed.
long MemLiveBlocks();
// Number of allocations the hook has refused so far.
long MemRefusals();
