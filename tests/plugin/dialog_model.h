// What the tag dialog should show and write, predicted from the file's bytes
// and the user's actions alone. The dialog's own code is not used: each rule
// is stated here once, from what the user is promised, and only the
// platform's conversion of one whole character (and of a box's text) is
// borrowed, since that is what the boxes themselves use.
#pragma once

#include <string>
#include <vector>

// The boxes in the order the model keeps them.
enum ModelBox { M_TRACK, M_TITLE, M_ARTIST, M_ALBUM, M_YEAR, M_COMMENT, M_BOXES };

struct DialogModel {
    std::string file;  // the whole file, as it should be on disk
    bool checked = false;
    std::wstring boxes[M_BOXES];      // each box's text, in the UTF-16 units it holds
    int genrePosition = -1;           // -1: nothing selected
    std::vector<std::string> errors;  // the error boxes of this opening, in order

    // Remembered from the opening.
    bool tagged = false;
    std::string read[M_BOXES];   // each text field's bytes up to its NUL
    std::string shown[M_BOXES];  // each box's bytes right after opening
    size_t commentWidth = 28;
    int genreRead = 255;
    size_t caret = 0;  // where the last change left the caret

    // Whether a box that does not scroll (track, year) can show these units
    // in its width: measured by the caller with the box's own font.
    bool (*fits)(int box, const std::wstring& units) = nullptr;
};

// Bytes as printable text: printable ASCII as it is, every other byte and the
// backslash as \xNN.
std::string Hex(const std::string& bytes);

// The box's text as GetWindowTextA gives it: the code page's bytes.
std::string BoxBytes(const std::wstring& units);

// Opening on the model's file.
void ModelOpen(DialogModel* m);
// The check box clicked.
void ModelTick(DialogModel* m);
// One UTF-16 unit typed (WM_CHAR) over the units [*from, *to) of a box,
// which then hold the selection it leaves.
void ModelType(DialogModel* m, int box, size_t* from, size_t* to, wchar_t unit);
// Text pasted (EM_REPLACESEL) over [from, to).
void ModelPaste(DialogModel* m, int box, size_t from, size_t to, const std::wstring& text);
// Backspace or Delete with [from, to) selected.
void ModelErase(DialogModel* m, int box, size_t from, size_t to, bool backspace);
void ModelPickGenre(DialogModel* m, int position);
// "&Save", by click or Enter.
void ModelSave(DialogModel* m);

// What the user sees: every box's text and state, the check box and the
// genre, read off the dialog or predicted by the model, and compared whole.
struct DialogView {
    bool checked;
    std::string texts[M_BOXES];
    bool enabled[M_BOXES];
    bool genreEnabled;
    int genre;
};
DialogView ModelView(const DialogModel& m);
std::string Describe(const DialogView& view);
