// The banner at the display's scale. The updater is DPI-aware (its manifest),
// so the dialog, laid out in dialog units, grows with its font by itself; a
// picture control keeps its bitmap's pixels instead and sizes itself to them.
// Above 96 DPI the banner gets the artwork scaled to the window's DPI.
#include "dialog/dialog.h"

#include "resource.h"

namespace {

typedef UINT(WINAPI *GetDpiForWindowFunction)(HWND);

// The banner's id as the dialog manager gives it: the template holds ids as
// 16-bit words, so IDC_BANNER (-1) is 0xFFFF there.
constexpr int kBannerId = static_cast<WORD>(IDC_BANNER);

// The artwork drawn at dpi into a new 24-bit section, or null. Not 32 bits:
// the picture control of version 6 shows a copy of its own of a 32-bit
// bitmap, and hands back that copy, not the bitmap it was given, when it is
// replaced. HALFTONE averages the pixels it shrinks or spreads, and wants the
// brush origin set once it is chosen. The caller owns the bitmap.
HBITMAP ScaledArtwork(HINSTANCE instance, UINT dpi)
{
    HBITMAP artwork = static_cast<HBITMAP>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDB_BANNER), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    BITMAP size;
    if (!artwork || !GetObjectW(artwork, sizeof size, &size)) {
        if (artwork)
            DeleteObject(artwork);
        return nullptr;
    }
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = MulDiv(size.bmWidth, dpi, USER_DEFAULT_SCREEN_DPI);
    format.bmiHeader.biHeight = MulDiv(size.bmHeight, dpi, USER_DEFAULT_SCREEN_DPI);
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 24;
    format.bmiHeader.biCompression = BI_RGB;
    void *bits;
    HBITMAP scaled = CreateDIBSection(nullptr, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC from = CreateCompatibleDC(nullptr);
    HDC to = CreateCompatibleDC(nullptr);
    bool drawn = false;
    if (scaled && from && to) {
        HGDIOBJ fromBefore = SelectObject(from, artwork);
        HGDIOBJ toBefore = SelectObject(to, scaled);
        SetStretchBltMode(to, HALFTONE);
        SetBrushOrgEx(to, 0, 0, nullptr);
        drawn = StretchBlt(to, 0, 0, format.bmiHeader.biWidth, format.bmiHeader.biHeight, from, 0, 0,
                           size.bmWidth, size.bmHeight, SRCCOPY) != 0;
        SelectObject(to, toBefore);
        SelectObject(from, fromBefore);
    }
    if (to)
        DeleteDC(to);
    if (from)
        DeleteDC(from);
    DeleteObject(artwork);
    if (!drawn && scaled) {
        DeleteObject(scaled);
        scaled = nullptr;
    }
    return scaled;
}

} // namespace

UINT WindowDpi(HWND window)
{
    HMODULE user = GetModuleHandleA("user32.dll");
    auto forWindow = reinterpret_cast<GetDpiForWindowFunction>(
        reinterpret_cast<void *>(user ? GetProcAddress(user, "GetDpiForWindow") : nullptr));
    if (forWindow)
        return forWindow(window);
    HDC screen = GetDC(nullptr);
    if (!screen)
        return USER_DEFAULT_SCREEN_DPI;
    UINT dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
    return dpi;
}

void ScaleBanner(HWND dialog, UINT dpi)
{
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
    HBITMAP scaled = ScaledArtwork(instance, dpi);
    if (!scaled)
        return;
    // The control resizes itself to the new bitmap and hands back the one it
    // had, which is then no longer its own.
    HGDIOBJ previous = reinterpret_cast<HGDIOBJ>(
        SendDlgItemMessageW(dialog, kBannerId, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(scaled)));
    if (previous)
        DeleteObject(previous);
}

void ReleaseBanner(HWND dialog)
{
    HGDIOBJ held =
        reinterpret_cast<HGDIOBJ>(SendDlgItemMessageW(dialog, kBannerId, STM_SETIMAGE, IMAGE_BITMAP, 0));
    if (held)
        DeleteObject(held);
}
