// A command-line face on the tag code, so other tag tools can be checked against it.
//
//   tag_tool read FILE                 the tag, one key=value a line; exit 1: no tag
//   tag_tool write FILE [key=value]... writes a tag of those fields, the rest empty
//   tag_tool remove FILE               cuts the tag off
//   tag_tool genres                    the genre table, one code=name a line
//
// Keys: title artist album year comment track genre. Values are taken byte for
// byte; read prints every byte outside printable ASCII, and the backslash, as
// \xHH, so spaces at either end stay visible and the output stays one line a
// field.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "tag/genre.h"
#include "tag/tag_file.h"

namespace {

enum { EXIT_TAG = 0, EXIT_NO_TAG = 1, EXIT_ERROR = 2 };

struct TextField {
    const char* key;
    char* text;
    size_t size;  // including the terminator
};

int Usage()
{
    fprintf(stderr,
            "usage: tag_tool read FILE | write FILE [key=value]... | remove FILE | genres\n");
    return EXIT_ERROR;
}

int OpenFile(const char* path, int flags)
{
    int fd = open(path, flags);
    if (fd < 0) perror(path);
    return fd;
}

void PrintText(const char* key, const char* text)
{
    printf("%s=", key);
    for (const unsigned char* c = (const unsigned char*)text; *c; ++c) {
        if (*c < 0x20 || *c > 0x7E || *c == '\\')
            printf("\\x%02x", *c);
        else
            putchar(*c);
    }
    putchar('\n');
}

int TextFields(TagRecord* record, TextField* fields)
{
    TextField all[] = {
        {"title", record->title, sizeof record->title},
        {"artist", record->artist, sizeof record->artist},
        {"album", record->album, sizeof record->album},
        {"year", record->year, sizeof record->year},
        {"comment", record->comment, sizeof record->comment},
    };
    memcpy(fields, all, sizeof all);
    return (int)(sizeof all / sizeof all[0]);
}

int Read(const char* path)
{
    int fd = OpenFile(path, O_RDONLY);
    if (fd < 0) return EXIT_ERROR;
    TagRecord record;
    ReadTagResult result = ReadTag(fd, &record);
    close(fd);
    if (result == ReadFailed) {
        fprintf(stderr, "%s: could not be read\n", path);
        return EXIT_ERROR;
    }
    if (result == NoTag) return EXIT_NO_TAG;
    TextField fields[5];
    int count = TextFields(&record, fields);
    for (int i = 0; i < count; ++i)
        PrintText(fields[i].key, fields[i].text);
    printf("track=%u\ngenre=%u\n", record.track, record.genre);
    return EXIT_TAG;
}

// 1 with the number in *value when text is a decimal number up to 255.
int ParseByte(const char* text, uint16_t* value)
{
    char* end;
    unsigned long number = strtoul(text, &end, 10);
    if (*text == '\0' || *end != '\0' || number > 255) return 0;
    *value = (uint16_t)number;
    return 1;
}

int KeyIs(const char* key, size_t length, const char* name)
{
    return strlen(name) == length && strncmp(key, name, length) == 0;
}

int SetField(TagRecord* record, const char* assignment)
{
    const char* equals = strchr(assignment, '=');
    if (equals == NULL) return 0;
    size_t keyLength = (size_t)(equals - assignment);
    const char* value = equals + 1;
    if (KeyIs(assignment, keyLength, "track")) return ParseByte(value, &record->track);
    if (KeyIs(assignment, keyLength, "genre")) return ParseByte(value, &record->genre);
    TextField fields[5];
    int count = TextFields(record, fields);
    for (int i = 0; i < count; ++i) {
        if (!KeyIs(assignment, keyLength, fields[i].key)) continue;
        size_t length = strlen(value);
        if (length >= fields[i].size) return 0;
        memcpy(fields[i].text, value, length + 1);
        return 1;
    }
    return 0;
}

int Write(const char* path, int count, char** assignments)
{
    TagRecord record;
    ClearTagRecord(&record);
    record.genre = GENRE_NONE;
    for (int i = 0; i < count; ++i) {
        if (!SetField(&record, assignments[i])) {
            fprintf(stderr, "%s: unknown key, or a value too long or out of range\n",
                    assignments[i]);
            return EXIT_ERROR;
        }
    }
    int fd = OpenFile(path, O_RDWR);
    if (fd < 0) return EXIT_ERROR;
    int written = WriteTag(fd, &record);
    close(fd);
    if (!written) fprintf(stderr, "%s: the tag could not be written\n", path);
    return written ? EXIT_TAG : EXIT_ERROR;
}

int Remove(const char* path)
{
    int fd = OpenFile(path, O_RDWR);
    if (fd < 0) return EXIT_ERROR;
    int removed = RemoveTag(fd);
    close(fd);
    if (!removed) fprintf(stderr, "%s: the tag could not be removed\n", path);
    return removed ? EXIT_TAG : EXIT_ERROR;
}

int Genres()
{
    for (int code = 0; code < GENRE_COUNT; ++code)
        printf("%d=%s\n", code, GenreList[code]);
    return EXIT_TAG;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "genres") == 0) return Genres();
    if (argc < 3) return Usage();
    const char* command = argv[1];
    const char* path = argv[2];
    if (strcmp(command, "read") == 0 && argc == 3) return Read(path);
    if (strcmp(command, "write") == 0) return Write(path, argc - 3, argv + 3);
    if (strcmp(command, "remove") == 0 && argc == 3) return Remove(path);
    return Usage();
}
