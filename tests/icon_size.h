// An icon's size in pixels, read from its bitmaps; 0 by 0 for no icon.
#pragma once

#include <windows.h>

inline SIZE IconSize(HICON icon)
{
    SIZE size = {0, 0};
    ICONINFO info;
    if (icon == nullptr || !GetIconInfo(icon, &info)) return size;
    BITMAP bitmap;
    if (GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap)) {
        size.cx = bitmap.bmWidth;
        // A monochrome icon's mask holds the AND and XOR halves one above the other.
        size.cy = info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2;
    }
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return size;
}
