"""scripts/run.sh without a display: the dialog's screenshot and exit 0 on the
sample, a failure status when the host refuses the file, and nothing of its
Wine session left running either way."""

import os
import struct
import subprocess
import tempfile
import time
import unittest

SOURCE_DIR = os.environ["QUILLON_SOURCE_DIR"]
RUN = os.path.join(SOURCE_DIR, "scripts", "run.sh")
RUN_DIR = os.path.join(SOURCE_DIR, "build", "run")
SHOT = os.path.join(RUN_DIR, "dialog.png")
# Every process of run.sh's session, the display and its window manager
# included, carries this in its environment.
SESSION_MARK = ("WINEPREFIX=" + os.path.join(SOURCE_DIR, "build", "run-wine", "prefix")).encode()

# The dialog's window, caption and frame included: its 168x114 dialog units
# in 8-point MS Sans Serif are 252x185 pixels, and Wine draws a 19-pixel
# caption and a 3-pixel frame around them.
DIALOG_SIZE = (258, 210)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def session_processes():
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                environ = f.read().split(b"\0")
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                command = f.read().replace(b"\0", b" ").decode(errors="replace")
        except OSError:
            continue
        if SESSION_MARK in environ:
            found.append(f"{pid} {command}")
    return found


class RunScript(unittest.TestCase):
    def run_script(self, *args):
        env = dict(os.environ)
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
        return result

    def test_sample_opens_and_its_dialog_is_shot_whole(self):
        result = self.run_script()
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout.splitlines()[-1:], [SHOT])
        self.assertEqual(png_size(SHOT), DIALOG_SIZE)

    def test_a_file_the_host_refuses_fails_the_run(self):
        # Windows cannot name a file with "?" in it, so the host reports it
        # missing and ends before any dialog.
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "what?.mp3")
            with open(path, "wb") as f:
                f.write(b"\0" * 1000)
            # A shot left by an earlier run must not pass for one of this run.
            os.makedirs(RUN_DIR, exist_ok=True)
            open(SHOT, "wb").close()
            result = self.run_script(path)
        self.assertNotEqual(result.returncode, 0)
        self.assertFalse(os.path.exists(SHOT), "a dialog.png without a dialog")


if __name__ == "__main__":
    unittest.main()
