"""Our tag code against two independent ID3v1 implementations, both ways
round: mutagen, and id3lib through Debian's id3v2 tool. Where a reader
legitimately differs from us, the test asserts what it does and says why."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import mutagen.id3
import mutagen.mp3
from mutagen.id3 import COMM, TCON, TDRC, TIT2, TALB, TPE1, TRCK

TAG_TOOL = os.environ["QUILLON_TAG_TOOL"]
ID3V2 = os.environ.get("QUILLON_ID3V2", "id3v2")
SAMPLE = os.environ["QUILLON_SAMPLE"]
MAKE_SAMPLE = os.environ["QUILLON_MAKE_SAMPLE"]

TEXT_KEYS = ("title", "artist", "album", "year", "comment")
GENRE_NONE = 255

# Every field at its widest: 30, 30, 30, 4 and 28 characters (v1.1).
FULL = {
    "title": "Thirty Characters Of Song Name",
    "artist": "An Artist Whose Name Runs Long",
    "album": "The Album Title Fills It Whole",
    "year": "1994",
    "comment": "Twenty-eight characters here",
    "track": 12,
    "genre": 17,  # Rock
}
assert [len(FULL[k]) for k in TEXT_KEYS] == [30, 30, 30, 4, 28]


def audio():
    """The sample's frames, without its tag: what every test file starts as."""
    with open(SAMPLE, "rb") as f:
        return f.read()[:-128]


def latin1(text):
    return text.encode("latin-1")


# --- our tag code, through tag_tool -------------------------------------


def read_ours(path):
    """The tag as a dict of our keys, or None when the file has none."""
    done = subprocess.run([TAG_TOOL, "read", path], capture_output=True)
    if done.returncode == 1:
        return None
    if done.returncode != 0:
        raise AssertionError(f"tag_tool read failed: {done.stderr!r}")
    tag = {}
    for line in done.stdout.decode("ascii").splitlines():
        key, value = line.split("=", 1)
        if key in TEXT_KEYS:
            tag[key] = re.sub(r"\\x([0-9a-f]{2})", lambda m: chr(int(m.group(1), 16)), value)
        else:
            tag[key] = int(value)
    return tag


def write_ours(path, fields):
    args = [TAG_TOOL.encode(), b"write", path.encode()]
    for key, value in fields.items():
        args.append(key.encode() + b"=" + (latin1(value) if key in TEXT_KEYS else b"%d" % value))
    subprocess.run(args, check=True)


def remove_ours(path):
    subprocess.run([TAG_TOOL, "remove", path], check=True)


# --- mutagen -------------------------------------------------------------


def read_mutagen(path):
    """What mutagen makes of a file's ID3v1 tag: ID3v2 frames, flattened into
    our keys; genre is the name mutagen gives the code, track 0 for none."""
    try:
        tags = mutagen.id3.ID3(path)
    except mutagen.id3.ID3NoHeaderError:
        return None
    if tags.version[0] != 1:
        raise AssertionError(f"{path}: mutagen read an ID3v2 tag, not the ID3v1 one")

    def text(frame_id):
        return str(tags[frame_id].text[0]) if frame_id in tags else ""

    comments = tags.getall("COMM")
    return {
        "title": text("TIT2"),
        "artist": text("TPE1"),
        "album": text("TALB"),
        "year": text("TDRC"),
        "comment": comments[0].text[0] if comments else "",
        "track": +tags["TRCK"] if "TRCK" in tags else 0,
        "genre": tags["TCON"].genres[0] if "TCON" in tags else None,
    }


def write_mutagen(path, fields):
    """Saves an ID3v2 tag and, made from it by mutagen, an ID3v1 tag: the way
    most taggers leave a file."""
    tags = mutagen.id3.ID3()
    tags.add(TIT2(encoding=0, text=fields["title"]))
    tags.add(TPE1(encoding=0, text=fields["artist"]))
    tags.add(TALB(encoding=0, text=fields["album"]))
    tags.add(TDRC(encoding=0, text=fields["year"]))
    tags.add(COMM(encoding=0, lang="eng", desc="", text=fields["comment"]))
    tags.add(TRCK(encoding=0, text=str(fields["track"])))
    tags.add(TCON(encoding=0, text=fields["genre"]))
    tags.save(path, v1=mutagen.id3.ID3v1SaveOptions.CREATE)


# --- id3lib's id3v2 tool ---------------------------------------------------

# "id3v2 -l" prints the ID3v1 tag in three lines of fixed columns, every text
# padded with spaces to its full width, so a text's own trailing spaces cannot
# be told from the padding and are dropped here.
LISTING = re.compile(
    r"^id3v1 tag info for .*:\n"
    r"Title  : (?P<title>.{30})  Artist: (?P<artist>.*)\n"
    r"Album  : (?P<album>.{30})  Year: (?P<year>.{4}), "
    r"Genre: (?P<genre_name>.*) \((?P<genre>\d+)\)\n"
    r"Comment: (?P<comment>.{0,30}?) *(?:Track: (?P<track>\d+))?\n",
    re.MULTILINE,
)


def read_id3v2(path):
    """The tag as id3v2 -l lists it, or None when it says there is none; track
    None when it lists no track (an ID3v1.0 tag)."""
    listing = subprocess.run([ID3V2, "-l", path], capture_output=True, check=True)
    match = LISTING.search(listing.stdout.decode("latin-1"))
    if match is None:
        return None
    tag = {key: match[key].rstrip(" ") for key in TEXT_KEYS}
    tag["year"] = tag["year"].strip(" ")
    tag["genre"] = int(match["genre"])
    tag["genre_name"] = match["genre_name"]
    tag["track"] = int(match["track"]) if match["track"] is not None else None
    return tag


def write_id3v2(path, fields):
    """An ID3v1 tag alone (-1), of the fields given. id3lib writes ID3v1.0
    when the comment is too long for ID3v1.1, and then no track. A colon in
    a comment would split it into description, text and language."""
    options = {"title": b"-t", "artist": b"-a", "album": b"-A", "year": b"-y", "comment": b"-c"}
    args = [ID3V2.encode(), b"-1"]
    for key, value in fields.items():
        if key in options:
            args += [options[key], latin1(value)]
        elif key == "track":
            args += [b"-T", b"%d" % value]
        elif key == "genre":
            args += [b"-g", b"%d" % value]
    subprocess.run(args + [path.encode()], check=True, capture_output=True)


def id3lib_conversion(path):
    """The ID3v2 frames id3lib makes from the ID3v1 tag (id3v2 -C), read back
    without mutagen's own ID3v1 reading: id3lib's view of each field, exact."""
    subprocess.run([ID3V2, "-C", path], check=True, capture_output=True)
    tags = mutagen.id3.ID3(path, load_v1=False)
    return {key: str(tags[fid].text[0]) for key, fid in
            (("title", "TIT2"), ("artist", "TPE1"), ("album", "TALB"))}


class TempFiles(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="id3v1-interop-")
        self.addCleanup(shutil.rmtree, self.dir)

    def untagged(self, name="file.mp3"):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(audio())
        return path


class WrittenByUsReadByOthers(TempFiles):
    def test_fields_at_full_width_read_the_same_everywhere(self):
        path = self.untagged()
        write_ours(path, FULL)

        them = read_mutagen(path)
        self.assertEqual({k: them[k] for k in TEXT_KEYS}, {k: FULL[k] for k in TEXT_KEYS})
        self.assertEqual(them["track"], 12)
        self.assertEqual(them["genre"], "Rock")

        lib = read_id3v2(path)
        self.assertEqual({k: lib[k] for k in TEXT_KEYS}, {k: FULL[k] for k in TEXT_KEYS})
        self.assertEqual((lib["track"], lib["genre"], lib["genre_name"]), (12, 17, "Rock"))

    def test_spaces_around_text_are_stored_but_mutagen_strips_them(self):
        fields = {"title": "  Both Ends  ", "artist": "Trailing   ", "album": "   Leading",
                  "comment": "ends in a space ", "track": 1, "genre": 12}
        path = self.untagged()
        write_ours(path, fields)

        with open(path, "rb") as f:
            f.seek(-128, os.SEEK_END)
            self.assertEqual(f.read(33), b"TAG" + b"  Both Ends  ".ljust(30, b"\0"))

        # mutagen strips both ends of every text field.
        them = read_mutagen(path)
        self.assertEqual((them["title"], them["artist"], them["album"], them["comment"]),
                         ("Both Ends", "Trailing", "Leading", "ends in a space"))

        # id3lib keeps leading spaces and drops trailing ones; its listing
        # would hide them anyway, its ID3v2 conversion shows it plainly.
        lib = read_id3v2(path)
        self.assertEqual((lib["title"], lib["album"]), ("  Both Ends", "   Leading"))
        self.assertEqual(id3lib_conversion(path),
                         {"title": "  Both Ends", "artist": "Trailing", "album": "   Leading"})

    def test_latin1_letters_read_as_the_same_letters(self):
        fields = {"title": "Café Noël", "artist": "Motörhead", "genre": 12}
        path = self.untagged()
        write_ours(path, fields)
        self.assertEqual(read_mutagen(path)["title"], "Café Noël")
        self.assertEqual(read_mutagen(path)["artist"], "Motörhead")
        self.assertEqual(read_id3v2(path)["title"], "Café Noël")

    def test_genres_outside_our_names_keep_their_code(self):
        # 150 is past our 142 names; mutagen knows more names, id3lib fewer.
        path = self.untagged()
        write_ours(path, {"title": "x", "genre": 150})
        self.assertEqual(read_mutagen(path)["genre"], "Baroque")
        self.assertEqual((read_id3v2(path)["genre"], read_id3v2(path)["genre_name"]),
                         (150, "Unknown"))

        # Past every list: mutagen loses the code, id3lib still shows it.
        write_ours(path, {"title": "x", "genre": 200})
        self.assertEqual(read_mutagen(path)["genre"], "Unknown")
        self.assertEqual(read_id3v2(path)["genre"], 200)

        # 255 is no genre: mutagen makes no genre frame.
        write_ours(path, {"title": "x", "genre": GENRE_NONE})
        self.assertIsNone(read_mutagen(path)["genre"])
        self.assertEqual(read_id3v2(path)["genre"], GENRE_NONE)

    def test_track_zero_reads_as_no_track(self):
        path = self.untagged()
        write_ours(path, {"comment": FULL["comment"], "track": 0, "genre": 12})
        self.assertEqual(read_mutagen(path)["track"], 0)
        self.assertEqual(read_mutagen(path)["comment"], FULL["comment"])
        self.assertEqual(read_id3v2(path)["track"], 0)

    def test_a_removed_tag_is_gone_for_the_others_and_the_audio_is_intact(self):
        path = self.untagged()
        write_ours(path, FULL)
        remove_ours(path)
        self.assertIsNone(read_mutagen(path))
        self.assertIsNone(read_id3v2(path))
        with open(path, "rb") as f:
            self.assertEqual(f.read(), audio())


class WrittenByOthersReadByUs(TempFiles):
    def test_id3lib_tag_at_full_width(self):
        path = self.untagged()
        write_id3v2(path, FULL)
        self.assertEqual(read_ours(path), FULL)

    def test_id3lib_keeps_spaces_when_writing_and_so_do_we_when_reading(self):
        fields = {"title": "  Both Ends  ", "artist": "Trailing   ", "comment": " c ",
                  "track": 3, "genre": 0}
        path = self.untagged()
        write_id3v2(path, fields)
        ours = read_ours(path)
        self.assertEqual({k: ours[k] for k in fields}, fields)

    def test_id3lib_genres_outside_our_names_and_none(self):
        path = self.untagged()
        write_id3v2(path, {"title": "x", "genre": 150})
        self.assertEqual(read_ours(path)["genre"], 150)
        write_id3v2(path, {"title": "x", "genre": 254})
        self.assertEqual(read_ours(path)["genre"], 254)

        # Without -g id3lib writes 255, no genre.
        path = self.untagged("no-genre.mp3")
        write_id3v2(path, {"title": "x"})
        self.assertEqual(read_ours(path)["genre"], GENRE_NONE)

    def test_id3v10_tag_with_a_30_character_comment(self):
        comment = "Comment of exactly thirty, XYZ"
        self.assertEqual(len(comment), 30)
        path = self.untagged()
        write_id3v2(path, {"title": "Old Style", "comment": comment, "genre": 12})
        with open(path, "rb") as f:
            f.seek(-3, os.SEEK_END)
            self.assertEqual(f.read(2), b"YZ", "id3lib should have written ID3v1.0")

        # We read all 30 characters and no track, and write them back so.
        ours = read_ours(path)
        self.assertEqual((ours["title"], ours["comment"], ours["track"], ours["genre"]),
                         ("Old Style", comment, 0, 12))
        with open(path, "rb") as f:
            before = f.read()
        write_ours(path, {**ours, "title": "New Style"})
        with open(path, "rb") as f:
            after = f.read()
        self.assertEqual(after[-95:], before[-95:])  # all but the title
        self.assertEqual(read_id3v2(path)["comment"], comment)

        # id3lib reads all 30 characters and no track.
        lib = read_id3v2(path)
        self.assertEqual((lib["comment"], lib["track"]), (comment, None))

        # mutagen reads 29 characters and takes the 30th, "Z", for track 90.
        them = read_mutagen(path)
        self.assertEqual((them["comment"], them["track"]), (comment[:29], ord("Z")))

    def test_mutagen_tag_with_an_id3v2_tag_in_front(self):
        path = self.untagged()
        write_mutagen(path, dict(FULL, genre="Rock"))
        with open(path, "rb") as f:
            self.assertEqual(f.read(3), b"ID3")
        # mutagen's ID3v1 writer looks for a frame keyed plain "COMM", but a
        # comment frame's key always carries its description and language
        # ("COMM::eng"), so it never writes the comment.
        self.assertEqual(read_ours(path), dict(FULL, comment=""))

    def test_mutagen_genre_names_become_codes_and_unknown_names_none(self):
        path = self.untagged()
        write_mutagen(path, dict(FULL, genre="Baroque"))
        self.assertEqual(read_ours(path)["genre"], 150)
        write_mutagen(path, dict(FULL, genre="Chiptune"))
        self.assertEqual(read_ours(path)["genre"], GENRE_NONE)

    def test_mutagen_cuts_long_text_to_fit_and_we_read_what_fits(self):
        fields = dict(FULL, genre="Rock", title=FULL["title"] + " and more",
                      album=FULL["album"] + " and more")
        path = self.untagged()
        write_mutagen(path, fields)
        ours = read_ours(path)
        self.assertEqual((ours["title"], ours["album"]), (FULL["title"], FULL["album"]))

    def test_a_tag_removed_by_id3lib_is_gone_for_us(self):
        path = self.untagged()
        write_ours(path, FULL)
        subprocess.run([ID3V2, "-s", path], check=True, capture_output=True)
        self.assertIsNone(read_ours(path))


class GenreNames(unittest.TestCase):
    """Each code must name the same genre everywhere; spellings differ."""

    # code: (ours, mutagen's)
    MUTAGEN_SPELLINGS = {
        25: ("Eurotechno", "Euro-Techno"),
        40: ("Alternative Rock", "Alt. Rock"),
        59: ("Gangsta", "Gangsta Rap"),
        67: ("Psychadelic", "Psychedelic"),
        69: ("Show Tunes", "Showtunes"),
        81: ("Folk/Rock", "Folk-Rock"),
        100: ("Humor", "Humour"),
        118: ("Rhytmic Soul", "Rhythmic Soul"),
        123: ("Acapella", "A Cappella"),
        133: ("Negerpunk", "Afro-Punk"),
    }
    # code: (ours, id3lib's)
    ID3LIB_SPELLINGS = {
        25: ("Eurotechno", "Euro-Techno"),
        40: ("Alternative Rock", "AlternRock"),
        67: ("Psychadelic", "Psychedelic"),
        69: ("Show Tunes", "Showtunes"),
        81: ("Folk/Rock", "Folk-Rock"),
        84: ("Fast-Fusion", "Fast Fusion"),
        85: ("Bebop", "Bebob"),
        100: ("Humor", "Humour"),
        118: ("Rhytmic Soul", "Rhythmic Soul"),
        123: ("Acapella", "A capella"),
        132: ("BritPop", "Britpop"),
    }

    @classmethod
    def setUpClass(cls):
        listing = subprocess.run([TAG_TOOL, "genres"], capture_output=True, check=True)
        cls.ours = {}
        for line in listing.stdout.decode("ascii").splitlines():
            code, name = line.split("=", 1)
            cls.ours[int(code)] = name

    def differences(self, theirs):
        return {code: (name, theirs[code]) for code, name in self.ours.items()
                if name != theirs[code]}

    def test_we_name_codes_0_to_141(self):
        self.assertEqual(sorted(self.ours), list(range(142)))

    def test_mutagen_names_the_same_genres(self):
        theirs = dict(enumerate(TCON.GENRES))
        self.assertEqual(self.differences(theirs), self.MUTAGEN_SPELLINGS)

    def test_id3lib_names_the_same_genres(self):
        listing = subprocess.run([ID3V2, "-L"], capture_output=True, check=True)
        theirs = {}
        for line in listing.stdout.decode("latin-1").splitlines():
            code, name = line.split(":", 1)
            theirs[int(code)] = name.strip()
        self.assertEqual(self.differences(theirs), self.ID3LIB_SPELLINGS)


class ShippedSample(unittest.TestCase):
    def test_is_an_mpeg1_layer3_stream_for_mutagen(self):
        info = mutagen.mp3.MP3(SAMPLE).info
        self.assertEqual((info.version, info.layer), (1, 3))
        self.assertEqual((info.bitrate, info.sample_rate, info.channels), (128000, 44100, 1))
        # 24 frames of 1152 samples; mutagen estimates from the size, tag included.
        self.assertAlmostEqual(info.length, 24 * 1152 / 44100, delta=0.02)

    def test_its_tag_reads_the_same_everywhere(self):
        expected = {"title": "Quillon Sample", "artist": "Brindlock",
                    "album": "Quillon Test Sounds", "year": "2026",
                    "comment": "Silent frames, no audio", "track": 1}
        self.assertEqual(read_ours(SAMPLE), dict(expected, genre=12))
        self.assertEqual(read_mutagen(SAMPLE), dict(expected, genre="Other"))
        lib = read_id3v2(SAMPLE)
        self.assertEqual({k: lib[k] for k in expected}, expected)
        self.assertEqual((lib["genre"], lib["genre_name"]), (12, "Other"))

    def test_the_script_makes_it_byte_for_byte(self):
        with tempfile.TemporaryDirectory() as scratch:
            made = os.path.join(scratch, "sample.mp3")
            subprocess.run([sys.executable, MAKE_SAMPLE, made], check=True, capture_output=True)
            with open(made, "rb") as a, open(SAMPLE, "rb") as b:
                self.assertEqual(a.read(), b.read())


if __name__ == "__main__":
    unittest.main()
