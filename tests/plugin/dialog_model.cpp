// The tag dialog's rules, one place each.
#include "dialog_model.h"

#include <windows.h>

#include <algorithm>

namespace {

const int kBlock = 128;
const size_t kShortComment = 28;
const size_t kLongComment = 30;
const int kGenreNone = 255;
const int kLastNamedGenre = 141;

// Where each text field lies in the trailer and how many bytes it has; the
// comment has 30 in an ID3v1.0 trailer (byte 125 not zero).
const struct {
    size_t at, size;
} kFields[M_BOXES] = {{0, 0}, {3, 30}, {33, 30}, {63, 30}, {93, 4}, {97, kShortComment}};

// How many units the track box takes, and how many bytes each text box.
size_t Width(const DialogModel& m, int box)
{
    if (box == M_TRACK) return 3;
    return box == M_COMMENT ? m.commentWidth : kFields[box].size;
}

bool HasTag(const std::string& file)
{
    return file.size() >= (size_t)kBlock && file.compare(file.size() - kBlock, 3, "TAG") == 0;
}

// UTF-8's well-formed sequences: the lead bytes of each length, and the range
// its first continuation byte must fall in (the later ones are 80-BF).
const struct {
    unsigned char firstLead, lastLead;
    size_t size;
    unsigned char low, high;
} kUtf8[] = {
    {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF}, {0xE1, 0xEC, 3, 0x80, 0xBF},
    {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF},
    {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
};

bool IsLeadByte(unsigned char byte)
{
    CPINFO info;
    GetCPInfo(CP_ACP, &info);
    for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i]; i += 2)
        if (byte >= info.LeadByte[i] && byte <= info.LeadByte[i + 1]) return true;
    return false;
}

// The bytes of the character at s[at]: under UTF-8 a well-formed sequence,
// under a double-byte code page a lead byte and the byte after it, else one
// byte. A byte that begins no whole character is one of its own; 0 when the
// end of s cuts the character off.
size_t CharacterAt(const std::string& s, size_t at)
{
    const unsigned char lead = (unsigned char)s[at];
    if (GetACP() == CP_UTF8) {
        for (const auto& form : kUtf8) {
            if (lead < form.firstLead || lead > form.lastLead) continue;
            for (size_t i = 1; i < form.size; ++i) {
                if (at + i >= s.size()) return 0;
                const unsigned char next = (unsigned char)s[at + i];
                const unsigned char low = i == 1 ? form.low : 0x80;
                const unsigned char high = i == 1 ? form.high : 0xBF;
                if (next < low || next > high) return 1;
            }
            return form.size;
        }
        return 1;
    }
    if (IsLeadByte(lead)) return at + 1 < s.size() ? 2 : 0;
    return 1;
}

// The longest run of whole characters at the start of s within width bytes.
std::string WholeCharacters(const std::string& s, size_t width)
{
    size_t length = 0;
    while (length < s.size()) {
        const size_t size = CharacterAt(s, length);
        if (size == 0 || length + size > width) break;
        length += size;
    }
    return s.substr(0, length);
}

std::wstring Decode(const std::string& bytes)
{
    WCHAR units[512];
    const int n = bytes.empty()
                      ? 0
                      : MultiByteToWideChar(CP_ACP, 0, bytes.data(), (int)bytes.size(), units, 512);
    return std::wstring(units, units + std::max(n, 0));
}

// A field's whole characters, each read on its own; the box holds what it
// makes of their bytes in the code page.
std::wstring Shown(const std::string& field)
{
    const size_t whole = WholeCharacters(field, field.size()).size();
    std::wstring units;
    for (size_t at = 0, size = 0; at < whole; at += size) {
        size = CharacterAt(field, at);
        units += Decode(field.substr(at, size));
    }
    return Decode(BoxBytes(units));
}

std::string Padded(std::string text, size_t size)
{
    text.resize(size, '\0');
    return text;
}

bool IsPair(const std::wstring& units, size_t end)
{
    return end >= 2 && IS_HIGH_SURROGATE(units[end - 2]) && IS_LOW_SURROGATE(units[end - 1]);
}

// A change of the user's leaves a text box no longer in bytes than its
// field, or than the box was before if that was longer: what does not fit is
// taken back a whole character at a time from the caret.
size_t Change(DialogModel* m, int box, std::wstring changed, size_t caret)
{
    std::wstring& units = m->boxes[box];
    if (box != M_TRACK) {
        const size_t limit = std::max(Width(*m, box), BoxBytes(units).size());
        while (BoxBytes(changed).size() > limit && caret > 0) {
            const size_t n = IsPair(changed, caret) ? 2 : 1;
            changed.erase(caret - n, n);
            caret -= n;
        }
    }
    units = changed;
    return caret;
}

// Wine's edit control, in a box that does not scroll, takes back what a
// change (typing, a paste, an erasure) leaves wider than the box: the units
// just put in at from, from the last, and then one unit before them.
// Windows refuses the change instead. Returns the caret.
size_t TakeBackWhatIsTooWide(const DialogModel& m, int box, std::wstring* units, size_t from,
                             size_t put)
{
    long left = (long)put;
    while (m.fits && !m.fits(box, *units) && left >= 0 && (long)from + left >= 1) {
        units->erase((size_t)((long)from + left - 1), 1);
        --left;
    }
    return (size_t)((long)from + left);
}

// Units [from, to) of a box replaced by put: what the box does not show is
// taken back, then what is longer than the field.
void Replace(DialogModel* m, int box, size_t from, size_t to, const std::wstring& put)
{
    const std::wstring& units = m->boxes[box];
    std::wstring changed = units.substr(0, from) + put + units.substr(to);
    size_t caret = from + put.size();
    if (box == M_TRACK || box == M_YEAR)
        caret = TakeBackWhatIsTooWide(*m, box, &changed, from, put.size());
    m->caret = Change(m, box, changed, caret);
}

}  // namespace

std::string Hex(const std::string& bytes)
{
    std::string out;
    char escaped[8];
    for (char ch : bytes) {
        const unsigned char c = (unsigned char)ch;
        snprintf(escaped, sizeof escaped, c >= 0x20 && c < 0x7F && c != '\\' ? "%c" : "\\x%02X", c);
        out += escaped;
    }
    return out;
}

std::string BoxBytes(const std::wstring& units)
{
    char bytes[1024];
    const int n = units.empty() ? 0
                                : WideCharToMultiByte(CP_ACP, 0, units.data(), (int)units.size(),
                                                      bytes, sizeof bytes, NULL, NULL);
    return std::string(bytes, bytes + std::max(n, 0));
}

void ModelOpen(DialogModel* m)
{
    m->tagged = HasTag(m->file);
    const std::string tail =
        m->tagged ? m->file.substr(m->file.size() - kBlock) : std::string(kBlock, '\0');
    const bool id3v10 = tail[125] != 0;
    for (int box = M_TITLE; box < M_BOXES; ++box) {
        const size_t size = box == M_COMMENT && id3v10 ? kLongComment : kFields[box].size;
        const std::string field = tail.substr(kFields[box].at, size);
        m->read[box] = field.substr(0, field.find('\0'));
        m->boxes[box] = m->tagged ? Shown(m->read[box]) : L"";
    }
    m->commentWidth =
        m->read[M_COMMENT].size() > (size_t)kShortComment ? kLongComment : kShortComment;
    // A track of 0 shows as 0; an ID3v1.0 trailer has none.
    const int track = id3v10 ? 0 : (unsigned char)tail[126];
    m->boxes[M_TRACK] = m->tagged ? std::to_wstring(track) : L"";
    m->genreRead = m->tagged ? (unsigned char)tail[127] : kGenreNone;
    m->genrePosition = !m->tagged                        ? -1
                       : m->genreRead == kGenreNone      ? 0
                       : m->genreRead <= kLastNamedGenre ? m->genreRead + 1
                                                         : -1;
    m->checked = m->tagged;
    m->errors.clear();
    for (int box = 0; box < M_BOXES; ++box)
        m->shown[box] = BoxBytes(m->boxes[box]);
}

void ModelTick(DialogModel* m)
{
    m->checked = !m->checked;
}

void ModelType(DialogModel* m, int box, size_t* from, size_t* to, wchar_t unit)
{
    // The track and year boxes take digits only from the keyboard.
    if ((box == M_TRACK || box == M_YEAR) && (unit < L'0' || unit > L'9')) return;
    ModelPaste(m, box, *from, *to, std::wstring(1, unit));
    *from = *to = m->caret;
}

void ModelPaste(DialogModel* m, int box, size_t from, size_t to, const std::wstring& text)
{
    // The box's own limit cuts what is put in: Wine counts it in UTF-16
    // units, so it may take the second unit of a pair and leave the first.
    const std::wstring& units = m->boxes[box];
    const size_t kept = units.size() - (to - from);
    const size_t room = Width(*m, box) > kept ? Width(*m, box) - kept : 0;
    const std::wstring put = text.substr(0, room);
    Replace(m, box, from, to, put);
}

void ModelErase(DialogModel* m, int box, size_t from, size_t to, bool backspace)
{
    // The edit control takes out one UTF-16 unit, under Wine half of a pair.
    const std::wstring& units = m->boxes[box];
    if (from == to) {
        if (backspace && from > 0)
            --from;
        else if (!backspace && to < units.size())
            ++to;
    }
    Replace(m, box, from, to, L"");
}

void ModelPickGenre(DialogModel* m, int position)
{
    m->genrePosition = position;
}

void ModelSave(DialogModel* m)
{
    std::string& file = m->file;
    if (!m->checked) {
        if (HasTag(file)) file.resize(file.size() - kBlock);
        return;
    }
    // Nothing, or up to three digits no greater than 255.
    const std::string trackText = BoxBytes(m->boxes[M_TRACK]);
    int track = 0;
    bool trackValid = trackText.size() <= 3;
    for (char c : trackText) {
        trackValid = trackValid && c >= '0' && c <= '9';
        track = track * 10 + (c - '0');
    }
    if (!trackValid || track > 255) {
        m->errors.push_back("Track number must be between 0 and 255!");
        return;
    }
    // A box as it was at opening keeps the file's bytes; any other is saved
    // as it shows, in whole characters up to its field's width.
    std::string saved[M_BOXES];
    for (int box = M_TITLE; box < M_BOXES; ++box) {
        const std::string bytes = BoxBytes(m->boxes[box]);
        saved[box] = bytes == m->shown[box] ? m->read[box] : WholeCharacters(bytes, Width(*m, box));
    }
    // No selection keeps the code read, even one the list cannot show.
    const int genre = m->genrePosition < 0    ? m->genreRead
                      : m->genrePosition == 0 ? kGenreNone
                                              : m->genrePosition - 1;
    const bool longComment = saved[M_COMMENT].size() > kShortComment;
    if (longComment && track != 0) {
        m->errors.push_back("Comment must be at most 28 characters with a track number!");
        return;
    }
    std::string block = "TAG";
    for (int box = M_TITLE; box < M_COMMENT; ++box)
        block += Padded(saved[box], kFields[box].size);
    // A long comment is written in the ID3v1.0 layout, with no track.
    if (longComment)
        block += Padded(saved[M_COMMENT], kLongComment);
    else
        block += Padded(saved[M_COMMENT], kShortComment) + '\0' + (char)track;
    block += (char)genre;
    if (HasTag(file))
        file.replace(file.size() - kBlock, kBlock, block);
    else
        file += block;
}

DialogView ModelView(const DialogModel& m)
{
    DialogView view;
    view.checked = m.checked;
    for (int box = 0; box < M_BOXES; ++box) {
        view.texts[box] = BoxBytes(m.boxes[box]);
        view.enabled[box] = m.checked;
    }
    view.genreEnabled = m.checked;
    view.genre = m.genrePosition;
    return view;
}

std::string Describe(const DialogView& view)
{
    static const char* const kNames[M_BOXES] = {"track", "title", "artist",
                                                "album", "year",  "comment"};
    std::string out = std::string("check box ") + (view.checked ? "checked" : "unchecked") + "\n";
    for (int box = 0; box < M_BOXES; ++box)
        out += std::string(kNames[box]) + (view.enabled[box] ? " enabled \"" : " disabled \"") +
               Hex(view.texts[box]) + "\"\n";
    out += std::string("genre") + (view.genreEnabled ? " enabled" : " disabled") + " at " +
           std::to_string(view.genre) + "\n";
    return out;
}
