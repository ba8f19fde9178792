// Shared by the skinned-button tests: test images, colours and drawing helpers.
#pragma once

#include "TestResources.h"
#include "TestWindows.h"
#include "res/resource.h"
#include "ui/SkinButton.h"

#include <algorithm>
#include <climits>
#include <vector>

const COLORREF kNormal = RGB(0, 128, 0);
const COLORREF kPressed = RGB(0, 0, 160);
const COLORREF kHover = RGB(160, 0, 160);
const COLORREF kDisabled = RGB(96, 96, 0);
const COLORREF kFocus = RGB(0, 128, 128);
const COLORREF kSentinel = RGB(1, 2, 3);
const COLORREF kSkinFace = RGB(77, 79, 194);

// Calls DrawItem as the button's parent would, into a canvas of the button's size.
inline void DrawInto(CSkinButton& button, HDC hDC, UINT nState, int cx = 70, int cy = 20)
{
    DRAWITEMSTRUCT dis = {};
    dis.CtlType = ODT_BUTTON;
    dis.CtlID = static_cast<UINT>(button.GetDlgCtrlID());
    dis.itemAction = ODA_DRAWENTIRE;
    dis.itemState = nState;
    dis.hwndItem = button.m_hWnd;
    dis.hDC = hDC;
    dis.rcItem = RECT{0, 0, cx, cy};
    button.DrawItem(&dis);
}

// Puts the cursor on a client point of the window and sends the mouse message there.
inline void MouseAt(HWND hWnd, UINT message, WPARAM wParam, int x, int y)
{
    POINT pt = {x, y};
    ::ClientToScreen(hWnd, &pt);
    ::SetCursorPos(pt.x, pt.y);
    ::SendMessageA(hWnd, message, wParam, MAKELPARAM(x, y));
}

inline void Click(HWND hWnd, int x = 35, int y = 10)
{
    MouseAt(hWnd, WM_LBUTTONDOWN, MK_LBUTTON, x, y);
    MouseAt(hWnd, WM_LBUTTONUP, 0, x, y);
}

// Pixels that differ from the face colour: the caption and anything drawn over it.
inline std::vector<POINT> PixelsOtherThan(const CCanvas& canvas, COLORREF crFace)
{
    std::vector<POINT> points;
    for (int y = 0; y < canvas.Height(); ++y)
        for (int x = 0; x < canvas.Width(); ++x)
            if (canvas.Pixel(x, y) != crFace)
                points.push_back(POINT{x, y});
    return points;
}

inline RECT Bounds(const std::vector<POINT>& points)
{
    RECT rc = {INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    for (const POINT& pt : points) {
        rc.left = std::min<LONG>(rc.left, pt.x);
        rc.top = std::min<LONG>(rc.top, pt.y);
        rc.right = std::max<LONG>(rc.right, pt.x + 1);
        rc.bottom = std::max<LONG>(rc.bottom, pt.y + 1);
    }
    return rc;
}
