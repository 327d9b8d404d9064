// What the host sees: the filter string it offers files with, and the entry
// point it calls with the chosen file.
#include <windows.h>

#include <commctrl.h>
#include <string.h>

#include "dialog/resource.h"
#include "dialog/tag_dialog.h"

extern "C" {

// Open-dialog filter pairs, ended by an empty string: 25 bytes in all. The
// export is the array itself, and stays writable data for hosts that expect it.
char filterStr[25] = "MP3 Files (*.mp3)\0*.mp3\0";

// cdecl: the host pops the three arguments. Blocks until the dialog closes,
// frees what the opening loaded, and returns the dialog's result: 0, or the
// dialog manager's failure value when the dialog cannot be created (-1; 0 for
// an invalid parent).
int __cdecl LoadFile(HANDLE file, HWND parent, HINSTANCE instance)
{
    InitCommonControls();
    TagDialogState state;
    memset(&state, 0, sizeof state);
    state.file = file;
    int result = (int)DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_TAGDIALOG), parent,
                                      TagDialogProc, (LPARAM)&state);
    DestroyTagDialogIcons(&state);
    return result;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
}
