"""The release is the same bytes from one commit wherever, whenever and by
whomever it is built: binaries without link times or checkout paths, a zip
with fixed times, modes and order, and SHA256SUMS that match it."""

import calendar
import hashlib
import http.server
import os
import re
import shutil
import socket
import subprocess
import tempfile
import threading
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


# Making an RSA key is most of what the certificates cost, so each key is made
# once per build folder and kept; every certificate is issued anew each run.
KEYS = os.path.join(BINARY_DIR, "tests", "packaging", "keys")


def kept_key(name, folder):
    """folder/NAME.key: a copy of the build folder's RSA key NAME, which is
    made the first time it is asked for."""
    kept = os.path.join(KEYS, name + ".key")
    if not os.path.exists(kept):
        os.makedirs(KEYS, exist_ok=True)
        # Made aside and renamed, so a test beside this one never reads half.
        made = tempfile.NamedTemporaryFile(dir=KEYS, suffix=".new", delete=False).name
        subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt",
                        "rsa_keygen_bits:2048", "-out", made], check=True, capture_output=True)
        os.replace(made, kept)
    key = os.path.join(folder, name + ".key")
    shutil.copyfile(kept, key)
    return key


def throwaway_signer(folder):
    """A self-signed code-signing certificate and its key, as PEM files."""
    cert, key = os.path.join(folder, "cert.pem"), kept_key("throwaway", folder)
    subprocess.run(["openssl", "req", "-x509", "-key", key, "-days", "2",
                    "-subj", "/CN=Quillon test signer", "-addext", "extendedKeyUsage=codeSigning",
                    "-out", cert], check=True, capture_output=True)
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
    """What Wine's WinVerifyTrust really checks, run under Wine by
    trust_check.exe: the file digest, and that there is a signature. Wine
    accepts what Windows refuses (a root in no store, an expired certificate,
    a SHA-1 digest), so whether the chain is trusted and outlives its
    certificate is checked with osslsigncode in SigningThroughPackageRelease."""

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

    def test_wine_sees_a_changed_digest_and_a_missing_signature(self):
        # Any other answer, 0 included, only says the digest matched.
        kinds = {TRUST_E_BAD_DIGEST: "bad digest", TRUST_E_NOSIGNATURE: "no signature"}
        got = self.trust_check("verify", self.signed, self.changed, DLL)
        self.assertEqual([kinds.get(int(code, 16), "digest matches") for code in got],
                         ["digest matches", "bad digest", "no signature"], got)

    def test_host_loads_the_signed_dll_and_opens_its_dialog(self):
        mp3 = os.path.join(self.folder.name, "sample.mp3")
        with open(os.path.join(SOURCE_DIR, "samples", "sample.mp3"), "rb") as f:
            self.write("sample.mp3", f.read())
        host = os.environ["QUILLON_HOST"]
        self.assertEqual(self.trust_check("host", host, self.signed, mp3), ["dialog", "exit", "0"])


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, capture_output=True)


def issue(folder, name, subject, extensions, days, root=None):
    """A key and a certificate for it, issued by root (a name given before)
    or, without one, self-signed: PEM files folder/NAME.key, folder/NAME.pem."""
    key, cert = kept_key(name, folder), os.path.join(folder, name + ".pem")
    if root is None:
        openssl("req", "-x509", "-key", key, "-days", str(days), "-subj", subject,
                *[a for e in extensions for a in ("-addext", e)], "-out", cert)
        return cert
    request, ext = os.path.join(folder, name + ".csr"), os.path.join(folder, name + ".ext")
    with open(ext, "w") as f:
        f.write("\n".join(extensions) + "\n")
    openssl("req", "-new", "-key", key, "-subj", subject, "-out", request)
    openssl("x509", "-req", "-in", request, "-CA", os.path.join(folder, root + ".pem"), "-CAkey",
            os.path.join(folder, root + ".key"), "-set_serial", str(len(os.listdir(folder))),
            "-days", str(days), "-extfile", ext, "-out", cert)
    return cert


class TimeStampingService(http.server.HTTPServer):
    """An RFC 3161 service on 127.0.0.1 at a free port, answering each
    request with openssl ts -reply, until stopped."""

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            folder = self.server.folder
            query, reply = os.path.join(folder, "query.tsq"), os.path.join(folder, "reply.tsr")
            with open(query, "wb") as f:
                f.write(self.rfile.read(int(self.headers["Content-Length"])))
            openssl("ts", "-reply", "-config", os.path.join(folder, "tsa.cnf"), "-queryfile",
                    query, "-inkey", os.path.join(folder, "tsa.key"), "-signer",
                    os.path.join(folder, "tsa.pem"), "-out", reply)
            with open(reply, "rb") as f:
                data = f.read()
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        def log_message(self, *args):
            pass

    def __init__(self, folder):
        super().__init__(("127.0.0.1", 0), self.Handler)
        self.folder = folder
        with open(os.path.join(folder, "tsa.cnf"), "w") as f:
            f.write("[tsa]\ndefault_tsa = here\n[here]\n"
                    f"serial = {folder}/tsa.serial\nsigner_digest = sha256\n"
                    "default_policy = 1.3.6.1.4.1.99999.1\ndigests = sha256, sha384, sha512\n"
                    "ess_cert_id_alg = sha256\naccuracy = secs:1\n")
        with open(os.path.join(folder, "tsa.serial"), "w") as f:
            f.write("01\n")
        self.url = f"http://127.0.0.1:{self.server_address[1]}"
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def stop(self):
        self.shutdown()
        self.server_close()


SOFTHSM2_MODULES = ["/usr/lib/softhsm/libsofthsm2.so",
                    "/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so"]
PIN, WRONG_PIN = "73915846", "20486137"


@unittest.skipUnless(os.environ.get("QUILLON_PACKAGE_RELEASE"), "run by package_release_signing")
class SigningThroughPackageRelease(unittest.TestCase):
    """A publisher's signing as it is really done: package_release built with
    the key in a PKCS#11 token (SoftHSM2, kept in a scratch folder), a
    certificate issued by a root for a day, and a time-stamping service on
    127.0.0.1; everything is checked with osslsigncode against that root."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="quillon-signing-")
        cls.addClassCleanup(shutil.rmtree, cls.folder)
        f = cls.folder
        ca = ["basicConstraints=critical,CA:true", "keyUsage=critical,keyCertSign,cRLSign"]
        cls.root = issue(f, "root", "/CN=Quillon test root", ca, 3650)
        cls.other_root = issue(f, "other", "/CN=Quillon other root", ca, 3650)
        cls.cert = issue(f, "signer", "/CN=Quillon test publisher",
                         ["basicConstraints=CA:false", "keyUsage=critical,digitalSignature",
                          "extendedKeyUsage=codeSigning"], 1, root="root")
        issue(f, "tsa", "/CN=Quillon test time stamps",
              ["basicConstraints=CA:false", "keyUsage=critical,digitalSignature",
               "extendedKeyUsage=critical,timeStamping"], 3650, root="root")
        cls.key_file = os.path.join(f, "signer.key")
        cls.after_expiry = int(time.time()) + 3 * 86400

        cls.module = next((m for m in SOFTHSM2_MODULES if os.path.exists(m)), SOFTHSM2_MODULES[0])
        os.mkdir(os.path.join(f, "tokens"))
        cls.softhsm2_conf = os.path.join(f, "softhsm2.conf")
        with open(cls.softhsm2_conf, "w") as conf:
            conf.write(f"directories.tokendir = {f}/tokens\nobjectstore.backend = file\n")
        env = dict(os.environ, SOFTHSM2_CONF=cls.softhsm2_conf)
        pkcs8 = os.path.join(f, "signer.p8")
        openssl("pkcs8", "-topk8", "-nocrypt", "-in", cls.key_file, "-out", pkcs8)
        for args in (["--init-token", "--free", "--label", "quillon", "--so-pin", "11112222"],
                     ["--import", pkcs8, "--token", "quillon", "--label", "publisher", "--id",
                      "01"]):
            subprocess.run(["softhsm2-util", *args, "--pin", PIN], check=True, env=env,
                           capture_output=True)
        cls.uri = f"pkcs11:token=quillon;object=publisher;type=private;pin-value={PIN}"

        cls.tsa = TimeStampingService(f)
        cls.addClassCleanup(cls.tsa.stop)
        # A port bound but never listening: a service that does not answer.
        cls.silent = socket.socket()
        cls.silent.bind(("127.0.0.1", 0))
        cls.addClassCleanup(cls.silent.close)
        cls.silent_url = f"http://127.0.0.1:{cls.silent.getsockname()[1]}"

        with open(DLL, "rb") as dll:
            cls.built = dll.read()
        status, said, files = cls.build(cls)
        if status != 0:
            raise AssertionError("package_release failed unsigned:\n" + said)
        cls.release_files = sorted(files)

    def build(self, umask=0o022, relative=None, **signing):
        """Builds package_release into a fresh folder, one with a stale zip
        and SHA256SUMS in it once the names are known: the build's status and
        output, and what the folder holds after it. With relative, the folder
        is named by that relative path instead, as the target's build would
        resolve it, and starts out not there."""
        if relative:
            dist = os.path.join(BINARY_DIR, "packaging", relative)
            self.addCleanup(shutil.rmtree, dist, True)
        else:
            dist = tempfile.mkdtemp(dir=self.folder)
            for name in getattr(self, "release_files", []):
                with open(os.path.join(dist, name), "w") as f:
                    f.write("left by an earlier packing\n")
        env = {k: v for k, v in os.environ.items()
               if not k.startswith("QUILLON_SIGN_") and "proxy" not in k.lower()}
        env.update(SOURCE_DATE_EPOCH=str(SIGNING_TIME), QUILLON_DIST_DIR=relative or dist,
                   SOFTHSM2_CONF=self.softhsm2_conf,
                   **{"QUILLON_SIGN_" + k.upper(): v for k, v in signing.items()})
        build = subprocess.run([CMAKE, "--build", BINARY_DIR, "--target", "package_release"],
                               env=env, capture_output=True, text=True,
                               preexec_fn=lambda: os.umask(umask))
        files = {}
        for name in os.listdir(dist) if os.path.isdir(dist) else []:
            with open(os.path.join(dist, name), "rb") as f:
                files[name] = f.read()
        return build.returncode, build.stdout + build.stderr, files

    def package(self, umask=0o022, **signing):
        """build(), whose output must never show a PIN."""
        status, said, files = self.build(umask, **signing)
        for pin in (PIN, WRONG_PIN):
            self.assertNotIn(pin, said)
        return status, said, files

    def signed(self, name, **signing):
        """The zip's DLL from a packing that must succeed, written to NAME,
        after checking SHA256SUMS against the zip and the DLL."""
        status, said, files = self.package(**signing)
        self.assertEqual((status, sorted(files)), (0, self.release_files), said)
        zip_name = next(n for n in files if n.endswith(".zip"))
        path = os.path.join(self.folder, name)
        with open(path + ".zip", "wb") as f:
            f.write(files[zip_name])
        with zipfile.ZipFile(path + ".zip") as z:
            dll = z.read("QuillonMp3.dll")
        with open(path, "wb") as f:
            f.write(dll)
        self.assertEqual(files["SHA256SUMS"].decode(),
                         f"{sha256(files[zip_name])}  {zip_name}\n{sha256(dll)}  QuillonMp3.dll\n")
        return path, files[zip_name]

    def verify(self, path, root, at=None):
        """osslsigncode's verdict, "ok" or its first error, and whether a
        countersignature was verified."""
        run = subprocess.run([SIGN_TOOL, "verify", "-CAfile", root, "-TSA-CAfile", self.root,
                              "-in", path, *(["-time", str(at)] if at else [])],
                             capture_output=True, text=True)
        said = run.stdout + run.stderr
        error = re.search(r"Verify error: ?(.*)", said)
        verdict = "ok" if run.returncode == 0 else error.group(1) if error else said[-300:]
        return verdict, "Timestamp Server Signature verification: ok" in said

    def test_a_timestamped_token_signing_outlives_its_certificate(self):
        stamped, _ = self.signed("stamped.dll", cert=self.cert, key=self.uri,
                                 pkcs11_module=self.module, timestamp_url=self.tsa.url)
        plain, _ = self.signed("plain.dll", cert=self.cert, key=self.uri,
                               pkcs11_module=self.module)
        got = {(dll, when): self.verify(path, root, at)
               for dll, path in (("timestamped", stamped), ("untimestamped", plain))
               for when, root, at in (("now", self.root, None),
                                      ("after expiry", self.root, self.after_expiry),
                                      ("against another root", self.other_root, None))}
        unknown = "unable to get local issuer certificate"
        self.maxDiff = None
        self.assertEqual(got, {
            ("timestamped", "now"): ("ok", True),
            ("timestamped", "after expiry"): ("ok", True),
            ("timestamped", "against another root"): (unknown, True),
            ("untimestamped", "now"): ("ok", False),
            ("untimestamped", "after expiry"): ("certificate has expired", False),
            ("untimestamped", "against another root"): (unknown, False),
        })
        # Without their signatures both are the build's DLL, byte for byte.
        for path in (stamped, plain):
            subprocess.run([SIGN_TOOL, "remove-signature", "-in", path, "-out", path + ".bare"],
                           check=True, capture_output=True)
            with open(path + ".bare", "rb") as f:
                self.assertEqual(sha256(f.read()), sha256(self.built), path)

    def test_an_untimestamped_zip_is_the_same_under_any_umask_from_token_or_key_file(self):
        zips = [self.signed(name, umask=umask, cert=self.cert, **key)[1]
                for name, umask, key in (
                    ("token.dll", 0o022, dict(key=self.uri, pkcs11_module=self.module)),
                    ("token-077.dll", 0o077, dict(key=self.uri, pkcs11_module=self.module)),
                    ("file-077.dll", 0o077, dict(key=self.key_file)))]
        self.assertEqual([sha256(z) for z in zips[1:]], [sha256(zips[0])] * 2)

    def test_a_setup_that_cannot_sign_or_place_the_zip_fails_the_build_and_leaves_none(self):
        junk = os.path.join(self.folder, "junk.so")
        with open(junk, "w") as f:
            f.write("not a library\n")
        token = dict(cert=self.cert, key=self.uri, pkcs11_module=self.module)
        both = "signing needs both QUILLON_SIGN_CERT and QUILLON_SIGN_KEY"
        cases = [
            ("certificate alone", dict(cert=self.cert), both),
            ("key file alone", dict(key=self.key_file), both),
            ("token key alone", dict(key=self.uri, pkcs11_module=self.module), both),
            ("module alone", dict(pkcs11_module=self.module), both),
            ("timestamp alone", dict(timestamp_url=self.tsa.url), both),
            ("URI without a module", dict(cert=self.cert, key=self.uri),
             "set QUILLON_SIGN_PKCS11_MODULE"),
            ("key file with a module", dict(cert=self.cert, key=self.key_file,
                                            pkcs11_module=self.module), "is not a pkcs11: URI"),
            ("module not there", dict(token, pkcs11_module=junk + ".missing"), "is not a file"),
            ("module that does not load", dict(token, pkcs11_module=junk), "does not load"),
            ("wrong PIN", dict(token, key=self.uri.replace(PIN, WRONG_PIN)), "signing failed"),
            ("service that does not answer", dict(token, timestamp_url=self.silent_url),
             "did not answer with a timestamp"),
            ("a relative folder for the zip", dict(relative="relative-dist"),
             "is not an absolute path"),
        ]
        got, expected = [], []
        for name, signing, message in cases:
            status, said, files = self.package(**signing)
            shown = " ".join(said.split())
            got.append((name, status != 0, message if message in shown else shown[-400:],
                        sorted(files)))
            expected.append((name, True, message, []))
        self.assertEqual(got, expected)


if __name__ == "__main__":
    unittest.main()
