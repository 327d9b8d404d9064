// A plugin whose dialog cannot be created: both exports, and a LoadFile that
// gives the dialog manager's failure value at once, as the real one does when
// its dialog resource is missing.
#include <windows.h>

extern "C" {

__declspec(dllexport) char filterStr[25] = "MP3 Files (*.mp3)\0*.mp3\0";

__declspec(dllexport) int __cdecl LoadFile(HANDLE, HWND, HINSTANCE)
{
    return -1;
}
}
