// The rectangle list behind CSkinButton::CreateRegionFromBitmap, laid out as RGNDATA
// (header, then rectangles). It grows by a block of 40 rectangles at a time, so a
// long list costs one reallocation per 40 rectangles. Not shared between threads.
#pragma once

#include <windows.h>

#include <memory>

class CRegionRects {
public:
    static const DWORD kBlock = 40;

    CRegionRects();
    // False when out of memory; the rectangles stored so far stay valid.
    bool Append(const RECT& rc);

    DWORD GetCount() const { return m_pData ? Header().nCount : 0; }
    const RECT* GetRects() const
    {
        return reinterpret_cast<const RECT*>(m_pData.get() + sizeof(RGNDATAHEADER));
    }

private:
    RGNDATAHEADER& Header() const { return *reinterpret_cast<RGNDATAHEADER*>(m_pData.get()); }
    static size_t BytesFor(DWORD nBlocks) { return sizeof(RGNDATAHEADER) + nBlocks * kBlock * sizeof(RECT); }

    std::unique_ptr<BYTE[]> m_pData;
    DWORD m_nBlocks = 0;
};
