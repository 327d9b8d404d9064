"""The processes of one Wine prefix: every process whose environment names it
as WINEPREFIX, the session's display and window manager included, since they
inherit the same environment."""

import os


def prefix_processes(prefix):
    """(pid, status fields, command line) of each process of the prefix."""
    mark = ("WINEPREFIX=" + prefix).encode()
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                if mark not in f.read().split(b"\0"):
                    continue
            with open(f"/proc/{pid}/status") as f:
                status = dict(line.rstrip("\n").split(":\t", 1) for line in f if ":\t" in line)
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                command = f.read().replace(b"\0", b" ").decode(errors="replace")
        except OSError:
            continue
        found.append((pid, status, command))
    return found
