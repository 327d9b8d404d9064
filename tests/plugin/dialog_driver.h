// Drives the plugin's modal dialog from inside its own message loop, as a user
// would: a thread timer fires while LoadFile blocks, answers any message box
// and runs the scenario's steps one per tick.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct MessageBoxSeen {
    std::string owner;  // the owning window's caption
    std::string caption;
    std::string text;
    bool warningIcon;
    int buttons;
};

struct DialogRun {
    int result = 0;
    bool timedOut = false;
    bool dialogSeen = false;
    DWORD openedAfterMs = 0;  // from the call to the first tick that saw it
    std::vector<MessageBoxSeen> boxes;
};

// One step runs with the dialog's window; steps that post keys let the next
// tick see their effect.
using Step = std::function<void(HWND dialog)>;

// Calls LoadFile on the handle and runs the steps against the dialog it
// shows. A run that has not ended after timeoutMs is ended by force.
DialogRun RunDialog(HANDLE file, const std::vector<Step>& steps, HINSTANCE instance = nullptr,
                    DWORD timeoutMs = 15000);

// Keys as the keyboard sends them to the focused control.
void PressKey(UINT key);
void PressAltKey(char letter);
void Type(const std::string& text);
// UTF-16 units as WM_CHAR, as a keyboard or an input method sends them to a
// Unicode control; bytes posted one by one never make one UTF-8 character.
void TypeWide(const std::wstring& text);
// Each character as its key: a key-down that the modal loop translates into
// the character, then the key-up.
void TypeKeys(const std::string& text);

// A click on a control, with the notification its parent gets from a real one.
void Click(HWND dialog, int id);
void PickGenre(HWND dialog, int position);

std::string ControlText(HWND dialog, int id);

// Calls LoadFile with a null parent and returns its result; *stackMoved is
// how far the stack pointer ended from where it was, with the caller popping
// the arguments as the cdecl convention has it.
int CallLoadFileCheckingStack(HANDLE file, HINSTANCE instance, long* stackMoved);
HMODULE PluginModule();
