// Owning wrappers for GDI objects. Each owns at most one handle, is move-only, and
// deletes its handle when it is replaced or destroyed. Use on one thread.
#pragma once

#include <windows.h>

template<class H> class CGdiObjectT {
public:
    CGdiObjectT() = default;
    explicit CGdiObjectT(H h) : m_hObject(h) {}
    ~CGdiObjectT() { DeleteObject(); }
    CGdiObjectT(CGdiObjectT&& other) noexcept : m_hObject(other.Detach()) {}
    CGdiObjectT& operator=(CGdiObjectT&& other) noexcept
    {
        if (this != &other)
            Attach(other.Detach());
        return *this;
    }
    CGdiObjectT(const CGdiObjectT&) = delete;
    CGdiObjectT& operator=(const CGdiObjectT&) = delete;

    H GetSafeHandle() const { return m_hObject; }
    operator H() const { return m_hObject; }
    bool IsNull() const { return m_hObject == nullptr; }

    // Takes ownership of h, deleting the handle held so far.
    void Attach(H h)
    {
        if (h != m_hObject) {
            DeleteObject();
            m_hObject = h;
        }
    }
    // Gives up ownership, for example when the system takes the handle over.
    H Detach()
    {
        H h = m_hObject;
        m_hObject = nullptr;
        return h;
    }
    BOOL DeleteObject()
    {
        if (!m_hObject)
            return FALSE;
        const BOOL ok = ::DeleteObject(m_hObject);
        m_hObject = nullptr;
        return ok;
    }

protected:
    H m_hObject = nullptr;
};

class CBitmap : public CGdiObjectT<HBITMAP> {
public:
    using CGdiObjectT::CGdiObjectT;
    // Loads a bitmap resource of the executable; the low 16 bits of nID name it.
    // Replaces the current image; on failure the object is left empty.
    BOOL LoadBitmap(UINT nID);
    BOOL GetBitmap(BITMAP* pBitmap) const;
    SIZE GetSize() const; // 0 x 0 when empty
};

class CFont : public CGdiObjectT<HFONT> {
public:
    using CGdiObjectT::CGdiObjectT;
    // nPointSize in tenths of a point, at nDpi pixels per inch (0: the screen's).
    BOOL CreatePointFont(int nPointSize, const char* pszFaceName, UINT nDpi = 0);
    BOOL CreateFontIndirect(const LOGFONTA& logFont);
};

class CRgn : public CGdiObjectT<HRGN> {
public:
    using CGdiObjectT::CGdiObjectT;
    BOOL CreateRectRgn(int left, int top, int right, int bottom);
    int CombineRgn(HRGN hSrc1, HRGN hSrc2, int nMode) { return ::CombineRgn(m_hObject, hSrc1, hSrc2, nMode); }
};
