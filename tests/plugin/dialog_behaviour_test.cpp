// The tag dialog end to end under the real dialog manager: a host-like
// caller opens a file, calls LoadFile and acts as the user.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include "../tag/temp_file.h"
#include "dialog/resource.h"
#include "dialog_driver.h"
#include "tag/tag_record.h"

namespace {

const std::string kAudio(2000, '\x33');
const int kFields[] = {IDC_TRACK, IDC_TITLE, IDC_ARTIST, IDC_ALBUM,
                       IDC_YEAR,  IDC_GENRE, IDC_COMMENT};

std::string Block(const std::string& title, const std::string& year, int track, int genre)
{
    TagRecord record;
    ClearTagRecord(&record);
    memcpy(record.title, title.data(), title.size());
    memcpy(record.year, year.data(), year.size());
    strcpy(record.artist, "Artist");
    strcpy(record.album, "Album");
    strcpy(record.comment, "Comment");
    record.track = (uint16_t)track;
    record.genre = (uint16_t)genre;
    return Encoded(record);
}

const std::string kTagged = kAudio + Block("Song", "1999", 7, 17);

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

void ExpectClosedNormally(const DialogRun& run)
{
    EXPECT_FALSE(run.timedOut);
    EXPECT_TRUE(run.dialogSeen);
    EXPECT_EQ(run.result, 0);
}

void ExpectOneBox(const DialogRun& run, const char* text)
{
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].caption, "Error");
    EXPECT_EQ(run.boxes[0].text, text);
    EXPECT_TRUE(run.boxes[0].warningIcon);
    EXPECT_EQ(run.boxes[0].buttons, 1);
}

}  // namespace

TEST(TagDialog, TaggedFileOpensCheckedWithEveryFieldShown)
{
    TempFile file(kTagged);
    const std::vector<Step> steps = {
        [](HWND d) {
            EXPECT_TRUE(Checked(d));
            for (int id : kFields)
                EXPECT_TRUE(Enabled(d, id)) << id;
            EXPECT_EQ(ControlText(d, IDC_TRACK), "7");
            EXPECT_EQ(ControlText(d, IDC_TITLE), "Song");
            EXPECT_EQ(ControlText(d, IDC_ARTIST), "Artist");
            EXPECT_EQ(ControlText(d, IDC_ALBUM), "Album");
            EXPECT_EQ(ControlText(d, IDC_YEAR), "1999");
            EXPECT_EQ(ControlText(d, IDC_COMMENT), "Comment");
            EXPECT_EQ(GenrePosition(d), 18);
            EXPECT_EQ(ControlText(d, IDC_GENRE), "Rock");
            EXPECT_EQ(SendDlgItemMessageA(d, IDC_GENRE, CB_GETCOUNT, 0, 0), 143);
            // The dialog manager gives the focus to the check box.
            EXPECT_EQ(GetFocus(), GetDlgItem(d, IDC_HASTAG));
            // Both icons come from the calling program's icon 101.
            EXPECT_NE(SendMessageA(d, WM_GETICON, ICON_SMALL, 0), 0);
            EXPECT_NE(SendMessageA(d, WM_GETICON, ICON_BIG, 0), 0);
            char caption[64];
            GetWindowTextA(d, caption, sizeof caption);
            EXPECT_STREQ(caption, "Quillon - MP3");
        },
        CloseDialog(),
    };
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(file.Contents(), kTagged);
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
    TagRecord saved;
    TagBlock block;
    memcpy(block.bytes, file.Read(kAudio.size(), 128).data(), 128);
    ClearTagRecord(&saved);
    DecodeTagBlock(&block, &saved);
    EXPECT_EQ(std::string(saved.title), std::string(30, 'x'));
    EXPECT_STREQ(saved.year, "20");
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
    std::string expected(128, '\0');
    memcpy(&expected[0], "TAGTyped", 8);
    memcpy(&expected[93], "2024", 4);
    expected[127] = '\xFF';
    EXPECT_EQ(file.Contents(), kAudio + expected);
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
            EXPECT_EQ(file.Contents(), kAudio);
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
    EXPECT_EQ(file.Contents(), kTagged);
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
            EXPECT_EQ(file.Contents(), kTagged);
            Click(d, IDC_SAVE);
        },
        CloseDialog(),
    };
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
    ExpectOneBox(run, "Track number must be between 0 and 255!");
    EXPECT_EQ(file.Read(kAudio.size() + 126, 1), "\xFF");
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
            EXPECT_EQ(file.Read(kAudio.size() + 127, 1), "\x96");
            PickGenre(d, 64);
            EXPECT_EQ(ControlText(d, IDC_GENRE), "Jungle");
            // A pick alone writes nothing.
            EXPECT_EQ(file.Read(kAudio.size() + 127, 1), "\x96");
            Click(d, IDC_SAVE);
        },
        [&](HWND d) {
            EXPECT_EQ(file.Read(kAudio.size() + 127, 1), "\x3F");
            PickGenre(d, 0);
            Click(d, IDC_SAVE);
        },
        CloseDialog(),
    };
    DialogRun run = RunDialog(file.handle(), steps);
    ExpectClosedNormally(run);
    EXPECT_EQ(file.Read(kAudio.size() + 127, 1), "\xFF");
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
    EXPECT_EQ(file.Read(kAudio.size(), 33), std::string("TAGBe") + std::string(28, '\0'));
    EXPECT_EQ(file.Read(kAudio.size() + 93, 4), "19x9");
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
            EXPECT_EQ(file.Read(kAudio.size() + 3, (uint32_t)title.size()), title)
                << "Enter on control " << id;
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
    EXPECT_EQ(file.Contents(), kTagged);
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
    EXPECT_EQ(file.Size(), kAudio.size() + 128);
}

TEST(TagDialog, UnreadableFileIsReportedAndTheDialogCloses)
{
    TempFile file(kTagged, Access::WriteOnly);
    const std::vector<Step> steps = {};
    DialogRun run = RunDialog(file.handle(), steps);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.result, 0);
    ExpectOneBox(run, "Could not read from file!");
    EXPECT_EQ(file.Contents(), kTagged);
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
    ASSERT_EQ(run.boxes.size(), 2u);
    for (const MessageBoxSeen& box : run.boxes) {
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.text, "Could not write to file!");
    }
    EXPECT_EQ(file.Contents(), kTagged);
}

TEST(TagDialog, InstanceWithoutTheDialogFailsQuietly)
{
    TempFile file(kTagged);
    const std::vector<Step> steps = {};
    DialogRun run = RunDialog(file.handle(), steps, GetModuleHandleA(nullptr), 1000);
    EXPECT_EQ(run.result, -1);
    EXPECT_FALSE(run.dialogSeen);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(file.Contents(), kTagged);
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
