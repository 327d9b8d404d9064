// The tag dialog: shows the file's tag, lets the user switch it on and off and
// edit it, and writes or removes it on Save.
#include "dialog/tag_dialog.h"

#include <stddef.h>
#include <string.h>

#include "dialog/ansi_text.h"
#include "dialog/resource.h"
#include "tag/genre.h"
#include "tag/tag_file.h"

FileHandle g_fileHandle;

namespace {

const char kErrorCaption[] = "Error";
const char kReadFailed[] = "Could not read from file!";
const char kWriteFailed[] = "Could not write to file!";
const char kTrackOutOfRange[] = "Track number must be between 0 and 255!";
const char kCommentTooLong[] = "Comment must be at most 28 characters with a track number!";

const int kTrackDigits = 3;
const UINT kMaxTrack = 255;
// The opened genre list shows at least this many names.
const int kVisibleGenres = 8;

const int kTagFields[] = {IDC_TRACK, IDC_TITLE, IDC_ARTIST, IDC_ALBUM,
                          IDC_YEAR,  IDC_GENRE, IDC_COMMENT};

// The text fields and where each lives in a TagRecord. Width is the field's
// size on disk in bytes, one less than the record's; the comment's is 28 or
// 30 (CommentWidth).
struct TextField {
    int id;
    size_t offset;
    int width;
};

#define TEXT_FIELD(id, member)                                                    \
    {                                                                             \
        id, offsetof(TagRecord, member), (int)sizeof(((TagRecord*)0)->member) - 1 \
    }
const TextField kTextFields[TAG_TEXT_FIELDS] = {
    TEXT_FIELD(IDC_TITLE, title), TEXT_FIELD(IDC_ARTIST, artist),   TEXT_FIELD(IDC_ALBUM, album),
    TEXT_FIELD(IDC_YEAR, year),   TEXT_FIELD(IDC_COMMENT, comment),
};
#undef TEXT_FIELD

char* FieldText(TagRecord* record, const TextField& field)
{
    return (char*)record + field.offset;
}

TagDialogState* State(HWND dialog)
{
    return (TagDialogState*)GetWindowLongPtrA(dialog, DWLP_USER);
}

// A comment read longer than 28 bytes (an ID3v1.0 tag) may keep up to 30, as
// long as no track is given with it.
int CommentWidth(const TagDialogState* state)
{
    return HasLongComment(&state->opened) ? TAG_LONG_COMMENT_SIZE : TAG_COMMENT_SIZE;
}

int FieldWidth(const TagDialogState* state, const TextField& field)
{
    return field.id == IDC_COMMENT ? CommentWidth(state) : field.width;
}

// Sets a box to a field read from the file, in whole characters only: given
// half a character at its end, a classic edit control shows some other
// character, and a version-6 one may read on past the field.
void ShowFieldText(HWND dialog, int id, const char* field)
{
    SetBoxText(GetDlgItem(dialog, id), field, BytesOfWholeCharacters(field, TAG_TEXT_BUFFER - 1));
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
// gets a dialog without one. Each opening loads its own two icons, and its
// caller destroys them when the dialog has ended.
void SetHostIcon(HWND dialog, TagDialogState* state)
{
    HINSTANCE host = GetModuleHandleA(NULL);
    state->smallIcon = (HICON)LoadImageA(host, MAKEINTRESOURCEA(IDI_HOSTICON), IMAGE_ICON, 16, 16,
                                         LR_DEFAULTCOLOR);
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, (LPARAM)state->smallIcon);
    state->bigIcon = (HICON)LoadImageA(host, MAKEINTRESOURCEA(IDI_HOSTICON), IMAGE_ICON, 32, 32,
                                       LR_DEFAULTCOLOR);
    SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)state->bigIcon);
}

// A combo box without the version-6 common controls drops its list to the
// height of its own window, which the template makes 12 units: no room for a
// single name. Its window is made tall enough for kVisibleGenres names; the
// closed box keeps its look, and version-6 boxes show as many or more.
void SizeGenreList(HWND dialog)
{
    HWND box = GetDlgItem(dialog, IDC_GENRE);
    int field = (int)SendMessageA(box, CB_GETITEMHEIGHT, (WPARAM)-1, 0);
    int item = (int)SendMessageA(box, CB_GETITEMHEIGHT, 0, 0);
    RECT rect;
    GetWindowRect(box, &rect);
    int frames = 4 * GetSystemMetrics(SM_CYEDGE) + 2 * GetSystemMetrics(SM_CYBORDER);
    SetWindowPos(box, NULL, 0, 0, rect.right - rect.left, field + frames + kVisibleGenres * item,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ShowTag(HWND dialog, TagRecord* record)
{
    SendDlgItemMessageA(dialog, IDC_HASTAG, BM_SETCHECK, BST_CHECKED, 0);
    EnableTagFields(dialog);
    SetDlgItemInt(dialog, IDC_TRACK, record->track, FALSE);
    for (const TextField& field : kTextFields)
        ShowFieldText(dialog, field.id, FieldText(record, field));
    // A code without a position clears the selection.
    SendDlgItemMessageA(dialog, IDC_GENRE, CB_SETCURSEL, (WPARAM)GenrePositionOfCode(record->genre),
                        0);
}

void OnInitDialog(HWND dialog, LPARAM lParam)
{
    TagDialogState* state = (TagDialogState*)lParam;
    SetWindowLongPtrA(dialog, DWLP_USER, (LONG_PTR)state);
    SetHostIcon(dialog, state);
    g_fileHandle = state->file;

    ReadTagResult result = ReadTag(g_fileHandle, &state->opened);
    if (result == ReadFailed) {
        ShowError(dialog, kReadFailed);
        EndDialog(dialog, 0);
        return;
    }

    FillGenreList(dialog);
    SizeGenreList(dialog);
    // An ANSI edit control counts its limit in bytes on Windows and in
    // characters under Wine; KeepWithinField makes both count bytes.
    SendDlgItemMessageA(dialog, IDC_TRACK, EM_LIMITTEXT, kTrackDigits, 0);
    for (const TextField& field : kTextFields)
        SendDlgItemMessageA(dialog, field.id, EM_LIMITTEXT, (WPARAM)FieldWidth(state, field), 0);

    if (result == TagFound)
        ShowTag(dialog, &state->opened);
    else
        state->opened.genre = GENRE_NONE;
    for (int i = 0; i < TAG_TEXT_FIELDS; ++i) {
        GetDlgItemTextA(dialog, kTextFields[i].id, state->shown[i], TAG_TEXT_BUFFER);
        state->lengths[i] = (int)strlen(state->shown[i]);
    }
}

// Typing or pasting stops at the field's width in bytes, at a whole
// character: the text just put in, which ends at the caret, is taken back a
// character at a time until the box fits. A box the code page showed wider
// than its field (a Latin-1 letter becomes three bytes of U+FFFD under UTF-8)
// keeps that width, but no change of the user's makes a box longer than it
// was once it is past its field. Text the dialog set itself is left alone.
void KeepWithinField(HWND dialog, int index)
{
    TagDialogState* state = State(dialog);
    if (!state || state->trimming) return;
    HWND edit = GetDlgItem(dialog, kTextFields[index].id);
    char text[TAG_TEXT_BUFFER];
    int length = GetWindowTextA(edit, text, sizeof text);
    if (SendMessageA(edit, EM_GETMODIFY, 0, 0)) {
        int limit = FieldWidth(state, kTextFields[index]);
        if (state->lengths[index] > limit) limit = state->lengths[index];
        state->trimming = TRUE;
        // Caret positions count bytes on Windows and UTF-16 units under Wine;
        // only where they count units does a box outgrow its byte limit, and
        // there a character outside the Basic Multilingual Plane takes two.
        // The loop also ends at the first pass that does not shorten the
        // text, so a box that will not give up a character (read-only,
        // subclassed, with positions in some other unit) cannot hold the
        // host's thread in it.
        while (length > limit) {
            DWORD start = 0;
            DWORD end = 0;
            SendMessageA(edit, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
            if (end == 0) break;
            SendMessageA(edit, EM_SETSEL, end - (DWORD)UnitsBefore(edit, end), (LPARAM)end);
            SendMessageA(edit, EM_REPLACESEL, FALSE, (LPARAM) "");
            int shorter = GetWindowTextA(edit, text, sizeof text);
            if (shorter >= length) break;
            length = shorter;
        }
        state->trimming = FALSE;
    }
    state->lengths[index] = length;
}

// 1 with the track in *track, or 0 unless the field holds nothing (track 0)
// or one to three decimal digits up to 255. The text is checked here rather
// than by GetDlgItemInt, which Wine lets take "12x" as 12.
int ReadTrack(HWND dialog, UINT* track)
{
    char text[kTrackDigits + 2];
    int length = (int)GetDlgItemTextA(dialog, IDC_TRACK, text, sizeof text);
    *track = 0;
    if (length > kTrackDigits) return 0;
    for (int i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return 0;
        *track = *track * 10 + (UINT)(text[i] - '0');
    }
    return *track <= kMaxTrack;
}

// A box left as it was at opening gives the bytes the file held, up to their
// first NUL; any other gives its text, whole characters up to the width.
void ReadTextField(HWND dialog, const TagDialogState* state, int index, TagRecord* record)
{
    const TextField& field = kTextFields[index];
    char* out = FieldText(record, field);
    const char* opened = (const char*)&state->opened + field.offset;
    int width = FieldWidth(state, field);
    char text[TAG_TEXT_BUFFER];
    GetDlgItemTextA(dialog, field.id, text, sizeof text);
    // The record read at opening ends each field with a NUL, and its comment
    // is long only where the width is too.
    if (strcmp(text, state->shown[index]) == 0) {
        memcpy(out, opened, strlen(opened));
    } else {
        memcpy(out, text, (size_t)BytesOfWholeCharacters(text, width));
    }
}

void OnSave(HWND dialog)
{
    const TagDialogState* state = State(dialog);
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
    for (int i = 0; i < TAG_TEXT_FIELDS; ++i)
        ReadTextField(dialog, state, i, &record);
    LRESULT position = SendDlgItemMessageA(dialog, IDC_GENRE, CB_GETCURSEL, 0, 0);
    // With no selection, a code the genre box cannot show (142-254) is
    // written back as it was read.
    record.genre = position == CB_ERR ? state->opened.genre : GenreCodeAtPosition((int)position);
    if (!TagRecordFits(&record)) {
        ShowError(dialog, kCommentTooLong);
        return;
    }

    if (!WriteTag(g_fileHandle, &record)) ShowError(dialog, kWriteFailed);
}

void OnCommand(HWND dialog, int id, int code)
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
            if (code == EN_CHANGE) {
                for (int i = 0; i < TAG_TEXT_FIELDS; ++i)
                    if (kTextFields[i].id == id) KeepWithinField(dialog, i);
            }
            // Esc's IDCANCEL and the other notifications do nothing.
            break;
    }
}

}  // namespace

void DestroyTagDialogIcons(TagDialogState* state)
{
    if (state->smallIcon) DestroyIcon(state->smallIcon);
    if (state->bigIcon) DestroyIcon(state->bigIcon);
    state->smallIcon = NULL;
    state->bigIcon = NULL;
}

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
            OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_CLOSE:
            EndDialog(dialog, 0);
            return TRUE;
        default:
            return FALSE;
    }
}
