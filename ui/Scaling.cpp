#include "ui/Scaling.h"

#include "framework/GdiObjects.h"
#include "framework/SystemLibrary.h"
#include "res/resource.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

UINT MonitorDpi(HMONITOR hMonitor)
{
    typedef HRESULT(WINAPI * GetDpiForMonitorFn)(HMONITOR, int, UINT*, UINT*);
    static const GetDpiForMonitorFn pfnGetDpi =
        SystemFunction<GetDpiForMonitorFn>(LoadSystemLibrary("shcore.dll"), "GetDpiForMonitor");
    UINT nDpiX = 0, nDpiY = 0;
    if (pfnGetDpi && hMonitor && SUCCEEDED(pfnGetDpi(hMonitor, 0 /* effective */, &nDpiX, &nDpiY)) && nDpiX)
        return nDpiX;
    const HDC hScreen = ::GetDC(nullptr);
    const int nDpi = ::GetDeviceCaps(hScreen, LOGPIXELSX);
    ::ReleaseDC(nullptr, hScreen);
    return nDpi > 0 ? static_cast<UINT>(nDpi) : kDefaultDpi;
}

namespace {

// A bitmap's pixels as 0x00RRGGBB, top row first.
std::vector<COLORREF> Pixels(HBITMAP hBitmap, const SIZE& size)
{
    std::vector<COLORREF> pixels;
    BITMAPINFOHEADER bih = {sizeof bih, size.cx, -size.cy, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    const HDC hScreen = ::GetDC(nullptr);
    pixels.resize(static_cast<size_t>(size.cx) * size.cy);
    if (::GetDIBits(hScreen, hBitmap, 0, size.cy, pixels.data(), reinterpret_cast<BITMAPINFO*>(&bih),
                    DIB_RGB_COLORS)
        != size.cy)
        pixels.clear();
    for (COLORREF& c : pixels)
        c &= 0xFFFFFF; // the byte above is not a colour
    ::ReleaseDC(nullptr, hScreen);
    return pixels;
}

// Each target pixel averages the source pixels its area covers, weighted by how much of
// each it covers: a box filter, which smooths a reduction and keeps a doubling exact.
std::vector<COLORREF> Resample(const std::vector<COLORREF>& src, SIZE from, SIZE to, COLORREF crKey)
{
    const COLORREF key =
        crKey == CLR_INVALID ? CLR_INVALID : RGB(GetBValue(crKey), GetGValue(crKey), GetRValue(crKey));
    std::vector<COLORREF> dst(static_cast<size_t>(to.cx) * to.cy);
    const double fx = static_cast<double>(from.cx) / to.cx, fy = static_cast<double>(from.cy) / to.cy;
    for (int y = 0; y < to.cy; ++y) {
        for (int x = 0; x < to.cx; ++x) {
            COLORREF& out = dst[static_cast<size_t>(y) * to.cx + x];
            const int nx = static_cast<int>((x + 0.5) * fx), ny = static_cast<int>((y + 0.5) * fy);
            out = src[static_cast<size_t>(ny) * from.cx + nx];
            if (out == key)
                continue;
            double sum[3] = {}, weight = 0;
            for (int sy = static_cast<int>(y * fy); sy < from.cy && sy < (y + 1) * fy; ++sy) {
                const double wy = std::min<double>(sy + 1, (y + 1) * fy) - std::max<double>(sy, y * fy);
                for (int sx = static_cast<int>(x * fx); sx < from.cx && sx < (x + 1) * fx; ++sx) {
                    const COLORREF c = src[static_cast<size_t>(sy) * from.cx + sx];
                    if (c == key)
                        continue;
                    const double w =
                        wy * (std::min<double>(sx + 1, (x + 1) * fx) - std::max<double>(sx, x * fx));
                    for (int i = 0; i < 3; ++i)
                        sum[i] += w * ((c >> (8 * i)) & 0xFF);
                    weight += w;
                }
            }
            out = 0;
            for (int i = 0; i < 3; ++i)
                out |= static_cast<COLORREF>(sum[i] / weight + 0.5) << (8 * i);
        }
    }
    return dst;
}

} // namespace

HBITMAP LoadScaledBitmap(UINT nID, UINT nDpi, COLORREF crKey)
{
    CBitmap art;
    if (!art.LoadBitmap(nID) || nDpi == kDefaultDpi)
        return art.Detach();
    const SIZE one = art.GetSize();
    const SIZE to = {ScalePixels(one.cx, nDpi), ScalePixels(one.cy, nDpi)};
    CBitmap twice;
    if (twice.LoadBitmap((nID & 0xFFFF) + IDB_DOUBLE_SIZE))
        art = std::move(twice);
    const SIZE from = art.GetSize();
    if (from.cx == to.cx && from.cy == to.cy)
        return art.Detach();
    const std::vector<COLORREF> src = Pixels(art, from);
    if (src.empty() || to.cx <= 0 || to.cy <= 0)
        return nullptr;
    const std::vector<COLORREF> dst = Resample(src, from, to, crKey);
    BITMAPINFOHEADER bih = {sizeof bih, to.cx, -to.cy, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* pBits = nullptr;
    const HBITMAP hScaled =
        ::CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&bih), DIB_RGB_COLORS, &pBits, nullptr, 0);
    if (hScaled)
        memcpy(pBits, dst.data(), dst.size() * sizeof(COLORREF));
    return hScaled;
}
