// The icon probe, run inside the host's process by a WH_GETMESSAGE hook.
#include "icon_probe.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "dialog/resource.h"
#include "tests/icon_size.h"

namespace {

// The icon drawn on a fixed background at its own size, mask and all.
std::vector<DWORD> Pixels(HICON icon, SIZE size)
{
    std::vector<DWORD> pixels;
    if (icon == nullptr || size.cx <= 0 || size.cy <= 0) return pixels;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size.cx;
    info.bmiHeader.biHeight = -size.cy;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(dc, bitmap);
        const size_t count = (size_t)size.cx * (size_t)size.cy;
        std::fill((DWORD*)bits, (DWORD*)bits + count, 0x00FF00FFu);
        DrawIconEx(dc, 0, 0, icon, size.cx, size.cy, 0, nullptr, DI_NORMAL);
        GdiFlush();
        pixels.assign((DWORD*)bits, (DWORD*)bits + count);
        SelectObject(dc, old);
        DeleteObject(bitmap);
    }
    DeleteDC(dc);
    return pixels;
}

bool DrawsAsHostIcon(HICON icon, SIZE size)
{
    if (icon == nullptr) return false;
    HICON host = (HICON)LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_HOSTICON),
                                   IMAGE_ICON, size.cx, size.cy, LR_DEFAULTCOLOR);
    if (host == nullptr) return false;
    const bool same = Pixels(icon, size) == Pixels(host, size);
    DestroyIcon(host);
    return same;
}

WPARAM Byte(LONG value, int at)
{
    return (WPARAM)(value < 0 ? 0 : value > 255 ? 255 : value) << (8 * at);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    IconProbeHook(int code, WPARAM removed, LPARAM param)
{
    static const UINT probe = RegisterWindowMessageA(ICON_PROBE_MESSAGE);
    static const UINT boxProbe = RegisterWindowMessageA(ICON_PROBE_BOX_MESSAGE);
    const MSG* msg = (const MSG*)param;
    if (code == HC_ACTION && removed == PM_REMOVE && msg->message == probe) {
        HICON smallIcon = (HICON)SendMessageA(msg->hwnd, WM_GETICON, ICON_SMALL, 0);
        HICON bigIcon = (HICON)SendMessageA(msg->hwnd, WM_GETICON, ICON_BIG, 0);
        const SIZE smallSize = IconSize(smallIcon);
        const SIZE bigSize = IconSize(bigIcon);
        const WPARAM sizes = Byte(smallSize.cx, 0) | Byte(smallSize.cy, 1) | Byte(bigSize.cx, 2) |
                             Byte(bigSize.cy, 3);
        const LPARAM same = (DrawsAsHostIcon(smallIcon, smallSize) ? 1 : 0) |
                            (DrawsAsHostIcon(bigIcon, bigSize) ? 2 : 0);
        PostThreadMessageA((DWORD)msg->wParam, probe, sizes, same);
    } else if (code == HC_ACTION && removed == PM_REMOVE && msg->message == boxProbe) {
        // The system's standard icons are shared: one handle each in a process.
        const HICON shown = (HICON)SendMessageA(msg->hwnd, STM_GETICON, 0, 0);
        const UINT kind = shown == nullptr                               ? 0
                          : shown == LoadIconA(nullptr, IDI_WARNING)     ? MB_ICONWARNING
                          : shown == LoadIconA(nullptr, IDI_ERROR)       ? MB_ICONERROR
                          : shown == LoadIconA(nullptr, IDI_INFORMATION) ? MB_ICONINFORMATION
                                                                         : MB_USERICON;
        PostThreadMessageA((DWORD)msg->wParam, boxProbe, kind, 0);
    }
    return CallNextHookEx(nullptr, code, removed, param);
}

// Makes this library half a plugin, the entry point without the filter: the
// host must refuse it before calling anything.
extern "C" __declspec(dllexport) int LoadFile(HANDLE, HWND, HINSTANCE)
{
    return -1;
}
