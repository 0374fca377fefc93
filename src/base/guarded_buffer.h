// A text buffer for a plugin to write into that ends directly in front of
// an inaccessible page, so a write past its end faults at once instead of
// running over the server's stack or heap.
#pragma once
#include "compat.h"

struct CGuardedBuffer
{
    char* chars = nullptr; // null when the region could not be made
    void* region = nullptr;

    // The buffer starts 16-byte aligned, so its usable size is rounded up
    // to a multiple of 16: at most 15 bytes more than asked for.
    explicit CGuardedBuffer(int size);
    ~CGuardedBuffer();
    CGuardedBuffer(const CGuardedBuffer&) = delete;
    CGuardedBuffer& operator=(const CGuardedBuffer&) = delete;
};
