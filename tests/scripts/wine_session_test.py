"""scripts/wine-session.sh --display, as a user meets it: on their own display
(here an Xvfb of the test's own) the session starts no display and no window
manager, names their display, shows its programs' windows there and leaves
the display running when it stops; without a display it makes its own. The
session's folder is kept between runs, so the prefix is made only once."""

import os
import subprocess
import tempfile
import time
import unittest

from prefix_processes import prefix_processes

SOURCE_DIR = os.environ["QUILLON_SOURCE_DIR"]
SESSION = os.path.join(SOURCE_DIR, "scripts", "wine-session.sh")
WINE_RUN = os.path.join(SOURCE_DIR, "scripts", "wine-run.sh")
DIR = os.environ["QUILLON_SESSION_DIR"]
PREFIX = os.path.join(DIR, "prefix")
ALLOWED = sorted(os.sched_getaffinity(0))


def session_programs(processes):
    """The display, window manager and server among the session's processes."""
    return sorted({name for name, _ in processes} & {"Xvfb", "openbox", "wineserver"})


def session_cpus(processes):
    """The CPUs the session's processes, its programs included, may run on."""
    return sorted({cpus for _, cpus in processes})


def session_processes():
    """Each of the session's processes, by name, and the CPUs it may run on."""
    found = []
    for _, status, _ in prefix_processes(PREFIX):
        name = "wineserver" if status["Name"].startswith("wineserver") else status["Name"]
        found.append((name, status["Cpus_allowed_list"].strip()))
    return found


def decorated():
    """Whether Wine draws the frames itself: the prefix's X11 driver setting."""
    with open(os.path.join(PREFIX, "user.reg"), encoding="latin-1") as f:
        section = None
        for line in f:
            if line.startswith("["):
                section = line.split("]")[0]
            elif section == r"[Software\\Wine\\X11 Driver" and line.startswith('"Decorated"='):
                return line.split("=")[1].strip().strip('"')
    return None


def display_runs(display):
    return subprocess.run(["xdpyinfo", "-display", display], capture_output=True).returncode == 0


def window_shown(display, title, seconds=60):
    deadline = time.monotonic() + seconds
    while True:
        try:
            # A look that Xvfb leaves unanswered is given up; the next may pass.
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title],
                                   env=dict(os.environ, DISPLAY=display), capture_output=True,
                                   timeout=10)
            if found.returncode == 0:
                return True
        except subprocess.TimeoutExpired:
            pass
        if time.monotonic() >= deadline:
            return False
        time.sleep(0.1)


class WineSessionDisplay(unittest.TestCase):
    def setUp(self):
        # The user's display.
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        # Ended as a user's display ends, so that it removes its socket: one
        # left behind makes every later Xvfb print that it skips its number.
        self.addCleanup(self.xvfb.wait)
        self.addCleanup(self.xvfb.terminate)
        self.user_display = ":" + self.xvfb.stdout.readline().decode().strip()
        self.xvfb.stdout.close()
        # The sessions' pins go to a folder of the test's own, empty at first.
        scratch = tempfile.TemporaryDirectory(prefix="quillon-pins-")
        self.addCleanup(scratch.cleanup)
        self.tmpdir = scratch.name
        self.addCleanup(subprocess.run, [SESSION, "stop", DIR], capture_output=True,
                        env=dict(os.environ, TMPDIR=self.tmpdir))

    def pin_others(self):
        """Pins of two other sessions: a running one on the first allowed CPU,
        and one whose folder has gone, which holds nothing, on the last. The
        second allowed CPU is then the one held least."""
        pins, running = os.path.join(self.tmpdir, "quillon-wine-cpus"), os.path.join(self.tmpdir, "s")
        os.makedirs(running)
        with open(os.path.join(running, "cpu"), "w") as f:
            f.write(f"{ALLOWED[0]}\n")
        for name, cpu, folder in (("running", ALLOWED[0], running),
                                  ("gone", ALLOWED[-1], os.path.join(self.tmpdir, "gone"))):
            with open(os.path.join(pins, name), "w") as f:
                f.write(f"{cpu}\n{folder}\n")

    def pinned(self):
        """The CPU the session's pin holds, and the one its folder names."""
        found = []
        for path in (os.path.join(self.tmpdir, "quillon-wine-cpus", DIR.replace("/", "%")),
                     os.path.join(DIR, "cpu")):
            try:
                with open(path) as f:
                    found.append(f.readline().strip())
            except FileNotFoundError:
                found.append(None)
        return tuple(found)

    def act(self, action, user_display):
        """What the user sees after wine-session.sh ACTION: its status and
        what else it printed, whose display the session names, which of its own programs run,
        the frames setting, where a program of the session shows its window,
        whether the user's display still runs, and the CPUs its processes run
        on."""
        env = dict(os.environ, TMPDIR=self.tmpdir)
        env.pop("DISPLAY", None)
        if user_display:
            env["DISPLAY"] = self.user_display
        args = ["start", DIR, "--display"] if action == "start" else ["stop", DIR]
        run = subprocess.run([SESSION, *args], env=env, stdin=subprocess.DEVNULL,
                             capture_output=True, text=True, timeout=600)
        # Its own messages (such as how long the prefix took, on a first run)
        # aside, a start or stop prints nothing: no error from a command.
        status = (run.returncode, [line for line in (run.stdout + run.stderr).splitlines()
                                   if not line.startswith("wine-session: ")])
        try:
            with open(os.path.join(DIR, "display")) as f:
                display = f.read().strip()
        except FileNotFoundError:
            display = None
        window = None
        if action == "start" and display:
            log = os.path.join(self.tmpdir, "notepad.log")
            with open(log, "w") as errors:
                program = subprocess.Popen([WINE_RUN, DIR, "notepad.exe"], env=env,
                                           stdin=subprocess.DEVNULL, stdout=errors,
                                           stderr=errors)
            # Notepad stays until the session stops.
            self.addCleanup(program.wait, 60)
            if window_shown(display, "Notepad"):
                window = "its own"
            if window_shown(self.user_display, "Notepad", 0):
                window = "the user's"
            if window is None:
                with open(log) as f:
                    print(f"no Notepad window; Notepad {program.poll()}, said:\n{f.read()}")
        if action == "stop":
            # The session's processes may take a moment to go once told to.
            for _ in range(50):
                if not session_programs(session_processes()):
                    break
                time.sleep(0.2)
        whose = {None: None, self.user_display: "the user's"}.get(display, "its own")
        processes = session_processes()
        return (status, whose, session_programs(processes), decorated(), window,
                display_runs(self.user_display), session_cpus(processes), self.pinned())

    maxDiff = None

    def test_what_a_user_meets(self):
        # In order, on one session folder: the first start finds no pins, the
        # second those of two other sessions.
        first, least_held = str(ALLOWED[0]), str(ALLOWED[1 % len(ALLOWED)])
        steps = {
            "--display with no display: a display of its own, Wine framing its windows": (
                ("start", False, False),
                ((0, []), "its own", ["Xvfb", "openbox", "wineserver"], "N", "its own", True,
                 [first], (first, first))),
            "stop": (("stop", False, False),
                     ((0, []), None, [], "N", None, True, [], (None, None))),
            "--display on the user's display: theirs, their window manager framing": (
                ("start", True, True),
                ((0, []), "the user's", ["wineserver"], None, "the user's", True, [least_held],
                 (least_held, least_held))),
            "stop: the user's display stays": (
                ("stop", True, False), ((0, []), None, [], None, None, True, [], (None, None))),
        }
        for name, ((action, user_display, others), expected) in steps.items():
            with self.subTest(name):
                if others:
                    self.pin_others()
                self.assertEqual(self.act(action, user_display), expected)


if __name__ == "__main__":
    unittest.main()
