// The guard that swallows crashes inside a plugin's effClose.
#include "scan/seh_guard.h"
#include <windows.h>
#include <gtest/gtest.h>

namespace {

// An address the compiler cannot prove invalid, so the write stays a write.
volatile uintptr_t LowAddress = 16;

void WriteToLowAddress(void*)
{
    *(volatile int*)LowAddress = 1;
}

void DivideByZero(void* argument)
{
    volatile int zero = *(int*)argument;
    volatile int result = 10 / zero;
    (void)result;
}

void CountCall(void* argument)
{
    ++*(int*)argument;
}

void RaiseCustom(void*)
{
    RaiseException(0xE0001234, 0, 0, nullptr);
}

void ThrowAndCatchInside(void* argument)
{
    try
    {
        throw 42;
    }
    catch (int value)
    {
        *(int*)argument = value;
    }
}

TEST(SehGuard, NormalReturnGivesZero)
{
    int calls = 0;
    EXPECT_EQ(CallGuarded(CountCall, &calls), 0u);
    EXPECT_EQ(calls, 1);
}

TEST(SehGuard, CrashesGiveTheirCodeAndTheCallerGoesOn)
{
    EXPECT_EQ(CallGuarded(WriteToLowAddress, nullptr), (uint32_t)EXCEPTION_ACCESS_VIOLATION);
    int zero = 0;
    EXPECT_EQ(CallGuarded(DivideByZero, &zero), (uint32_t)EXCEPTION_INT_DIVIDE_BY_ZERO);
    EXPECT_EQ(CallGuarded(RaiseCustom, nullptr), 0xE0001234u);
}

TEST(SehGuard, ExceptionsHandledInsideAreLeftAlone)
{
    int caught = 0;
    EXPECT_EQ(CallGuarded(ThrowAndCatchInside, &caught), 0u);
    EXPECT_EQ(caught, 42);
}

// Many faults in a row leave the stack and the registers the caller keeps
// intact: locals survive and the stack pointer comes back where it was.
TEST(SehGuard, ThousandsOfFaultsKeepTheFrameIntact)
{
    volatile int sentinel = 0x5EED;
    char marker;
    uintptr_t before = (uintptr_t)&marker;
    for (int i = 0; i < 5000; i++)
        ASSERT_EQ(CallGuarded(WriteToLowAddress, nullptr), (uint32_t)EXCEPTION_ACCESS_VIOLATION);
    char after;
    EXPECT_EQ(sentinel, 0x5EED);
    EXPECT_LT((before > (uintptr_t)&after ? before - (uintptr_t)&after : (uintptr_t)&after - before),
              4096u);
}

DWORD WINAPI GuardOnThread(void* result)
{
    *(uint32_t*)result = CallGuarded(WriteToLowAddress, nullptr);
    return 0;
}

TEST(SehGuard, WorksOnAnotherThread)
{
    uint32_t result = 0;
    HANDLE thread = CreateThread(nullptr, 0, GuardOnThread, &result, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(result, (uint32_t)EXCEPTION_ACCESS_VIOLATION);
}

} // namespace
