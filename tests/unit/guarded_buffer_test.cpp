// Text buffers that end at an inaccessible page: every byte of the buffer
// is writable, the first byte past it faults, and the region goes away
// with the buffer.
#include "base/guarded_buffer.h"
#include "scan/seh_guard.h"
#include <gtest/gtest.h>
#include <stdint.h>

namespace {

struct Write
{
    volatile char* at;
};

void WriteOneByte(void* argument)
{
    *static_cast<Write*>(argument)->at = 'z';
}

uint32_t GuardedWrite(char* at)
{
    Write write = {at};
    return CallGuarded(WriteOneByte, &write);
}

DWORD Protection(const void* at)
{
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(at, &info, sizeof info) != sizeof info)
        return 0;
    return info.State == MEM_COMMIT ? info.Protect : 0;
}

TEST(GuardedBuffer, EveryByteIsWritableAndTheNextFaults)
{
    CGuardedBuffer buffer(1024);
    ASSERT_NE(buffer.chars, nullptr);
    for (int i = 0; i < 1024; i++)
        buffer.chars[i] = (char)i;
    EXPECT_EQ(buffer.chars[1023], (char)1023);
    EXPECT_EQ((uintptr_t)(buffer.chars + 1024) % 4096, 0u);
    EXPECT_EQ(Protection(buffer.chars + 1024), (DWORD)PAGE_NOACCESS);
    EXPECT_EQ(GuardedWrite(buffer.chars + 1023), 0u);
    EXPECT_EQ(GuardedWrite(buffer.chars + 1024), 0xC0000005u);
}

TEST(GuardedBuffer, StartsFreshAndZeroed)
{
    CGuardedBuffer buffer(1024);
    ASSERT_NE(buffer.chars, nullptr);
    int nonZero = 0;
    for (int i = 0; i < 1024; i++)
        nonZero += buffer.chars[i] != 0;
    EXPECT_EQ(nonZero, 0);
}

// 1025 bytes (a sub-plugin name, its terminator and the slack) become 1040,
// so the buffer starts on a 16-byte boundary.
TEST(GuardedBuffer, OddSizeRoundsUpToSixteen)
{
    CGuardedBuffer buffer(1025);
    ASSERT_NE(buffer.chars, nullptr);
    EXPECT_EQ((uintptr_t)buffer.chars % 16, 0u);
    EXPECT_EQ((uintptr_t)(buffer.chars + 1040) % 4096, 0u);
    EXPECT_EQ(GuardedWrite(buffer.chars + 1039), 0u);
    EXPECT_EQ(GuardedWrite(buffer.chars + 1040), 0xC0000005u);
}

// Larger than a page: the data takes whole pages and the guard follows.
TEST(GuardedBuffer, BufferLargerThanAPage)
{
    CGuardedBuffer buffer(5000);
    ASSERT_NE(buffer.chars, nullptr);
    EXPECT_EQ(GuardedWrite(buffer.chars), 0u);
    EXPECT_EQ(GuardedWrite(buffer.chars + 5007), 0u);
    EXPECT_EQ(GuardedWrite(buffer.chars + 5008), 0xC0000005u);
}

TEST(GuardedBuffer, RegionIsReleasedWithTheBuffer)
{
    char* chars = nullptr;
    {
        CGuardedBuffer buffer(1024);
        ASSERT_NE(buffer.chars, nullptr);
        chars = buffer.chars;
        EXPECT_EQ(Protection(chars), (DWORD)PAGE_READWRITE);
    }
    MEMORY_BASIC_INFORMATION info;
    ASSERT_EQ(VirtualQuery(chars, &info, sizeof info), sizeof info);
    EXPECT_EQ(info.State, (DWORD)MEM_FREE);
}

} // namespace
