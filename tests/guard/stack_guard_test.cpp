// The module's stack guard as a host process meets it: a library built with
// it is loaded into a child process of this program, which runs it one way
// or another. Each child is judged by its exit status and by the record of
// how it ended, since different endings give the same status: a fast fail,
// a termination, or an exit that ran the library's detach code.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

namespace {

// Exit statuses a child chooses itself, none of them a canary's.
const DWORD kHandlerRan = 0xE0000001;
const DWORD kOverrunReturned = 0xE0000002;
const DWORD kNoProbe = 0xE0000003;
// A vectored handler was handed "int 0x29" with the stack-cookie code: the
// fast fail was raised but the platform dispatched it as an ordinary fault.
// 32-bit Wine 8 under qemu-i386 does (an illegal instruction: the emulator's
// signals carry no trap number); run on the processor itself, Wine ends the
// process as Windows 8 and later do.
const DWORD kFastFailDispatched = 0xE0000004;

const char kRecordVariable[] = "QUILLON_GUARD_RECORD";

typedef uintptr_t(__cdecl* CanaryFunction)(void);
typedef void(__cdecl* OverrunFunction)(unsigned);
typedef void(__cdecl* RecordFunction)(const char*);
typedef BOOL(WINAPI* TerminateFunction)(HANDLE, UINT);

// The child's: the probe's recorder, and kernel32's own TerminateProcess.
RecordFunction record = nullptr;
TerminateFunction terminate = nullptr;

LONG CALLBACK EndAsHandled(EXCEPTION_POINTERS* pointers)
{
    const unsigned char* at = (const unsigned char*)pointers->ExceptionRecord->ExceptionAddress;
    const bool fast_fail = at[0] == 0xCD && at[1] == 0x29 &&
                           pointers->ContextRecord->Ecx == FAST_FAIL_STACK_COOKIE_CHECK_FAILURE;
    record(fast_fail ? "fast-fail" : "handler");
    terminate(GetCurrentProcess(), fast_fail ? kFastFailDispatched : kHandlerRan);
    return EXCEPTION_CONTINUE_SEARCH;
}

// Stands in for TerminateProcess wherever the child's code calls it.
BOOL WINAPI RecordedTerminate(HANDLE process, UINT status)
{
    record("terminate");
    return terminate(process, status);
}

BOOL WINAPI NoProcessorFeatures(DWORD)
{
    return FALSE;
}

// Points every slot of the module's imports that holds real at stand_in;
// false when none does.
bool Redirect(HMODULE module, void* real, void* stand_in)
{
    BYTE* base = (BYTE*)module;
    const IMAGE_NT_HEADERS* nt =
        (const IMAGE_NT_HEADERS*)(base + ((IMAGE_DOS_HEADER*)base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    bool redirected = false;
    for (const IMAGE_IMPORT_DESCRIPTOR* dll =
             (const IMAGE_IMPORT_DESCRIPTOR*)(base + imports.VirtualAddress);
         dll->Name != 0; ++dll) {
        for (IMAGE_THUNK_DATA* slot = (IMAGE_THUNK_DATA*)(base + dll->FirstThunk);
             slot->u1.Function != 0; ++slot) {
            if (slot->u1.Function != (DWORD)(uintptr_t)real) continue;
            DWORD was = 0;
            VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was);
            slot->u1.Function = (DWORD)(uintptr_t)stand_in;
            VirtualProtect(slot, sizeof *slot, was, &was);
            redirected = true;
        }
    }
    return redirected;
}

FARPROC Kernel32(const char* name)
{
    return GetProcAddress(GetModuleHandleA("kernel32.dll"), name);
}

// The child: loads the probe as a host loads the plugin, with its own and the
// probe's TerminateProcess recorded, then returns the canary the probe's
// start-up gave it, or overruns a buffer with a vectored handler installed
// first; or ends itself one way or another, to learn what this platform
// records for each.
DWORD RunChild(const char* mode)
{
    HMODULE probe = LoadLibraryA("overrun_probe.dll");
    if (!probe) return kNoProbe;
    record = (RecordFunction)(void*)GetProcAddress(probe, "ProbeRecord");
    terminate = (TerminateFunction)(void*)Kernel32("TerminateProcess");
    if (!record || !terminate ||
        !Redirect(GetModuleHandleA(nullptr), (void*)terminate, (void*)RecordedTerminate))
        return kNoProbe;
    // A guard that ends the process some other way imports no TerminateProcess.
    Redirect(probe, (void*)terminate, (void*)RecordedTerminate);
    AddVectoredExceptionHandler(1, EndAsHandled);
    if (strcmp(mode, "fast-fail") == 0) {
        __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
        return kOverrunReturned;
    }
    if (strcmp(mode, "terminate") == 0)
        TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    if (strcmp(mode, "exit") == 0) ExitProcess(STATUS_STACK_BUFFER_OVERRUN);
    if (strcmp(mode, "canary") == 0) {
        CanaryFunction canary = (CanaryFunction)(void*)GetProcAddress(probe, "ProbeCanary");
        return canary ? (DWORD)canary() : kNoProbe;
    }
    OverrunFunction overrun = (OverrunFunction)(void*)GetProcAddress(probe, "ProbeOverrun");
    if (!overrun) return kNoProbe;
    // Windows before 8 reports no fast fail.
    if (strcmp(mode, "overrun-before-windows-8") == 0 &&
        !Redirect(probe, (void*)Kernel32("IsProcessorFeaturePresent"), (void*)NoProcessorFeatures))
        return kNoProbe;
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

// How a child ended: its status, and the words its process recorded on the way.
struct Ending {
    DWORD status;
    std::string record;
};

Ending ChildEnding(const char* mode)
{
    char folder[MAX_PATH];
    GetCurrentDirectoryA(sizeof folder, folder);
    const std::string path = std::string(folder) + "\\stack_guard_" + mode + ".record";
    DeleteFileA(path.c_str());
    SetEnvironmentVariableA(kRecordVariable, path.c_str());
    Ending ending = {ChildStatus(mode), ""};
    SetEnvironmentVariableA(kRecordVariable, nullptr);
    if (FILE* file = fopen(path.c_str(), "rb")) {
        char words[256];
        ending.record.assign(words, fread(words, 1, sizeof words, file));
        fclose(file);
    }
    DeleteFileA(path.c_str());
    if (!ending.record.empty()) ending.record.pop_back();
    return ending;
}

std::string Shown(const Ending& ending)
{
    char status[16];
    snprintf(status, sizeof status, "0x%08lX", ending.status);
    return std::string(status) + " [" + ending.record + "]";
}

int Check(const char* what, const Ending& got, const Ending& expected)
{
    const bool ok = got.status == expected.status && got.record == expected.record;
    printf("%-6s %-56s %-32s expected %s\n", ok ? "ok" : "FAILED", what, Shown(got).c_str(),
           Shown(expected).c_str());
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2) return (int)RunChild(argv[1]);

    // Where the platform delivers fast fails, one ends the process with
    // STATUS_STACK_BUFFER_OVERRUN and nothing of the process runs; where it
    // dispatches them (Wine under qemu-i386), the handler must at least be handed the guard's
    // own "int 0x29" with the stack-cookie code.
    const Ending delivered = {STATUS_STACK_BUFFER_OVERRUN, ""};
    const Ending dispatched = {kFastFailDispatched, "fast-fail"};
    const Ending platform = ChildEnding("fast-fail");
    const bool delivers = platform.status == STATUS_STACK_BUFFER_OVERRUN;
    printf("this platform %s fast fails\n", delivers ? "delivers" : "does not deliver");
    const Ending terminated = {STATUS_STACK_BUFFER_OVERRUN, "terminate"};
    const Ending exited = {STATUS_STACK_BUFFER_OVERRUN, "detach"};
    struct Case {
        const char* mode;
        const char* what;
        Ending expected;
    };
    const Case cases[] = {
        {"fast-fail", "a fast fail is delivered or dispatched", delivers ? delivered : dispatched},
        {"terminate", "TerminateProcess runs no detach code", terminated},
        {"exit", "ExitProcess runs detach code, with the same status", exited},
        {"overrun", "an overrun fails fast", platform},
        {"overrun-before-windows-8", "without the fast fail an overrun is terminated", terminated},
    };
    int failures = 0;
    for (const Case& c : cases)
        failures +=
            Check(c.what, c.mode == cases[0].mode ? platform : ChildEnding(c.mode), c.expected);
    // Seeded per process: two loads of the probe get different canaries.
    const DWORD first = ChildStatus("canary");
    const DWORD second = ChildStatus("canary");
    const bool seeded = first != second && first != 0 && second != 0 && first != kNoProbe;
    printf("%-6s each process seeds its own non-zero canary: 0x%08lX, 0x%08lX\n",
           seeded ? "ok" : "FAILED", first, second);
    failures += seeded ? 0 : 1;
    return failures == 0 ? 0 : 1;
}
