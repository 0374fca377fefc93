#include "seh_guard.h"
#include "../base/compat.h"

#if defined(_MSC_VER)

uint32_t CallGuarded(GuardedProc proc, void* argument)
{
    uint32_t code = 0;
    __try
    {
        proc(argument);
    }
    __except (code = GetExceptionCode(), EXCEPTION_EXECUTE_HANDLER)
    {
    }
    return code;
}

#elif defined(__i386__)

// GCC has no __try/__except. 32-bit Windows finds exception handlers through
// a chain of registration records on the stack, headed at fs:[0] (the
// thread's NT_TIB.ExceptionList), and __except code links one of its own.
// The guard links a record of its own with a jump buffer beside it; when an
// exception reaches the record's handler while it is being dispatched, the
// handler records the code, unwinds the frames linked after it (RtlUnwind
// runs their handlers' unwind calls and takes them off the chain, the
// dispatcher's own frame included) and jumps back into CallGuarded, which
// takes its record off the chain and returns the code. This follows the
// Windows x86 rules, so it holds on Windows as it does under Wine.
struct GuardRecord
{
    GuardRecord* next;           // the registration record: the chain's next one,
    void* handler;               // and the handler for this one
    void* jump[5];               // where CallGuarded goes on (__builtin_setjmp)
    volatile DWORD code;
};

const DWORD UnwindFlags = 0x2 /* unwinding */ | 0x4 /* exit unwind */;

static GuardRecord* ChainHead()
{
    GuardRecord* head;
    asm volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

static void SetChainHead(GuardRecord* head)
{
    asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}

extern "C" EXCEPTION_DISPOSITION __cdecl CallGuardedHandler(EXCEPTION_RECORD* record, void* frame,
                                                            CONTEXT*, void*)
{
    if (record->ExceptionFlags & UnwindFlags)
        return ExceptionContinueSearch;
    GuardRecord* guard = (GuardRecord*)frame;
    guard->code = record->ExceptionCode;
    RtlUnwind(frame, nullptr, record, nullptr);
    __builtin_longjmp(guard->jump, 1);
}

uint32_t CallGuarded(GuardedProc proc, void* argument)
{
    GuardRecord guard;
    guard.handler = (void*)CallGuardedHandler;
    guard.code = 0;
    guard.next = ChainHead();
    if (__builtin_setjmp(guard.jump) == 0)
    {
        SetChainHead(&guard);
        proc(argument);
    }
    SetChainHead(guard.next);
    return guard.code;
}

#else

// GCC has no __try/__except. A small thunk carries its own unwind data and
// language handler, as compiler-generated __except code does: when an
// exception passes through the thunk's frame during the search pass, the
// handler unwinds the stack to the thunk's landing label (running the
// unwind handlers of the frames in between) and returns the exception code
// there. This follows the Windows x64 unwinding rules, so it holds on
// Windows as it does under Wine.
extern "C" uint32_t CallGuardedThunk(GuardedProc proc, void* argument);
extern "C" char CallGuardedLanding[];

const DWORD UnwindFlags = 0x2 /* unwinding */ | 0x4 /* exit unwind */;

extern "C" EXCEPTION_DISPOSITION CallGuardedHandler(EXCEPTION_RECORD* record, void* frame,
                                                    CONTEXT*, DISPATCHER_CONTEXT* dispatch)
{
    if (record->ExceptionFlags & UnwindFlags)
        return ExceptionContinueSearch;
    RtlUnwindEx(frame, CallGuardedLanding, record, (void*)(uintptr_t)record->ExceptionCode,
                dispatch->ContextRecord, dispatch->HistoryTable);
    return ExceptionContinueSearch; // not reached
}

asm(".text\n"
    ".globl CallGuardedThunk\n"
    ".def CallGuardedThunk; .scl 2; .type 32; .endef\n"
    ".seh_proc CallGuardedThunk\n"
    "CallGuardedThunk:\n"
    "    subq $40, %rsp\n"
    "    .seh_stackalloc 40\n"
    "    .seh_endprologue\n"
    "    .seh_handler CallGuardedHandler, @except\n"
    "    movq %rcx, %rax\n"
    "    movq %rdx, %rcx\n"
    "    callq *%rax\n"
    "    xorl %eax, %eax\n"
    ".globl CallGuardedLanding\n"
    "CallGuardedLanding:\n"
    "    addq $40, %rsp\n"
    "    retq\n"
    ".seh_endproc\n");

uint32_t CallGuarded(GuardedProc proc, void* argument)
{
    return CallGuardedThunk(proc, argument);
}

#endif
