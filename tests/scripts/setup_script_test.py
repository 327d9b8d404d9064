"""scripts/setup.sh on each kind of machine, as the machine meets it: what it
installs and from where, the files it writes under /etc and /proc, and what it
registers for 32-bit programs. It runs with stand-ins first on PATH for the
package tools, the binfmt_misc mount and the 32-bit probe's outcome, and with a
scratch root (QUILLON_SETUP_ROOT) for the files it writes; the stand-ins keep a
record of every command that would change the machine."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR = os.environ["QUILLON_SOURCE_DIR"]
SETUP = os.path.join(SOURCE_DIR, "scripts", "setup.sh")

# One program for every stand-in, told apart by the name it runs under. Its
# state (installed packages, foreign architectures, the mount) lives in
# $STANDIN_STATE; what changes the machine is appended to its file "record".
STANDIN = r'''
import os, sys

name = os.path.basename(sys.argv[0])
args = sys.argv[1:]
state = os.environ["STANDIN_STATE"]
root = os.environ["QUILLON_SETUP_ROOT"]


def record(*words):
    with open(os.path.join(state, "record"), "a") as f:
        f.write(" ".join(w.replace(root, "") for w in words) + "\n")


def installed():
    with open(os.path.join(state, "installed")) as f:
        return dict((line.split()[0], line.split()[1:]) for line in f if line.strip())


# In one write, as a C program's stdio does: a reader that stops at the line it
# wants (grep -q) would otherwise break the pipe of a second.
def say(text):
    os.write(1, text.encode())


def lines(file):
    try:
        with open(os.path.join(state, file)) as f:
            return f.read().split()
    except FileNotFoundError:
        return []


# The machine's sources as apt lists them: a third-party repository first.
TARGETS = [
    {"REPO_URI": "http://apt.example.com/tools/", "Codename": "bookworm", "Origin": "Example"},
    {"REPO_URI": "http://mirror.example.org/debian-security/", "Codename": "bookworm-security",
     "Origin": "Debian"},
    {"REPO_URI": "http://mirror.example.org/debian/", "Codename": "bookworm", "Origin": "Debian"},
]

if name == "chmod" and args[:1] == ["+x"] and args[1].endswith("/probe"):
    # The probe runs, as on a kernel with 32-bit support, or cannot.
    if os.environ["PROBE"] == "runs":
        with open(args[1], "w") as f:
            f.write("#!/bin/sh\nexit 0\n")
        os.chmod(args[1], 0o755)
    sys.exit(0)
if name == "chmod":
    os.execv("/bin/chmod", ["chmod", *args])
if name == "id" and args == ["-u"]:
    say(os.environ["STANDIN_UID"] + "\n")
elif name == "locale" and args == ["-a"]:
    say("C\nC.utf8\nja_JP.utf8\nPOSIX\n")
elif name == "dpkg" and args == ["--print-architecture"]:
    say("amd64\n")
elif name == "dpkg" and args == ["--print-foreign-architectures"]:
    say("".join(a + "\n" for a in lines("foreign")))
elif name == "dpkg" and args[:1] == ["--compare-versions"]:
    os.execv("/usr/bin/dpkg", ["dpkg", *args])
elif name == "dpkg" and args[:1] == ["--add-architecture"]:
    record(name, *args)
    with open(os.path.join(state, "foreign"), "a") as f:
        f.write(args[1] + "\n")
elif name == "dpkg-query" and args[0] == "-W":
    have = installed()
    status = 0
    for package in args[2:]:
        if package in have:
            arch, version = have[package]
            fields = {"${Package}": package.split(":")[0], "${Architecture}": arch,
                      "${db:Status-Abbrev}": "ii ", "${Version}": version}
            text = args[1][len("-f="):] if args[1].startswith("-f=") else args[1]
            for field, value in fields.items():
                text = text.replace(field, value)
            say(text.replace("\\n", "\n"))
        else:
            print(f"dpkg-query: no packages found matching {package}", file=sys.stderr)
            status = 1
    sys.exit(status)
elif name == "apt-get" and args[:1] == ["indextargets"]:
    form = args[2]
    for target in TARGETS:
        if all(target.get(c.split(": ")[0]) == c.split(": ")[1] for c in args[3:]):
            text = form
            for field, value in target.items():
                text = text.replace(f"$({field})", value)
            say(text + "\n")
elif name == "apt-get":
    frontend = os.environ.get("DEBIAN_FRONTEND")
    record(*([f"DEBIAN_FRONTEND={frontend}"] if frontend else []), name, *args)
    if "install" in args:
        # The backports suite has qemu 10 once it is among the sources.
        sources = os.path.join(root, "etc/apt/sources.list.d")
        backports = any("bookworm-backports" in open(os.path.join(sources, s)).read()
                        for s in os.listdir(sources))
        with open(os.path.join(state, "installed"), "a") as f:
            for package in args[args.index("install") + 1:]:
                if package.startswith("-"):
                    continue
                package, _, suite = package.partition("/")
                if suite and not (suite == "bookworm-backports" and backports):
                    print(f"E: Release '{suite}' for '{package}' was not found", file=sys.stderr)
                    sys.exit(100)
                version = "1:10.0.2+ds-1~bpo12+1" if suite else "1:7.2+dfsg-7+deb12u7"
                f.write(f"{package} amd64 {version}\n")
elif name == "mountpoint":
    sys.exit(0 if args[-1] in lines("mounted") else 1)
elif name == "mount":
    record(name, *args)
    with open(os.path.join(state, "mounted"), "a") as f:
        f.write(args[-1] + "\n")
else:
    print(f"{name} stand-in: unexpected {args}", file=sys.stderr)
    sys.exit(2)
'''

STANDINS = ("chmod", "id", "locale", "dpkg", "dpkg-query", "apt-get", "apt-cache", "mountpoint",
            "mount")

# Every package setup.sh asks for, as dpkg-query answers for a machine that has
# them; a row takes some out or puts in an older one.
def every_package():
    with open(SETUP) as f:
        text = f.read()
    listed = text[text.index("packages=(") + len("packages=("):text.index(")\n", text.index("packages=("))]
    return {p: ("i386" if p.endswith(":i386") else "amd64", "1.0") for p in listed.split()}


BINFMT = "/proc/sys/fs/binfmt_misc"
BACKPORTS_SOURCES = """\
# qemu-user for 32-bit Wine under emulation (scripts/setup.sh)
Types: deb
URIs: http://mirror.example.org/debian/
Suites: bookworm-backports
Components: main
"""
BACKPORTS_PIN = """\
# Only qemu-user comes from bookworm-backports (scripts/setup.sh).
Package: qemu-user
Pin: release n=bookworm-backports
Pin-Priority: 500

Package: *
Pin: release n=bookworm-backports
Pin-Priority: -1
"""
# The registration as the kernel reads it: its own escapes, qemu-i386 as the
# interpreter, and F so that the interpreter is opened once, at registration.
REGISTRATION = (r":qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00"
                r"\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe"
                r"\xff\xff\xff:/usr/bin/qemu-i386:F")
QEMU_ENTRY = "enabled\ninterpreter /usr/bin/qemu-i386\nflags: F\n"
# The first update reads the machine's sources before backports are added.
SOURCES_UPDATE = "apt-get update -qq"
APT_UPDATE = "DEBIAN_FRONTEND=noninteractive apt-get update -qq"
APT_INSTALL = "DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends"


def run_setup(probe, uid=0, missing=(), extra=None, mounted=False, files=None):
    """setup.sh's exit status, its output, the record of what it changed and
    every file under the scratch root afterwards."""
    with tempfile.TemporaryDirectory(prefix="quillon-setup-sh-") as scratch:
        tools, state, root = (os.path.join(scratch, d) for d in ("bin", "state", "root"))
        for folder in (tools, state, os.path.join(root, "etc/apt/sources.list.d"),
                       os.path.join(root, "etc/apt/preferences.d"), root + BINFMT):
            os.makedirs(folder)
        program = os.path.join(tools, "standin.py")
        with open(program, "w") as f:
            f.write(f"#!{sys.executable} -S\n" + STANDIN)
        os.chmod(program, 0o755)
        for name in STANDINS:
            os.symlink(program, os.path.join(tools, name))
        packages = every_package()
        for p in missing:
            del packages[p]
        packages.update(extra or {})
        with open(os.path.join(state, "installed"), "w") as f:
            f.writelines(f"{p} {arch} {version}\n" for p, (arch, version) in packages.items())
        with open(os.path.join(state, "foreign"), "w") as f:
            f.write("i386\n")
        if mounted:
            with open(os.path.join(state, "mounted"), "w") as f:
                f.write(root + BINFMT + "\n")
        for path, text in (files or {}).items():
            with open(root + path, "w") as f:
                f.write(text)
        env = dict(os.environ, PATH=tools + os.pathsep + os.environ["PATH"], TMPDIR=scratch,
                   STANDIN_STATE=state, STANDIN_UID=str(uid), PROBE=probe,
                   QUILLON_SETUP_ROOT=root)
        env.pop("DEBIAN_FRONTEND", None)
        result = subprocess.run(["bash", SETUP], env=env, capture_output=True, text=True,
                                timeout=60)
        try:
            with open(os.path.join(state, "record")) as f:
                record = f.read().splitlines()
        except FileNotFoundError:
            record = []
        written = {}
        for folder, _, names in os.walk(root):
            for name in names:
                path = os.path.join(folder, name)
                with open(path) as f:
                    written[path[len(root):]] = f.read()
        output = result.stdout.splitlines() + result.stderr.splitlines()
        return result.returncode, output, record, written


class SetupScript(unittest.TestCase):
    def test_what_each_kind_of_machine_gets(self):
        backports_files = {"/etc/apt/sources.list.d/quillon-backports.sources": BACKPORTS_SOURCES,
                           "/etc/apt/preferences.d/quillon-backports": BACKPORTS_PIN}
        qemu_from_backports = f"{APT_INSTALL} qemu-user/bookworm-backports"
        cases = {
            "32-bit code runs; xvfb is missing": (
                dict(probe="runs", missing=["xvfb"]),
                (0, ["setup: installing xvfb"],
                 [APT_UPDATE, f"{APT_INSTALL} xvfb"], {})),
            "32-bit code runs; everything is in place": (
                dict(probe="runs"), (0, [], [], {})),
            "no 32-bit code; qemu is missing": (
                dict(probe="fails", missing=["xvfb"]),
                (0, ["setup: installing xvfb qemu-user",
                     "setup: running 32-bit programs through /usr/bin/qemu-i386"],
                 [SOURCES_UPDATE, APT_UPDATE, f"{qemu_from_backports.replace('qemu', 'xvfb qemu')}",
                  f"mount -t binfmt_misc binfmt_misc {BINFMT}"],
                 {**backports_files, BINFMT + "/register": REGISTRATION,
                  BINFMT + "/qemu-i386": "1\n"})),
            "no 32-bit code; Debian 12's qemu 7.2 is registered": (
                dict(probe="fails", extra={"qemu-user": ("amd64", "1:7.2+dfsg-7+deb12u7")},
                     mounted=True, files={BINFMT + "/qemu-i386": QEMU_ENTRY}),
                (0, ["setup: installing qemu-user"],
                 [SOURCES_UPDATE, APT_UPDATE, qemu_from_backports],
                 {**backports_files, BINFMT + "/qemu-i386": QEMU_ENTRY})),
            "no 32-bit code; qemu 10 is installed, not yet registered": (
                dict(probe="fails", extra={"qemu-user": ("amd64", "1:10.0.2+ds-1~bpo12+1")},
                     mounted=True),
                (0, ["setup: running 32-bit programs through /usr/bin/qemu-i386"], [],
                 {BINFMT + "/register": REGISTRATION, BINFMT + "/qemu-i386": "1\n"})),
            "no 32-bit code; qemu 10 is registered, disabled": (
                dict(probe="fails", extra={"qemu-user": ("amd64", "1:10.0.2+ds-1~bpo12+1")},
                     mounted=True,
                     files={BINFMT + "/qemu-i386": QEMU_ENTRY.replace("enabled", "disabled")}),
                (0, ["setup: running 32-bit programs through /usr/bin/qemu-i386"], [],
                 {BINFMT + "/qemu-i386": "1\n"})),
            "no 32-bit code and not root": (
                dict(probe="fails", uid=1000),
                (1, ["setup: missing packages: qemu-user; run this script as root once"], [], {})),
            "no 32-bit code, qemu in place, not registered, not root": (
                dict(probe="fails", uid=1000,
                     extra={"qemu-user": ("amd64", "1:10.0.2+ds-1~bpo12+1")}),
                (1, ["setup: this kernel runs no 32-bit programs and /usr/bin/qemu-i386 is not"
                     " registered for them; run this script as root once"], [], {})),
        }
        for name, (machine, expected) in cases.items():
            with self.subTest(name):
                self.assertEqual(run_setup(**machine), expected)


if __name__ == "__main__":
    unittest.main()
