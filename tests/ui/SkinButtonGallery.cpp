// Shows the skinned button in each state on the display and saves a screenshot of
// the window as a 24-bit BMP (first argument, or skin_button_gallery.bmp), so a
// person can look at it. Prints "gallery saved" or "gallery failed".
#include "TestResources.h"
#include "TestWindows.h"
#include "framework/DeviceContexts.h"
#include "res/resource.h"
#include "ui/SkinButton.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace {

const int kCellWidth = 90;
const int kLabelHeight = 18;
const int kRowHeight = 60;

class CGallery : public CWnd {
public:
    std::vector<std::unique_ptr<CWnd>> m_children;
    CFont m_font;

    CSkinButton* AddButton(int nRow, int nColumn, const char* pszLabel, const char* pszCaption, DWORD dwStyle)
    {
        const int x = 10 + nColumn * kCellWidth;
        const int y = 10 + nRow * kRowHeight;
        auto label = std::make_unique<CWnd>();
        label->CreateEx(0, "STATIC", pszLabel, WS_CHILD | WS_VISIBLE,
                        RECT{x, y, x + kCellWidth - 4, y + kLabelHeight}, this, 0);
        label->SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(m_font.GetSafeHandle()), FALSE);
        auto button = std::make_unique<CSkinButton>();
        CSkinButton* pButton = button.get();
        const UINT nID = 1000 + static_cast<UINT>(m_children.size());
        pButton->Create(pszCaption, WS_CHILD | WS_VISIBLE | dwStyle,
                        RECT{x, y + kLabelHeight + 4, x + 70, y + kLabelHeight + 24}, this, nID);
        m_children.push_back(std::move(label));
        m_children.push_back(std::move(button));
        return pButton;
    }
};

bool SaveWindowImage(HWND hWnd, const char* pszPath)
{
    RECT rc;
    ::GetClientRect(hWnd, &rc);
    const int cx = rc.right, cy = rc.bottom;
    CClientDC windowDC(hWnd);
    CMemDC memDC(windowDC);
    CBitmap shot(::CreateCompatibleBitmap(windowDC, cx, cy));
    {
        CSelectObject select(memDC, shot);
        if (!::BitBlt(memDC, 0, 0, cx, cy, windowDC, 0, 0, SRCCOPY))
            return false;
    }
    BITMAPINFOHEADER bih = {sizeof bih, cx, cy, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    const DWORD nStride = (static_cast<DWORD>(cx) * 3 + 3) & ~3u;
    bih.biSizeImage = nStride * static_cast<DWORD>(cy);
    std::vector<BYTE> bits(bih.biSizeImage);
    if (!::GetDIBits(memDC, shot, 0, static_cast<UINT>(cy), bits.data(), reinterpret_cast<BITMAPINFO*>(&bih),
                     DIB_RGB_COLORS))
        return false;
    BITMAPFILEHEADER bfh = {};
    bfh.bfType = 0x4D42;
    bfh.bfOffBits = sizeof bfh + sizeof bih;
    bfh.bfSize = bfh.bfOffBits + bih.biSizeImage;
    FILE* pFile = std::fopen(pszPath, "wb");
    if (!pFile)
        return false;
    const bool bOk = std::fwrite(&bfh, sizeof bfh, 1, pFile) == 1
                     && std::fwrite(&bih, sizeof bih, 1, pFile) == 1
                     && std::fwrite(bits.data(), 1, bits.size(), pFile) == bits.size();
    return std::fclose(pFile) == 0 && bOk;
}

} // namespace

int main(int argc, char** argv)
{
    const char* pszPath = argc > 1 ? argv[1] : "skin_button_gallery.bmp";
    CGallery gallery;
    gallery.m_font.CreatePointFont(90, "Arial");
    const std::string cls = CWnd::RegisterWndClass(0, ::LoadCursorA(nullptr, IDC_ARROW),
                                                   reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    if (!gallery.CreateEx(0, cls.c_str(), "CSkinButton gallery", WS_POPUP | WS_VISIBLE | WS_BORDER, 50, 50,
                          20 + 6 * kCellWidth, 20 + 3 * kRowHeight, nullptr, nullptr)) {
        std::printf("gallery failed: no window\n");
        return 1;
    }

    // Row 0: the notifier's buttons, bitmap 131 stretched, white caption.
    auto notifierStyle = [](CSkinButton* p, COLORREF cr) {
        p->SetTextColor(cr);
        p->SetBitmaps(IDB_BUTTON_SKIN, IDB_BUTTON_SKIN, IDB_BUTTON_SKIN, IDB_BUTTON_SKIN, IDB_BUTTON_SKIN, 1,
                      0, 0);
    };
    notifierStyle(gallery.AddButton(0, 0, "normal", "取消升级", 0), RGB(255, 255, 255));
    CSkinButton* pInstall = gallery.AddButton(0, 1, "disabled", "立即安装", 0);
    notifierStyle(pInstall, RGB(133, 146, 181));
    pInstall->EnableWindow(FALSE);
    CSkinButton* pPressedSkin = gallery.AddButton(0, 2, "pressed", "取消升级", 0);
    notifierStyle(pPressedSkin, RGB(255, 255, 255));

    // Row 1: one colour per image slot, 3-D edges and a focus inset of 3.
    auto colourStyle = [](CSkinButton* p) {
        p->SetTextColor(RGB(255, 255, 255));
        p->SetBitmaps(IDB_TEST_NORMAL, IDB_TEST_PRESSED, IDB_TEST_HOVER, IDB_TEST_DISABLED, IDB_TEST_FOCUS, 1,
                      1, 3);
    };
    CSkinButton* pNormal = gallery.AddButton(1, 0, "normal", "Normal", 0);
    CSkinButton* pPressed = gallery.AddButton(1, 1, "pressed", "Pressed", 0);
    CSkinButton* pHover = gallery.AddButton(1, 2, "hover", "Hover", 0);
    CSkinButton* pDisabled = gallery.AddButton(1, 3, "disabled", "Disabled", 0);
    CSkinButton* pFocus = gallery.AddButton(1, 4, "focus", "Focus", 0);
    CSkinButton* pChecked = gallery.AddButton(1, 5, "checked", "Checked", BS_AUTOCHECKBOX);
    for (CSkinButton* p : {pNormal, pPressed, pHover, pDisabled, pFocus, pChecked})
        colourStyle(p);
    pDisabled->EnableWindow(FALSE);
    pChecked->SendMessage(BM_SETCHECK, BST_CHECKED);

    // Row 2: the three draw modes: a shape cut by white (0), tiling (2), stretching (1).
    gallery.AddButton(2, 0, "shape (0)", "", 0)->SetBitmaps(IDB_TEST_SHAPE, 0, 0, 0, 0, 0, 0, 0);
    gallery.AddButton(2, 1, "tiled (2)", "", 0)->SetBitmaps(IDB_TEST_HALVES, 0, 0, 0, 0, 2, 0, 0);
    gallery.AddButton(2, 2, "stretch (1)", "", 0)->SetBitmaps(IDB_TEST_HALVES, 0, 0, 0, 0, 1, 0, 0);

    ::SetForegroundWindow(gallery.m_hWnd);
    ::SetFocus(pFocus->m_hWnd);
    pPressed->SetState(TRUE);
    pPressedSkin->SetState(TRUE);
    RECT rcHover;
    ::GetWindowRect(pHover->m_hWnd, &rcHover);
    ::SetCursorPos(rcHover.left + 35, rcHover.top + 10);
    pHover->SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(35, 10));
    ::RedrawWindow(gallery.m_hWnd, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    PumpPending();

    if (!SaveWindowImage(gallery.m_hWnd, pszPath)) {
        std::printf("gallery failed: could not save %s\n", pszPath);
        return 1;
    }
    std::printf("gallery saved: %s\n", pszPath);
    return 0;
}
