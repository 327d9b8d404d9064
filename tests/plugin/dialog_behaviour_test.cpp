// The tag dialog end to end under the real dialog manager: a host-like
// caller opens a file, calls LoadFile and acts as the user.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <algorithm>

#include "../tag/temp_file.h"
#include "dialog/resource.h"
#include "dialog_driver.h"
#include "dialog_model.h"
#include "tag/tag_record.h"
#include "tests/icon_size.h"

namespace {

const std::string kAudio(2000, '\x33');
const int kFields[] = {IDC_TRACK, IDC_TITLE, IDC_ARTIST, IDC_ALBUM,
                       IDC_YEAR,  IDC_GENRE, IDC_COMMENT};

std::string Padded(std::string text, size_t size)
{
    text.resize(size, '\0');
    return text;
}

// An ID3v1.1 trailer spelled out here rather than by the tag code under test:
// "TAG", title, artist and album of 30 bytes, year of 4, comment of 28, a
// zero, the track and the genre, each text padded with NULs.
std::string Trailer(const std::string& title, const std::string& artist, const std::string& album,
                    const std::string& year, const std::string& comment, int track, int genre)
{
    return "TAG" + Padded(title, 30) + Padded(artist, 30) + Padded(album, 30) + Padded(year, 4) +
           Padded(comment, 28) + '\0' + (char)track + (char)genre;
}

std::string Block(const std::string& title, const std::string& year, int track, int genre)
{
    return Trailer(title, "Artist", "Album", year, "Comment", track, genre);
}

const std::string kTagged = kAudio + Block("Song", "1999", 7, 17);

// Only these fields and no genre, as an empty dialog saves what is typed.
std::string BareBlock(const std::string& title, const std::string& year, int track)
{
    return Trailer(title, "", "", year, "", track, 255);
}

// An ID3v1.0 trailer: no zero at 125, the comment over bytes 97-126.
std::string OldStyleBlock(std::string comment)
{
    std::string block = Block("Song", "1999", 0, 12);
    comment.resize(30, '\0');
    block.replace(97, 30, comment);
    return block;
}

// Fills the stack below the caller's frame, where the next call's frames go,
// with non-zero bytes.
__attribute__((noinline)) void DirtyStack()
{
    volatile unsigned char junk[64 * 1024];
    for (size_t i = 0; i < sizeof junk; ++i)
        junk[i] = 0xA5;
}

bool Checked(HWND dialog)
{
    return IsDlgButtonChecked(dialog, IDC_HASTAG) == BST_CHECKED;
}
bool Enabled(HWND dialog, int id)
{
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}
LRESULT GenrePosition(HWND dialog)
{
    return SendDlgItemMessageA(dialog, IDC_GENRE, CB_GETCURSEL, 0, 0);
}
void SetText(HWND dialog, int id, const char* text)
{
    SetDlgItemTextA(dialog, id, text);
}
void Focus(HWND dialog, int id)
{
    SetFocus(GetDlgItem(dialog, id));
}
Step CloseDialog()
{
    return [](HWND d) { Click(d, IDC_CLOSE); };
}

// The whole file; where it differs, its last bytes (the tag and a little of
// what comes before) are shown beside the ones expected.
void ExpectFileIs(const TempFile& file, const std::string& expected)
{
    const std::string actual = file.Contents();
    const size_t from = expected.size() > 144 ? expected.size() - 144 : 0;
    EXPECT_TRUE(actual == expected)
        << "the file ends " << Hex(actual.substr(std::min(from, actual.size()))) << "\n   expected "
        << Hex(expected.substr(from));
}

void ExpectClosedNormally(const DialogRun& run)
{
    EXPECT_FALSE(run.timedOut);
    EXPECT_TRUE(run.dialogSeen);
    EXPECT_EQ(run.result, 0);
}

// A message box as one line, owner first.
std::string Described(const MessageBoxSeen& box)
{
    return "owned by \"" + box.owner + "\": " + box.caption + ": " + box.text +
           (box.warningIcon ? " (warning icon, " : " (no warning icon, ") +
           std::to_string(box.buttons) + " buttons)";
}

// The dialog's error boxes, in order. Each is owned by the dialog, so the
// dialog takes no input until the box is answered.
void ExpectErrorBoxes(const DialogRun& run, const std::vector<std::string>& texts)
{
    std::vector<std::string> seen;
    std::vector<std::string> expected;
    for (const MessageBoxSeen& box : run.boxes)
        seen.push_back(Described(box));
    for (const std::string& text : texts)
        expected.push_back(Described({"Quillon - MP3", "Error", text, true, 1}));
    EXPECT_EQ(seen, expected);
}

// A window as the user meets it: class, identifier, rectangle in the
// dialog's client area, style, text, and whether it is enabled and visible.
std::string WindowLine(const char* cls, int id, const RECT& rect, DWORD style, const char* text)
{
    char line[256];
    snprintf(line, sizeof line, "%s %d at %ld,%ld %ldx%ld style 0x%08lX \"%s\" %s %s", cls, id,
             rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
             (unsigned long)(style & ~(DWORD)(WS_VISIBLE | WS_DISABLED)), text,
             style & WS_DISABLED ? "disabled" : "enabled",
             style & WS_VISIBLE ? "visible" : "hidden");
    return line;
}

std::string WindowLine(HWND window, const RECT& rect)
{
    char cls[32] = "";
    char text[64] = "";
    GetClassNameA(window, cls, sizeof cls);
    GetWindowTextA(window, text, sizeof text);
    DWORD style = (DWORD)GetWindowLongA(window, GWL_STYLE) & ~(DWORD)(WS_VISIBLE | WS_DISABLED);
    if (!IsWindowEnabled(window)) style |= WS_DISABLED;
    if (IsWindowVisible(window)) style |= WS_VISIBLE;
    return WindowLine(cls, GetDlgCtrlID(window), rect, style, text);
}

// One row of a window table: the dialog itself (its client area) or one of
// its controls, the rectangle in dialog units as the template gives it.
struct Control {
    const char* cls;
    int id;
    RECT units;  // x, y, width, height
    DWORD style;
    const char* text;
};

// The whole window against its table: the dialog first, then every child in
// template order.
void ExpectWindow(HWND dialog, const std::vector<Control>& controls)
{
    std::vector<std::string> expected;
    for (const Control& c : controls) {
        // The dialog manager maps the position and the size each on its own.
        RECT units = c.units;
        MapDialogRect(dialog, &units);
        LONG height = units.bottom;
        // A closed combo box makes itself as tall as its field and two edges.
        if (strcmp(c.cls, "ComboBox") == 0)
            height = (LONG)SendDlgItemMessageA(dialog, c.id, CB_GETITEMHEIGHT, (WPARAM)-1, 0) +
                     2 * GetSystemMetrics(SM_CYEDGE);
        const RECT rect = {units.left, units.top, units.left + units.right, units.top + height};
        expected.push_back(WindowLine(c.cls, c.id, rect, c.style, c.text));
    }
    std::vector<std::string> seen;
    RECT rect;
    GetClientRect(dialog, &rect);
    seen.push_back(WindowLine(dialog, rect));
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, dialog, (POINT*)&rect, 2);
        seen.push_back(WindowLine(child, rect));
    }
    EXPECT_EQ(seen, expected);
}

// The window of kTagged's dialog, row by row.
std::vector<Control> TaggedWindow()
{
    // As the dialog manager makes them: the dialog gets a 3D look and
    // clips its siblings, an edit box a sunken edge for its border,
    // and a combo box hands its scroll bar to its list.
    const DWORD shown = WS_CHILD | WS_VISIBLE;
    const DWORD label = shown | WS_GROUP | SS_RIGHT;
    const DWORD stop = shown | WS_TABSTOP;
    const DWORD frame = WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CAPTION | WS_SYSMENU |
                        WS_MINIMIZEBOX | DS_3DLOOK | DS_CENTER | DS_SETFONT;
    // clang-format off
    return {
    {"#32770",   0,           {0, 0, 168, 114},  frame,                   "Quillon - MP3"},
    {"Button",   IDC_HASTAG,  {36, 6, 60, 10},   stop | BS_AUTOCHECKBOX,  "ID3v1(.1) Tag"},
    {"Static",   -1,          {112, 6, 26, 8},   label,                   "Track #"},
    {"Edit",     IDC_TRACK,   {142, 4, 18, 12},  stop | ES_NUMBER,        "7"},
    {"Static",   -1,          {18, 22, 14, 8},   label,                   "Title"},
    {"Edit",     IDC_TITLE,   {36, 20, 124, 12}, stop | ES_AUTOHSCROLL,   "Song"},
    {"Static",   -1,          {16, 36, 16, 8},   label,                   "Artist"},
    {"Edit",     IDC_ARTIST,  {36, 34, 124, 12}, stop | ES_AUTOHSCROLL,   "Artist"},
    {"Static",   -1,          {12, 50, 20, 8},   label,                   "Album"},
    {"Edit",     IDC_ALBUM,   {36, 48, 124, 12}, stop | ES_AUTOHSCROLL,   "Album"},
    {"Static",   -1,          {16, 64, 16, 8},   label,                   "Year"},
    {"Edit",     IDC_YEAR,    {36, 62, 21, 12},  stop | ES_NUMBER,        "1999"},
    {"Static",   -1,          {60, 64, 20, 8},   label,                   "Genre"},
    {"ComboBox", IDC_GENRE,   {84, 62, 75, 12},  stop | CBS_DROPDOWNLIST, "Rock"},
    {"Static",   -1,          {2, 78, 30, 8},    label,                   "Comment"},
    {"Edit",     IDC_COMMENT, {36, 76, 124, 12}, stop | ES_AUTOHSCROLL,   "Comment"},
    {"Button",   IDC_SAVE,    {32, 93, 36, 14},  stop | BS_DEFPUSHBUTTON, "&Save"},
    {"Button",   IDC_CLOSE,   {100, 93, 36, 14}, stop | BS_PUSHBUTTON,    "&Close"},
    };
    // clang-format on
}

}  // namespace

TEST(TagDialog, TaggedFileOpensCheckedWithEveryFieldShown)
{
    TempFile file(kTagged);
    const std::vector<Step> steps = {
        [](HWND d) {
            ExpectWindow(d, TaggedWindow());
            EXPECT_TRUE(Checked(d));
            EXPECT_EQ(SendDlgItemMessageA(d, IDC_GENRE, CB_GETCOUNT, 0, 0), 143);
            // The dialog manager gives the focus to the check box.
            EXPECT_EQ(GetFocus(), GetDlgItem(d, IDC_HASTAG));
            // Both icons come from the calling program's icon 101, each
            // at its own size rather than one stretched.
            const SIZE smallSize = IconSize((HICON)SendMessageA(d, WM_GETICON, ICON_SMALL, 0));
            const SIZE bigSize = IconSize((HICON)SendMessageA(d, WM_GETICON, ICON_BIG, 0));
            EXPECT_EQ(smallSize.cx, 16);
            EXPECT_EQ(smallSize.cy, 16);
            EXPECT_EQ(bigSize.cx, 32);
            EXPECT_EQ(bigSize.cy, 32);
        },
        CloseDialog(),
    };
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
    EXPECT_TRUE(run.boxes.empty());
    ExpectFileIs(file, kTagged);
}

TEST(TagDialog, TypingLimitsMatchTheTagFields)
{
    TempFile file(kTagged);
    const std::vector<Step> steps = {
        [](HWND d) {
            const int limits[][2] = {{IDC_TRACK, 3},  {IDC_TITLE, 30}, {IDC_ARTIST, 30},
                                     {IDC_ALBUM, 30}, {IDC_YEAR, 4},   {IDC_COMMENT, 28}};
            for (auto& limit : limits)
                EXPECT_EQ(SendDlgItemMessageA(d, limit[0], EM_GETLIMITTEXT, 0, 0), limit[1]);
        },
        // Digits only in the number fields.
        [](HWND d) {
            SetText(d, IDC_YEAR, "");
            Focus(d, IDC_YEAR);
            Type("2a0b");
        },
        [](HWND d) {
            EXPECT_EQ(ControlText(d, IDC_YEAR), "20");
            SetText(d, IDC_TITLE, "");
            Focus(d, IDC_TITLE);
            Type(std::string(30, 'x') + "yz");
        },
        [](HWND d) {
            EXPECT_EQ(ControlText(d, IDC_TITLE), std::string(30, 'x'));
            Click(d, IDC_SAVE);
        },
        CloseDialog(),
    };
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
    ExpectFileIs(file, kAudio + Block(std::string(30, 'x'), "20", 7, 17));
}

TEST(TagDialog, UntaggedFileOpensEmptyAndSavesWhatIsTyped)
{
    TempFile file(kAudio);
    const std::vector<Step> steps = {
        [](HWND d) {
            EXPECT_FALSE(Checked(d));
            for (int id : kFields)
                EXPECT_FALSE(Enabled(d, id)) << id;
            EXPECT_TRUE(Enabled(d, IDC_SAVE));
            EXPECT_TRUE(Enabled(d, IDC_CLOSE));
            EXPECT_EQ(GenrePosition(d), CB_ERR);
            EXPECT_EQ(SendDlgItemMessageA(d, IDC_GENRE, CB_GETCOUNT, 0, 0), 143);
        },
        [](HWND d) { Click(d, IDC_HASTAG); },
        [](HWND d) {
            for (int id : kFields)
                EXPECT_TRUE(Enabled(d, id)) << id;
            EXPECT_EQ(ControlText(d, IDC_TRACK), "");
            SetText(d, IDC_TITLE, "Typed");
            SetText(d, IDC_YEAR, "2024");
            Click(d, IDC_SAVE);
        },
        CloseDialog(),
    };
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
    ExpectFileIs(file, kAudio + BareBlock("Typed", "2024", 0));
}

TEST(TagDialog, UncheckedSaveRemovesTheTagAndKeepsTheTextsForLater)
{
    TempFile file(kTagged);
    const std::vector<Step> steps = {
        [](HWND d) { Click(d, IDC_HASTAG); },
        [](HWND d) {
            EXPECT_FALSE(Enabled(d, IDC_TITLE));
            Click(d, IDC_SAVE);
        },
        [&](HWND d) {
            ExpectFileIs(file, kAudio);
            EXPECT_EQ(ControlText(d, IDC_TITLE), "Song");
            Click(d, IDC_HASTAG);
        },
        [](HWND d) {
            EXPECT_TRUE(Enabled(d, IDC_TITLE));
            Click(d, IDC_SAVE);
            Click(d, IDC_SAVE);
        },
        CloseDialog(),
    };
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
    ExpectFileIs(file, kTagged);
}

TEST(TagDialog, TrackAbove255IsRefusedAndNothingIsWritten)
{
    TempFile file(kTagged);
    const std::vector<Step> steps = {
        [](HWND d) {
            SetText(d, IDC_TRACK, "300");
            SetText(d, IDC_TITLE, "Changed");
            Click(d, IDC_SAVE);
        },
        [](HWND d) {
            EXPECT_EQ(ControlText(d, IDC_TRACK), "300");
            EXPECT_EQ(ControlText(d, IDC_TITLE), "Changed");
            SetText(d, IDC_TRACK, "255");
        },
        [&](HWND d) {
            ExpectFileIs(file, kTagged);
            Click(d, IDC_SAVE);
        },
        CloseDialog(),
    };
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
    ExpectErrorBoxes(run, {"Track number must be between 0 and 255!"});
    ExpectFileIs(file, kAudio + Block("Changed", "1999", 255, 17));
}

TEST(TagDialog, GenrePicksSaveTheirCodeAndAnUnnamedCodeIsKept)
{
    TempFile file(kAudio + Block("Song", "1999", 7, 150));
    const std::vector<Step> steps = {
        [](HWND d) {
            EXPECT_EQ(GenrePosition(d), CB_ERR);
            Click(d, IDC_SAVE);
        },
        [&](HWND d) {
            ExpectFileIs(file, kAudio + Block("Song", "1999", 7, 150));
            PickGenre(d, 64);
            EXPECT_EQ(ControlText(d, IDC_GENRE), "Jungle");
            // A pick alone writes nothing.
            ExpectFileIs(file, kAudio + Block("Song", "1999", 7, 150));
            Click(d, IDC_SAVE);
        },
        [&](HWND d) {
            ExpectFileIs(file, kAudio + Block("Song", "1999", 7, 63));
            PickGenre(d, 0);
            Click(d, IDC_SAVE);
        },
        CloseDialog(),
    };
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
    ExpectFileIs(file, kAudio + Block("Song", "1999", 7, 255));
}

TEST(TagDialog, FileTextIsShownAsStoredAndSavedUpToItsNul)
{
    std::string block = Block("Song", "19x9", 0, 255);
    memcpy(&block[3], "Be\0fore", 7);
    TempFile file(kAudio + block);
    const std::vector<Step> steps = {
        [](HWND d) {
            EXPECT_EQ(ControlText(d, IDC_YEAR), "19x9");
            EXPECT_EQ(ControlText(d, IDC_TITLE), "Be");
            EXPECT_EQ(ControlText(d, IDC_TRACK), "0");
            EXPECT_EQ(GenrePosition(d), 0);
            Click(d, IDC_SAVE);
        },
        CloseDialog(),
    };
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
    ExpectFileIs(file, kAudio + Block("Be", "19x9", 0, 255));
}

TEST(TagDialog, EnterSavesFromEveryFieldAndClosesFromClose)
{
    TempFile file(kTagged);
    static const int kFocusable[] = {IDC_HASTAG, IDC_TRACK, IDC_TITLE, IDC_ARTIST,
                                     IDC_ALBUM,  IDC_YEAR,  IDC_GENRE, IDC_COMMENT};
    std::vector<Step> steps;
    for (int id : kFocusable) {
        // A distinct title per control shows which Enter saved.
        const std::string title = "Enter " + std::to_string(id);
        steps.push_back([id, title](HWND d) {
            SetText(d, IDC_TITLE, title.c_str());
            Focus(d, id);
            PressKey(VK_RETURN);
        });
        steps.push_back([id, title, &file](HWND) {
            SCOPED_TRACE("Enter on control " + std::to_string(id));
            ExpectFileIs(file, kAudio + Block(title, "1999", 7, 17));
        });
    }
    steps.push_back([](HWND d) {
        // Tabbing onto Close makes it the default button while it has the focus.
        Focus(d, IDC_SAVE);
        PressKey(VK_TAB);
    });
    steps.push_back([](HWND d) {
        EXPECT_EQ(GetFocus(), GetDlgItem(d, IDC_CLOSE));
        PressKey(VK_RETURN);
    });
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
}

TEST(TagDialog, EscDoesNothingAndEveryCloseEndsWithZero)
{
    TempFile file(kTagged);
    const std::vector<Step> closers[] = {
        {[](HWND d) { SendMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {[](HWND d) { PostMessageA(d, WM_CLOSE, 0, 0); }},
        {[](HWND) { PressAltKey('c'); }},
        {[](HWND) { PressKey(VK_ESCAPE); },
         [](HWND d) {
             EXPECT_TRUE(IsWindowVisible(d));
             SetText(d, IDC_TITLE, "Unsaved");
             PickGenre(d, 1);
             PostMessageA(d, WM_SYSKEYDOWN, VK_F4, 0x20000001);
         }},
    };
    for (const auto& steps : closers) {
        DialogRun run = RunDialog(file.handle(), steps);
        ExpectClosedNormally(run);
        EXPECT_TRUE(run.boxes.empty());
    }
    ExpectFileIs(file, kTagged);
}

TEST(TagDialog, AltSSavesAndTabFollowsTheTemplateOrder)
{
    TempFile file(kAudio);
    std::vector<Step> steps = {[](HWND d) { Click(d, IDC_HASTAG); }};
    static const int kOrder[] = {IDC_HASTAG, IDC_TRACK, IDC_TITLE, IDC_ARTIST,
                                 IDC_ALBUM,  IDC_YEAR,  IDC_GENRE, IDC_COMMENT,
                                 IDC_SAVE,   IDC_CLOSE, IDC_HASTAG};
    steps.push_back([](HWND d) { Focus(d, IDC_HASTAG); });
    for (size_t i = 0; i + 1 < sizeof kOrder / sizeof kOrder[0]; ++i) {
        steps.push_back([i](HWND d) {
            EXPECT_EQ(GetFocus(), GetDlgItem(d, kOrder[i])) << "step " << i;
            PressKey(VK_TAB);
        });
    }
    steps.push_back([](HWND) { PressAltKey('s'); });
    steps.push_back(CloseDialog());
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
    ExpectFileIs(file, kAudio + BareBlock("", "", 0));
}

TEST(TagDialog, UnreadableFileIsReportedAndTheDialogCloses)
{
    TempFile file(kTagged, Access::WriteOnly);
    const std::vector<Step> steps = {};
    DialogRun run = RunDialog(file.handle(), steps);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.result, 0);
    ExpectErrorBoxes(run, {"Could not read from file!"});
    ExpectFileIs(file, kTagged);
}

TEST(TagDialog, UnwritableFileReportsEverySaveThatFails)
{
    TempFile file(kTagged, Access::ReadOnly);
    const std::vector<Step> steps = {
        [](HWND d) { Click(d, IDC_SAVE); },
        [](HWND d) { Click(d, IDC_HASTAG); },
        [](HWND d) { Click(d, IDC_SAVE); },
        [](HWND d) { EXPECT_TRUE(IsWindowVisible(d)); },
        CloseDialog(),
    };
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
    ExpectErrorBoxes(run, {"Could not write to file!", "Could not write to file!"});
    ExpectFileIs(file, kTagged);
}

TEST(TagDialog, InstanceWithoutTheDialogFailsQuietly)
{
    TempFile file(kTagged);
    const std::vector<Step> steps = {};
    DialogRun run = RunDialog(file.handle(), steps, GetModuleHandleA(nullptr), 1000);
    EXPECT_EQ(run.result, -1);
    EXPECT_FALSE(run.dialogSeen);
    EXPECT_TRUE(run.boxes.empty());
    ExpectFileIs(file, kTagged);

    // The host pops LoadFile's arguments itself (cdecl): a LoadFile that
    // popped them too would leave the host's stack 12 bytes off.
    long moved = -1;
    EXPECT_EQ(CallLoadFileCheckingStack(file.handle(), GetModuleHandleA(nullptr), &moved), -1);
    EXPECT_EQ(moved, 0);
}

TEST(TagDialog, SecondCallOnTheSameHandleShowsWhatTheFirstSaved)
{
    TempFile file(kAudio);
    const std::vector<Step> firstSteps = {
        [](HWND d) { Click(d, IDC_HASTAG); },
        [](HWND d) {
            SetText(d, IDC_TITLE, "Saved once");
            SetText(d, IDC_TRACK, "12");
            Click(d, IDC_SAVE);
        },
        CloseDialog(),
    };
    DialogRun first = RunDialog(file.handle(), firstSteps);
    ExpectClosedNormally(first);
    ExpectFileIs(file, kAudio + BareBlock("Saved once", "", 12));
    const std::vector<Step> secondSteps = {
        [](HWND d) {
            EXPECT_TRUE(Checked(d));
            EXPECT_EQ(ControlText(d, IDC_TITLE), "Saved once");
            EXPECT_EQ(ControlText(d, IDC_TRACK), "12");
        },
        CloseDialog(),
    };
    DialogRun second = RunDialog(file.handle(), secondSteps);
    ExpectClosedNormally(second);
    // For the record: how long a warm process takes to show the dialog.
    RecordProperty("dialog_open_ms", (int)second.openedAfterMs);
    printf("dialog opened after %lu ms\n", (unsigned long)second.openedAfterMs);
}

TEST(TagDialog, Id3v10CommentIsShownWholeAndKeptWhenAnotherFieldIsSaved)
{
    const std::string comment = "A comment of thirty characters";
    ASSERT_EQ(comment.size(), 30u);
    const std::string before = OldStyleBlock(comment);
    std::string edited = before;
    edited.replace(3, 30, std::string("Edited") + std::string(24, '\0'));
    TempFile file(kAudio + before);
    const std::vector<Step> steps = {
        [&](HWND d) {
            EXPECT_EQ(ControlText(d, IDC_COMMENT), comment);
            EXPECT_EQ(SendDlgItemMessageA(d, IDC_COMMENT, EM_GETLIMITTEXT, 0, 0), 30);
            EXPECT_EQ(ControlText(d, IDC_TRACK), "0");
            SetText(d, IDC_TITLE, "Edited");
            Click(d, IDC_SAVE);
        },
        [&](HWND d) {
            printf("ID3v1.0 trailer before: %s\n", Hex(before).c_str());
            printf("after a title edit:     %s\n", Hex(file.Read(kAudio.size(), 128)).c_str());
            ExpectFileIs(file, kAudio + edited);
            // The track check comes first.
            SetText(d, IDC_TRACK, "300");
            Click(d, IDC_SAVE);
        },
        // With a track there is room for 28 comment characters only.
        [](HWND d) {
            SetText(d, IDC_TRACK, "5");
            Click(d, IDC_SAVE);
        },
        [&](HWND d) {
            ExpectFileIs(file, kAudio + edited);
            EXPECT_EQ(ControlText(d, IDC_COMMENT), comment);
            EXPECT_EQ(ControlText(d, IDC_TRACK), "5");
            SetText(d, IDC_COMMENT, comment.substr(0, 28).c_str());
            Click(d, IDC_SAVE);
        },
        CloseDialog(),
    };
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
    ExpectErrorBoxes(run, {"Track number must be between 0 and 255!",
                           "Comment must be at most 28 characters with a track number!"});
    edited.replace(97, 30, comment.substr(0, 28) + std::string("\0\x05", 2));
    ExpectFileIs(file, kAudio + edited);
}

TEST(TagDialog, TrackIsNothingOrUpToThreeDigitsUpTo255OnEveryPlatform)
{
    // -1: refused with the track warning, and nothing written.
    const struct {
        const char* text;
        int saved;
    } cases[] = {{"12x", -1}, {" 12", -1}, {"12 ", -1}, {"+1", -1},   {"-1", -1},
                 {"0x1", -1}, {"1.5", -1}, {"256", -1}, {"1000", -1}, {"0255", -1},
                 {"", 0},     {"0", 0},    {"007", 7},  {"255", 255}};
    TempFile file(kTagged);
    std::vector<Step> steps;
    size_t refused = 0;
    for (const auto& c : cases) {
        // A known track first, so a refused text is seen to write nothing.
        steps.push_back([](HWND d) {
            SetText(d, IDC_TRACK, "9");
            Click(d, IDC_SAVE);
        });
        steps.push_back([c](HWND d) {
            SetText(d, IDC_TRACK, c.text);
            Click(d, IDC_SAVE);
        });
        steps.push_back([c, &file](HWND) {
            SCOPED_TRACE(std::string("\"") + c.text + '"');
            ExpectFileIs(file, kAudio + Block("Song", "1999", c.saved < 0 ? 9 : c.saved, 17));
        });
        if (c.saved < 0) ++refused;
    }
    steps.push_back(CloseDialog());
    DialogRun run = RunDialog(file.handle(), steps, nullptr, 120000);
    ExpectClosedNormally(run);
    ExpectErrorBoxes(run,
                     std::vector<std::string>(refused, "Track number must be between 0 and 255!"));
}

TEST(TagDialog, GenreListOpensWithRoomForEightNames)
{
    // Run by two programs: one without a manifest (the classic combo box)
    // and one asking for the version-6 common controls.
    const bool v6 = FindResourceA(nullptr, MAKEINTRESOURCEA(1), (LPCSTR)RT_MANIFEST) != nullptr;
    TempFile file(kTagged);
    const std::vector<Step> steps = {
        [v6](HWND d) {
            HWND box = GetDlgItem(d, IDC_GENRE);
            char module[MAX_PATH] = "";
            GetModuleFileNameA((HMODULE)GetClassLongPtrA(box, GCLP_HMODULE), module, MAX_PATH);
            SendMessageA(box, CB_SHOWDROPDOWN, TRUE, 0);
            COMBOBOXINFO info = {};
            info.cbSize = sizeof info;
            ASSERT_TRUE(GetComboBoxInfo(box, &info));
            RECT list;
            GetWindowRect(info.hwndList, &list);
            const long height = list.bottom - list.top;
            const long item = (long)SendMessageA(box, CB_GETITEMHEIGHT, 0, 0);
            printf("genre list (%s, class from %s): %ld px open, items %ld px\n",
                   v6 ? "v6 manifest" : "no manifest", module, height, item);
            EXPECT_TRUE(IsWindowVisible(info.hwndList));
            EXPECT_GE(height, 8 * item);
            // The version-6 class is registered apart from user32's.
            EXPECT_EQ(strstr(module, "user32.dll") == nullptr, v6) << module;
            // The closed box keeps its one-line look.
            RECT closed;
            GetWindowRect(info.hwndCombo, &closed);
            EXPECT_LT(closed.bottom - closed.top, 2 * item);
            SendMessageA(box, CB_SHOWDROPDOWN, FALSE, 0);
        },
        CloseDialog(),
    };
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
}

TEST(TagDialog, EveryOpeningFreesTheIconsItLoaded)
{
    TempFile file(kTagged);
    // A leak shows on the first opening; the next ones load icons anew.
    const int kOpenings = 3;
    for (int i = 0; i < kOpenings; ++i) {
        HICON icons[2] = {};
        const std::vector<Step> steps = {
            [&icons](HWND d) {
                icons[0] = (HICON)SendMessageA(d, WM_GETICON, ICON_SMALL, 0);
                icons[1] = (HICON)SendMessageA(d, WM_GETICON, ICON_BIG, 0);
                Click(d, IDC_CLOSE);
            },
        };
        DialogRun run = RunDialog(file.handle(), steps);
        ASSERT_FALSE(run.timedOut) << "opening " << i;
        printf("opening %d: icons %p %p\n", i, (void*)icons[0], (void*)icons[1]);
        for (HICON icon : icons) {
            ASSERT_NE(icon, nullptr) << "opening " << i;
            ICONINFO info;
            const bool alive = GetIconInfo(icon, &info) != FALSE;
            if (alive) {
                DeleteObject(info.hbmColor);
                DeleteObject(info.hbmMask);
            }
            ASSERT_FALSE(alive) << "opening " << i << " left its icon behind";
        }
    }
}

TEST(TagDialog, DigitsTypedKeyByKeyAllLandAndAreSaved)
{
    TempFile file(kAudio);
    const std::vector<Step> steps = {
        [](HWND d) { Click(d, IDC_HASTAG); },
        [](HWND d) {
            Focus(d, IDC_YEAR);
            TypeKeys("2024");
        },
        [](HWND d) {
            Focus(d, IDC_TRACK);
            TypeKeys("255");
        },
        [](HWND d) {
            RECT year;
            GetClientRect(GetDlgItem(d, IDC_YEAR), &year);
            printf("year box %ld px wide holds \"%s\"\n", year.right,
                   ControlText(d, IDC_YEAR).c_str());
            EXPECT_EQ(ControlText(d, IDC_YEAR), "2024");
            EXPECT_EQ(ControlText(d, IDC_TRACK), "255");
            Click(d, IDC_SAVE);
        },
        CloseDialog(),
    };
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
    EXPECT_TRUE(run.boxes.empty());
    ExpectFileIs(file, kAudio + BareBlock("", "2024", 255));
}

WNDPROC g_titleProc;

// An edit box that takes no EM_REPLACESEL, as a subclassed or read-only box
// in some host may.
LRESULT CALLBACK RefuseReplaceSel(HWND edit, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == EM_REPLACESEL) return 0;
    return CallWindowProcA(g_titleProc, edit, message, wParam, lParam);
}

TEST(TagDialog, OverlongBoxThatWillNotShortenLeavesTheDialogWorking)
{
    const std::string typed(40, 't');
    TempFile file(kTagged);
    const std::vector<Step> steps = {
        [&typed](HWND d) {
            HWND title = GetDlgItem(d, IDC_TITLE);
            g_titleProc =
                (WNDPROC)SetWindowLongPtrA(title, GWLP_WNDPROC, (LONG_PTR)RefuseReplaceSel);
            SetWindowTextA(title, typed.c_str());
            SendMessageA(title, EM_SETSEL, typed.size(), (LPARAM)typed.size());
            SendMessageA(title, EM_SETMODIFY, TRUE, 0);
            // As the box reports a change the user made.
            SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_TITLE, EN_CHANGE), (LPARAM)title);
            EXPECT_EQ(ControlText(d, IDC_TITLE), typed);
            SetWindowLongPtrA(title, GWLP_WNDPROC, (LONG_PTR)g_titleProc);
            Click(d, IDC_SAVE);
        },
        CloseDialog(),
    };
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
    ExpectFileIs(file, kAudio + Block(typed.substr(0, 30), "1999", 7, 17));
}

// How wide a text's ink is in a font: a bitmap face's cells carry blank
// columns beside the glyphs, which may fall outside a box without cutting any
// letter.
LONG InkWidth(HFONT font, const std::string& text, SIZE cell)
{
    if (cell.cx <= 0 || cell.cy <= 0) return 0;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = cell.cx;
    info.bmiHeader.biHeight = -cell.cy;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) {
        DeleteDC(dc);
        return cell.cx;
    }
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    HGDIOBJ oldFont = SelectObject(dc, font);
    const RECT all = {0, 0, cell.cx, cell.cy};
    FillRect(dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    TextOutA(dc, 0, 0, text.data(), (int)text.size());
    GdiFlush();
    const DWORD* pixels = (const DWORD*)bits;
    LONG first = cell.cx;
    LONG last = -1;
    for (LONG y = 0; y < cell.cy; ++y)
        for (LONG x = 0; x < cell.cx; ++x)
            if ((pixels[y * cell.cx + x] & 0xFFFFFF) != 0xFFFFFF) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return last < first ? 0 : last - first + 1;
}

// Where a control's text falls short of its room, as "Static "Comment": 31x13
// px in 30x13" (the ink's width, the cell's height); nothing when the text
// shows whole. The room is what the control
// leaves for its text: a label's client area, an edit box's formatting
// rectangle, a combo box's field, a button's face less its edges or its box.
std::string CutShort(HWND control, int dpi)
{
    char cls[32] = "";
    char text[64] = "";
    GetClassNameA(control, cls, sizeof cls);
    GetWindowTextA(control, text, sizeof text);
    std::string shown = text;
    shown.erase(std::remove(shown.begin(), shown.end(), '&'), shown.end());
    RECT room;
    GetClientRect(control, &room);
    const LONG style = GetWindowLongA(control, GWL_STYLE);
    if (strcmp(cls, "Edit") == 0) {
        SendMessageA(control, EM_GETRECT, 0, (LPARAM)&room);
    } else if (strcmp(cls, "ComboBox") == 0) {
        COMBOBOXINFO info = {};
        info.cbSize = sizeof info;
        GetComboBoxInfo(control, &info);
        room = info.rcItem;
    } else if (strcmp(cls, "Button") == 0 && (style & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
        // The box itself, scaled as the button draws it, and a gap.
        room.left += MulDiv(13, dpi, 96) + 3;
    } else if (strcmp(cls, "Button") == 0) {
        InflateRect(&room, -2 * GetSystemMetrics(SM_CXEDGE), -2 * GetSystemMetrics(SM_CYEDGE));
    }
    const HFONT font = (HFONT)SendMessageA(control, WM_GETFONT, 0, 0);
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size = {0, 0};
    GetTextExtentPoint32A(dc, shown.c_str(), (int)shown.size(), &size);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    size.cx = InkWidth(font, shown, size);
    const LONG width = room.right - room.left;
    const LONG height = room.bottom - room.top;
    // One column over is let pass: at 144 dpi "Artist" takes 37 columns of
    // its 36-pixel label even in the face drawn for large DPIs, and only the
    // foot of its "A" goes; a box one letter short is well past it.
    if (size.cx <= width + 1 && size.cy <= height) return "";
    char line[160];
    snprintf(line, sizeof line, "%s \"%s\": %ldx%ld px in %ldx%ld", cls, text, size.cx, size.cy,
             width, height);
    return line;
}

// The dialog as a user who sets Wine's DPI meets it: ctest runs this case at
// 96 dpi with the others and at 144 dpi on its own. The window table is the
// one at 96 dpi, scaled by the dialog's font; every text shows whole and no
// control lies over another.
TEST(TagDialog, EveryTextShowsWholeAndNoControlCoversAnotherAtAnyDpi)
{
    TempFile file(kTagged);
    const std::vector<Step> steps = {
        [](HWND d) {
            HDC screen = GetDC(nullptr);
            const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
            ReleaseDC(nullptr, screen);
            printf("at %d dpi:\n", dpi);
            ExpectWindow(d, TaggedWindow());
            std::vector<std::string> faults;
            std::vector<RECT> placed;
            for (HWND child = GetWindow(d, GW_CHILD); child;
                 child = GetWindow(child, GW_HWNDNEXT)) {
                RECT rect;
                GetWindowRect(child, &rect);
                MapWindowPoints(nullptr, d, (POINT*)&rect, 2);
                printf("  %s\n", WindowLine(child, rect).c_str());
                const std::string cut = CutShort(child, dpi);
                if (!cut.empty()) faults.push_back(cut);
                for (const RECT& other : placed) {
                    RECT both;
                    if (IntersectRect(&both, &rect, &other))
                        faults.push_back("control " + std::to_string(GetDlgCtrlID(child)) +
                                         " over another");
                }
                placed.push_back(rect);
            }
            EXPECT_EQ(faults, std::vector<std::string>{});
            // The dialog grows with the DPI, by as much as its font does.
            RECT client;
            GetClientRect(d, &client);
            EXPECT_GE(client.right * 96, 252 * dpi * 9 / 10) << client.right << " px wide";
            EXPECT_GE(client.bottom * 96, 185 * dpi * 9 / 10) << client.bottom << " px high";
        },
        CloseDialog(),
    };
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
}

// Under a multi-byte ANSI code page: ctest runs these on their own under
// code page 932 (Shift-JIS; LC_ALL=ja_JP.UTF-8 gives it to Wine) and under
// UTF-8 (activeCodePage in the program's manifest).
class MultiByteTagDialog : public ::testing::Test {
   protected:
    void SetUp() override
    {
        ASSERT_TRUE(GetACP() == 932u || GetACP() == CP_UTF8)
            << "run with LC_ALL=ja_JP.UTF-8 or a UTF-8 manifest, not code page " << GetACP();
    }
};

// The text in the process's ANSI code page.
std::string Ansi(const std::wstring& text)
{
    char bytes[256];
    const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), (int)text.size(), bytes,
                                           sizeof bytes, nullptr, nullptr);
    return std::string(bytes, (size_t)length);
}

TEST_F(MultiByteTagDialog, TypingStopsAtAWholeCharacterWithinTheFieldsBytes)
{
    // Hiragana "a": two bytes in Shift-JIS, three in UTF-8.
    const std::wstring typed = L"a" + std::wstring(30, L'\x3042');
    const std::string kana = Ansi(L"\x3042");
    std::string fits = "a";
    while (fits.size() + kana.size() <= 30)
        fits += kana;
    TempFile file(kTagged);
    const std::vector<Step> steps = {
        [](HWND d) {
            SetText(d, IDC_TITLE, "");
            Focus(d, IDC_TITLE);
        },
        [&typed](HWND) { TypeWide(typed); },
        [&fits](HWND d) {
            printf("the title box holds %zu bytes: %s\n", ControlText(d, IDC_TITLE).size(),
                   Hex(ControlText(d, IDC_TITLE)).c_str());
            EXPECT_EQ(ControlText(d, IDC_TITLE), fits);
            Click(d, IDC_SAVE);
        },
        CloseDialog(),
    };
    // What LoadFile keeps on the stack must not depend on what was there.
    DirtyStack();
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
    ExpectFileIs(file, kAudio + Block(fits, "1999", 7, 17));
}

TEST_F(MultiByteTagDialog, FieldEndingInHalfACharacterShowsWithoutItAndIsSavedAsShownOnlyIfEdited)
{
    // 0xE9 (e acute in Latin-1) is a lead byte in Shift-JIS and starts a
    // three-byte sequence in UTF-8; at the end of a field nothing follows it.
    const std::string title = "Beyonc\xE9";
    std::string block = Block(title, "1999", 7, 17);
    block.replace(63, 5, std::string("Caf\xE9\0", 5));  // the album
    TempFile file(kAudio + block);
    const std::vector<Step> steps = {
        [](HWND d) {
            printf("the title box shows: %s\n", Hex(ControlText(d, IDC_TITLE)).c_str());
            EXPECT_EQ(ControlText(d, IDC_TITLE), "Beyonc");
            EXPECT_EQ(ControlText(d, IDC_ALBUM), "Caf");
            SetText(d, IDC_ALBUM, (ControlText(d, IDC_ALBUM) + "e").c_str());
            Click(d, IDC_SAVE);
        },
        CloseDialog(),
    };
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
    block.replace(63, 5, std::string("Cafe\0", 5));
    ExpectFileIs(file, kAudio + block);
}

TEST_F(MultiByteTagDialog, FullFieldEndingInHalfACharacterTakesOneTypedByteInItsPlace)
{
    // 30 bytes on disk, 29 shown: typing may fill the field again, and no more.
    const std::string kept(29, 'a');
    TempFile file(kAudio + Block(kept + "\xE9", "1999", 7, 17));
    const std::vector<Step> steps = {
        [&kept](HWND d) {
            EXPECT_EQ(ControlText(d, IDC_TITLE), kept);
            Focus(d, IDC_TITLE);
            SendDlgItemMessageA(d, IDC_TITLE, EM_SETSEL, kept.size(), (LPARAM)kept.size());
            Type("xy");
        },
        [&kept](HWND d) {
            EXPECT_EQ(ControlText(d, IDC_TITLE), kept + "x");
            Click(d, IDC_SAVE);
        },
        CloseDialog(),
    };
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
    ExpectFileIs(file, kAudio + Block(kept + "x", "1999", 7, 17));
}

// Under UTF-8 only: tags written on a Western system hold Latin-1 letters,
// which UTF-8 shows as U+FFFD, three bytes, so a box may open wider than its
// field; and a character outside the Basic Multilingual Plane is two UTF-16
// units in the box.
class Utf8TagDialog : public ::testing::Test {
   protected:
    void SetUp() override { ASSERT_EQ(GetACP(), (UINT)CP_UTF8) << "run with a UTF-8 manifest"; }
};

TEST_F(Utf8TagDialog, TitleEditsKeepWholeCharactersWithinTheField)
{
    const std::string a27(27, 'a');
    const std::string latin1 = a27 + "\xE9xy";
    const std::string shownLatin1 = a27 + "\xEF\xBF\xBDxy";
    const std::string e = "\xE9";  // a Latin-1 letter, no UTF-8 character
    const std::string fffd = "\xEF\xBF\xBD";
    const std::string edges =
        "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";
    // Each sequence is as long as its lead asks, so a lead whose range went
    // unchecked would take all of it as one character.
    const std::string pastEdges =
        "\xE0\x9F\xBF\xED\xA0\x80\xF0\x8F\xBF\xBF\xF4\x90\x80\x80\xF5\x80\xC1";
    const struct {
        const char* what;
        std::string stored;  // the title in the file
        int from, to;        // the selection typed over, in UTF-16 units; -1: none
        std::wstring typed;
        std::string shown, saved;
    } cases[] = {
        {"half a character at the end, first letter retyped", a27 + "a\xE6\x97", 0, 1, L"b",
         "b" + a27, "b" + a27},
        {"a Latin-1 letter and what follows it replaced", latin1, 27, 30, L"\xE9\xE9",
         a27 + "\xC3\xA9", a27 + "\xC3\xA9"},
        // The box keeps the width it opened with, and the save cuts it to the
        // field at a whole character.
        {"first letter retyped in a box that opened wider", latin1, 0, 1, L"b",
         "b" + shownLatin1.substr(1), "b" + shownLatin1.substr(1, 29)},
        // Text the dialog set itself is not trimmed, and an untouched box
        // saves the file's own bytes.
        {"a box that opened wider, untouched", latin1, -1, -1, L"", shownLatin1, latin1},
        {"an emoji that does not fit", "", 0, 0, std::wstring(27, L'a') + L"\xD83D\xDE00", a27,
         a27},
        // A lone lead byte a letter or two short of the text's end keeps
        // those letters, shown and saved, untouched or edited.
        {"a Latin-1 letter before the last, untouched", "Ren" + e + "e", -1, -1, L"",
         "Ren" + fffd + "e", "Ren" + e + "e"},
        {"a Latin-1 letter before the last, edited", "Ren" + e + "e", 0, 1, L"r",
         "ren" + fffd + "e", "ren" + fffd + "e"},
        {"a Latin-1 letter before the last at the field's width, untouched",
         a27.substr(2) + "Caf" + e + "s", -1, -1, L"", a27.substr(2) + "Caf" + fffd + "s",
         a27.substr(2) + "Caf" + e + "s"},
        // The first and last character of each lead whose first continuation
        // byte has a narrower range, then one byte past each of those ranges:
        // there every byte stands alone.
        {"the edges of UTF-8's narrower ranges, whole", edges, -1, -1, L"", edges, edges},
        {"just past the edges of UTF-8's narrower ranges", pastEdges, -1, -1, L"",
         [&] {
             std::string shown;
             for (size_t i = 0; i < pastEdges.size(); ++i)
                 shown += fffd;
             return shown;
         }(),
         pastEdges},
        {"a four-byte lead before two letters, edited", "xy\xF0" + std::string("AB"), 0, 1, L"z",
         "zy" + fffd + "AB", "zy" + fffd + "AB"},
    };
    for (const auto& c : cases) {
        TempFile file(kAudio + Block(c.stored, "1999", 7, 17));
        const std::vector<Step> steps = {
            [&c](HWND d) {
                if (c.from < 0) return;
                Focus(d, IDC_TITLE);
                SendDlgItemMessageA(d, IDC_TITLE, EM_SETSEL, (WPARAM)c.from, c.to);
                TypeWide(c.typed);
            },
            [&c](HWND d) {
                EXPECT_EQ(Hex(ControlText(d, IDC_TITLE)), Hex(c.shown)) << c.what;
                Click(d, IDC_SAVE);
            },
            CloseDialog(),
        };
        DialogRun run = RunDialog(file.handle(), steps);
        ExpectClosedNormally(run);
        SCOPED_TRACE(c.what);
        ExpectFileIs(file, kAudio + Block(c.saved, "1999", 7, 17));
    }
}
