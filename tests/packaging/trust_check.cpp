// A signed plugin as Windows meets it: what WinVerifyTrust says of a file,
// and whether the host loads the plugin and shows its dialog.
//   trust_check verify FILE...           one WinVerifyTrust result a line
//   trust_check host HOST PLUGIN FILE    "dialog", then "exit N" once closed
#include <windows.h>

#include <softpub.h>
#include <stdio.h>
#include <string.h>
#include <wintrust.h>

#include "dialog/resource.h"

namespace {

// Under qemu-i386 a Wine process takes seconds to start.
const DWORD kPatienceMs = 60000;

// Authenticode's policy, as Explorer's Digital Signatures tab and
// AppLocker's publisher rules apply it: no UI, no revocation lookups (no
// network here). Wine's answer means what Windows' does only for a digest
// that does not match and for a file with no signature; Wine accepts roots in
// no store, expired certificates and SHA-1 digests.
LONG Verify(const char* path)
{
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH);
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = wide;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = WinVerifyTrust((HWND)INVALID_HANDLE_VALUE, &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust((HWND)INVALID_HANDLE_VALUE, &action, &data);
    return result;
}

struct Search {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM param)
{
    Search* search = (Search*)param;
    DWORD process = 0;
    char caption[64] = "";
    GetWindowThreadProcessId(window, &process);
    GetWindowTextA(window, caption, sizeof caption);
    if (process != search->process || !IsWindowVisible(window) ||
        strcmp(caption, "Quillon - MP3") != 0)
        return TRUE;
    search->found = window;
    return FALSE;
}

int RunHost(const char* host, const char* plugin, const char* file)
{
    char line[3 * MAX_PATH + 32];
    snprintf(line, sizeof line, "\"%s\" /plugin \"%s\" \"%s\"", host, plugin, file);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(host, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        printf("not started: error %lu\n", GetLastError());
        return 1;
    }
    Search search = {process.dwProcessId, nullptr};
    const DWORD start = GetTickCount();
    while (search.found == nullptr && GetTickCount() - start < kPatienceMs &&
           WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT)
        EnumWindows(FindDialog, (LPARAM)&search);
    if (search.found != nullptr) {
        printf("dialog\n");
        PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(IDC_CLOSE, BN_CLICKED),
                     (LPARAM)GetDlgItem(search.found, IDC_CLOSE));
    }
    if (WaitForSingleObject(process.hProcess, kPatienceMs) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, STILL_ACTIVE);
    DWORD status = STILL_ACTIVE;
    GetExitCodeProcess(process.hProcess, &status);
    printf("exit %lu\n", status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && strcmp(argv[1], "host") == 0) return RunHost(argv[2], argv[3], argv[4]);
    if (argc < 3 || strcmp(argv[1], "verify") != 0) return 2;
    for (int i = 2; i < argc; ++i) printf("0x%08lX\n", (unsigned long)Verify(argv[i]));
    return 0;
}
