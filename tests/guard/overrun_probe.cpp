// A library built as the module's code is, with its stack guard: it reports
// the canary it was given and overruns a buffer of its own when asked, and
// records in a file the words the test program hands it and its own detach.
#include <windows.h>

#include <stdint.h>
#include <string.h>

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

// Appends the word and a space to the file QUILLON_GUARD_RECORD names, if it
// names one. Only kernel32, no C runtime: this runs in DllMain and in a
// handler after an overrun.
__declspec(dllexport) void __cdecl ProbeRecord(const char* word)
{
    char path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("QUILLON_GUARD_RECORD", path, sizeof path);
    if (length == 0 || length >= sizeof path) return;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD done = 0;
    WriteFile(file, word, (DWORD)strlen(word), &done, nullptr);
    WriteFile(file, " ", 1, &done, nullptr);
    CloseHandle(file);
}

// Detach code runs when the process exits, and never when it is terminated
// or fails fast.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_DETACH) ProbeRecord("detach");
    return TRUE;
}
}
