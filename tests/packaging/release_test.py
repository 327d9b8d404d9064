"""The release is the same bytes from one commit wherever, whenever and by
whomever it is built: binaries without link times or checkout paths, a zip
with fixed times, modes and order, and SHA256SUMS that match it."""

import calendar
import hashlib
import os
import subprocess
import tempfile
import time
import unittest
import zipfile

import pefile

DLL = os.environ["QUILLON_DLL"]
BINARIES = [DLL, os.environ["QUILLON_HOST"]]
SOURCE_DIR = os.environ["QUILLON_SOURCE_DIR"]
BINARY_DIR = os.environ["QUILLON_BINARY_DIR"]
CMAKE = os.environ.get("QUILLON_CMAKE", "cmake")
ZIP_TOOL = os.environ.get("QUILLON_ZIP_TOOL", "zip")
SCRIPT = os.path.join(SOURCE_DIR, "cmake", "release_zip.cmake")

# Each entry and the file it holds; the texts get CRLF line ends.
ENTRIES = [("QuillonMp3.dll", DLL, False),
           ("INSTALL.txt", os.path.join(SOURCE_DIR, "packaging", "INSTALL.txt"), True),
           ("LICENSE.txt", os.path.join(SOURCE_DIR, "LICENSE"), True)]
EARLIEST_ZIP_TIME = 315532800  # 1980-01-01 00:00:00 UTC


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def zip_time(epoch):
    return time.gmtime(epoch)[:6]


class BinariesCarryNoBuildTimeOrPlace(unittest.TestCase):
    def test_time_stamps_are_zero_and_the_checksum_follows_the_bytes(self):
        for path in BINARIES:
            pe = pefile.PE(path)
            with self.subTest(binary=os.path.basename(path)):
                self.assertEqual(pe.FILE_HEADER.TimeDateStamp, 0)
                self.assertEqual(pe.DIRECTORY_ENTRY_RESOURCE.struct.TimeDateStamp, 0)
                if hasattr(pe, "DIRECTORY_ENTRY_EXPORT"):
                    self.assertEqual(pe.DIRECTORY_ENTRY_EXPORT.struct.TimeDateStamp, 0)
                for debug in getattr(pe, "DIRECTORY_ENTRY_DEBUG", []):
                    self.assertEqual(debug.struct.TimeDateStamp, 0)
                self.assertEqual(pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum())
        self.assertTrue(hasattr(pefile.PE(DLL), "DIRECTORY_ENTRY_EXPORT"))

    def test_no_checkout_or_build_folder_is_named_inside(self):
        for path in BINARIES:
            with open(path, "rb") as f:
                data = f.read()
            for folder in (SOURCE_DIR, BINARY_DIR):
                for encoding in ("utf-8", "utf-16-le"):
                    with self.subTest(binary=os.path.basename(path), folder=folder,
                                      encoding=encoding):
                        self.assertNotIn(folder.encode(encoding), data)


class ReleaseZip(unittest.TestCase):
    def pack(self, out, epoch=None, tz="UTC", umask=0o022):
        env = dict(os.environ, TZ=tz)
        env.pop("SOURCE_DATE_EPOCH", None)
        if epoch is not None:
            env["SOURCE_DATE_EPOCH"] = str(epoch)
        zip_path = os.path.join(out, "release.zip")
        sums_path = os.path.join(out, "SHA256SUMS")
        subprocess.run([CMAKE, f"-DDLL={DLL}", f"-DSOURCE_DIR={SOURCE_DIR}",
                        f"-DSTAGE_DIR={out}/stage", f"-DZIP={zip_path}", f"-DSUMS={sums_path}",
                        f"-DZIP_TOOL={ZIP_TOOL}", "-P", SCRIPT],
                       check=True, env=env, preexec_fn=lambda: os.umask(umask))
        with open(zip_path, "rb") as f:
            zip_bytes = f.read()
        with open(sums_path, "rb") as f:
            sums = f.read().decode()
        return zip_path, zip_bytes, sums

    def assertEntriesAt(self, zip_path, epoch):
        """Every entry whole: name, time, mode, extra fields, size and bytes
        (the DLL's as their SHA-256, for a readable difference)."""
        expected = []
        for name, source, text in ENTRIES:
            with open(source, "rb") as f:
                data = f.read()
            if text:
                self.assertNotIn(b"\r", data, source)
                data = data.replace(b"\n", b"\r\n")
            expected.append((name, zip_time(epoch), 0o100644, b"", len(data),
                             data if text else sha256(data)))
        with zipfile.ZipFile(zip_path) as z:
            found = [(i.filename, i.date_time, i.external_attr >> 16, i.extra, i.file_size,
                      z.read(i) if i.filename.endswith(".txt") else sha256(z.read(i)))
                     for i in z.infolist()]
        self.assertEqual(found, expected)

    def test_same_bytes_and_fixed_entries_whatever_the_time_zone_and_umask(self):
        with tempfile.TemporaryDirectory() as a, tempfile.TemporaryDirectory() as b:
            # An odd second: zip keeps times in 2-second steps.
            path, first, _ = self.pack(a, epoch=1700000001)
            _, second, _ = self.pack(b, epoch=1700000001, tz="JST-9", umask=0o077)
            self.assertEqual(sha256(first), sha256(second))
            self.assertEntriesAt(path, 1700000000)

    def test_times_are_the_commit_time_without_source_date_epoch(self):
        commit = subprocess.run(["git", "-C", SOURCE_DIR, "log", "-1", "--format=%ct"],
                                capture_output=True, text=True)
        expected = EARLIEST_ZIP_TIME
        if commit.returncode == 0 and commit.stdout.strip().isdigit():
            expected = int(commit.stdout) // 2 * 2
        with tempfile.TemporaryDirectory() as out:
            path, _, _ = self.pack(out, tz="JST-9")
            self.assertEntriesAt(path, expected)

    def test_sums_cover_the_zip_and_the_plugin_it_holds(self):
        with tempfile.TemporaryDirectory() as out:
            path, zip_bytes, sums = self.pack(out, epoch=EARLIEST_ZIP_TIME)
            with zipfile.ZipFile(path) as z:
                packed_dll = z.read("QuillonMp3.dll")
        with open(DLL, "rb") as f:
            self.assertEqual(packed_dll, f.read())
        self.assertEqual(sums, f"{sha256(zip_bytes)}  release.zip\n"
                               f"{sha256(packed_dll)}  QuillonMp3.dll\n")


SIGN_TOOL = os.environ.get("QUILLON_SIGN_TOOL", "osslsigncode")
SIGNING_TIME = 1700000000
TRUST_E_BAD_DIGEST, TRUST_E_NOSIGNATURE = 0x80096010, 0x800B0100


def throwaway_signer(folder):
    """A self-signed code-signing certificate and its key, as PEM files."""
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Quillon test signer", "-addext", "extendedKeyUsage=codeSigning",
                    "-keyout", key, "-out", cert], check=True, capture_output=True)
    return cert, key


def pack_signed(out, cert, key):
    """The release packed as package_release packs it with a certificate
    given: its zip's bytes, the DLL in it, and SHA256SUMS."""
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(SIGNING_TIME), QUILLON_SIGN_CERT=cert,
               QUILLON_SIGN_KEY=key)
    zip_path, sums_path = os.path.join(out, "release.zip"), os.path.join(out, "SHA256SUMS")
    subprocess.run([CMAKE, f"-DDLL={DLL}", f"-DSOURCE_DIR={SOURCE_DIR}", f"-DSTAGE_DIR={out}/stage",
                    f"-DZIP={zip_path}", f"-DSUMS={sums_path}", f"-DZIP_TOOL={ZIP_TOOL}",
                    f"-DSIGN_TOOL={SIGN_TOOL}", "-P", SCRIPT], check=True, env=env)
    with open(zip_path, "rb") as f:
        zip_bytes = f.read()
    with zipfile.ZipFile(zip_path) as z:
        dll = z.read("QuillonMp3.dll")
    with open(sums_path, "rb") as f:
        return zip_bytes, dll, f.read().decode()


class SignedRelease(unittest.TestCase):
    def test_two_signings_give_the_same_zip_with_the_signed_dll_in_its_sums(self):
        with open(DLL, "rb") as f:
            built = f.read()
        with tempfile.TemporaryDirectory() as a, tempfile.TemporaryDirectory() as b:
            cert, key = throwaway_signer(a)
            first, dll, sums = pack_signed(a, cert, key)
            second, _, _ = pack_signed(b, cert, key)
            signed = os.path.join(a, "signed.dll")
            with open(signed, "wb") as f:
                f.write(dll)
            verify = subprocess.run([SIGN_TOOL, "verify", "-CAfile", cert, "-in", signed],
                                    capture_output=True, text=True)
            # Without its signature, the zip's DLL is the build's, byte for byte.
            unsigned = os.path.join(a, "unsigned.dll")
            subprocess.run([SIGN_TOOL, "remove-signature", "-in", signed, "-out", unsigned],
                           check=True, capture_output=True)
            with open(unsigned, "rb") as f:
                self.assertEqual(f.read(), built)
        self.assertEqual(verify.returncode, 0, verify.stdout + verify.stderr)
        self.assertRegex(verify.stdout, r"Message digest algorithm\s*: SHA256")
        self.assertEqual(sha256(first), sha256(second))
        self.assertEqual(sums, f"{sha256(first)}  release.zip\n{sha256(dll)}  QuillonMp3.dll\n")
        # The build's own DLL is left as it was, unsigned.
        with open(DLL, "rb") as f:
            self.assertEqual(f.read(), built)
        security = pefile.PE(data=built).OPTIONAL_HEADER.DATA_DIRECTORY[4]
        self.assertEqual((security.VirtualAddress, security.Size), (0, 0))


@unittest.skipUnless(os.environ.get("QUILLON_WINE_DIR"), "needs the Wine session (signed_release)")
class SignedReleaseUnderWine(unittest.TestCase):
    """Windows' own checks, run under Wine by trust_check.exe."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cert, key = throwaway_signer(cls.folder.name)
        _, dll, _ = pack_signed(cls.folder.name, cert, key)
        cls.signed = cls.write("QuillonMp3.dll", dll)
        changed = bytearray(dll)
        changed[len(dll) // 2] ^= 0x01
        cls.changed = cls.write("changed.dll", bytes(changed))

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    @classmethod
    def write(cls, name, data):
        path = os.path.join(cls.folder.name, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def trust_check(self, *args):
        windows = [a if not a.startswith("/") else "Z:" + a.replace("/", "\\") for a in args]
        run = subprocess.run([os.path.join(SOURCE_DIR, "scripts", "wine-run.sh"), "--test",
                              os.environ["QUILLON_WINE_DIR"], os.environ["QUILLON_TRUST_CHECK"],
                              *windows], capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        return run.stdout.split()

    def test_win_verify_trust_accepts_the_signed_dll_only_while_unchanged(self):
        got = self.trust_check("verify", self.signed, self.changed, DLL)
        self.assertEqual(got, [f"0x{code:08X}" for code in (0, TRUST_E_BAD_DIGEST,
                                                             TRUST_E_NOSIGNATURE)])

    def test_host_loads_the_signed_dll_and_opens_its_dialog(self):
        mp3 = os.path.join(self.folder.name, "sample.mp3")
        with open(os.path.join(SOURCE_DIR, "samples", "sample.mp3"), "rb") as f:
            self.write("sample.mp3", f.read())
        host = os.environ["QUILLON_HOST"]
        self.assertEqual(self.trust_check("host", host, self.signed, mp3), ["dialog", "exit", "0"])


if __name__ == "__main__":
    unittest.main()
