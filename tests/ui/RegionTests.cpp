// Window regions built from images by key colour.
#include "SkinButtonTestSupport.h"
#include "ui/RegionRects.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kRed = RGB(255, 0, 0);

// Every pixel of the image and a one-pixel frame around it is in the region exactly
// when it is opaque.
int CountMismatches(HRGN hRgn, int cx, int cy, const std::function<bool(int, int)>& opaque)
{
    int nWrong = 0;
    for (int y = -1; y <= cy; ++y)
        for (int x = -1; x <= cx; ++x) {
            const bool bInImage = x >= 0 && y >= 0 && x < cx && y < cy;
            if ((bInImage && opaque(x, y)) != (::PtInRegion(hRgn, x, y) != FALSE))
                ++nWrong;
        }
    return nWrong;
}

struct RegionCase {
    const char* name;
    int cx, cy;
    std::function<bool(int, int)> opaque;
};

TEST(CreateRegionFromBitmap, RegionHoldsExactlyTheOpaquePixels)
{
    const RegionCase cases[] = {
        {"one row: white red red white red", 5, 1, [](int x, int) { return x == 1 || x == 2 || x == 4; }},
        {"all key colour", 4, 3, [](int, int) { return false; }},
        {"no key colour", 6, 4, [](int, int) { return true; }},
        {"run in the last column, next row starts closed", 5, 2,
         [](int x, int y) { return y == 0 ? x == 4 : x == 0; }},
        {"41 runs", 9, 9, [](int x, int y) { return (x + y) % 2 == 0; }},
        {"80 runs", 16, 10, [](int x, int y) { return (x + y) % 2 == 0; }},
    };
    CSkinButton button;
    for (const RegionCase& c : cases) {
        SCOPED_TRACE(c.name);
        CBitmap image = MakeBitmap(c.cx, c.cy, [&](int x, int y) { return c.opaque(x, y) ? kRed : kWhite; });
        CRgn rgn(button.CreateRegionFromBitmap(image, kWhite));
        ASSERT_FALSE(rgn.IsNull());
        EXPECT_EQ(0, CountMismatches(rgn, c.cx, c.cy, c.opaque));
    }
}

TEST(CreateRegionFromBitmap, RowGivesOneRectanglePerRun)
{
    CSkinButton button;
    const COLORREF row[] = {kWhite, kRed, kRed, kWhite, kRed};
    CBitmap image = MakeBitmap(5, 1, [&](int x, int) { return row[x]; });
    CRgn rgn(button.CreateRegionFromBitmap(image, kWhite));
    std::vector<BYTE> data(::GetRegionData(rgn, 0, nullptr));
    auto* pData = reinterpret_cast<RGNDATA*>(data.data());
    ASSERT_NE(0u, ::GetRegionData(rgn, static_cast<DWORD>(data.size()), pData));
    ASSERT_EQ(2u, pData->rdh.nCount);
    const RECT* pRects = reinterpret_cast<const RECT*>(pData->Buffer);
    const RECT expected[] = {{1, 0, 3, 1}, {4, 0, 5, 1}};
    EXPECT_TRUE(::EqualRect(&pRects[0], &expected[0]));
    EXPECT_TRUE(::EqualRect(&pRects[1], &expected[1]));
}

TEST(CreateRegionFromBitmap, NullImageGivesNoRegion)
{
    CSkinButton button;
    EXPECT_EQ(nullptr, button.CreateRegionFromBitmap(nullptr, kWhite));
}

TEST(RegionRects, GrowsByFortyAtTheFortiethAndEightiethAndKeepsEveryRectangle)
{
    const struct {
        DWORD nAppends, nBlocks;
    } cases[] = {{39, 1}, {40, 2}, {41, 2}, {79, 2}, {80, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nAppends);
        CRegionRects rects;
        for (DWORD i = 0; i < c.nAppends; ++i)
            ASSERT_TRUE(rects.Append(RECT{LONG(i), 0, LONG(i) + 1, 1}));
        EXPECT_EQ(c.nBlocks, rects.GetBlocks());
        ASSERT_EQ(c.nAppends, rects.GetCount());
        for (DWORD i = 0; i < c.nAppends; ++i)
            ASSERT_EQ(LONG(i), rects.GetRects()[i].left) << "rectangle " << i;
    }
}

} // namespace
