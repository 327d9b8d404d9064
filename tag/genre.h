// The ID3v1 genre names and the mapping between genre codes and positions in
// the dialog's genre box.
//
// The box holds a blank entry at position 0 (no genre) and then the names of
// codes 0 to 141 at positions 1 to 142. Codes 142 to 254 have no name and no
// position; callers that must keep such a code hold on to it themselves.
#pragma once

#include <stdint.h>

enum {
    GENRE_COUNT = 142,
    GENRE_NONE = 255,
    GENRE_BOX_ENTRIES = GENRE_COUNT + 1,
    GENRE_NO_POSITION = -1,
};

// Indexed by code; 0-79 from the ID3v1 definition, 80-141 the common extensions.
extern const char* const GenreList[GENRE_COUNT];

// The box position that shows a code: 0 for GENRE_NONE, code + 1 for a named
// code, GENRE_NO_POSITION for any other.
int GenrePositionOfCode(uint16_t code);

// The code a box position stands for: GENRE_NONE for the blank entry or no
// selection (any position outside the box), position - 1 otherwise.
uint16_t GenreCodeAtPosition(int position);
