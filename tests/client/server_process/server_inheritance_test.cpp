// What a server process inherits from its host: its own two pipe ends and
// nothing else, even when many servers start at the same moment from many
// threads, or the host holds inheritable handles of its own.
#include "build_paths.h"
#include "../client_support.h"
#include "processes.h"
#include "scratch_folder.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <atomic>
#include <ctime>
#include <memory>
#include <random>
#include <thread>

using clienttest::RealServer;
using testsupport::ChildProcesses;
using testsupport::SamplePath;
using testsupport::ScratchFolder;
using orvanta::RequestOutcome;
using orvanta::ScanServer;
using orvanta::Status;

namespace {

// A host's Close waits this long for a reader whose pipe another process
// still holds open before it gives up on it (scan_server.cpp).
const ULONGLONG ReaderGiveUpMs = 5000;

TEST(ServerInheritance, ServersStartedAtOnceFromManyThreadsEachEndByThemselvesInAnyOrder)
{
    ScratchFolder scratch;
    const size_t count = 8; // more than this machine's processors
    std::vector<std::unique_ptr<ScanServer>> servers;
    for (size_t i = 0; i < count; i++)
        servers.emplace_back(new ScanServer(RealServer(scratch)));
    std::vector<RequestOutcome> outcomes(count);
    std::atomic<size_t> waiting{0};
    std::vector<std::thread> starters;
    for (size_t i = 0; i < count; i++)
    {
        starters.emplace_back([&, i] {
            // All threads start their server at the same moment.
            ++waiting;
            while (waiting.load() < count)
                Sleep(0);
            outcomes[i] = servers[i]->Request(SamplePath(L"SampleEffect"));
        });
    }
    for (std::thread& t : starters)
        t.join();
    for (size_t i = 0; i < count; i++)
        EXPECT_EQ(outcomes[i].status, Status::ok) << i << ": " << outcomes[i].error;
    EXPECT_EQ(ChildProcesses(GetCurrentProcessId(), L"scanserver.exe").size(), count);

    // One at a time, each from a thread of its own: a server that held a
    // copy of another's output pipe end would keep that one's reader from
    // seeing the end, and its Stop would wait for the reader to give up.
    std::vector<size_t> order(count);
    for (size_t i = 0; i < count; i++)
        order[i] = i;
    unsigned seed = (unsigned)time(nullptr);
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::shuffle(order.begin(), order.end(), std::mt19937(seed));
    for (size_t i : order)
    {
        bool stopped = false;
        ULONGLONG took = 0;
        std::thread stopper([&] {
            ULONGLONG start = GetTickCount64();
            stopped = servers[i]->Stop();
            took = GetTickCount64() - start;
        });
        stopper.join();
        EXPECT_TRUE(stopped) << "server " << i << " had to be terminated";
        EXPECT_LT(took, ReaderGiveUpMs) << "server " << i << ": its output stayed open after it ended";
        EXPECT_FALSE(servers[i]->Running()) << i;
    }
    EXPECT_EQ(ChildProcesses(GetCurrentProcessId(), L"scanserver.exe").size(), 0u);
}

TEST(ServerInheritance, HandleTheHostMadeInheritableStaysOutOfTheServer)
{
    ScratchFolder scratch;
    // A pipe whose write end the host made inheritable on purpose. Once the
    // host closes that end, the pipe is broken unless a copy lives on in
    // another process.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
    ASSERT_TRUE(SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0));

    ScanServer server(RealServer(scratch));
    RequestOutcome out = server.Request(SamplePath(L"SampleEffect"));
    ASSERT_EQ(out.status, Status::ok) << out.error;
    ASSERT_TRUE(server.Running());

    ASSERT_TRUE(CloseHandle(writeEnd));
    DWORD available = 0;
    BOOL peeked = PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr);
    DWORD error = GetLastError();
    EXPECT_FALSE(peeked) << "the running server holds the write end";
    EXPECT_EQ(error, (DWORD)ERROR_BROKEN_PIPE);
    EXPECT_TRUE(server.Stop());
    CloseHandle(readEnd);
}

} // namespace
