// A hook the host test sets on the host's thread: Windows loads this
// library into the host, where its windows' icon handles are valid (another
// process cannot read an icon through them under Wine), and the hook posts
// back what it finds there.
#pragma once

// Posted to the dialog with the test thread's id as wParam. The answer is
// posted to that thread with the same message: wParam holds the small icon's
// width and height and the big icon's, one byte each from the low byte up
// (0 for an icon that is not there); lParam bit 0 is set when the small icon
// draws exactly as the host executable's icon 101 at that size, bit 1 the same
// for the big icon.
#define ICON_PROBE_MESSAGE "QuillonHostTest.IconProbe"
// Posted, the same way, to a message box's icon (its SS_ICON static); the
// answer's wParam is MB_ICONWARNING, MB_ICONERROR or MB_ICONINFORMATION for
// the standard icon it shows, MB_USERICON for any other, 0 for none.
#define ICON_PROBE_BOX_MESSAGE "QuillonHostTest.BoxIconProbe"
#define ICON_PROBE_HOOK "IconProbeHook"
