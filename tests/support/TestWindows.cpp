#include "TestWindows.h"

namespace {
// Wine keeps 65536 GDI handles per session; the probe never needs more.
const long kProbeCeiling = 65536;
} // namespace

void PumpPending()
{
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

bool PumpUntil(const std::function<bool()>& done)
{
    const DWORD start = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - start > 5000)
            return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        PumpPending();
    }
    return true;
}

long GdiObjectsInUse()
{
    if (DWORD n = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS))
        return static_cast<long>(n);
    std::vector<HRGN> probes;
    probes.reserve(kProbeCeiling);
    while (static_cast<long>(probes.size()) < kProbeCeiling) {
        HRGN h = ::CreateRectRgn(0, 0, 1, 1);
        if (!h)
            break;
        probes.push_back(h);
    }
    for (HRGN h : probes)
        ::DeleteObject(h);
    return kProbeCeiling - static_cast<long>(probes.size());
}

CTestParent::CTestParent(int x, int y, int cx, int cy)
{
    const std::string cls =
        RegisterWndClass(0, ::LoadCursorA(nullptr, IDC_ARROW), reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    CreateEx(0, cls.c_str(), "test parent", WS_POPUP | WS_VISIBLE, x, y, cx, cy, nullptr, nullptr);
}

LRESULT CTestParent::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && lParam) {
        HWND hControl = reinterpret_cast<HWND>(lParam);
        m_commands.push_back({LOWORD(wParam), HIWORD(wParam), hControl,
                              static_cast<int>(::SendMessageA(hControl, BM_GETCHECK, 0, 0))});
    } else if (message == WM_DRAWITEM) {
        ++m_nDrawItems;
    }
    return CWnd::WindowProc(message, wParam, lParam);
}

namespace {
// 32 bits per pixel, top row first: pixel (x, y) is DWORD y * cx + x.
HBITMAP CreateTopDownDib32(int cx, int cy, void** ppBits)
{
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = cx;
    bi.bmiHeader.biHeight = -cy;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    return ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, ppBits, nullptr, 0);
}
} // namespace

CCanvas::CCanvas(int cx, int cy, COLORREF crFill) : m_cx(cx), m_cy(cy)
{
    void* pBits = nullptr;
    m_hBitmap = CreateTopDownDib32(cx, cy, &pBits);
    m_hDC = ::CreateCompatibleDC(nullptr);
    m_hOld = ::SelectObject(m_hDC, m_hBitmap);
    HBRUSH hBrush = ::CreateSolidBrush(crFill);
    RECT rc = {0, 0, cx, cy};
    ::FillRect(m_hDC, &rc, hBrush);
    ::DeleteObject(hBrush);
}

CCanvas::~CCanvas()
{
    ::SelectObject(m_hDC, m_hOld);
    ::DeleteDC(m_hDC);
    ::DeleteObject(m_hBitmap);
}

CBitmap MakeBitmap(int cx, int cy, const std::function<COLORREF(int x, int y)>& pixel)
{
    void* pBits = nullptr;
    CBitmap bmp(CreateTopDownDib32(cx, cy, &pBits));
    auto* pPixels = static_cast<DWORD*>(pBits);
    for (int y = 0; y < cy; ++y) {
        for (int x = 0; x < cx; ++x) {
            const COLORREF cr = pixel(x, y);
            pPixels[y * cx + x] = (GetRValue(cr) << 16) | (GetGValue(cr) << 8) | GetBValue(cr);
        }
    }
    return bmp;
}
