// The tag dialog: shows the file's tag, lets the user switch it on and off and
// edit it, and writes or removes it on Save.
#include "dialog/tag_dialog.h"

#include <stddef.h>

#include "dialog/resource.h"
#include "tag/genre.h"
#include "tag/tag_file.h"

FileHandle g_fileHandle;

namespace {

const char kErrorCaption[] = "Error";
const char kReadFailed[] = "Could not read from file!";
const char kWriteFailed[] = "Could not write to file!";
const char kTrackOutOfRange[] = "Track number must be between 0 and 255!";

const int kTrackDigits = 3;
const UINT kMaxTrack = 255;

const int kTagFields[] = {IDC_TRACK, IDC_TITLE, IDC_ARTIST, IDC_ALBUM,
                          IDC_YEAR,  IDC_GENRE, IDC_COMMENT};

// The text fields and where each lives in a TagRecord. Its size there is the
// widest text the control may hand back, terminator included.
struct TextField {
    int id;
    size_t offset;
    int size;
};

#define TEXT_FIELD(id, member)                                                \
    {                                                                         \
        id, offsetof(TagRecord, member), (int)sizeof(((TagRecord*)0)->member) \
    }
const TextField kTextFields[] = {
    TEXT_FIELD(IDC_TITLE, title), TEXT_FIELD(IDC_ARTIST, artist),   TEXT_FIELD(IDC_ALBUM, album),
    TEXT_FIELD(IDC_YEAR, year),   TEXT_FIELD(IDC_COMMENT, comment),
};
#undef TEXT_FIELD

char* FieldText(TagRecord* record, const TextField& field)
{
    return (char*)record + field.offset;
}

void ShowError(HWND dialog, const char* text)
{
    MessageBoxA(dialog, text, kErrorCaption, MB_OK | MB_ICONWARNING);
}

void SetTagFieldsEnabled(HWND dialog, BOOL enabled)
{
    for (int id : kTagFields)
        EnableWindow(GetDlgItem(dialog, id), enabled);
}

// The icon is the host executable's, not this module's; a host without one
// gets a dialog without one.
void SetHostIcon(HWND dialog)
{
    HINSTANCE host = GetModuleHandleA(NULL);
    HANDLE small =
        LoadImageA(host, MAKEINTRESOURCEA(IDI_HOSTICON), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR);
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, (LPARAM)small);
    HANDLE big =
        LoadImageA(host, MAKEINTRESOURCEA(IDI_HOSTICON), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR);
    SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)big);
}

// The genre code read from the file is kept in the dialog's own data, so a
// code the genre box cannot show (142-254) is written back unchanged when the
// user saves without picking a genre.
void KeepOpenedGenre(HWND dialog, uint16_t genre)
{
    SetWindowLongPtrA(dialog, DWLP_USER, (LONG_PTR)genre);
}

uint16_t OpenedGenre(HWND dialog)
{
    return (uint16_t)GetWindowLongPtrA(dialog, DWLP_USER);
}

void ShowTag(HWND dialog, TagRecord* record)
{
    SendDlgItemMessageA(dialog, IDC_HASTAG, BM_SETCHECK, BST_CHECKED, 0);
    EnableTagFields(dialog);
    SetDlgItemInt(dialog, IDC_TRACK, record->track, FALSE);
    for (const TextField& field : kTextFields)
        SetDlgItemTextA(dialog, field.id, FieldText(record, field));
    // A code without a position clears the selection.
    SendDlgItemMessageA(dialog, IDC_GENRE, CB_SETCURSEL, (WPARAM)GenrePositionOfCode(record->genre),
                        0);
}

void OnInitDialog(HWND dialog, LPARAM lParam)
{
    SetHostIcon(dialog);
    g_fileHandle = (FileHandle)lParam;

    TagRecord record;
    ReadTagResult result = ReadTag(g_fileHandle, &record);
    if (result == ReadFailed) {
        ShowError(dialog, kReadFailed);
        EndDialog(dialog, 0);
        return;
    }

    FillGenreList(dialog);
    SendDlgItemMessageA(dialog, IDC_TRACK, EM_LIMITTEXT, kTrackDigits, 0);
    for (const TextField& field : kTextFields)
        SendDlgItemMessageA(dialog, field.id, EM_LIMITTEXT, (WPARAM)(field.size - 1), 0);

    KeepOpenedGenre(dialog, result == TagFound ? record.genre : (uint16_t)GENRE_NONE);
    if (result == TagFound) ShowTag(dialog, &record);
}

// 1 with the track in *track, or 0 when the field holds no number up to 255.
// An empty field is track 0.
int ReadTrack(HWND dialog, UINT* track)
{
    BOOL converted = FALSE;
    *track = GetDlgItemInt(dialog, IDC_TRACK, &converted, FALSE);
    if (!converted) {
        *track = 0;
        return GetWindowTextLengthA(GetDlgItem(dialog, IDC_TRACK)) == 0;
    }
    return *track <= kMaxTrack;
}

void OnSave(HWND dialog)
{
    if (SendDlgItemMessageA(dialog, IDC_HASTAG, BM_GETCHECK, 0, 0) != BST_CHECKED) {
        if (!RemoveTag(g_fileHandle)) ShowError(dialog, kWriteFailed);
        return;
    }

    UINT track;
    if (!ReadTrack(dialog, &track)) {
        ShowError(dialog, kTrackOutOfRange);
        return;
    }

    TagRecord record;
    ClearTagRecord(&record);
    record.track = (uint16_t)track;
    for (const TextField& field : kTextFields)
        GetDlgItemTextA(dialog, field.id, FieldText(&record, field), field.size);
    LRESULT position = SendDlgItemMessageA(dialog, IDC_GENRE, CB_GETCURSEL, 0, 0);
    record.genre = position == CB_ERR ? OpenedGenre(dialog) : GenreCodeAtPosition((int)position);

    if (!WriteTag(g_fileHandle, &record)) ShowError(dialog, kWriteFailed);
}

void OnCommand(HWND dialog, int id)
{
    switch (id) {
        case IDC_HASTAG:
            // An automatic check box: it has already flipped itself.
            if (SendDlgItemMessageA(dialog, IDC_HASTAG, BM_GETCHECK, 0, 0) == BST_CHECKED)
                EnableTagFields(dialog);
            else
                DisableTagFields(dialog);
            break;
        case IDC_SAVE:
            OnSave(dialog);
            break;
        case IDC_CLOSE:
            EndDialog(dialog, 0);
            break;
        default:
            // Esc's IDCANCEL and the controls' notifications do nothing.
            break;
    }
}

}  // namespace

void FillGenreList(HWND dialog)
{
    SendDlgItemMessageA(dialog, IDC_GENRE, CB_ADDSTRING, 0, (LPARAM) "");
    for (const char* name : GenreList)
        SendDlgItemMessageA(dialog, IDC_GENRE, CB_ADDSTRING, 0, (LPARAM)name);
}

void EnableTagFields(HWND dialog)
{
    SetTagFieldsEnabled(dialog, TRUE);
}

void DisableTagFields(HWND dialog)
{
    SetTagFieldsEnabled(dialog, FALSE);
}

INT_PTR CALLBACK TagDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog(dialog, lParam);
            return TRUE;
        case WM_COMMAND:
            OnCommand(dialog, LOWORD(wParam));
            return TRUE;
        case WM_CLOSE:
            EndDialog(dialog, 0);
            return TRUE;
        default:
            return FALSE;
    }
}
