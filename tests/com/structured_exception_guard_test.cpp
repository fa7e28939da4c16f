// The structured-exception guard: faults become E_ABORT on any thread, in a DLL and nested, and the
// thread's handler chain and C++ exceptions are left working.
#include "support/structured_exception_guard.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>
#include <thread>

namespace {

// The head of the calling thread's handler chain (NT_TIB::ExceptionList: fs:[0] on x86; x64 finds its
// handlers in tables, and gs:[0] stays as the thread started).
void* HandlerChainHead()
{
    void* head;
#if defined(__x86_64__)
    __asm__ __volatile__("movq %%gs:0, %0" : "=r"(head));
#else
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head));
#endif
    return head;
}

// Null, but the compiler cannot know it.
volatile int* volatile s_nowhere = nullptr;

void WriteToNull()
{
    *s_nowhere = 1;
}

volatile UINT_PTR s_lowAddress = 0x10; // in the never-mapped first page

int ReadLowAddress()
{
    return *reinterpret_cast<volatile int*>(s_lowAddress);
}

// Both operands unknown to the compiler, so the division is really done.
volatile int s_dividend = 0;
volatile int s_divisor = 0;

int Divide(int dividend, int divisor)
{
    s_dividend = dividend;
    s_divisor = divisor;
    return s_dividend / s_divisor;
}

HRESULT FaultAfter(int* steps)
{
    ++*steps;
    WriteToNull();
    ++*steps;
    return S_OK;
}

// Everything a thread should see: faults caught, results passed on, the chain unchanged.
void ExerciseGuardOnThisThread()
{
    void* const head = HandlerChainHead();

    int steps = 0;
    EXPECT_EQ(E_ABORT, Win32::RunGuarded([&] { return FaultAfter(&steps); }));
    EXPECT_EQ(1, steps);
    EXPECT_EQ(head, HandlerChainHead());

    EXPECT_EQ(E_ABORT, Win32::RunGuarded([] { return ReadLowAddress() == 0 ? S_OK : S_FALSE; }));
    EXPECT_EQ(E_ABORT, Win32::RunGuarded([] { return Divide(1, 0) == 0 ? S_OK : S_FALSE; }));
    EXPECT_EQ(head, HandlerChainHead());

    EXPECT_EQ(S_FALSE, Win32::RunGuarded([] { return S_FALSE; }));
    EXPECT_EQ(head, HandlerChainHead());
}

DWORD WINAPI ExerciseGuardOnNativeThread(void*)
{
    ExerciseGuardOnThisThread();
    return 0;
}

// A top-level filter that notes the first two exceptions reaching it and continues after them.
DWORD s_raised[2] = {};
int s_raisedCount = 0;

LONG WINAPI ContinueAfterRaise(EXCEPTION_POINTERS* info)
{
    if (s_raisedCount < 2)
        s_raised[s_raisedCount++] = info->ExceptionRecord->ExceptionCode;
    return EXCEPTION_CONTINUE_EXECUTION;
}

} // namespace

TEST(StructuredExceptionGuard, FaultsOnTheCallingThreadGiveAbort)
{
    ExerciseGuardOnThisThread();
}

TEST(StructuredExceptionGuard, FaultsOnOtherThreadsGiveAbort)
{
    std::thread worker(&ExerciseGuardOnThisThread);
    worker.join();

    HANDLE native = ::CreateThread(nullptr, 0, &ExerciseGuardOnNativeThread, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, native);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(native, INFINITE));
    ::CloseHandle(native);
}

TEST(StructuredExceptionGuard, CallResultsPassThrough)
{
    const HRESULT failure = static_cast<HRESULT>(0x80041234);
    EXPECT_EQ(S_OK, Win32::RunGuarded([] { return S_OK; }));
    EXPECT_EQ(failure, Win32::RunGuarded([&] { return failure; }));

    // A call whose value is not a result code gives S_OK; the value is taken by reference.
    int value = 0;
    EXPECT_EQ(S_OK, Win32::RunGuarded([&] { value = Divide(84, 2); }));
    EXPECT_EQ(42, value);
    EXPECT_EQ(S_OK, Win32::RunGuarded([] { return 7; }));
}

// A fault that code inside the call handles itself (IsBadReadPtr catches its own access violation)
// is not the guard's: the call goes on and returns its own result.
TEST(StructuredExceptionGuard, FaultsHandledInsideTheCallAreNotTheGuards)
{
    BOOL bad = FALSE;
    EXPECT_EQ(S_FALSE, Win32::RunGuarded([&] {
        bad = ::IsBadReadPtr(reinterpret_cast<const void*>(s_lowAddress), sizeof(int));
        return S_FALSE;
    }));
    EXPECT_TRUE(bad);
}

TEST(StructuredExceptionGuard, ManyFaultsInARow)
{
    void* const head = HandlerChainHead();
    int caught = 0;
    for (int i = 0; i < 10000; ++i) {
        if (Win32::RunGuarded([] { WriteToNull(); }) == E_ABORT)
            ++caught;
    }
    EXPECT_EQ(10000, caught);
    EXPECT_EQ(head, HandlerChainHead());
}

TEST(StructuredExceptionGuard, NestedGuards)
{
    void* const head = HandlerChainHead();

    // The inner guard takes the inner fault; the outer call goes on and returns its own result.
    HRESULT inner = S_OK;
    void* innerHead = nullptr;
    EXPECT_EQ(S_FALSE, Win32::RunGuarded([&] {
                  void* const outerHead = HandlerChainHead();
                  inner = Win32::RunGuarded([] { WriteToNull(); });
                  innerHead = HandlerChainHead() == outerHead ? outerHead : nullptr;
                  return S_FALSE;
              }));
    EXPECT_EQ(E_ABORT, inner);
    EXPECT_NE(nullptr, innerHead);
#if defined(__i386__)
    EXPECT_NE(head, innerHead);   // the outer guard's record was in the chain (x64 has no chain)
#endif

    // A fault after a completed inner guard is the outer guard's.
    int afterInner = 0;
    EXPECT_EQ(E_ABORT, Win32::RunGuarded([&] {
                  afterInner = Win32::RunGuarded([] { return S_OK; }) == S_OK ? 1 : 2;
                  WriteToNull();
              }));
    EXPECT_EQ(1, afterInner);

    // A fault three guards deep unwinds to the innermost guard only.
    EXPECT_EQ(S_OK, Win32::RunGuarded([] {
                  return Win32::RunGuarded([] { return Win32::RunGuarded([] { WriteToNull(); }); }) ==
                                 E_ABORT
                             ? S_OK
                             : E_FAIL;
              }));
    EXPECT_EQ(head, HandlerChainHead());
}

TEST(StructuredExceptionGuard, CppExceptionsStillWork)
{
    void* const head = HandlerChainHead();
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(E_ABORT, Win32::RunGuarded([] { WriteToNull(); }));

    bool caught = false;
    try {
        throw std::runtime_error("after faults");
    } catch (const std::runtime_error&) {
        caught = true;
    }
    EXPECT_TRUE(caught);

    // Thrown and caught inside the guarded call.
    EXPECT_EQ(S_FALSE, Win32::RunGuarded([] {
                  try {
                      throw std::logic_error("inside");
                  } catch (const std::logic_error&) {
                      return S_FALSE;
                  }
              }));

    // Thrown through the guard: it passes on and the guard's record leaves the chain.
    caught = false;
    try {
        Win32::RunGuarded([] { throw std::runtime_error("through"); });
    } catch (const std::runtime_error&) {
        caught = true;
    }
    EXPECT_TRUE(caught);
    EXPECT_EQ(head, HandlerChainHead());
    EXPECT_EQ(E_ABORT, Win32::RunGuarded([] { WriteToNull(); }));
}

TEST(StructuredExceptionGuard, RaisedExceptionsByTheirSeverity)
{
    // Error severity (a system failure status) is a fault like any other.
    EXPECT_EQ(E_ABORT, Win32::RunGuarded([] { ::RaiseException(0xC0001234, 0, 0, nullptr); }));

    // Notifications and foreign language exceptions are left to the handlers further out: here the
    // process's top-level filter, which lets execution continue after the raise.
    const LPTOP_LEVEL_EXCEPTION_FILTER previous = ::SetUnhandledExceptionFilter(&ContinueAfterRaise);
    const HRESULT notification = Win32::RunGuarded([] {
        ::RaiseException(0x60001234, 0, 0, nullptr);
        return S_FALSE;
    });
    const HRESULT foreign = Win32::RunGuarded([] {
        ::RaiseException(0xE06D7363, 0, 0, nullptr);
        return S_FALSE;
    });
    ::SetUnhandledExceptionFilter(previous);
    EXPECT_EQ(S_FALSE, notification);
    EXPECT_EQ(S_FALSE, foreign);
    ASSERT_EQ(2, s_raisedCount);
    EXPECT_EQ(0x60001234u, s_raised[0]);
    EXPECT_EQ(0xE06D7363u, s_raised[1]);
}

TEST(StructuredExceptionGuard, WorksInsideADll)
{
    HMODULE module = ::LoadLibraryW(L"com_guard_probe.dll");
    ASSERT_NE(nullptr, module) << ::GetLastError();
    using Probe = HRESULT(__cdecl*)(int);
    auto probe = reinterpret_cast<Probe>(
        reinterpret_cast<void*>(::GetProcAddress(module, "GuardedFaultInModule")));
    ASSERT_NE(nullptr, probe);
    void* const head = HandlerChainHead();
    EXPECT_EQ(E_ABORT, probe(1000));
    EXPECT_EQ(head, HandlerChainHead());

    HRESULT onThread = S_OK;
    std::thread worker([&] { onThread = probe(10); });
    worker.join();
    EXPECT_EQ(E_ABORT, onThread);
    ::FreeLibrary(module);
}
