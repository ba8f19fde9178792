#include "TestWindows.h"

long GdiObjectsInUse()
{
    if (const DWORD n = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS))
        return static_cast<long>(n);
    const long kCeiling = 65536; // Wine's handle table; the probe never needs more
    std::vector<HRGN> probes;
    for (HRGN h; static_cast<long>(probes.size()) < kCeiling && (h = ::CreateRectRgn(0, 0, 1, 1));)
        probes.push_back(h);
    for (HRGN h : probes)
        ::DeleteObject(h);
    return kCeiling - static_cast<long>(probes.size());
}

LRESULT CTestParent::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    const HWND hControl = reinterpret_cast<HWND>(lParam);
    if (message == WM_COMMAND && hControl)
        m_commands.push_back({LOWORD(wParam), HIWORD(wParam), hControl,
                              static_cast<int>(::SendMessageA(hControl, BM_GETCHECK, 0, 0))});
    else if (message == WM_DRAWITEM)
        ++m_nDrawItems;
    else if (message >= WM_USER && message < 0xC000)
        m_private.push_back(message);
    return CWnd::WindowProc(message, wParam, lParam);
}

int CCanvas::CountWrong(const std::function<COLORREF(int, int)>& expected) const
{
    int nWrong = 0;
    for (int y = 0; y < m_cy; ++y)
        for (int x = 0; x < m_cx; ++x)
            nWrong += Pixel(x, y) != expected(x, y);
    return nWrong;
}

RECT CCanvas::BoundsOtherThan(COLORREF crFace) const
{
    RECT rc = {};
    for (int y = 0; y < m_cy; ++y)
        for (int x = 0; x < m_cx; ++x) {
            const RECT pixel = {x, y, x + 1, y + 1};
            if (Pixel(x, y) != crFace)
                ::UnionRect(&rc, &rc, &pixel);
        }
    return rc;
}

CBitmap MakeBitmap(int cx, int cy, const std::function<COLORREF(int x, int y)>& pixel)
{
    BITMAPINFO bi = {{sizeof(BITMAPINFOHEADER), cx, -cy, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    void* pBits = nullptr;
    CBitmap bmp(::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &pBits, nullptr, 0));
    for (int y = 0; y < cy; ++y)
        for (int x = 0; x < cx; ++x) {
            const COLORREF cr = pixel(x, y);
            static_cast<DWORD*>(pBits)[y * cx + x] =
                (GetRValue(cr) << 16) | (GetGValue(cr) << 8) | GetBValue(cr);
        }
    return bmp;
}
