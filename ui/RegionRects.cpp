#include "ui/RegionRects.h"

#include <cstring>
#include <new>

CRegionRects::CRegionRects() : m_pData(new (std::nothrow) BYTE[BytesFor(1)]())
{
    if (!m_pData)
        return;
    m_nBlocks = 1;
    RGNDATAHEADER& header = Header();
    header.dwSize = sizeof(RGNDATAHEADER);
    header.iType = RDH_RECTANGLES;
}

bool CRegionRects::Append(const RECT& rc)
{
    if (!m_pData || Header().nCount == m_nBlocks * kBlock)
        return false;
    RGNDATAHEADER& header = Header();
    reinterpret_cast<RECT*>(m_pData.get() + sizeof(RGNDATAHEADER))[header.nCount] = rc;
    ++header.nCount;
    if (header.nCount == m_nBlocks * kBlock) {
        std::unique_ptr<BYTE[]> pGrown(new (std::nothrow) BYTE[BytesFor(m_nBlocks + 1)]());
        if (pGrown) {
            std::memcpy(pGrown.get(), m_pData.get(), BytesFor(m_nBlocks));
            m_pData = std::move(pGrown);
            ++m_nBlocks;
        }
    }
    return true;
}
