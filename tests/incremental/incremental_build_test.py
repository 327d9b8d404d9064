"""An incremental build after an edit, as a developer makes one: a copy of the
tree configured and built, then plugin/version.h or the manifest changed and
only `cmake --build` run. The DLL's version resource and manifest, and the
release zip's name and contents, must follow each edit.

The copy and its build are kept between runs, as a developer's tree is: each
run brings the copy up to the sources, rewriting only the files that differ,
so its first build is itself incremental and configuring is done once."""

import hashlib
import os
import shutil
import subprocess
import unittest
import zipfile

import pefile

SOURCE_DIR = os.environ["QUILLON_SOURCE_DIR"]
CMAKE = os.environ.get("QUILLON_CMAKE", "cmake")
SCRATCH = os.environ["QUILLON_SCRATCH_DIR"]
TREE = os.path.join(SCRATCH, "tree")
DLL = os.path.join(TREE, "build", "win32", "plugin", "QuillonMp3.dll")
DIST = os.path.join(TREE, "dist")
TARGETS = ["QuillonMp3", "package_release"]

VERSION_H = """\
// The module's version, in the one place both the code and the version
// resource take it from.
#pragma once

#define QUILLON_VERSION_BINARY {binary}
#define QUILLON_VERSION_TEXT "{text}"
#define QUILLON_MODULE_NAME "QuillonMp3"
"""


def run(*command):
    result = subprocess.run(command, cwd=TREE, capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError(f"{' '.join(command)} failed ({result.returncode}):\n"
                             f"{result.stdout}\n{result.stderr}")


def manifest_of(pe):
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == pefile.RESOURCE_TYPE["RT_MANIFEST"]:
            data = kind.directory.entries[0].directory.entries[0].data.struct
            return pe.get_data(data.OffsetToData, data.Size)
    return None


def strings_of(pe):
    found = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                found.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return found


def dotted(high, low):
    return f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}"


def outcome():
    """What the build left: the DLL's versions and manifest, and the zips."""
    pe = pefile.PE(DLL)
    fixed = pe.VS_FIXEDFILEINFO[0]
    strings = strings_of(pe)
    with open(DLL, "rb") as f:
        dll = f.read()
    zips = {}
    for name in sorted(os.listdir(DIST)):
        if name.endswith(".zip"):
            with zipfile.ZipFile(os.path.join(DIST, name)) as z:
                zips[name] = z.read("QuillonMp3.dll") == dll
    with open(os.path.join(DIST, "SHA256SUMS")) as f:
        sums = f.read().split()
    return {
        "FILEVERSION": dotted(fixed.FileVersionMS, fixed.FileVersionLS),
        "PRODUCTVERSION": dotted(fixed.ProductVersionMS, fixed.ProductVersionLS),
        "FileVersion": strings.get("FileVersion"),
        "ProductVersion": strings.get("ProductVersion"),
        "manifest sha256": hashlib.sha256(manifest_of(pe) or b"").hexdigest(),
        # Each zip in dist/, and whether it holds the DLL just built.
        "zips": zips,
        "SHA256SUMS names": sums[1::2],
    }


IGNORED = ("build", "dist", ".git")


def sync(source, copy):
    """copy made the same as source, without source's own builds: a file whose
    bytes differ is written anew, with a new time, and every other keeps its
    time, so the build redoes what depends on a change and nothing else."""
    os.makedirs(copy, exist_ok=True)
    kept = set(IGNORED) if source == SOURCE_DIR else set()
    names = set(os.listdir(source)) - kept
    for name in set(os.listdir(copy)) - names - kept:
        remove(os.path.join(copy, name))
    for name in names:
        src, dst = os.path.join(source, name), os.path.join(copy, name)
        if os.path.isdir(src) != os.path.isdir(dst) and os.path.lexists(dst):
            remove(dst)
        if os.path.isdir(src):
            sync(src, dst)
            continue
        with open(src, "rb") as f:
            data = f.read()
        try:
            with open(dst, "rb") as f:
                same = f.read() == data
        except FileNotFoundError:
            same = False
        if not same:
            with open(dst, "wb") as f:
                f.write(data)
        shutil.copymode(src, dst)


def remove(path):
    if os.path.isdir(path):
        shutil.rmtree(path)
    else:
        os.remove(path)


def write(relative, data):
    with open(os.path.join(TREE, relative), "wb") as f:
        f.write(data)


class IncrementalBuild(unittest.TestCase):
    def test_a_changed_version_or_manifest_reaches_the_dll_and_the_zip(self):
        sync(SOURCE_DIR, TREE)
        shutil.rmtree(DIST, ignore_errors=True)
        with open(os.path.join(TREE, "plugin", "QuillonMp3.manifest"), "rb") as f:
            manifest = f.read()
        new_manifest = manifest.replace(b"<description>MP3 Plugin for Quillon</description>",
                                        b"<description>MP3 Plugin for Quillon, edited</description>")
        self.assertNotEqual(new_manifest, manifest)
        sha = lambda data: hashlib.sha256(data).hexdigest()

        if not os.path.exists(os.path.join(TREE, "build", "win32", "build.ninja")):
            run(CMAKE, "--preset", "win32", "-DBUILD_TESTING=OFF")
        run(CMAKE, "--build", "--preset", "win32", "--target", *TARGETS)
        first = outcome()
        self.assertEqual(first["manifest sha256"], sha(manifest))
        old_zip = f"QuillonMp3-{first['FileVersion']}.zip"

        # After the version's edit; the manifest's then changes its hash alone.
        new_version = {
            "FILEVERSION": "7.6.5.4",
            "PRODUCTVERSION": "7.6.5.4",
            "FileVersion": "7.6b",
            "ProductVersion": "7.6b",
            "manifest sha256": sha(manifest),
            "zips": {old_zip: False, "QuillonMp3-7.6b.zip": True},
            "SHA256SUMS names": ["QuillonMp3-7.6b.zip", "QuillonMp3.dll"],
        }
        steps = [
            ("plugin/version.h", VERSION_H.format(binary="7, 6, 5, 4", text="7.6b").encode(),
             new_version),
            ("plugin/QuillonMp3.manifest", new_manifest,
             dict(new_version, **{"manifest sha256": sha(new_manifest)})),
        ]
        for changed, data, expected in steps:
            with self.subTest(changed=changed):
                write(changed, data)
                run(CMAKE, "--build", "--preset", "win32", "--target", *TARGETS)
                self.assertEqual(outcome(), expected)


if __name__ == "__main__":
    unittest.main()
