// Takes the pictures of the user interface that people look at, as 24-bit BMPs in the
// current folder:
//   screenshots             all of them: notifier_<edge> (the whole screen),
//                           notifier_status, notifier_progress,
//                           notifier_code_page_<ANSI code page>, skin_button_gallery
//   screenshots code_page   notifier_code_page_<ANSI code page> only
//   screenshots scaled      notifier_status_<scale>, notifier_progress_<scale> and
//                           skin_button_gallery_<scale>, at the display's scale in
//                           percent (set by the caller before the start)
// The notifier is put at each edge by setting the work area (Wine keeps it per process;
// it is put back at the end) and slid in by delivering its timer's ticks by hand.
#include "TestResources.h"
#include "framework/DeviceContexts.h"
#include "res/resource.h"
#include "ui/Scaling.h"
#include "ui/SkinButton.h"
#include "ui/TaskbarNotifier.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Saves what the window shows on the screen as a 24-bit BMP; false on failure.
bool SaveScreenshot(HWND hWnd, const std::string& path)
{
    RECT rc;
    ::GetWindowRect(hWnd, &rc);
    const int cx = rc.right - rc.left, cy = rc.bottom - rc.top;
    BITMAPINFOHEADER info = {sizeof info, cx, cy, 1, 24, BI_RGB, 0, 0, 0, 0, 0}; // bottom-up, as in a file
    info.biSizeImage = static_cast<DWORD>(((cx * 3 + 3) & ~3) * cy);
    void* pBits = nullptr;
    CBitmap shot(::CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &pBits,
                                    nullptr, 0));
    CClientDC screen(nullptr);
    CMemDC dc(screen);
    bool ok = false;
    {
        CSelectObject select(dc, shot);
        ok = select.Succeeded() && ::BitBlt(dc, 0, 0, cx, cy, screen, rc.left, rc.top, SRCCOPY);
    }
    const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof info;
    const BITMAPFILEHEADER file = {0x4D42, offset + info.biSizeImage, 0, 0, offset};
    FILE* out = ok ? fopen(path.c_str(), "wb") : nullptr;
    if (!out)
        return false;
    ok = fwrite(&file, sizeof file, 1, out) == 1 && fwrite(&info, sizeof info, 1, out) == 1
         && fwrite(pBits, info.biSizeImage, 1, out) == 1;
    return fclose(out) == 0 && ok;
}

class CNotifier : public CTaskbarNotifier {
public:
    // Shows the text and slides the popup all the way in at once.
    void SlideIn(const char* pszText)
    {
        Show(pszText, 500, 60000, 500);
        for (int n = 0; m_nState != STATE_WAITING && n < 1000; ++n)
            SendMessage(WM_TIMER, TIMER_APPEAR);
        ::UpdateWindow(m_hWnd);
    }
};

void SetWorkArea(RECT rc)
{
    ::SystemParametersInfoA(SPI_SETWORKAREA, 0, &rc, 0);
}

// "" at 100 %, else "_150" and the like.
std::string g_suffix;

bool Notifier(CWnd& owner, bool bAll)
{
    CNotifier notifier;
    notifier.Create(&owner);
    notifier.SetVersionText("1.0");
    notifier.SetSkin(IDB_NOTIFIER_SKIN, 255, 0, 255);
    notifier.SetTextColor(RGB(255, 255, 255));
    const LONG cx = ::GetSystemMetrics(SM_CXSCREEN), cy = ::GetSystemMetrics(SM_CYSCREEN);
    const struct {
        const char* name;
        RECT work; // what the taskbar leaves free
    } edges[] = {
        {"bottom", {0, 0, cx, cy - 40}}, {"right", {0, 0, cx - 60, cy}},  {"top", {0, 40, cx, cy}},
        {"left", {60, 0, cx, cy}},       {"full_screen", {0, 0, cx, cy}},
    };
    bool ok = true;
    if (bAll && g_suffix.empty())
        for (const auto& edge : edges) {
            SetWorkArea(edge.work);
            notifier.SlideIn("升级启动成功。\r\n");
            ok &= SaveScreenshot(::GetDesktopWindow(), std::string("notifier_") + edge.name + ".bmp");
            notifier.Hide();
        }
    SetWorkArea(edges[0].work);
    notifier.SlideIn("正在下载升级包......\r\n");
    ok &= !bAll || SaveScreenshot(notifier.m_hWnd, "notifier_status" + g_suffix + ".bmp");
    notifier.m_bShowProgress = true;
    notifier.SetProgress(333, 1000);
    ok &= !bAll || SaveScreenshot(notifier.m_hWnd, "notifier_progress" + g_suffix + ".bmp");
    if (!g_suffix.empty())
        return ok;
    return SaveScreenshot(notifier.m_hWnd, "notifier_code_page_" + std::to_string(::GetACP()) + ".bmp") && ok;
}

// The skinned button in each of its states, in the shipped skin and the tests' images.
bool Gallery(CWnd& parent, UINT nDpi)
{
    const auto S = [nDpi](int n) { return ScalePixels(n, nDpi); };
    parent.MoveWindow(S(100), S(100), S(400), S(200));
    CSkinButton buttons[9];
    const char* captions[] = {"取消升级", "立即安装", "Pressed", "Hover", "Focus", "Checked", "", "", ""};
    for (int i = 0; i < 9; ++i) {
        const int x = 5 + 80 * (i % 5), y = 10 + 40 * (i / 5);
        buttons[i].Create(captions[i], WS_CHILD | WS_VISIBLE | (i == 5 ? BS_AUTOCHECKBOX : 0),
                          RECT{S(x), S(y), S(x + 70), S(y + 20)}, &parent, 1 + i);
        buttons[i].SetBitmaps(IDB_TEST_NORMAL, IDB_TEST_PRESSED, IDB_TEST_HOVER, IDB_TEST_DISABLED,
                              IDB_TEST_FOCUS, 1, 0, static_cast<short>(S(3)));
        buttons[i].SetTextColor(RGB(255, 0, 0));
    }
    for (int i = 0; i < 2; ++i) {
        buttons[i].SetBitmaps(IDB_BUTTON_SKIN, IDB_BUTTON_SKIN, IDB_BUTTON_SKIN, 0, IDB_BUTTON_SKIN, 1, 0, 0);
        buttons[i].SetTextColor(i ? RGB(133, 146, 181) : RGB(255, 255, 255));
    }
    buttons[1].EnableWindow(FALSE);
    buttons[2].SetState(TRUE);
    RECT rc;
    ::GetWindowRect(buttons[3].m_hWnd, &rc);
    ::SetCursorPos((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
    buttons[3].SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(S(35), S(10)));
    ::SetFocus(buttons[4].m_hWnd);
    buttons[5].SetCheck(BST_CHECKED);
    buttons[6].SetBitmaps(IDB_TEST_SHAPE, 0, 0, 0, 0, 0, 1, 0);
    buttons[7].SetBitmaps(IDB_TEST_HALVES, 0, 0, 0, 0, 2, 0, 0);
    buttons[8].SetBitmaps(IDB_TEST_HALVES, 0, 0, 0, 0, 1, 0, 0);
    parent.RedrawWindow(RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    return SaveScreenshot(parent.m_hWnd, "skin_button_gallery" + g_suffix + ".bmp");
}

} // namespace

int main(int argc, char** argv)
{
    const bool bScaled = argc == 2 && strcmp(argv[1], "scaled") == 0;
    const bool bAll = argc == 1 || bScaled;
    if (!bAll && (argc != 2 || strcmp(argv[1], "code_page") != 0)) {
        fprintf(stderr, "usage: screenshots [code_page | scaled]\n");
        return 2;
    }
    const UINT nDpi = MonitorDpi(nullptr);
    if (bScaled)
        g_suffix = "_" + std::to_string(ScalePixels(100, nDpi));
    RECT saved = {};
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &saved, 0);
    CWnd owner;
    owner.CreateEx(0, CWnd::RegisterWndClass(0, nullptr, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1)).c_str(),
                   "screenshots", WS_POPUP, 100, 100, 400, 200, nullptr, nullptr);
    bool ok = Notifier(owner, bAll);
    SetWorkArea(saved);
    owner.ShowWindow(SW_SHOW); // not before: the edge pictures show the whole screen
    ok &= !bAll || Gallery(owner, nDpi);
    return ok ? 0 : 1;
}
