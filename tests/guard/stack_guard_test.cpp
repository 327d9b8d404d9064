// The module's stack guard as a host process meets it: a library built with
// it is loaded into a child process of this program, which runs it one way
// or another and is judged by its exit status alone.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace {

// Exit statuses a child chooses itself, none of them a canary's.
const DWORD kHandlerRan = 0xE0000001;
const DWORD kOverrunReturned = 0xE0000002;
const DWORD kNoProbe = 0xE0000003;
// A vectored handler was handed "int 0x29" with the stack-cookie code: the
// fast fail was raised but the platform dispatched it as an ordinary fault.
// 32-bit Wine 8 does (an illegal instruction under qemu-i386, whose signals
// carry no trap number); Windows 8 and later never do.
const DWORD kFastFailDispatched = 0xE0000004;

typedef uintptr_t(__cdecl* CanaryFunction)(void);
typedef void(__cdecl* OverrunFunction)(unsigned);

LONG CALLBACK EndAsHandled(EXCEPTION_POINTERS* pointers)
{
    const unsigned char* at = (const unsigned char*)pointers->ExceptionRecord->ExceptionAddress;
    const bool fast_fail = at[0] == 0xCD && at[1] == 0x29 &&
                           pointers->ContextRecord->Ecx == FAST_FAIL_STACK_COOKIE_CHECK_FAILURE;
    TerminateProcess(GetCurrentProcess(), fast_fail ? kFastFailDispatched : kHandlerRan);
    return EXCEPTION_CONTINUE_SEARCH;
}

BOOL WINAPI NoProcessorFeatures(DWORD)
{
    return FALSE;
}

// Points the module's imported IsProcessorFeaturePresent at a stand-in that
// reports no feature, as Windows before 8 does for the fast fail.
bool HideFastFail(HMODULE module)
{
    const FARPROC real =
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsProcessorFeaturePresent");
    BYTE* base = (BYTE*)module;
    const IMAGE_NT_HEADERS* nt =
        (const IMAGE_NT_HEADERS*)(base + ((IMAGE_DOS_HEADER*)base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    bool hidden = false;
    for (const IMAGE_IMPORT_DESCRIPTOR* dll =
             (const IMAGE_IMPORT_DESCRIPTOR*)(base + imports.VirtualAddress);
         dll->Name != 0; ++dll) {
        for (IMAGE_THUNK_DATA* slot = (IMAGE_THUNK_DATA*)(base + dll->FirstThunk);
             slot->u1.Function != 0; ++slot) {
            if (slot->u1.Function != (DWORD)(uintptr_t)real) continue;
            DWORD was = 0;
            VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was);
            slot->u1.Function = (DWORD)(uintptr_t)NoProcessorFeatures;
            VirtualProtect(slot, sizeof *slot, was, &was);
            hidden = true;
        }
    }
    return hidden;
}

// The child: loads the probe as a host loads the plugin, then returns the
// canary the probe's start-up gave it, or overruns a buffer with a vectored
// handler installed first; or raises the fast fail itself, to learn what
// this platform does with one.
DWORD RunChild(const char* mode)
{
    AddVectoredExceptionHandler(1, EndAsHandled);
    if (strcmp(mode, "fast-fail") == 0) {
        __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
        return kOverrunReturned;
    }
    HMODULE probe = LoadLibraryA("overrun_probe.dll");
    if (!probe) return kNoProbe;
    if (strcmp(mode, "canary") == 0) {
        CanaryFunction canary = (CanaryFunction)(void*)GetProcAddress(probe, "ProbeCanary");
        return canary ? (DWORD)canary() : kNoProbe;
    }
    OverrunFunction overrun = (OverrunFunction)(void*)GetProcAddress(probe, "ProbeOverrun");
    if (!overrun) return kNoProbe;
    if (strcmp(mode, "overrun-before-windows-8") == 0 && !HideFastFail(probe)) return kNoProbe;
    overrun(64);
    return kOverrunReturned;
}

DWORD ChildStatus(const char* mode)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    char line[MAX_PATH + 32];
    snprintf(line, sizeof line, "\"%s\" %s", self, mode);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(self, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return GetLastError();
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return status;
}

int Check(bool ok, const char* what, DWORD got, DWORD expected)
{
    printf("%s %s: 0x%08lX, expected 0x%08lX\n", ok ? "ok" : "FAILED", what, got, expected);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2) return (int)RunChild(argv[1]);

    int failures = 0;
    // Where the platform delivers fast fails, an overrun ends the process
    // with STATUS_STACK_BUFFER_OVERRUN and no handler runs; where it
    // dispatches them (an emulator), the handler must at least be handed the
    // guard's own "int 0x29" with the stack-cookie code.
    const DWORD platform = ChildStatus("fast-fail");
    printf("this platform %s fast fails\n",
           platform == STATUS_STACK_BUFFER_OVERRUN ? "delivers" : "does not deliver");
    failures +=
        Check(platform == STATUS_STACK_BUFFER_OVERRUN || platform == kFastFailDispatched,
              "a fast fail is delivered or dispatched", platform, STATUS_STACK_BUFFER_OVERRUN);
    const DWORD overrun = ChildStatus("overrun");
    failures += Check(overrun == platform, "an overrun fails fast", overrun, platform);
    const DWORD terminated = ChildStatus("overrun-before-windows-8");
    failures += Check(terminated == STATUS_STACK_BUFFER_OVERRUN,
                      "without the fast fail an overrun ends the process and no handler runs",
                      terminated, STATUS_STACK_BUFFER_OVERRUN);
    // Seeded per process: two loads of the probe get different canaries.
    const DWORD first = ChildStatus("canary");
    const DWORD second = ChildStatus("canary");
    failures += Check(first != second && first != 0 && second != 0 && first != kNoProbe,
                      "each process seeds its own non-zero canary", first, second);
    return failures == 0 ? 0 : 1;
}
