// The tag dialog's procedure and the handlers it dispatches to.
#pragma once

#include <windows.h>

#include "tag/file_io.h"
#include "tag/tag_record.h"

// The host's file handle while a dialog is open. Only one tag dialog is open
// at a time: the host does not call in again before the first call returns.
extern FileHandle g_fileHandle;

enum { TAG_TEXT_FIELDS = 5, TAG_TEXT_BUFFER = 128 };

// What one opening keeps while its dialog is open. The caller of the dialog
// holds it (LoadFile, on its stack) and passes its address as the creation
// parameter, with the host's handle in file; the dialog fills the rest.
struct TagDialogState {
    FileHandle file;
    // The tag as read; with none, empty texts and no genre. A box the user
    // leaves as it was is saved with these bytes, not with the text the code
    // page made of them.
    TagRecord opened;
    // Each text box's text right after opening, in the order title, artist,
    // album, year, comment. Wide enough for any code page's reading of a field.
    char shown[TAG_TEXT_FIELDS][TAG_TEXT_BUFFER];
    // Each text box's length in bytes after its last change.
    int lengths[TAG_TEXT_FIELDS];
    // The icons set on the dialog, which the caller destroys once the dialog
    // is gone (DestroyTagDialogIcons).
    HICON smallIcon;
    HICON bigIcon;
    // Set while the dialog itself shortens a box's text.
    BOOL trimming;
};

// Creation parameter: a TagDialogState holding the host's FileHandle. Every
// way of closing ends the dialog with 0.
INT_PTR CALLBACK TagDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Frees what an opening loaded; call once the dialog has ended.
void DestroyTagDialogIcons(TagDialogState* state);

// The blank entry, then the genre names in code order.
void FillGenreList(HWND dialog);

// Enable or disable the seven tag fields; contents are left as they are.
void EnableTagFields(HWND dialog);
void DisableTagFields(HWND dialog);
