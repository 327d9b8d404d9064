// The genre table, index = code. Names are kept byte for byte as they have
// always been shown, spellings included ("Psychadelic", "Rhytmic Soul").
#include "tag/genre.h"

// clang-format off
const char* const GenreList[GENRE_COUNT] = {
    // 0-9
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz",
    "Metal",
    // 10-19
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
    // 20-29
    "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Eurotechno", "Ambient",
    "Trip-Hop", "Vocal", "Jazz+Funk",
    // 30-39
    "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip",
    "Gospel", "Noise",
    // 40-49
    "Alternative Rock", "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop",
    "Instrumental Rock", "Ethnic", "Gothic",
    // 50-59
    "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream",
    "Southern Rock", "Comedy", "Cult", "Gangsta",
    // 60-69
    "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave",
    "Psychadelic", "Rave", "Show Tunes",
    // 70-79
    "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical",
    "Rock & Roll", "Hard Rock",
    // 80-89
    "Folk", "Folk/Rock", "National Folk", "Swing", "Fast-Fusion", "Bebop", "Latin", "Revival",
    "Celtic", "Bluegrass",
    // 90-99
    "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock", "Symphonic Rock",
    "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic",
    // 100-109
    "Humor", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony", "Booty Bass",
    "Primus", "Porn Groove",
    // 110-119
    "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad", "Power Ballad",
    "Rhytmic Soul", "Freestyle",
    // 120-129
    "Duet", "Punk Rock", "Drum Solo", "Acapella", "Euro-House", "Dance Hall", "Goa",
    "Drum & Bass", "Club-House", "Hardcore",
    // 130-139
    "Terror", "Indie", "BritPop", "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap",
    "Heavy Metal", "Black Metal", "Crossover",
    // 140-141
    "Contemporary Christian", "Christian Rock",
};
// clang-format on

int GenrePositionOfCode(uint16_t code)
{
    if (code == GENRE_NONE) return 0;
    if (code < GENRE_COUNT) return code + 1;
    return GENRE_NO_POSITION;
}

uint16_t GenreCodeAtPosition(int position)
{
    if (position < 1 || position >= GENRE_BOX_ENTRIES) return GENRE_NONE;
    return (uint16_t)(position - 1);
}
