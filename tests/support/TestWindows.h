// Window helpers for the framework and skinned-button tests: a parent that records
// its controls' notifications, memory canvases to read pixels back from, test
// images and a GDI object count that also works under Wine.
#pragma once

#include "TestSupport.h"
#include "framework/DeviceContexts.h"
#include "framework/GdiObjects.h"

// Wine 8's GetGuiResources always answers 0: there the count is derived from how
// many more handles can still be created.
long GdiObjectsInUse();

// A visible top-level window at (100, 100) that records WM_COMMAND, WM_DRAWITEM and
// the private messages it receives.
class CTestParent : public CWnd {
public:
    CTestParent()
    {
        CreateEx(0, RegisterWndClass(0, nullptr, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1)).c_str(),
                 "test parent", WS_POPUP | WS_VISIBLE, 100, 100, 400, 200, nullptr, nullptr);
    }
    struct Command {
        UINT nID, nCode;
        HWND hControl;
        int nCheck; // BM_GETCHECK of the control when the parent heard of it
    };
    std::vector<Command> m_commands;
    int m_nDrawItems = 0;
    std::vector<UINT> m_private; // WM_USER and above

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// A 32-bit DIB section whose pixel (x, y) is pixel(x, y).
CBitmap MakeBitmap(int cx, int cy, const std::function<COLORREF(int x, int y)>& pixel);

// A 32-bit top-down DIB selected into a memory DC, filled with one colour.
class CCanvas {
public:
    CCanvas(int cx, int cy, COLORREF crFill)
        : m_cx(cx), m_cy(cy), m_bitmap(MakeBitmap(cx, cy, [crFill](int, int) { return crFill; })),
          m_dc(nullptr), m_select(m_dc, m_bitmap)
    {
    }
    operator HDC() const { return m_dc; }
    COLORREF Pixel(int x, int y) const { return ::GetPixel(m_dc, x, y); }
    // Pixels for which expected(x, y) is wrong.
    int CountWrong(const std::function<COLORREF(int, int)>& expected) const;
    // The bounds of the pixels that differ from crFace (empty when none do).
    RECT BoundsOtherThan(COLORREF crFace) const;
    int m_cx, m_cy;

private:
    CBitmap m_bitmap; // outlives the DC it is selected into
    CMemDC m_dc;
    CSelectObject m_select;
};
