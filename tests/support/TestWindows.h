// Window helpers for tests on the framework: a bounded message pump, a parent
// window that records its controls' notifications, memory canvases to read pixels
// back from, and a GDI object count that also works under Wine.
#pragma once

#include "framework/GdiObjects.h"
#include "framework/Wnd.h"

#include <windows.h>

#include <functional>
#include <vector>

// Dispatches everything queued now, paints included.
void PumpPending();
// Pumps until done() holds or about five seconds have passed; returns done().
bool PumpUntil(const std::function<bool()>& done);

// GDI objects this process holds. Wine 8's GetGuiResources always answers 0, so
// there the count is derived from how many more handles can still be created.
long GdiObjectsInUse();

struct Notification {
    UINT nID;   // low word of wParam
    UINT nCode; // high word of wParam
    HWND hControl;
    int nCheck; // BM_GETCHECK of the control when the parent received it
};

// A visible top-level window at (x, y) that records WM_COMMAND and WM_DRAWITEM.
class CTestParent : public CWnd {
public:
    CTestParent(int x = 100, int y = 100, int cx = 400, int cy = 200);
    std::vector<Notification> m_commands;
    int m_nDrawItems = 0;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// A 32-bit top-down DIB selected into a memory DC, filled with one colour.
class CCanvas {
public:
    CCanvas(int cx, int cy, COLORREF crFill);
    ~CCanvas();
    CCanvas(const CCanvas&) = delete;
    CCanvas& operator=(const CCanvas&) = delete;
    operator HDC() const { return m_hDC; }
    COLORREF Pixel(int x, int y) const { return ::GetPixel(m_hDC, x, y); }
    int Width() const { return m_cx; }
    int Height() const { return m_cy; }

private:
    int m_cx, m_cy;
    HDC m_hDC;
    HBITMAP m_hBitmap;
    HGDIOBJ m_hOld;
};

// A 32-bit DIB section whose pixel (x, y) is pixel(x, y).
CBitmap MakeBitmap(int cx, int cy, const std::function<COLORREF(int x, int y)>& pixel);
