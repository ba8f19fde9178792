#include "framework/GdiObjects.h"
#include "framework/UserText.h"

#include <cstring>

BOOL CBitmap::LoadBitmap(UINT nID)
{
    Attach(::LoadBitmapA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(nID & 0xFFFF)));
    return !IsNull();
}

BOOL CBitmap::GetBitmap(BITMAP* pBitmap) const
{
    return m_hObject && ::GetObjectA(m_hObject, sizeof(BITMAP), pBitmap) == sizeof(BITMAP);
}

SIZE CBitmap::GetSize() const
{
    BITMAP bm;
    if (!GetBitmap(&bm))
        return SIZE{0, 0};
    return SIZE{bm.bmWidth, bm.bmHeight};
}

BOOL CFont::CreatePointFont(int nPointSize, const char* pszFaceName, UINT nDpi)
{
    if (!nDpi) {
        const HDC hScreen = ::GetDC(nullptr);
        nDpi = static_cast<UINT>(::GetDeviceCaps(hScreen, LOGPIXELSY));
        ::ReleaseDC(nullptr, hScreen);
    }
    LOGFONTA lf = {};
    lf.lfHeight = -::MulDiv(static_cast<int>(nDpi), nPointSize, 720); // the character height
    lf.lfCharSet = UserTextCharSet(); // the fonts here show texts for the user
    ::strncpy(lf.lfFaceName, pszFaceName, LF_FACESIZE - 1);
    return CreateFontIndirect(lf);
}

BOOL CFont::CreateFontIndirect(const LOGFONTA& logFont)
{
    Attach(::CreateFontIndirectA(&logFont));
    return !IsNull();
}

BOOL CRgn::CreateRectRgn(int left, int top, int right, int bottom)
{
    Attach(::CreateRectRgn(left, top, right, bottom));
    return !IsNull();
}
