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
