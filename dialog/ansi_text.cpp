// Whole characters of the process's ANSI code page, and the boxes' text in
// and out of them.
#include "dialog/ansi_text.h"

namespace {

// The longest field these helpers take, NUL included. No code page reads a
// text into more UTF-16 units than it has bytes, nor writes a unit back in
// more than three bytes (a pair of units takes four).
const int kMaxText = 128;

// The size of a UTF-8 sequence, from its first byte: 1 for ASCII, and for a
// byte that starts no sequence (a continuation byte, or a Latin-1 letter from
// a tag written on a Western system), which the conversion shows as U+FFFD.
int Utf8SequenceBytes(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 1;
}

// Which bytes may follow a lead as its first continuation byte. The four
// leads with narrower ranges would otherwise start an overlong form (E0, F0),
// a surrogate (ED) or a code point past U+10FFFF (F4), which no conversion
// reads as one character.
bool ContinuesUtf8(unsigned char lead, unsigned char next, int position)
{
    if ((next & 0xC0) != 0x80) return false;
    if (position > 1) return true;
    switch (lead) {
        case 0xE0:
            return next >= 0xA0;
        case 0xED:
            return next <= 0x9F;
        case 0xF0:
            return next >= 0x90;
        case 0xF4:
            return next <= 0x8F;
        default:
            return true;
    }
}

// The bytes of the character at text, or 0 when the NUL cuts it off. A lead
// byte followed by something other than its continuation bytes stands alone.
// Under UTF-8 IsDBCSLeadByteEx is false for every byte, so it needs rules of
// its own.
int CharacterBytes(const char* text, UINT codePage)
{
    const unsigned char lead = (unsigned char)text[0];
    if (codePage == CP_UTF8) {
        const int size = Utf8SequenceBytes(lead);
        for (int i = 1; i < size; ++i) {
            if (!text[i]) return 0;
            if (!ContinuesUtf8(lead, (unsigned char)text[i], i)) return 1;
        }
        return size;
    }
    if (IsDBCSLeadByteEx(codePage, lead)) return text[1] ? 2 : 0;
    return 1;
}

}  // namespace

int BytesOfWholeCharacters(const char* text, int width)
{
    const UINT codePage = GetACP();
    int length = 0;
    while (text[length]) {
        const int size = CharacterBytes(text + length, codePage);
        if (size == 0 || length + size > width) break;
        length += size;
    }
    return length;
}

void SetBoxText(HWND box, const char* text, int length)
{
    // Each character is read on its own, as CharacterBytes bounds it: given
    // more, Wine's UTF-8 reading takes the letters after a lone lead byte
    // into its sequence and drops them, where Windows' keeps them. The box
    // is given the system's own encoding of what the readings found.
    const UINT codePage = GetACP();
    WCHAR wide[kMaxText];
    char shown[3 * kMaxText];
    int units = 0;
    int size = 0;
    for (int at = 0; at < length && length < kMaxText; at += size) {
        size = CharacterBytes(text + at, codePage);
        if (size == 0 || at + size > length) break;
        units += MultiByteToWideChar(CP_ACP, 0, text + at, size, wide + units, kMaxText - units);
    }
    int bytes = 0;
    if (units > 0)
        bytes =
            WideCharToMultiByte(CP_ACP, 0, wide, units, shown, (int)sizeof shown - 1, NULL, NULL);
    shown[bytes] = '\0';
    SetWindowTextA(box, shown);
}

int UnitsBefore(HWND box, DWORD position)
{
    // The box's text comes back in the code page and is read into UTF-16
    // again: each unit of the box gives one unit here, and a pair a pair.
    char text[3 * kMaxText];
    WCHAR wide[3 * kMaxText];
    const int bytes = GetWindowTextA(box, text, (int)sizeof text);
    const int units =
        bytes > 0 ? MultiByteToWideChar(CP_ACP, 0, text, bytes, wide, 3 * kMaxText) : 0;
    if (position < 2 || position > (DWORD)units) return 1;
    return IS_LOW_SURROGATE(wide[position - 1]) && IS_HIGH_SURROGATE(wide[position - 2]) ? 2 : 1;
}
