// Random user sessions against the model: random files, random actions, and
// after each action the whole dialog and the file compared with what the
// model predicts. QUILLON_SESSIONS=N QUILLON_SEED=S runs N sessions from
// seed S; a failure names the seed that replays it alone.
#include <usp10.h>
#include <windows.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <random>

#include "../tag/temp_file.h"
#include "dialog/resource.h"
#include "dialog_driver.h"
#include "dialog_model.h"

namespace {

const int kBoxIds[M_BOXES] = {IDC_TRACK, IDC_TITLE, IDC_ARTIST, IDC_ALBUM, IDC_YEAR, IDC_COMMENT};
const int kSessions = 5;
const int kActions = 100;

int Setting(const char* name, int otherwise)
{
    const char* value = getenv(name);
    return value && *value ? atoi(value) : otherwise;
}

// Field bytes of every kind the sessions draw from. Any may be cut short by
// the field's width, which leaves half characters at every position.
std::string FieldPiece(std::mt19937& rng)
{
    auto pick = [&rng](int n) { return (int)(rng() % (unsigned)n); };
    // Bytes at the edges of UTF-8's ranges: leads that begin no sequence or
    // narrow their first continuation byte, and continuation bytes at both
    // ends of each of those ranges.
    const unsigned char leads[] = {0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xED,
                                   0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
    const unsigned char trails[] = {0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0};
    switch (pick(13)) {
        case 0:
            return std::string("Song").substr(0, 1 + rng() % 4);
        case 1:
            return std::string(1 + rng() % 3, ' ');  // trailing spaces
        case 2:
            return std::string(1, (char)(0xC0 + pick(64)));  // a Latin-1 letter
        case 3:
            return {'\x82', (char)(0x9F + pick(83))};  // hiragana in 932
        case 4:
            return {(char)(0x88 + pick(24)), (char)(0x40 + pick(63))};  // kanji in 932
        case 5:
            return std::string(1, (char)(0xA1 + pick(63)));  // half-width kana in 932
        case 6:
            return {'\xC3', (char)(0x80 + pick(64))};  // two-byte UTF-8
        case 7:
            return {'\xE3', '\x81', (char)(0x80 + pick(64))};  // three-byte UTF-8
        case 8:
            return {'\xF0', '\x9F', '\x98', (char)(0x80 + pick(16))};  // an emoji in UTF-8
        case 9:
        case 10:
        case 11: {
            std::string edge(1, (char)leads[pick(11)]);
            for (int i = pick(4); i > 0; --i)
                edge += (char)trails[pick(8)];
            return edge;
        }
        default:
            return std::string(1, (char)(1 + pick(255)));  // any byte but NUL
    }
}

// A field of exactly size bytes: text, then NULs or, now and then, a NUL and
// bytes after it; or text filling the field with no NUL at all.
std::string Field(std::mt19937& rng, size_t size)
{
    const size_t length = rng() % 4 == 0 ? size : rng() % (size + 1);
    std::string text;
    while (text.size() < length)
        text += FieldPiece(rng);
    text.resize(length);
    for (char& c : text)
        if (c == '\0') c = ' ';
    std::string field = text + std::string(size - length, '\0');
    if (length + 2 <= size && rng() % 6 == 0) field[length + 1] = 'x';
    return field;
}

// Audio and, by kind, no tag, an ID3v1.1 trailer or an ID3v1.0 one; some
// files are shorter than a trailer.
std::string RandomFile(std::mt19937& rng)
{
    const int kind = (int)(rng() % 4);
    std::string audio(rng() % 3 == 0 ? rng() % 128 : 128 + rng() % 200, '\x33');
    if (kind == 0) return audio;
    const int genres[] = {255, 0, 141, 142, 254, (int)(rng() % 142), (int)(rng() % 256)};
    std::string block = "TAG" + Field(rng, 30) + Field(rng, 30) + Field(rng, 30) + Field(rng, 4);
    if (kind == 1) {
        std::string comment = Field(rng, 30);
        if (comment[28] == '\0') comment[28] = (char)(1 + rng() % 255);  // marks ID3v1.0
        block += comment;
    } else {
        const int tracks[] = {0, 1, 255, (int)(rng() % 256)};
        block += Field(rng, 28) + '\0' + (char)tracks[rng() % 4];
    }
    block += (char)genres[rng() % 7];
    return audio + block;
}

// What a user types, by kind, in characters the code page can hold.
std::wstring TypedText(std::mt19937& rng)
{
    std::wstring kinds[] = {L"aZ", L"09", L" "};
    std::wstring wide;
    switch (GetACP()) {
        case 932:
            wide = L"\x3042\x6F22\xFF71";
            break;  // hiragana, kanji, half-width kana
        case CP_UTF8:
            wide = L"\xE9\x3042";
            break;
        default:
            wide = L"\xE9\xFC\xC0";
            break;
    }
    std::wstring text;
    const int count = 1 + (int)(rng() % 4);
    for (int i = 0; i < count; ++i) {
        const int kind = (int)(rng() % 5);
        if (kind < 3) {
            text += kinds[kind][rng() % kinds[kind].size()];
        } else if (kind == 3) {
            text += wide[rng() % wide.size()];
        } else if (GetACP() == CP_UTF8) {
            text += L"\xD83D\xDE00";
        } else {
            text += L"7";
        }
    }
    return text;
}

// The running dialog's controls by id, each looked up once an opening:
// under Wine each GetDlgItem is a round trip to the server, and the view is
// read after every action.
struct Controls {
    HWND dialog = nullptr;
    HWND items[IDC_GENRE + 1] = {};

    HWND operator[](int id)
    {
        if (!items[id]) items[id] = GetDlgItem(dialog, id);
        return items[id];
    }
};

Controls g_controls;

DialogView ReadView()
{
    DialogView view;
    view.checked = SendMessageA(g_controls[IDC_HASTAG], BM_GETCHECK, 0, 0) == BST_CHECKED;
    for (int box = 0; box < M_BOXES; ++box) {
        HWND edit = g_controls[kBoxIds[box]];
        char text[256] = "";
        GetWindowTextA(edit, text, sizeof text);
        view.texts[box] = text;
        view.enabled[box] = IsWindowEnabled(edit) != FALSE;
    }
    HWND genre = g_controls[IDC_GENRE];
    view.genreEnabled = IsWindowEnabled(genre) != FALSE;
    view.genre = (int)SendMessageA(genre, CB_GETCURSEL, 0, 0);
    return view;
}

// Whether a box shows the units within its width, measured as the edit
// control measures its line: by Uniscribe, with the fonts it links in for
// characters the box's own font lacks.
bool FitsBox(int box, const std::wstring& units)
{
    if (units.empty()) return true;
    HWND edit = g_controls[kBoxIds[box]];
    RECT rect;
    SendMessageW(edit, EM_GETRECT, 0, (LPARAM)&rect);
    HDC dc = GetDC(edit);
    HGDIOBJ font = SelectObject(dc, (HFONT)SendMessageW(edit, WM_GETFONT, 0, 0));
    SCRIPT_STRING_ANALYSIS analysis = nullptr;
    LONG width = 0;
    const int length = (int)units.size();
    if (SUCCEEDED(ScriptStringAnalyse(dc, units.c_str(), length, length * 3 / 2 + 16, -1,
                                      SSA_LINK | SSA_FALLBACK | SSA_GLYPHS, -1, nullptr, nullptr,
                                      nullptr, nullptr, nullptr, &analysis))) {
        width = ScriptString_pSize(analysis)->cx;
        ScriptStringFree(&analysis);
    }
    SelectObject(dc, font);
    ReleaseDC(edit, dc);
    return width <= rect.right - rect.left;
}

std::string FirstDifference(const std::string& seen, const std::string& expected)
{
    size_t line = 0;
    while (line < seen.size() && line < expected.size()) {
        const size_t end = seen.find('\n', line);
        if (seen.compare(line, end - line + 1, expected, line, end - line + 1) != 0) break;
        line = end + 1;
    }
    return "the dialog shows " + seen.substr(line, seen.find('\n', line) - line) +
           "\n  the model has " + expected.substr(line, expected.find('\n', line) - line);
}

class Session {
   public:
    Session(unsigned seed, TempFile* file, const std::string& bytes) : rng_(seed), file_(file)
    {
        model_.file = bytes;
        model_.fits = FitsBox;
    }

    // Opens the dialog again and again on the same handle until the actions
    // run out or the dialog and the model part.
    void Run()
    {
        while (actionsLeft_ > 0 && difference_.empty()) {
            ModelOpen(&model_);
            Note("open");
            std::vector<Step> steps(kActions + 2, [this](HWND d) { Next(d); });
            g_controls = Controls();
            const DialogRun run = RunDialog(file_->handle(), steps);
            std::vector<std::string> boxes;
            for (const MessageBoxSeen& box : run.boxes)
                boxes.push_back(box.caption + ": " + box.text);
            std::vector<std::string> expected;
            for (const std::string& text : model_.errors)
                expected.push_back("Error: " + text);
            if (run.timedOut || run.result != 0)
                Differ("the dialog ended with " + std::to_string(run.result) +
                       (run.timedOut ? " after the time limit" : ""));
            if (boxes != expected)
                Differ("message boxes: " + testing::PrintToString(boxes) + "\n  the model has " +
                       testing::PrintToString(expected));
            CompareFile();
        }
    }

    const std::string& difference() const { return difference_; }
    const std::string& actions() const { return actions_; }

   private:
    int Pick(int n) { return (int)(rng_() % (unsigned)n); }
    void Note(const std::string& action) { actions_ += "  " + action + "\n"; }
    void Differ(const std::string& what)
    {
        if (difference_.empty()) difference_ = what;
    }

    void CompareFile()
    {
        if (file_->Contents() != model_.file) Differ("the file's bytes differ from the model's");
    }

    // A selection at character boundaries: a caret never sits inside a pair.
    size_t Boundary(int box)
    {
        const std::wstring& units = model_.boxes[box];
        size_t at = rng_() % (units.size() + 1);
        if (at > 0 && at < units.size() && IS_LOW_SURROGATE(units[at])) --at;
        return at;
    }

    // One tick: compare, act, and again while the actions take effect at once;
    // an action that posts a key leaves the rest to the next tick, once the
    // key has been handled.
    void Next(HWND dialog)
    {
        g_controls.dialog = dialog;
        for (;;) {
            const std::string seen = Describe(ReadView());
            const std::string expected = Describe(ModelView(model_));
            if (seen != expected) Differ(FirstDifference(seen, expected));
            if (!difference_.empty() || actionsLeft_-- <= 0) {
                Note("close");
                Click(dialog, IDC_CLOSE);
                return;
            }
            if (!Act(dialog)) return;
        }
    }

    // Does one action on the dialog and the model; false when its effect
    // comes with a later message, or the dialog has ended.
    bool Act(HWND dialog)
    {
        const int action = Pick(16);
        const int box = Pick(M_BOXES);
        const int id = kBoxIds[box];
        if (action >= 12 || !model_.checked) {
            switch (action % 4) {
                case 0:
                    Note("tick");
                    Click(dialog, IDC_HASTAG);
                    ModelTick(&model_);
                    return true;
                case 1:
                    Note("save");
                    Click(dialog, IDC_SAVE);
                    ModelSave(&model_);
                    CompareFile();
                    return true;
                case 2: {
                    const int focus = model_.checked ? id : IDC_HASTAG;
                    Note("Enter in " + std::to_string(focus));
                    SetFocus(g_controls[focus]);
                    PressKey(VK_RETURN);
                    ModelSave(&model_);
                    return false;
                }
                default:
                    if (Pick(6) == 0) {
                        Note("close and open again");
                        Click(dialog, IDC_CLOSE);
                        return false;
                    }
                    Note("tick");
                    Click(dialog, IDC_HASTAG);
                    ModelTick(&model_);
                    return true;
            }
        }
        size_t from = Boundary(box);
        size_t to = Boundary(box);
        if (from > to) std::swap(from, to);
        if (Pick(3) == 0) from = to;
        SetFocus(g_controls[id]);
        SendMessageW(g_controls[id], EM_SETSEL, from, (LPARAM)to);
        const std::string where = " in " + std::to_string(id) + " over " + std::to_string(from) +
                                  "-" + std::to_string(to);
        if (action < 6) {
            const std::wstring text = TypedText(rng_);
            std::string units;
            for (wchar_t unit : text)
                units += std::to_string((int)unit) + " ";
            Note("type " + units + where);
            for (wchar_t unit : text) {
                SendMessageW(g_controls[id], WM_CHAR, (WPARAM)unit, 1);
                ModelType(&model_, box, &from, &to, unit);
            }
            return true;
        }
        switch (action) {
            case 6:
            case 7:
                Note(std::string(action == 6 ? "Backspace" : "Delete") + where);
                if (action == 6)
                    SendMessageW(g_controls[id], WM_CHAR, VK_BACK, 1);
                else
                    SendMessageW(g_controls[id], WM_KEYDOWN, VK_DELETE, 1);
                ModelErase(&model_, box, from, to, action == 6);
                return true;
            case 8: {
                Note("clear " + std::to_string(id));
                const size_t length = model_.boxes[box].size();
                SendMessageW(g_controls[id], EM_SETSEL, 0, -1);
                SendMessageW(g_controls[id], WM_CHAR, VK_BACK, 1);
                ModelErase(&model_, box, 0, length, true);
                return true;
            }
            case 9: {
                const int position = Pick(2) ? Pick(143) : 142 * Pick(2);
                Note("genre " + std::to_string(position));
                PickGenre(dialog, position);
                ModelPickGenre(&model_, position);
                return true;
            }
            default: {
                // A pasted track or year is not held to digits.
                const wchar_t* const pastes[] = {L"12x", L"255",  L"256", L"999",
                                                 L"x",   L"19x9", L"0"};
                const std::wstring text = pastes[Pick(7)];
                const int target = Pick(2) ? M_TRACK : M_YEAR;
                const int targetId = kBoxIds[target];
                Note("paste into " + std::to_string(targetId));
                const size_t length = model_.boxes[target].size();
                SetFocus(g_controls[targetId]);
                SendMessageW(g_controls[targetId], EM_SETSEL, 0, -1);
                SendMessageW(g_controls[targetId], EM_REPLACESEL, TRUE, (LPARAM)text.c_str());
                ModelPaste(&model_, target, 0, length, text);
                return true;
            }
        }
    }

    std::mt19937 rng_;
    TempFile* file_;
    DialogModel model_;
    int actionsLeft_ = kActions;
    std::string actions_;
    std::string difference_;
};

TEST(DialogSessions, RandomSessionsShowAndSaveWhatTheModelPredicts)
{
    const int sessions = Setting("QUILLON_SESSIONS", kSessions);
    const unsigned seed = (unsigned)Setting("QUILLON_SEED", 1);
    int failed = 0;
    for (int i = 0; i < sessions && failed < 3; ++i) {
        std::mt19937 files(seed + (unsigned)i);
        const std::string bytes = RandomFile(files);
        TempFile file(bytes);
        Session session(seed + (unsigned)i, &file, bytes);
        session.Run();
        if (session.difference().empty()) continue;
        ++failed;
        ADD_FAILURE() << "session QUILLON_SESSIONS=1 QUILLON_SEED=" << seed + (unsigned)i
                      << " under code page " << GetACP() << ":\n"
                      << session.actions() << session.difference();
    }
}

}  // namespace
