"""scripts/test.sh's own exit status and last line, as a user meets them,
for each way a run can go. It runs from a copy of scripts/ whose setup.sh
does nothing, with stand-ins for cmake and ctest first on PATH, so the real
suite never runs inside itself."""

import os
import shutil
import subprocess
import tempfile
import unittest

SOURCE_DIR = os.environ["QUILLON_SOURCE_DIR"]

# Fails the steps named in $FAIL ("configure:PRESET", "build:PRESET:TARGET").
CMAKE = """\
#!/usr/bin/env bash
if [[ $1 == --preset ]]; then
  step=configure:$2
elif [[ $1 == --build && $2 == --preset && $4 == --target ]]; then
  preset=$3
  shift 4
  for target; do
    if [[ " $FAIL " == *" build:$preset:$target "* ]]; then
      echo "FAILED: $target (stand-in)"
      exit 1
    fi
  done
  exit 0
else
  echo "cmake stand-in: unexpected $*" >&2
  exit 2
fi
if [[ " $FAIL " == *" $step "* ]]; then
  echo "CMake Error: stand-in"
  exit 1
fi
"""

# Runs TOTAL_PRESET tests of which FAILED_PRESET fail, and says so as ctest does.
CTEST = """\
#!/usr/bin/env bash
[[ $1 == --preset ]] || { echo "ctest stand-in: unexpected $*" >&2; exit 2; }
total_var=TOTAL_$2 failed_var=FAILED_$2
total=${!total_var} failed=${!failed_var:-0}
echo "$(( (total - failed) * 100 / total ))% tests passed, $failed tests failed out of $total"
[[ $failed -eq 0 ]] || exit 8
"""


def run_test_script(fail="", failed=None):
    """test.sh's exit status, its headings and each test run's summary in the
    order shown, and its last line, run from a scratch copy of scripts/."""
    with tempfile.TemporaryDirectory(prefix="quillon-test-sh-") as scratch:
        root = os.path.join(scratch, "checkout")
        shutil.copytree(os.path.join(SOURCE_DIR, "scripts"), os.path.join(root, "scripts"))
        tools = os.path.join(scratch, "bin")
        os.mkdir(tools)
        for path, text in ((os.path.join(tools, "cmake"), CMAKE),
                           (os.path.join(tools, "ctest"), CTEST),
                           (os.path.join(root, "scripts", "setup.sh"), "#!/bin/sh\nexit 0\n")):
            with open(path, "w") as f:
                f.write(text)
            os.chmod(path, 0o755)
        env = dict(os.environ, PATH=tools + os.pathsep + os.environ["PATH"], FAIL=fail,
                   TOTAL_native="12", TOTAL_win32="20")
        for preset, count in (failed or {}).items():
            env["FAILED_" + preset] = str(count)
        result = subprocess.run([os.path.join(root, "scripts", "test.sh")], env=env, cwd=scratch,
                                capture_output=True, text=True, timeout=60)
        lines = result.stdout.rstrip("\n").split("\n")
        shown = [line for line in lines if line.startswith("== ") or "tests passed" in line]
        return result.returncode, shown, lines[-1]


class TestScript(unittest.TestCase):
    def test_status_and_last_line(self):
        # 12 native tests and 20 under Wine, when each preset gets as far.
        # Both trees are built first; the native tests, run beside the Wine
        # ones, are shown after them.
        built = ["== native", "== win32"]
        wine, native = "== win32 tests", "== native tests"
        passing_wine = "100% tests passed, 0 tests failed out of 20"
        passing_native = "100% tests passed, 0 tests failed out of 12"
        native_only = (1, built + [native, passing_native], "tests: 12 passed, 1 failed")
        cases = {
            "every test passes": ({}, (0, built + [wine, passing_wine, native, passing_native],
                                       "tests: 32 passed, 0 failed")),
            "a native test fails": ({"failed": {"native": 1}}, (
                1, built + [wine, passing_wine, native, "91% tests passed, 1 tests failed out of 12"],
                "tests: 31 passed, 1 failed")),
            "two Wine tests fail": ({"failed": {"win32": 2}}, (
                1, built + [wine, "90% tests passed, 2 tests failed out of 20", native,
                            passing_native], "tests: 30 passed, 2 failed")),
            "the native build fails": ({"fail": "build:native:all"}, (
                1, built + [wine, passing_wine], "tests: 20 passed, 1 failed")),
            "the Windows build fails": ({"fail": "build:win32:all"}, native_only),
            "the release zip fails to build": ({"fail": "build:win32:package_release"},
                                               native_only),
            "the Windows build fails to configure": ({"fail": "configure:win32"}, native_only),
            "both builds fail": ({"fail": "build:native:all build:win32:all"},
                                 (1, built, "tests: 0 passed, 1 failed")),
        }
        got = {what: run_test_script(**how) for what, (how, _) in cases.items()}
        self.assertEqual(got, {what: expected for what, (_, expected) in cases.items()})


if __name__ == "__main__":
    unittest.main()
