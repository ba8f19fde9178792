// Display scaling for the skinned windows: the DPI of a monitor, sizes for it, and
// bitmap resources drawn for 96 DPI brought to it without blur. 96 DPI is the
// identity: the resources as they are.
#pragma once

#include <windows.h>

const UINT kDefaultDpi = 96;

// n pixels at 96 DPI, at nDpi (rounded half away from zero).
inline int ScalePixels(int n, UINT nDpi)
{
    return ::MulDiv(n, static_cast<int>(nDpi), static_cast<int>(kDefaultDpi));
}

// The DPI the system gives the monitor; the system's own where it has none per monitor
// (before Windows 8.1).
UINT MonitorDpi(HMONITOR hMonitor);

// Bitmap nID at round(size * nDpi / 96): its art at twice the size (id plus
// IDB_DOUBLE_SIZE) where the resources have it, as it is at 192 DPI and scaled down
// with smoothing between; otherwise the 96 DPI art scaled. A pixel whose nearest
// source pixel is crKey (CLR_INVALID: none) is crKey exactly, and key pixels never
// blend into others, so a shape cut by that colour stays exact. Null when nID is
// missing; the caller owns the bitmap.
HBITMAP LoadScaledBitmap(UINT nID, UINT nDpi, COLORREF crKey);
