#include "guarded_buffer.h"

static SIZE_T PageSize()
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    return system.dwPageSize;
}

// Each buffer has a region of its own, freed afterwards: a plugin that kept
// the pointer faults on a later write instead of changing another text.
CGuardedBuffer::CGuardedBuffer(int size)
{
    SIZE_T page = PageSize();
    SIZE_T usable = ((SIZE_T)(size > 0 ? size : 1) + 15) & ~(SIZE_T)15;
    SIZE_T data = (usable + page - 1) / page * page;
    char* base = (char*)VirtualAlloc(nullptr, data + page, MEM_RESERVE | MEM_COMMIT,
                                     PAGE_READWRITE);
    if (!base)
        return;
    DWORD old = 0;
    if (!VirtualProtect(base + data, page, PAGE_NOACCESS, &old))
    {
        VirtualFree(base, 0, MEM_RELEASE);
        return;
    }
    region = base;
    chars = base + data - usable;
}

CGuardedBuffer::~CGuardedBuffer()
{
    if (region)
        VirtualFree(region, 0, MEM_RELEASE);
}
