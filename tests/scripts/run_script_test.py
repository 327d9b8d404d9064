"""scripts/run.sh without a display: the dialog's screenshot and exit 0 on the
sample, even when the dialog comes late, a failure status when the host
refuses the file, and nothing of its Wine session left running either way."""

import os
import shutil
import struct
import subprocess
import tempfile
import time
import unittest

from prefix_processes import prefix_processes

SOURCE_DIR = os.environ["QUILLON_SOURCE_DIR"]
RUN = os.path.join(SOURCE_DIR, "scripts", "run.sh")
RUN_DIR = os.path.join(SOURCE_DIR, "build", "run")
SHOT = os.path.join(RUN_DIR, "dialog.png")
# run.sh's session: its own, apart from the suite's.
SESSION_PREFIX = os.path.join(SOURCE_DIR, "build", "run-wine", "prefix")

# The dialog's window, caption and frame included: its 168x114 dialog units
# in 8-point MS Sans Serif are 252x185 pixels, and Wine draws a 19-pixel
# caption and a 3-pixel frame around them.
DIALOG_SIZE = (258, 210)


def png_size(path):
    """A PNG's size; None where there is no file."""
    try:
        with open(path, "rb") as f:
            head = f.read(24)
    except FileNotFoundError:
        return None
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return "not a PNG"
    return struct.unpack(">II", head[16:24])


def session_processes():
    return [f"{pid} {command}" for pid, _, command in prefix_processes(SESSION_PREFIX)]


# Wine as on a slow machine: the host starts DIALOG_DELAY seconds late, and
# its dialog with it; every other program of the session starts as usual.
SLOW_WINE = """\
#!/bin/sh
case $1 in *QuillonHost.exe) sleep "$DIALOG_DELAY" ;; esac
exec "$REAL_WINE" "$@"
"""
# Three times the host's usual start here (0.5 s), so a run.sh that takes the
# first look for the dialog as the last fails; far below its limit for the
# dialog, and short, since this is the suite's longest test.
DIALOG_DELAY = 1.5


class RunScript(unittest.TestCase):
    def run_script(self, *args, delay=0):
        """run.sh's exit status, whether it printed the shot's path last, the
        shot's size and what run.sh said of the run; a shot left by an earlier
        run is in place before it, so a run.sh that keeps one is seen."""
        os.makedirs(RUN_DIR, exist_ok=True)
        open(SHOT, "wb").close()
        with tempfile.TemporaryDirectory(prefix="quillon-run-sh-") as tools:
            wine = os.path.join(tools, "wine")
            with open(wine, "w") as f:
                f.write(SLOW_WINE)
            os.chmod(wine, 0o755)
            env = dict(os.environ, PATH=tools + os.pathsep + os.environ["PATH"],
                       REAL_WINE=shutil.which("wine"), DIALOG_DELAY=str(delay))
            env.pop("DISPLAY", None)
            result = subprocess.run([RUN, *args], env=env, cwd=SOURCE_DIR, capture_output=True,
                                    text=True, timeout=600)
        print(result.stdout, result.stderr, sep="\n")
        # The session's processes may take a moment to go once told to.
        for _ in range(50):
            left = session_processes()
            if not left:
                break
            time.sleep(0.2)
        self.assertEqual(left, [], "left running by run.sh")
        said = [line for line in result.stderr.splitlines() if line.startswith("run: ")]
        return (result.returncode, result.stdout.splitlines()[-1:] == [SHOT], png_size(SHOT),
                said)

    def test_what_a_run_gives(self):
        with tempfile.TemporaryDirectory() as folder:
            # Windows cannot name a file with "?" in it, so the host reports it
            # missing and ends before any dialog.
            refused = os.path.join(folder, "what?.mp3")
            with open(refused, "wb") as f:
                f.write(b"\0" * 1000)
            cases = {
                # The sample's dialog comes late, as under emulation: shot
                # whole, caption and frame included, and closed.
                "the sample, its dialog late": (([], DIALOG_DELAY), (0, True, DIALOG_SIZE, [])),
                # The host's message is shot and answered, and the host ends.
                "a file the host refuses": (([refused], 0), (1, False, None, [
                    f"run: the host showed a message: {RUN_DIR}/message-1.png",
                    "run: the host ended with status 1 before its dialog appeared"])),
            }
            for name, ((args, delay), expected) in cases.items():
                with self.subTest(name):
                    self.assertEqual(self.run_script(*args, delay=delay), expected)


if __name__ == "__main__":
    unittest.main()
