// Out-of-memory runs in the manner of SQLite's tests: an operation is run
// again and again with its Nth allocation failing, N = 1, 2, 3 ..., until a
// run in which no allocation was refused; the caller checks every run.
#pragma once
#include "base/memory.h"
#include <gtest/gtest.h>
#include <functional>

struct FailureRun
{
    int n;           // the allocation made to fail, counted from 1
    bool refused;    // the hook refused an allocation during the run
    long liveBefore; // blocks alive when the run began (after prepare)
};

enum FailureMode
{
    FailOnce,  // only the Nth allocation fails
    FailStays  // the Nth and every later allocation fail
};

// prepare runs before each run with failures off; check runs after it,
// failures off again. Returns the number of runs in which an allocation
// was refused (the final, untouched run not counted).
inline int FailEachAllocationInTurn(const std::function<void()>& prepare,
                                    const std::function<void()>& run,
                                    const std::function<void(const FailureRun&)>& check,
                                    FailureMode mode = FailOnce)
{
    const int limit = 100000;
    for (int n = 1; n < limit; n++)
    {
        if (prepare)
            prepare();
        FailureRun result = {n, false, MemLiveBlocks()};
        long refusals = MemRefusals();
        if (mode == FailOnce)
            MemFailNth(n);
        else
            MemFailFrom(n);
        run();
        MemFailNth(0);
        result.refused = MemRefusals() != refusals;
        check(result);
        if (!result.refused)
            return n - 1;
        if (::testing::Test::HasFatalFailure())
            return n;
    }
    ADD_FAILURE() << "still refusing allocations after " << limit << " runs";
    return limit;
}

inline int FailEachAllocationInTurn(const std::function<void()>& run,
                                    const std::function<void(const FailureRun&)>& check,
                                    FailureMode mode = FailOnce)
{
    return FailEachAllocationInTurn(nullptr, run, check, mode);
}
