// A library built as the module's code is, with its stack guard: it reports
// the canary it was given and overruns a buffer of its own when asked.
#include <stdint.h>

extern "C" uintptr_t __stack_chk_guard;

extern "C" {

__declspec(dllexport) uintptr_t __cdecl ProbeCanary(void)
{
    return __stack_chk_guard;
}

// Writes count bytes into a 16-byte array. The writes go through a volatile
// pointer so the compiler neither sees the overrun nor drops the stores.
__declspec(dllexport) void __cdecl ProbeOverrun(unsigned count)
{
    char buffer[16];
    volatile char* bytes = buffer;
    for (unsigned i = 0; i < count; ++i)
        bytes[i] = 'x';
}
}
