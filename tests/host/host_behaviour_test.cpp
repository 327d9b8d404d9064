// QuillonHost.exe run as a person or a script runs it: started with a command
// line, its message boxes and its dialog found and answered from this other
// process, then its exit status and the file's bytes checked.
#include <windows.h>

#include <dlgs.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dialog/resource.h"
#include "icon_probe.h"

namespace {

const char kBoxCaption[] = "Quillon";
const char kDialogCaption[] = "Quillon - MP3";
// Under qemu-i386 a Wine process takes seconds to start; a host that keeps
// nobody waiting is never near this.
const DWORD kPatienceMs = 60000;
// The status of a host that had to be ended.
const DWORD kEndedByTest = STILL_ACTIVE;

std::string Field(const std::string& text, size_t size)
{
    std::string field = text;
    field.resize(size, '\0');
    return field;
}

// Audio followed by an ID3v1.1 tag: track 7, genre 17.
std::string Tagged(const std::string& title)
{
    return std::string(3000, '\x55') + "TAG" + Field(title, 30) + Field("Artist", 30) +
           Field("Album", 30) + "1999" + Field("Comment", 28) + std::string{'\0', 7, 17};
}

std::string HostFolder()
{
    char folder[MAX_PATH];
    GetCurrentDirectoryA(sizeof folder, folder);
    return folder;
}

std::string BuiltHost()
{
    return HostFolder() + "\\QuillonHost.exe";
}

// A library built beside this test program.
std::string TestLibrary(const char* name)
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string self(path, length);
    return self.substr(0, self.rfind('\\') + 1) + name;
}

std::string Contents(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(cannot be read)";
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD done = 0;
    if (!bytes.empty() && !ReadFile(file, &bytes[0], (DWORD)bytes.size(), &done, nullptr)) done = 0;
    CloseHandle(file);
    bytes.resize(done);
    return bytes;
}

std::string Quoted(const std::string& path)
{
    return "\"" + path + "\"";
}

// A folder of the test's own, emptied and removed at the end.
class Scratch {
   public:
    Scratch()
    {
        char temp[MAX_PATH];
        char path[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        GetTempFileNameA(temp, "qhs", 0, path);
        DeleteFileA(path);
        CreateDirectoryA(path, nullptr);
        dir_ = path;
    }
    ~Scratch()
    {
        for (const std::string& name : names_) {
            const std::string path = Path(name);
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
        RemoveDirectoryA(dir_.c_str());
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    std::string Path(const std::string& name) const { return dir_ + "\\" + name; }

    std::string Add(const std::string& name, const std::string& bytes)
    {
        names_.push_back(name);
        HANDLE file = CreateFileA(Path(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD done = 0;
        EXPECT_NE(file, INVALID_HANDLE_VALUE) << Path(name);
        EXPECT_TRUE(WriteFile(file, bytes.data(), (DWORD)bytes.size(), &done, nullptr));
        CloseHandle(file);
        return Path(name);
    }

    // The built host alone in this folder: no plugin beside it.
    std::string LoneHost()
    {
        names_.push_back("QuillonHost.exe");
        EXPECT_TRUE(CopyFileA(BuiltHost().c_str(), Path("QuillonHost.exe").c_str(), FALSE));
        return Path("QuillonHost.exe");
    }

   private:
    std::string dir_;
    std::vector<std::string> names_;
};

std::string Caption(HWND window)
{
    char text[128] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

BOOL CALLBACK FirstText(HWND child, LPARAM param)
{
    char cls[16] = "";
    char text[1024] = "";
    GetClassNameA(child, cls, sizeof cls);
    GetWindowTextA(child, text, sizeof text);
    if (lstrcmpiA(cls, "Static") != 0 || text[0] == '\0') return TRUE;
    *(std::string*)param = text;
    return FALSE;
}

BOOL CALLBACK CountButton(HWND child, LPARAM param)
{
    char cls[16] = "";
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Button") == 0 && IsWindowVisible(child)) ++*(int*)param;
    return TRUE;
}

// Asks the icon probe, hooked for the while into the thread that owns the
// window, about that window; false when no answer came.
bool AskProbe(HWND window, const char* question, MSG* answer)
{
    HMODULE probe = LoadLibraryA("host_icon_probe.dll");
    EXPECT_NE(probe, nullptr) << "host_icon_probe.dll: error " << GetLastError();
    if (probe == nullptr) return false;
    HOOKPROC hookProc = (HOOKPROC)(void*)GetProcAddress(probe, ICON_PROBE_HOOK);
    EXPECT_NE(hookProc, nullptr) << ICON_PROBE_HOOK;
    HHOOK hook = hookProc == nullptr ? nullptr
                                     : SetWindowsHookExA(WH_GETMESSAGE, hookProc, probe,
                                                         GetWindowThreadProcessId(window, nullptr));
    EXPECT_NE(hook, nullptr) << "error " << GetLastError();
    const UINT message = RegisterWindowMessageA(question);
    PeekMessageA(answer, nullptr, 0, 0, PM_NOREMOVE);  // the queue the answer comes to
    PostMessageA(window, message, (WPARAM)GetCurrentThreadId(), 0);
    bool answered = false;
    const DWORD start = GetTickCount();
    while (hook != nullptr && !answered && GetTickCount() - start < kPatienceMs) {
        answered = PeekMessageA(answer, nullptr, message, message, PM_REMOVE) != FALSE;
        if (!answered) MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_POSTMESSAGE);
    }
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    FreeLibrary(probe);
    return answered;
}

BOOL CALLBACK FindIcon(HWND child, LPARAM param)
{
    char cls[16] = "";
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") != 0 ||
        (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
        return TRUE;
    *(HWND*)param = child;
    return FALSE;
}

// The standard icon a message box shows, named.
std::string BoxIcon(HWND box)
{
    HWND icon = nullptr;
    EnumChildWindows(box, FindIcon, (LPARAM)&icon);
    MSG answer;
    if (icon == nullptr || !IsWindowVisible(icon)) return "no icon";
    if (!AskProbe(icon, ICON_PROBE_BOX_MESSAGE, &answer)) return "icon unread";
    return answer.wParam == MB_ICONWARNING       ? "warning"
           : answer.wParam == MB_ICONERROR       ? "error"
           : answer.wParam == MB_ICONINFORMATION ? "information"
           : answer.wParam == MB_USERICON        ? "other icon"
                                                 : "no icon";
}

// A message box's icon, caption and text, as "[icon] caption: text", led by
// its buttons unless it has the one OK every box of the host and the dialog has.
std::string BoxSays(HWND box)
{
    std::string text;
    int buttons = 0;
    EnumChildWindows(box, FirstText, (LPARAM)&text);
    EnumChildWindows(box, CountButton, (LPARAM)&buttons);
    return (buttons == 1 ? "" : "(" + std::to_string(buttons) + " buttons) ") + "[" + BoxIcon(box) +
           "] " + Caption(box) + ": " + text;
}

// A click on one of the dialog's buttons, as the host receives it: posted, so
// that a message box the click opens holds up the host and not the test.
void Press(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

struct Search {
    DWORD process;
    const std::vector<HWND>* seen;
    HWND found;
};

// Message boxes and the dialog alike have the dialog class.
BOOL CALLBACK FindNewDialogWindow(HWND window, LPARAM param)
{
    Search* search = (Search*)param;
    DWORD process = 0;
    char cls[16] = "";
    GetWindowThreadProcessId(window, &process);
    GetClassNameA(window, cls, sizeof cls);
    if (process != search->process || strcmp(cls, "#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    for (HWND seen : *search->seen)
        if (seen == window) return TRUE;
    search->found = window;
    return FALSE;
}

class Host {
   public:
    Host(const std::string& exe, const std::string& arguments)
    {
        std::string line = Quoted(exe) + " " + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        started_ = CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &process_) != FALSE;
        EXPECT_TRUE(started_) << line << ": error " << GetLastError();
    }
    ~Host()
    {
        if (!started_) return;
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(process_.hProcess, kEndedByTest);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // The next message box or dialog the host shows, or null once it has ended
    // (or shown nothing new for a long time).
    HWND NextWindow()
    {
        if (!started_) return nullptr;
        const DWORD start = GetTickCount();
        for (;;) {
            const bool ended = WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0;
            Search search = {process_.dwProcessId, &seen_, nullptr};
            EnumWindows(FindNewDialogWindow, (LPARAM)&search);
            if (search.found != nullptr) {
                seen_.push_back(search.found);
                return search.found;
            }
            if (ended || GetTickCount() - start > kPatienceMs) return nullptr;
            WaitForSingleObject(process_.hProcess, 20);
        }
    }

    // Reads the box and presses its OK button.
    void Answer(HWND box)
    {
        boxes_.push_back(BoxSays(box));
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    }

    DWORD ExitStatus()
    {
        if (!started_) return kEndedByTest;
        if (WaitForSingleObject(process_.hProcess, kPatienceMs) != WAIT_OBJECT_0)
            TerminateProcess(process_.hProcess, kEndedByTest);
        WaitForSingleObject(process_.hProcess, INFINITE);
        DWORD status = kEndedByTest;
        GetExitCodeProcess(process_.hProcess, &status);
        return status;
    }

    const std::vector<std::string>& boxes() const { return boxes_; }

   private:
    bool started_ = false;
    PROCESS_INFORMATION process_ = {};
    std::vector<HWND> seen_;
    std::vector<std::string> boxes_;
};

// What a person met in one run: every message box, answered with OK, whether
// the dialog showed, and the exit status.
struct HostRun {
    std::vector<std::string> boxes;
    bool dialog = false;
    DWORD status = kEndedByTest;
};

// What the person does once the dialog shows; it ends by closing the dialog.
using Script = std::function<void(Host& host, HWND dialog)>;

void CloseAtOnce(Host&, HWND dialog)
{
    Press(dialog, IDC_CLOSE);
}

HostRun RunHost(const std::string& exe, const std::string& arguments,
                const Script& script = CloseAtOnce)
{
    Host host(exe, arguments);
    HostRun run;
    while (HWND window = host.NextWindow()) {
        if (Caption(window) == kDialogCaption && !run.dialog) {
            run.dialog = true;
            script(host, window);
        } else {
            host.Answer(window);
        }
    }
    run.status = host.ExitStatus();
    run.boxes = host.boxes();
    return run;
}

std::string Listed(const std::vector<std::string>& lines)
{
    std::string list;
    for (const std::string& line : lines)
        list += "\n  " + line;
    return list.empty() ? " none" : list;
}

struct Icons {
    bool answered = false;
    SIZE smallSize = {0, 0};
    SIZE bigSize = {0, 0};
    bool smallIsHosts = false;
    bool bigIsHosts = false;
};

// Reads the dialog's icons from inside the host, through the icon probe.
Icons DialogIcons(HWND dialog)
{
    Icons icons;
    MSG answer;
    icons.answered = AskProbe(dialog, ICON_PROBE_MESSAGE, &answer);
    if (!icons.answered) return icons;
    icons.smallSize = {(LONG)(answer.wParam & 0xFF), (LONG)(answer.wParam >> 8 & 0xFF)};
    icons.bigSize = {(LONG)(answer.wParam >> 16 & 0xFF), (LONG)(answer.wParam >> 24)};
    icons.smallIsHosts = (answer.lParam & 1) != 0;
    icons.bigIsHosts = (answer.lParam & 2) != 0;
    return icons;
}

// Everything that stops the host before the dialog: one box saying why, no
// dialog, a status a script sees as failure, the file untouched.
TEST(QuillonHost, RefusalsExplainThemselvesAndExitNonZero)
{
    Scratch scratch;
    const std::string bytes = Tagged("Song");
    const std::string song = Quoted(scratch.Add("song.mp3", bytes));
    const std::string missingSong = Quoted(scratch.Path("missing.mp3"));
    const std::string locked = scratch.Add("locked.mp3", bytes);
    // Another program that has the file open and shares it with nobody.
    HANDLE holder = CreateFileA(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    struct Case {
        const char* what;
        std::string host;
        std::string arguments;
        std::string icon;
        const char* says;
    };
    const Case cases[] = {
        {"no plugin beside the host", scratch.LoneHost(), song, "error", "could not be loaded"},
        {"/plugin with no path after it", BuiltHost(), song + " /plugin", "information",
         "Usage: QuillonHost [/plugin PLUGIN.dll] [FILE.mp3]"},
        {"two files", BuiltHost(), song + " " + song, "information",
         "Usage: QuillonHost [/plugin PLUGIN.dll] [FILE.mp3]"},
        {"a DLL that is no plugin", BuiltHost(),
         "/plugin " + Quoted(TestLibrary("host_icon_probe.dll")) + " " + song, "error",
         "is not a Quillon plugin: it does not export filterStr."},
        {"a file that does not exist", BuiltHost(), missingSong, "error", "does not exist"},
        {"a file in a folder that does not exist", BuiltHost(),
         Quoted(scratch.Path("missing\\song.mp3")), "error", "does not exist"},
        {"a folder", BuiltHost(), Quoted(HostFolder()), "error", "is a folder, not a file."},
        {"a file another program holds", BuiltHost(), Quoted(locked), "error",
         "is in use by another program"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const HostRun run = RunHost(c.host, c.arguments);
        ASSERT_EQ(run.boxes.size(), 1u) << "boxes:" << Listed(run.boxes);
        EXPECT_EQ(run.boxes[0].rfind("[" + c.icon + "] " + kBoxCaption + ": ", 0), 0u)
            << run.boxes[0];
        EXPECT_NE(run.boxes[0].find(c.says), std::string::npos) << run.boxes[0];
        EXPECT_FALSE(run.dialog);
        EXPECT_NE(run.status, 0u);
        EXPECT_NE(run.status, kEndedByTest);
    }
    CloseHandle(holder);
    EXPECT_EQ(Contents(scratch.Path("song.mp3")), bytes);
    EXPECT_EQ(Contents(locked), bytes);
}

// Without a file on its command line the host asks for one, offering the
// plugin's filter and no "Open as read-only" box, which the host would not
// heed; cancelling is no failure.
TEST(QuillonHost, WithoutAFileItAsksForAnMp3AndCancellingEndsQuietly)
{
    Host host(BuiltHost(), "");
    HWND open = host.NextWindow();
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(Caption(open), "Open");
    char filter[64] = "";
    GetDlgItemTextA(open, cmb1, filter, sizeof filter);
    EXPECT_STREQ(filter, "MP3 Files (*.mp3)");
    EXPECT_EQ(SendDlgItemMessageA(open, cmb1, CB_GETCOUNT, 0, 0), 1);
    ASSERT_NE(GetDlgItem(open, chx1), nullptr);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(open, chx1)));
    PostMessageA(open, WM_COMMAND, IDCANCEL, 0);
    while (HWND box = host.NextWindow())
        host.Answer(box);
    EXPECT_TRUE(host.boxes().empty()) << "boxes:" << Listed(host.boxes());
    EXPECT_EQ(host.ExitStatus(), 0u);
}

// A plugin whose dialog cannot open has said nothing to the person; the
// host's exit status is all that tells a script.
TEST(QuillonHost, PluginWhoseDialogCannotOpenEndsWithItsFailureValue)
{
    Scratch scratch;
    const std::string bytes = Tagged("Song");
    const std::string path = scratch.Add("song.mp3", bytes);
    const HostRun run = RunHost(
        BuiltHost(), "/plugin " + Quoted(TestLibrary("failing_plugin.dll")) + " " + Quoted(path));
    EXPECT_TRUE(run.boxes.empty()) << "boxes:" << Listed(run.boxes);
    EXPECT_FALSE(run.dialog);
    EXPECT_EQ(run.status, (DWORD)-1);
    EXPECT_EQ(Contents(path), bytes);
}

// The README's run: the plugin beside the host, a file a player already has
// open. The player goes on reading it while the dialog is open, and nobody
// else may write it meanwhile.
TEST(QuillonHost, OpensAFileOthersReadAndSavesItUnderItsOwnIcon)
{
    Scratch scratch;
    const std::string path = scratch.Add("song.mp3", Tagged("Song"));
    HANDLE player = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(player, INVALID_HANDLE_VALUE);
    Icons icons;
    bool readable = false;
    DWORD writeRefusal = ERROR_SUCCESS;
    const HostRun run = RunHost(BuiltHost(), Quoted(path), [&](Host&, HWND dialog) {
        icons = DialogIcons(dialog);
        HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        readable = reader != INVALID_HANDLE_VALUE;
        if (readable) CloseHandle(reader);
        HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        writeRefusal = writer == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
        SetDlgItemTextA(dialog, IDC_TITLE, "Saved through the host");
        Press(dialog, IDC_SAVE);
        Press(dialog, IDC_CLOSE);
    });
    CloseHandle(player);

    EXPECT_TRUE(run.boxes.empty()) << "boxes:" << Listed(run.boxes);
    ASSERT_TRUE(run.dialog);
    EXPECT_EQ(run.status, 0u);
    EXPECT_TRUE(readable) << "another program could not open the file for reading";
    EXPECT_EQ(writeRefusal, (DWORD)ERROR_SHARING_VIOLATION)
        << "another program could open the file for writing";
    EXPECT_EQ(Contents(path), Tagged("Saved through the host"));

    ASSERT_TRUE(icons.answered) << "the icon probe got no answer from the host";
    EXPECT_EQ(icons.smallSize.cx, 16);
    EXPECT_EQ(icons.smallSize.cy, 16);
    EXPECT_EQ(icons.bigSize.cx, 32);
    EXPECT_EQ(icons.bigSize.cy, 32);
    EXPECT_TRUE(icons.smallIsHosts) << "the small icon is not the host's icon 101";
    EXPECT_TRUE(icons.bigIsHosts) << "the big icon is not the host's icon 101";
}

// A host with no plugin beside it works with the one /plugin names, a switch
// in any case as Windows programs take them; removing the tag cuts the file
// through the host's handle.
TEST(QuillonHost, SlashPluginLoadsThePluginItNames)
{
    Scratch scratch;
    const std::string path = scratch.Add("song.mp3", Tagged("Song"));
    const std::string plugin = HostFolder() + "\\QuillonMp3.dll";
    const HostRun run =
        RunHost(scratch.LoneHost(), "/PLUGIN " + Quoted(plugin) + " " + Quoted(path),
                [](Host&, HWND dialog) {
                    SendDlgItemMessageA(dialog, IDC_HASTAG, BM_SETCHECK, BST_UNCHECKED, 0);
                    Press(dialog, IDC_HASTAG);
                    Press(dialog, IDC_SAVE);
                    Press(dialog, IDC_CLOSE);
                });
    EXPECT_TRUE(run.boxes.empty()) << "boxes:" << Listed(run.boxes);
    EXPECT_TRUE(run.dialog);
    EXPECT_EQ(run.status, 0u);
    EXPECT_EQ(Contents(path), Tagged("Song").substr(0, 3000));
}

// The file ctest mounts read-only for these tests, as Wine names it (Z: is /).
std::string OnReadOnlyMedium()
{
    char path[MAX_PATH] = "";
    const DWORD length = GetEnvironmentVariableA("QUILLON_READ_ONLY_MEDIUM", path, sizeof path);
    EXPECT_TRUE(length > 0 && length < sizeof path) << "QUILLON_READ_ONLY_MEDIUM is not set";
    std::string windows = "Z:" + std::string(path);
    for (char& c : windows)
        if (c == '/') c = '\\';
    return windows;
}

// A file the host cannot write, marked read-only or on a read-only medium: a
// warning, then the dialog with its tag, and a save that says it failed and
// leaves every byte as it was.
TEST(QuillonHost, ReadOnlyFileOpensAfterAWarningAndRefusesTheSave)
{
    Scratch scratch;
    const std::string marked = scratch.Add("song.mp3", Tagged("Song"));
    ASSERT_TRUE(SetFileAttributesA(marked.c_str(), FILE_ATTRIBUTE_READONLY));
    const struct {
        const char* what;
        std::string path;
    } cases[] = {
        {"a file marked read-only", marked},
        {"a file on a read-only medium", OnReadOnlyMedium()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string bytes = Contents(c.path);
        ASSERT_GE(bytes.size(), 128u) << c.path;
        std::string shownTitle;
        const HostRun run = RunHost(BuiltHost(), Quoted(c.path), [&](Host& host, HWND dialog) {
            char title[64] = "";
            GetDlgItemTextA(dialog, IDC_TITLE, title, sizeof title);
            shownTitle = title;
            SetDlgItemTextA(dialog, IDC_TITLE, "Never saved");
            Press(dialog, IDC_SAVE);
            if (HWND box = host.NextWindow()) host.Answer(box);
            Press(dialog, IDC_CLOSE);
        });
        EXPECT_EQ(Contents(c.path), bytes);
        ASSERT_EQ(run.boxes.size(), 2u) << "boxes:" << Listed(run.boxes);
        EXPECT_EQ(run.boxes[0].rfind(std::string("[warning] ") + kBoxCaption + ": ", 0), 0u)
            << run.boxes[0];
        EXPECT_NE(run.boxes[0].find("read-only"), std::string::npos) << run.boxes[0];
        EXPECT_EQ(run.boxes[1], "[warning] Error: Could not write to file!");
        EXPECT_TRUE(run.dialog);
        // The tag's title field, up to its first NUL.
        EXPECT_EQ(shownTitle, bytes.substr(bytes.size() - 125, 30).c_str());
        EXPECT_EQ(run.status, 0u);
    }
}

}  // namespace
