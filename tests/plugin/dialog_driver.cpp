// The dialog driver: a thread timer inside the modal loop.
#include "dialog_driver.h"

#include <stdio.h>

namespace {

using LoadFileFn = int(__cdecl*)(HANDLE, HWND, HINSTANCE);

const UINT kTickMs = 10;

struct Run {
    const std::vector<Step>* steps;
    size_t next;
    bool busy;
    DWORD started;
    DWORD deadline;
    DialogRun* out;
};

Run* g_run;

struct Find {
    const char* caption;
    bool exclude;  // find a dialog-class window without that caption
    HWND found;
};

// Dialogs and message boxes alike have the dialog class.
BOOL CALLBACK FindTopLevel(HWND window, LPARAM param)
{
    Find* find = (Find*)param;
    char cls[32] = "";
    char text[128] = "";
    GetClassNameA(window, cls, sizeof cls);
    GetWindowTextA(window, text, sizeof text);
    if (strcmp(cls, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    if ((strcmp(text, find->caption) == 0) == find->exclude) return TRUE;
    find->found = window;
    return FALSE;
}

HWND FindDialog()
{
    Find find = {"Quillon - MP3", false, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), FindTopLevel, (LPARAM)&find);
    return find.found;
}

// Any other dialog-class window of ours is a message box.
HWND FindMessageBox()
{
    Find find = {"Quillon - MP3", true, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), FindTopLevel, (LPARAM)&find);
    return find.found;
}

BOOL CALLBACK ReadBoxPart(HWND child, LPARAM param)
{
    MessageBoxSeen* seen = (MessageBoxSeen*)param;
    char cls[32] = "";
    GetClassNameA(child, cls, sizeof cls);
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if (strcmp(cls, "Static") == 0) {
        if ((style & SS_TYPEMASK) == SS_ICON) {
            HICON icon = (HICON)SendMessageA(child, STM_GETICON, 0, 0);
            if (icon && icon == LoadIconA(nullptr, IDI_WARNING)) seen->warningIcon = true;
        } else {
            char text[256] = "";
            GetWindowTextA(child, text, sizeof text);
            if (text[0]) seen->text = text;
        }
    } else if (strcmp(cls, "Button") == 0 && IsWindowVisible(child)) {
        ++seen->buttons;
    }
    return TRUE;
}

void AnswerMessageBox(HWND box)
{
    MessageBoxSeen seen = {"", "", "", false, 0};
    char caption[128] = "";
    GetWindowTextA(box, caption, sizeof caption);
    seen.caption = caption;
    char owner[128] = "";
    GetWindowTextA(GetWindow(box, GW_OWNER), owner, sizeof owner);
    seen.owner = owner;
    EnumChildWindows(box, ReadBoxPart, (LPARAM)&seen);
    g_run->out->boxes.push_back(seen);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
{
    Run* run = g_run;
    if (!run) return;
    if (HWND box = FindMessageBox()) {
        AnswerMessageBox(box);
        return;
    }
    HWND dialog = FindDialog();
    if (GetTickCount() > run->deadline) {
        run->out->timedOut = true;
        if (dialog) EndDialog(dialog, -2);
        return;
    }
    if (!dialog || run->busy) return;
    if (!run->out->dialogSeen) run->out->openedAfterMs = GetTickCount() - run->started;
    run->out->dialogSeen = true;
    if (run->next < run->steps->size()) {
        // A step may open a message box and so re-enter this timer from the
        // box's own loop; busy keeps the next step from starting meanwhile.
        run->busy = true;
        (*run->steps)[run->next++](dialog);
        run->busy = false;
    }
}

}  // namespace

HMODULE PluginModule()
{
    static HMODULE module = LoadLibraryA("QuillonMp3.dll");
    return module;
}

DialogRun RunDialog(HANDLE file, const std::vector<Step>& steps, HINSTANCE instance,
                    DWORD timeoutMs)
{
    DialogRun out;
    Run run = {&steps, 0, false, GetTickCount(), GetTickCount() + timeoutMs, &out};
    g_run = &run;
    LoadFileFn loadFile = (LoadFileFn)(void*)GetProcAddress(PluginModule(), "LoadFile");
    UINT_PTR timer = SetTimer(nullptr, 0, kTickMs, Tick);
    out.result = loadFile(file, nullptr, instance ? instance : PluginModule());
    KillTimer(nullptr, timer);
    g_run = nullptr;
    // Drop ticks still queued, so they cannot reach the next run.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) {
    }
    return out;
}

void PressKey(UINT key)
{
    HWND focus = GetFocus();
    PostMessageA(focus, WM_KEYDOWN, key, 1);
    if (key == VK_RETURN) PostMessageA(focus, WM_CHAR, '\r', 1);
    if (key == VK_ESCAPE) PostMessageA(focus, WM_CHAR, 27, 1);
    PostMessageA(focus, WM_KEYUP, key, (LPARAM)0xC0000001);
}

void PressAltKey(char letter)
{
    // Bit 29 of lParam is the context code: Alt is down.
    HWND focus = GetFocus();
    PostMessageA(focus, WM_SYSKEYDOWN, (WPARAM)VkKeyScanA(letter) & 0xFF, 0x20000001);
    PostMessageA(focus, WM_SYSCHAR, (WPARAM)letter, 0x20000001);
    PostMessageA(focus, WM_SYSKEYUP, (WPARAM)VkKeyScanA(letter) & 0xFF, (LPARAM)0xE0000001);
}

void Type(const std::string& text)
{
    HWND focus = GetFocus();
    for (char c : text)
        PostMessageA(focus, WM_CHAR, (WPARAM)(unsigned char)c, 1);
}

void TypeWide(const std::wstring& text)
{
    HWND focus = GetFocus();
    for (wchar_t unit : text)
        PostMessageW(focus, WM_CHAR, (WPARAM)unit, 1);
}

void TypeKeys(const std::string& text)
{
    HWND focus = GetFocus();
    for (char c : text) {
        UINT key = (UINT)VkKeyScanA(c) & 0xFF;
        LPARAM scan = (LPARAM)MapVirtualKeyA(key, MAPVK_VK_TO_VSC) << 16;
        PostMessageA(focus, WM_KEYDOWN, key, scan | 1);
        PostMessageA(focus, WM_KEYUP, key, scan | (LPARAM)0xC0000001);
    }
}

void Click(HWND dialog, int id)
{
    SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0);
}

void PickGenre(HWND dialog, int position)
{
    HWND box = GetDlgItem(dialog, 331);
    SendMessageA(box, CB_SETCURSEL, (WPARAM)position, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(331, CBN_SELCHANGE), (LPARAM)box);
}

std::string ControlText(HWND dialog, int id)
{
    char text[256] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

int CallLoadFileCheckingStack(HANDLE file, HINSTANCE instance, long* stackMoved)
{
    LoadFileFn loadFile = (LoadFileFn)(void*)GetProcAddress(PluginModule(), "LoadFile");
    int result;
    long moved;
    HANDLE fileArg = file;
    HINSTANCE instanceArg = instance;
    // The arguments go through registers, since the pushes move the stack
    // that memory operands would be addressed from. esi and edi keep their
    // values across any correct callee.
    __asm__ volatile(
        "movl %%esp, %%esi\n\t"
        "pushl %%edx\n\t"  // instance
        "pushl $0\n\t"     // parent
        "pushl %%ecx\n\t"  // file
        "call *%%ebx\n\t"
        "addl $12, %%esp\n\t"
        "movl %%esp, %%edi\n\t"
        "subl %%esi, %%edi\n\t"
        "movl %%esi, %%esp\n\t"
        : "=a"(result), "=D"(moved), "+c"(fileArg), "+d"(instanceArg)
        : "b"(loadFile)
        : "esi", "memory", "cc");
    *stackMoved = moved;
    return result;
}
