// What one character of the process's ANSI code page is: the rules that keep
// a field's bytes in whole characters under a double-byte code page, UTF-8 or
// a single-byte one.
#pragma once

#include <windows.h>

// How many bytes at the start of text are whole characters of the ANSI code
// page, up to its NUL and at most width. A character that the NUL or width
// cuts off is half a character and is not counted: a lead byte with its trail
// missing under a double-byte code page, a UTF-8 sequence short of its
// continuation bytes. A byte that starts no character is one of its own.
int BytesOfWholeCharacters(const char* text, int width);

// Sets a box's text to the first length bytes of text (at most 127), read in
// the ANSI code page one whole character at a time, so that what the box
// shows does not depend on how the platform's conversion treats bytes that
// make no character.
void SetBoxText(HWND box, const char* text, int length);

// How many caret positions the character just before position takes in a box
// whose positions count UTF-16 units: 2 for a surrogate pair, else 1.
int UnitsBefore(HWND box, DWORD position);
