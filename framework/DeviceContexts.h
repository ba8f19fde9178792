// Scoped device contexts and a select guard. Each DC scope saves the DC's state when
// it starts and restores it before the DC is released, so nothing stays selected
// into a DC we hand back; CSelectObject restores one selection on the DC it was made
// for. Use on the thread that paints.
#pragma once

#include <windows.h>

class CDCScope {
public:
    CDCScope(const CDCScope&) = delete;
    CDCScope& operator=(const CDCScope&) = delete;
    operator HDC() const { return m_hDC; }
    HDC GetSafeHdc() const { return m_hDC; }

protected:
    explicit CDCScope(HDC hDC) { Begin(hDC); }
    void Begin(HDC hDC)
    {
        m_hDC = hDC;
        m_nSaved = hDC ? ::SaveDC(hDC) : 0;
    }
    void Restore()
    {
        if (m_nSaved)
            ::RestoreDC(m_hDC, m_nSaved);
    }
    HDC m_hDC = nullptr;
    int m_nSaved = 0;
};

// BeginPaint / EndPaint for WM_PAINT.
class CPaintDC : public CDCScope {
public:
    // BeginPaint fills m_ps, so it runs once the members exist: a paint structure
    // initialised after it would hand EndPaint no DC to release.
    explicit CPaintDC(HWND hWnd) : CDCScope(nullptr), m_hWnd(hWnd) { Begin(::BeginPaint(hWnd, &m_ps)); }
    ~CPaintDC()
    {
        Restore();
        ::EndPaint(m_hWnd, &m_ps);
    }
    PAINTSTRUCT m_ps = {};

private:
    HWND m_hWnd;
};

// The client area's DC (the screen's with a null window).
class CClientDC : public CDCScope {
public:
    explicit CClientDC(HWND hWnd) : CDCScope(::GetDC(hWnd)), m_hWnd(hWnd) {}
    ~CClientDC()
    {
        Restore();
        if (m_hDC)
            ::ReleaseDC(m_hWnd, m_hDC);
    }

private:
    HWND m_hWnd;
};

// The whole window's DC (the screen's with a null window).
class CWindowDC : public CDCScope {
public:
    explicit CWindowDC(HWND hWnd) : CDCScope(::GetWindowDC(hWnd)), m_hWnd(hWnd) {}
    ~CWindowDC()
    {
        Restore();
        if (m_hDC)
            ::ReleaseDC(m_hWnd, m_hDC);
    }

private:
    HWND m_hWnd;
};

// A memory DC compatible with another one (with the screen for null).
class CMemDC : public CDCScope {
public:
    explicit CMemDC(HDC hCompatible) : CDCScope(::CreateCompatibleDC(hCompatible)) {}
    ~CMemDC()
    {
        Restore();
        if (m_hDC)
            ::DeleteDC(m_hDC);
    }
};

// Selects an object into a DC and puts the previous one back into that same DC. Not
// for regions: selecting one answers a region type, nothing to put back.
class CSelectObject {
public:
    CSelectObject(HDC hDC, HGDIOBJ hObject)
        : m_hDC(hDC),
          m_hOld(hObject && ::GetObjectType(hObject) != OBJ_REGION ? ::SelectObject(hDC, hObject) : nullptr)
    {
    }
    ~CSelectObject()
    {
        if (m_hOld && m_hOld != HGDI_ERROR)
            ::SelectObject(m_hDC, m_hOld);
    }
    CSelectObject(const CSelectObject&) = delete;
    CSelectObject& operator=(const CSelectObject&) = delete;
    bool Succeeded() const { return m_hOld && m_hOld != HGDI_ERROR; }

private:
    HDC m_hDC;
    HGDIOBJ m_hOld;
};
