// A stand-in for the Quillon tag editor: opens one MP3 file in the plugin's tag dialog.
#include <windows.h>

#include <commdlg.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "dialog/resource.h"

namespace {

typedef int(__cdecl* LoadFileProc)(HANDLE file, HWND parent, HINSTANCE instance);

const char kCaption[] = "Quillon";
const char kWindowClass[] = "QuillonHostWindow";
const char kPluginName[] = "QuillonMp3.dll";
const char kUsage[] =
    "Usage: QuillonHost [/plugin PLUGIN.dll] [FILE.mp3]\n\n"
    "Without a file, QuillonHost asks for one. The plugin defaults to QuillonMp3.dll "
    "beside QuillonHost.exe.";

// Exit status for anything that stops the host before LoadFile runs; the
// dialog itself only ever returns 0 or -1.
const int kHostFailed = 1;

struct Options {
    const char* plugin;  // NULL: kPluginName beside the executable
    const char* file;    // NULL: ask with the Open dialog
};

void ShowMessage(HWND owner, UINT icon, const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    MessageBoxA(owner, text, kCaption, MB_OK | icon);
}

// The system's wording for an error code, without its trailing line break.
void SystemMessage(DWORD error, char* text, DWORD size)
{
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  error, 0, text, size, NULL);
    if (length == 0) {
        snprintf(text, size, "error %lu", error);
        return;
    }
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n'))
        text[--length] = '\0';
}

// The runtime has already split the command line, quotes and all.
int ParseOptions(int argc, char** argv, Options* options)
{
    options->plugin = NULL;
    options->file = NULL;
    for (int i = 1; i < argc; ++i) {
        if (_stricmp(argv[i], "/plugin") == 0 || _stricmp(argv[i], "-plugin") == 0) {
            if (++i == argc) return 0;
            options->plugin = argv[i];
        } else if (options->file == NULL) {
            options->file = argv[i];
        } else {
            return 0;
        }
    }
    return 1;
}

// A full path, so the plugin beside the executable is the one loaded whatever
// the current directory and the search path hold.
void DefaultPluginPath(char* path, DWORD size)
{
    DWORD length = GetModuleFileNameA(NULL, path, size);
    char* slash = length > 0 && length < size ? strrchr(path, '\\') : NULL;
    if (slash == NULL || (DWORD)(slash + 1 - path) + sizeof kPluginName > size) {
        snprintf(path, size, "%s", kPluginName);
        return;
    }
    memcpy(slash + 1, kPluginName, sizeof kPluginName);
}

// Binds the plugin the way the real host does: both exports by name.
HMODULE LoadPlugin(HWND window, const char* path, LoadFileProc* loadFile, const char** filter)
{
    HMODULE plugin = LoadLibraryA(path);
    if (plugin == NULL) {
        char reason[256];
        SystemMessage(GetLastError(), reason, sizeof reason);
        ShowMessage(window, MB_ICONERROR, "The plugin %s could not be loaded:\n%s", path, reason);
        return NULL;
    }
    *loadFile = (LoadFileProc)(void*)GetProcAddress(plugin, "LoadFile");
    *filter = (const char*)(void*)GetProcAddress(plugin, "filterStr");
    if (*loadFile == NULL || *filter == NULL) {
        ShowMessage(window, MB_ICONERROR, "%s is not a Quillon plugin: it does not export %s.",
                    path, *loadFile == NULL ? "LoadFile" : "filterStr");
        FreeLibrary(plugin);
        return NULL;
    }
    return plugin;
}

// 1 with the chosen path; 0 when the user cancels or the dialog fails, and
// then CommDlgExtendedError tells which.
int AskForFile(HWND window, const char* filter, char* path, DWORD size)
{
    path[0] = '\0';
    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = window;
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path;
    ofn.nMaxFile = size;
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    return GetOpenFileNameA(&ofn) != 0;
}

HANDLE OpenWithAccess(const char* path, DWORD access)
{
    // Others may go on reading the file while its tag is edited, not writing it.
    return CreateFileA(path, access, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       NULL);
}

void ReportOpenFailure(HWND window, const char* path, DWORD error)
{
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            ShowMessage(window, MB_ICONERROR, "The file %s does not exist.", path);
            break;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            ShowMessage(window, MB_ICONERROR,
                        "The file %s is in use by another program.\n"
                        "Close it there and try again.",
                        path);
            break;
        default: {
            char reason[256];
            SystemMessage(error, reason, sizeof reason);
            ShowMessage(window, MB_ICONERROR, "The file %s could not be opened:\n%s", path, reason);
            break;
        }
    }
}

// Opens for reading and writing, or, when the file may only be read, says so
// and opens it read-only: the tag can still be seen, and Save will fail.
HANDLE OpenTaggedFile(HWND window, const char* path)
{
    // Windows refuses to write a file marked read-only, even to an
    // administrator; Wine run as root does not, so the mark is read here and
    // such a file is never opened for writing.
    const DWORD attributes = GetFileAttributesA(path);
    const bool marked =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    DWORD error = ERROR_ACCESS_DENIED;
    if (!marked) {
        HANDLE file = OpenWithAccess(path, GENERIC_READ | GENERIC_WRITE);
        if (file != INVALID_HANDLE_VALUE) return file;
        error = GetLastError();
    }
    if (error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT) {
        // A folder is refused with the same error as a read-only file.
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            ShowMessage(window, MB_ICONERROR, "%s is a folder, not a file.", path);
            return INVALID_HANDLE_VALUE;
        }
        ShowMessage(window, MB_ICONWARNING,
                    "The file %s cannot be written: it is read-only, or you may not change it.\n"
                    "It opens read-only, so its tag can be seen but not saved.",
                    path);
        HANDLE file = OpenWithAccess(path, GENERIC_READ);
        if (file != INVALID_HANDLE_VALUE) return file;
        error = GetLastError();
    }
    ReportOpenFailure(window, path, error);
    return INVALID_HANDLE_VALUE;
}

// The real host hands the plugin its main window as the dialog's parent; this
// one never shows it, so the dialog is all a user sees.
HWND CreateMainWindow(HINSTANCE instance)
{
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_HOSTICON));
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassA(&windowClass)) return NULL;
    return CreateWindowExA(0, kWindowClass, kCaption, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, instance, NULL);
}

// The file from the command line, or else the one the user picks.
int EditFile(HWND window, HMODULE plugin, LoadFileProc loadFile, const char* filter,
             const char* path)
{
    char chosen[MAX_PATH];
    if (path == NULL) {
        if (!AskForFile(window, filter, chosen, sizeof chosen)) {
            DWORD error = CommDlgExtendedError();
            if (error == 0) return 0;  // cancelled: nothing to do, and no failure
            ShowMessage(window, MB_ICONERROR, "The Open dialog failed (error 0x%lx).", error);
            return kHostFailed;
        }
        path = chosen;
    }
    HANDLE file = OpenTaggedFile(window, path);
    if (file == INVALID_HANDLE_VALUE) return kHostFailed;
    int result = loadFile(file, window, plugin);
    CloseHandle(file);
    return result;
}

int Run(HINSTANCE instance, int argc, char** argv)
{
    HWND window = CreateMainWindow(instance);
    if (window == NULL) {
        ShowMessage(NULL, MB_ICONERROR, "The main window could not be created.");
        return kHostFailed;
    }

    Options options;
    char pluginPath[MAX_PATH];
    int result = kHostFailed;
    if (!ParseOptions(argc, argv, &options)) {
        ShowMessage(window, MB_ICONINFORMATION, "%s", kUsage);
    } else {
        if (options.plugin == NULL) {
            DefaultPluginPath(pluginPath, sizeof pluginPath);
            options.plugin = pluginPath;
        }
        LoadFileProc loadFile;
        const char* filter;
        HMODULE plugin = LoadPlugin(window, options.plugin, &loadFile, &filter);
        if (plugin != NULL) {
            result = EditFile(window, plugin, loadFile, filter, options.file);
            FreeLibrary(plugin);
        }
    }
    DestroyWindow(window);
    return result;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return Run(instance, __argc, __argv);
}
