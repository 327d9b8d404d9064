// The stack protector's canary and its failure path, in place of GCC's libssp.
#include <windows.h>

#include <stdint.h>

extern "C" {

// GCC's -fstack-protector copies this into each protected frame on entry and
// calls __stack_chk_fail when the copy differs on return. Both names must be
// ours: libssp defines the pair in one object, so defining one of them and
// taking the other from libssp fails the link with a duplicate definition.
// The value here only stands until start-up seeds it.
uintptr_t __stack_chk_guard = 0xBB40E64E;

// A broken canary means the frame's return address can no longer be trusted:
// end the process at once with STATUS_STACK_BUFFER_OVERRUN, as /GS does. A
// fast fail is dispatched to no handler of the process, vectored or framed,
// and Windows Error Reporting records it; before Windows 8 "int 0x29" would
// be an ordinary access violation, so TerminateProcess stands in there.
// Nothing here touches the console or the C runtime, whose state may be what
// the overrun wrecked.
__attribute__((noreturn)) void __stack_chk_fail(void)
{
    if (IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE))
        __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    __builtin_unreachable();
}
}

namespace {

uint32_t Mix(uint32_t state, uint32_t value)
{
    state = (state ^ value) * 0x9E3779B1u;
    return state ^ (state >> 15);
}

// The sources /GS seeds its cookie from: kernel32 calls that load no library,
// take no lock and cannot fail, so this is safe under the loader lock. Mixed
// rather than XORed, so that the small process and thread ids and the slowly
// moving high words still reach every bit. Not protected itself: it changes
// the canary its own frame would be checked against.
__attribute__((no_stack_protector)) void SeedStackGuard(void)
{
    FILETIME now;
    LARGE_INTEGER counter;
    GetSystemTimeAsFileTime(&now);
    QueryPerformanceCounter(&counter);
    uint32_t seed = 0;
    seed = Mix(seed, now.dwLowDateTime);
    seed = Mix(seed, now.dwHighDateTime);
    seed = Mix(seed, GetCurrentProcessId());
    seed = Mix(seed, GetCurrentThreadId());
    seed = Mix(seed, GetTickCount());
    seed = Mix(seed, counter.LowPart);
    seed = Mix(seed, (uint32_t)counter.HighPart);
    // A zero canary is the one an overrun of zero bytes (a string's NUL,
    // zeroed memory) writes unnoticed.
    if (seed != 0) __stack_chk_guard = seed;
}

// mingw-w64's start-up code (DllMainCRTStartup in the DLL, mainCRTStartup in a
// program) calls the function pointers placed between .CRT$XIA and .CRT$XIZ
// once, right after applying its relocations and before any C++ constructor,
// DllMain or main: the first code of ours to run. This object is linked in by
// the first protected function's reference to the canary, and the entry comes
// with it.
__attribute__((section(".CRT$XIB"),
               used)) void (*seed_stack_guard_at_start_up)(void) = SeedStackGuard;

}  // namespace
