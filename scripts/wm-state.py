#!/usr/bin/python3
"""Keeps the ICCCM WM_STATE of every top-level window on a display that has
no window manager: Normal once it is mapped, Withdrawn once it is unmapped.

Wine waits for a window manager to acknowledge each managed window that it
shows or hides, for up to 2 s a window. This stands in for that one part of a
window manager and does nothing else: it redirects nothing, so windows are
placed, stacked and focused as they are without it.
    wm-state.py          (on $DISPLAY, until the display goes away)
"""
import sys

from Xlib import X, display

NORMAL, WITHDRAWN = 1, 0


def main():
    d = display.Display()
    # A window gone before its state is set is no error of ours.
    d.set_error_handler(lambda *args: None)
    wm_state = d.intern_atom("WM_STATE")
    d.screen().root.change_attributes(event_mask=X.SubstructureNotifyMask)
    d.sync()
    print("wm-state: watching", d.get_display_name(), flush=True)
    while True:
        event = d.next_event()
        # XWithdrawWindow also sends a synthetic UnmapNotify to the root.
        if event.type in (X.MapNotify, X.UnmapNotify):
            state = NORMAL if event.type == X.MapNotify else WITHDRAWN
            event.window.change_property(wm_state, wm_state, 32, [state, 0])
            d.flush()


if __name__ == "__main__":
    try:
        main()
    except Exception as error:  # the display closed
        print("wm-state:", error, file=sys.stderr)
