// Which host callback calls belong to the probe running now: the probing
// thread's and those of threads started while the probe ran. Every other
// call is answered as usual and leaves no line and no flag.
#include "host/probe_threads.h"
#include "host/vst2_host_callback.h"
#include "output_capture.h"
#include <gtest/gtest.h>

namespace {

const std::string VersionLine = "info:Audio master callback: 1 - audioMasterVersion\n";

// A thread that calls the host whenever it is told to, and reports the
// answer back, so a test decides when it starts and when it calls. A
// thread's start is when it first runs: the constructor waits for that.
class CallingThread
{
public:
    CallingThread()
    {
        m_go = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        m_done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        m_thread = CreateThread(nullptr, 0, Main, this, 0, nullptr);
        WaitForSingleObject(m_done, INFINITE);
    }
    ~CallingThread()
    {
        m_quit = true;
        SetEvent(m_go);
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
        CloseHandle(m_go);
        CloseHandle(m_done);
    }
    intptr_t Call(int32_t opcode, void* ptr = nullptr)
    {
        m_opcode = opcode;
        m_ptr = ptr;
        SetEvent(m_go);
        WaitForSingleObject(m_done, INFINITE);
        return m_answer;
    }

private:
    static DWORD WINAPI Main(void* argument)
    {
        CallingThread* self = static_cast<CallingThread*>(argument);
        SetEvent(self->m_done);
        for (;;)
        {
            WaitForSingleObject(self->m_go, INFINITE);
            if (self->m_quit)
                return 0;
            self->m_answer = Vst2HostCallback(nullptr, self->m_opcode, 0, 0, self->m_ptr, 0);
            SetEvent(self->m_done);
        }
    }

    HANDLE m_thread, m_go, m_done;
    volatile bool m_quit = false;
    int32_t m_opcode = 0;
    void* m_ptr = nullptr;
    intptr_t m_answer = 0;
};

TEST(ProbeThreads, CallOutsideAProbeIsAnsweredSilently)
{
    OutputCapture out;
    Vst2PluginWantsMidi = false;
    EXPECT_EQ(Vst2HostCallback(nullptr, 1, 0, 0, nullptr, 0), 2400);
    EXPECT_EQ(Vst2HostCallback(nullptr, 6, 0, 0, nullptr, 0), 0);
    EXPECT_EQ(Vst2HostCallback(nullptr, 7, 0, 0, nullptr, 0), 0); // would warn in a probe
    char capability[] = "sendVstEvents";
    EXPECT_EQ(Vst2HostCallback(nullptr, 37, 0, 0, capability, 0), 1);
    char vendor[64] = "";
    EXPECT_EQ(Vst2HostCallback(nullptr, 32, 0, 0, vendor, 0), 1);
    EXPECT_STREQ(vendor, "Zandrel Software");
    EXPECT_FALSE(Vst2PluginWantsMidi);
    EXPECT_EQ(out.Take(), "");
}

TEST(ProbeThreads, ProbingThreadIsLoggedUntilTheProbeEnds)
{
    OutputCapture out;
    BeginProbe();
    EXPECT_EQ(Vst2HostCallback(nullptr, 1, 0, 0, nullptr, 0), 2400);
    EndProbe();
    EXPECT_EQ(Vst2HostCallback(nullptr, 1, 0, 0, nullptr, 0), 2400);
    EXPECT_EQ(out.Take(), VersionLine);
}

TEST(ProbeThreads, ThreadStartedDuringTheProbeIsLoggedAndSetsTheFlag)
{
    OutputCapture out;
    Vst2PluginWantsMidi = false;
    BeginProbe();
    {
        CallingThread helper;
        EXPECT_EQ(helper.Call(1), 2400);
        EXPECT_EQ(helper.Call(6), 0);
        EXPECT_TRUE(Vst2PluginWantsMidi);
        EndProbe();
        // The same thread after the probe: answered, not logged.
        Vst2PluginWantsMidi = false;
        EXPECT_EQ(helper.Call(6), 0);
        EXPECT_EQ(helper.Call(1), 2400);
        EXPECT_FALSE(Vst2PluginWantsMidi);
    }
    EXPECT_EQ(out.Take(), VersionLine + "info:Audio master callback: 6 - audioMasterWantMidi\n");
}

TEST(ProbeThreads, ThreadOlderThanTheProbeIsAnsweredSilently)
{
    OutputCapture out;
    Vst2PluginWantsMidi = false;
    CallingThread older; // started between probes
    BeginProbe();
    EXPECT_EQ(older.Call(1), 2400);
    EXPECT_EQ(older.Call(6), 0);
    EXPECT_FALSE(Vst2PluginWantsMidi);
    EndProbe();
    EXPECT_EQ(out.Take(), "");
}

TEST(ProbeThreads, ThreadOfAnEarlierProbeIsAnsweredSilentlyInTheNext)
{
    OutputCapture out;
    Vst2PluginWantsMidi = false;
    BeginProbe();
    CallingThread earlier;
    EXPECT_EQ(earlier.Call(1), 2400);
    EndProbe();
    BeginProbe();
    char capability[] = "receiveVstMidiEvent";
    EXPECT_EQ(earlier.Call(37, capability), 1);
    EXPECT_EQ(earlier.Call(6), 0);
    EXPECT_EQ(earlier.Call(7), 0);
    EXPECT_FALSE(Vst2PluginWantsMidi);
    EXPECT_EQ(Vst2HostCallback(nullptr, 1, 0, 0, nullptr, 0), 2400); // the probing thread still is
    EndProbe();
    EXPECT_EQ(out.Take(), VersionLine + VersionLine);
}

} // namespace
