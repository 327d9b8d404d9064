// The tag dialog's procedure and the handlers it dispatches to.
#pragma once

#include <windows.h>

#include "tag/file_io.h"

// The host's file handle while a dialog is open. Only one tag dialog is open
// at a time: the host does not call in again before the first call returns.
extern FileHandle g_fileHandle;

// Creation parameter: the host's FileHandle. Every way of closing ends the
// dialog with 0.
INT_PTR CALLBACK TagDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The blank entry, then the genre names in code order.
void FillGenreList(HWND dialog);

// Enable or disable the seven tag fields; contents are left as they are.
void EnableTagFields(HWND dialog);
void DisableTagFields(HWND dialog);
