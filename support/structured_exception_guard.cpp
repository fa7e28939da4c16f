#include "support/structured_exception_guard.h"

#if defined(__i386__)

// How it works (32-bit x86): a record {Next, Handler, jump buffer} lives in RunGuardedCall's stack
// frame and is linked at the head of the thread's handler chain (NT_TIB::ExceptionList, fs:[0])
// while the call runs. When a fault reaches the handler, it unwinds every frame registered after
// the record (RtlUnwind, which also runs their termination handlers and leaves the record at the
// head of the chain) and jumps back into RunGuardedCall with __builtin_longjmp. RunGuardedCall
// then unlinks the record on every path (return, fault, C++ exception) and returns E_ABORT or the
// call's own result.
//
// The record must stay on the stack, aligned to 4 bytes: the dispatcher rejects handler frames
// outside the thread's stack.

namespace Win32 {

namespace {

struct CGuardRecord {
    EXCEPTION_REGISTRATION_RECORD registration; // first: the chain points here
    void* resume[5];                            // __builtin_setjmp buffer
};

// The head of the calling thread's handler chain, fs:[0] (NT_TIB::ExceptionList).
EXCEPTION_REGISTRATION_RECORD* ChainHead()
{
    EXCEPTION_REGISTRATION_RECORD* head;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head) : : "memory");
    return head;
}

void SetChainHead(EXCEPTION_REGISTRATION_RECORD* head)
{
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(head) : "memory");
}

// Exception codes of error severity without the customer bit: every processor fault and system
// failure status (0xC0000005 access violation, 0xC0000094 division by zero, 0xC000001D illegal
// instruction, 0xC00000FD stack overflow ...). Debugger notifications (0x4...), warnings such as
// breakpoints (0x8...) and foreign language exceptions (0xE...) are left to other handlers.
bool IsFault(DWORD code)
{
    return (code & 0xE0000000UL) == 0xC0000000UL;
}

// RtlUnwind to target. Older x86 versions of RtlUnwind do not preserve ebx, esi, edi and ebp, so
// those are saved round the call: ebx/esi/edi by the compiler (clobbers), ebp by hand because it
// may be the frame pointer.
void UnwindTo(void* target, EXCEPTION_RECORD* record)
{
    void* ignoredTarget;
    EXCEPTION_RECORD* ignoredRecord;
    __asm__ __volatile__(
        "pushl %%ebp\n\t"
        "pushl $0\n\t"      // ReturnValue
        "pushl %%ecx\n\t"   // ExceptionRecord
        "pushl $0\n\t"      // TargetIp
        "pushl %%eax\n\t"   // TargetFrame
        "call _RtlUnwind@16\n\t"
        "popl %%ebp"
        : "=a"(ignoredTarget), "=c"(ignoredRecord)
        : "a"(target), "c"(record)
        : "edx", "ebx", "esi", "edi", "memory", "cc");
}

EXCEPTION_DISPOSITION NTAPI GuardHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                         CONTEXT* /*context*/, void* /*dispatcherContext*/)
{
    if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0)
        return ExceptionContinueSearch;
    if (!IsFault(record->ExceptionCode))
        return ExceptionContinueSearch;
    UnwindTo(establisherFrame, record);
    __builtin_longjmp(static_cast<CGuardRecord*>(establisherFrame)->resume, 1);
}

// Keeps the record at the head of the chain while it exists; also takes it out again when a C++
// exception leaves the guarded call.
class CChainLink {
public:
    explicit CChainLink(CGuardRecord& guard) : m_guard(guard) { SetChainHead(&guard.registration); }
    ~CChainLink() { SetChainHead(m_guard.registration.Next); }
    CChainLink(const CChainLink&) = delete;
    CChainLink& operator=(const CChainLink&) = delete;

private:
    CGuardRecord& m_guard;
};

} // namespace

__attribute__((noinline)) HRESULT RunGuardedCall(GuardedCall call, void* context)
{
    CGuardRecord guard;
    guard.registration.Next = ChainHead();
    guard.registration.Handler = &GuardHandler;

    if (__builtin_setjmp(guard.resume) != 0) {
        // Back from the handler: the unwind left this record at the head of the chain.
        SetChainHead(guard.registration.Next);
        return E_ABORT;
    }
    CChainLink link(guard);
    return call(context);
}

} // namespace Win32

#elif defined(__x86_64__)

// How it works (x64): there is no handler chain in fs:[0] here; the system finds handlers through
// the unwind tables (.pdata/.xdata) of the functions on the stack. So the guard is table-based too:
// GuardTrampoline below is a small function in assembly whose unwind data names GuardHandler as its
// exception handler. It calls call(context); the dispatcher meets GuardHandler only for exceptions
// raised while that call is on this thread's stack, and only after every handler of the frames
// inside the call had its say (as with the x86 record, an inner handler that deals with the fault
// itself wins). For a fault, GuardHandler has RtlUnwindEx unwind the frames of the call (running
// their termination handlers) and resume the trampoline right after its call instruction with rax
// set to E_ABORT, just as a compiler's __except does. Everything else (breakpoints and other
// warnings, debugger notifications, C++ exceptions, which g++ raises as 0x20474343) is left to the
// other handlers, and the unwind phase of someone else's exception passes the frame untouched.
//
// Why not a vectored handler: it would run before the handlers of the frames inside the call, so a
// fault that code inside the call handles itself would still abort the call, and it would have to
// be added and removed round every call and find its guard through thread-local state. The table
// costs nothing on the path without a fault and is naturally per thread and nestable.
//
// The nop after the call keeps the return address off the epilogue: an address followed directly
// by "add rsp; ret" is taken for an epilogue by the unwinder, whose handler is then not called.

extern "C" HRESULT TessaroGuardTrampoline(Win32::GuardedCall call, void* context);
extern "C" void TessaroGuardResume();
extern "C" EXCEPTION_DISPOSITION TessaroGuardHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                                     CONTEXT* context, DISPATCHER_CONTEXT* dispatch);

__asm__(
    ".text\n"
    ".globl TessaroGuardTrampoline\n"
    ".globl TessaroGuardResume\n"
    ".def TessaroGuardTrampoline; .scl 2; .type 32; .endef\n"
    ".seh_proc TessaroGuardTrampoline\n"
    "TessaroGuardTrampoline:\n"
    "    subq $40, %rsp\n"          // shadow space for the callee, keeps rsp 16-byte aligned
    "    .seh_stackalloc 40\n"
    "    .seh_endprologue\n"
    "    movq %rcx, %rax\n"
    "    movq %rdx, %rcx\n"
    "    callq *%rax\n"
    "TessaroGuardResume:\n"
    "    nop\n"
    "    addq $40, %rsp\n"
    "    ret\n"
    "    .seh_handler TessaroGuardHandler, @except\n"
    ".seh_endproc\n");

namespace {

// Exception codes of error severity without the customer bit: every processor fault and system
// failure status (0xC0000005 access violation, 0xC0000094 division by zero, 0xC000001D illegal
// instruction ...). Debugger notifications (0x4...), warnings such as breakpoints (0x8...) and
// foreign language exceptions (0xE..., and g++'s 0x2...) are left to other handlers.
bool IsFault(DWORD code)
{
    return (code & 0xE0000000UL) == 0xC0000000UL;
}

} // namespace

extern "C" EXCEPTION_DISPOSITION TessaroGuardHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                                     CONTEXT* /*context*/, DISPATCHER_CONTEXT* dispatch)
{
    if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0)
        return ExceptionContinueSearch;
    if (!IsFault(record->ExceptionCode))
        return ExceptionContinueSearch;
    RtlUnwindEx(establisherFrame, reinterpret_cast<void*>(&TessaroGuardResume), record,
                reinterpret_cast<void*>(static_cast<ULONG_PTR>(static_cast<ULONG>(E_ABORT))),
                dispatch->ContextRecord, dispatch->HistoryTable);
    return ExceptionContinueSearch; // not reached: RtlUnwindEx resumes the trampoline
}

namespace Win32 {

HRESULT RunGuardedCall(GuardedCall call, void* context)
{
    return TessaroGuardTrampoline(call, context);
}

} // namespace Win32

#else
#error "The structured-exception guard is written for 32-bit x86 and x64."
#endif
