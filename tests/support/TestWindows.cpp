#include "TestWindows.h"

#include <algorithm>
#include <climits>
#include <fstream>

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

CTestParent::CTestParent()
{
    const std::string cls = RegisterWndClass(0, nullptr, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    CreateEx(0, cls.c_str(), "test parent", WS_POPUP | WS_VISIBLE, 100, 100, 400, 200, nullptr, nullptr);
}

LRESULT CTestParent::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && lParam) {
        const HWND hControl = reinterpret_cast<HWND>(lParam);
        m_commands.push_back({LOWORD(wParam), HIWORD(wParam), hControl,
                              static_cast<int>(::SendMessageA(hControl, BM_GETCHECK, 0, 0))});
    } else if (message == WM_DRAWITEM) {
        ++m_nDrawItems;
    } else if (message >= WM_USER && message < 0xC000) {
        m_private.push_back(message);
    }
    return CWnd::WindowProc(message, wParam, lParam);
}

namespace {
HBITMAP CreateTopDownDib(int cx, int cy, int bits, void** ppBits)
{
    BITMAPINFO bi = {{sizeof(BITMAPINFOHEADER), cx, -cy, 1, static_cast<WORD>(bits), BI_RGB, 0, 0, 0, 0, 0},
                     {}};
    return ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, ppBits, nullptr, 0);
}
} // namespace

CCanvas::CCanvas(int cx, int cy, COLORREF crFill) : m_cx(cx), m_cy(cy)
{
    void* pBits = nullptr;
    m_hBitmap = CreateTopDownDib(cx, cy, 32, &pBits);
    m_hDC = ::CreateCompatibleDC(nullptr);
    m_hOld = ::SelectObject(m_hDC, m_hBitmap);
    ::SetDCBrushColor(m_hDC, crFill);
    const RECT rc = {0, 0, cx, cy};
    ::FillRect(m_hDC, &rc, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
}

CCanvas::~CCanvas()
{
    ::SelectObject(m_hDC, m_hOld);
    ::DeleteDC(m_hDC);
    ::DeleteObject(m_hBitmap);
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
    RECT rc = {INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    for (int y = 0; y < m_cy; ++y)
        for (int x = 0; x < m_cx; ++x)
            if (Pixel(x, y) != crFace)
                rc = {std::min<LONG>(rc.left, x), std::min<LONG>(rc.top, y), std::max<LONG>(rc.right, x + 1),
                      std::max<LONG>(rc.bottom, y + 1)};
    return rc.left == INT_MAX ? RECT{} : rc;
}

CBitmap MakeBitmap(int cx, int cy, const std::function<COLORREF(int x, int y)>& pixel)
{
    void* pBits = nullptr;
    CBitmap bmp(CreateTopDownDib(cx, cy, 32, &pBits));
    for (int y = 0; y < cy; ++y)
        for (int x = 0; x < cx; ++x) {
            const COLORREF cr = pixel(x, y);
            static_cast<DWORD*>(pBits)[y * cx + x] =
                (GetRValue(cr) << 16) | (GetGValue(cr) << 8) | GetBValue(cr);
        }
    return bmp;
}

bool SaveScreenshot(HWND hWnd, const std::string& path)
{
    RECT rc;
    ::GetWindowRect(hWnd, &rc);
    const int cx = rc.right - rc.left, cy = rc.bottom - rc.top;
    const int stride = (cx * 3 + 3) & ~3;
    void* pBits = nullptr;
    CBitmap shot(CreateTopDownDib(cx, -cy, 24, &pBits)); // bottom-up, as a BMP file stores it
    HDC hScreen = ::GetDC(nullptr);
    HDC hMem = ::CreateCompatibleDC(hScreen);
    const HGDIOBJ hOld = ::SelectObject(hMem, shot);
    const bool ok = ::BitBlt(hMem, 0, 0, cx, cy, hScreen, rc.left, rc.top, SRCCOPY) != FALSE;
    ::SelectObject(hMem, hOld);
    ::DeleteDC(hMem);
    ::ReleaseDC(nullptr, hScreen);
    const BITMAPINFOHEADER info = {sizeof(BITMAPINFOHEADER),        cx, cy, 1, 24, BI_RGB,
                                   static_cast<DWORD>(stride * cy), 0,  0,  0, 0};
    const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof info;
    const BITMAPFILEHEADER file = {0x4D42, offset + info.biSizeImage, 0, 0, offset};
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    out.write(static_cast<const char*>(pBits), info.biSizeImage);
    return ok && out.good();
}
