// The response history and the graph drawn into an image, checked at the
// pixels that carry meaning: the line's ends, its heights, the clipping.
#include "widgets/graphdraw.h"

#include <QImage>
#include <gtest/gtest.h>

using namespace graph;

namespace {

constexpr int W = 130, H = 116, CX = 65, CY = 58;

QImage FreshImage()
{
    QImage img(W, H, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

bool IsRed(const QImage &img, int x, int y)
{
    return img.pixel(x, y) == GraphLineColour;
}

// x of the point of slot k: slot 0 is 4 pixels right of the centre.
int SlotX(int k)
{
    return CX + 4 - 4 * k;
}

} // namespace

TEST(ResponseHistory, PushStoresWhole40msUnitsNewestFirst)
{
    TResponseHistory h;
    h.fill(7);
    ClearResponseHistory(h);
    for (int v : h)
        EXPECT_EQ(v, 0);

    const struct { int ms; int stored; } cases[] = {
        {0, 0}, {39, 0}, {40, 1}, {79, 1}, {80, 2}, {3000, 75}, {2320, 58},
    };
    for (const auto &c : cases) {
        PushResponse(h, c.ms);
        EXPECT_EQ(h[0], c.stored) << c.ms << " ms";
    }
    // The first push has moved to slot 6, older zeros behind it.
    EXPECT_EQ(h[6], 0);
    EXPECT_EQ(h[5], 0);
    EXPECT_EQ(h[3], 1);
    EXPECT_EQ(h[1], 75);
}

TEST(ResponseHistory, OldestSlotFallsOffAfter26Pushes)
{
    TResponseHistory h;
    ClearResponseHistory(h);
    for (int i = 1; i <= 27; ++i)
        PushResponse(h, i * 40);
    EXPECT_EQ(h[0], 27);
    EXPECT_EQ(h[25], 2); // 1 was pushed out
}

TEST(ResponseGraph, FreshHistoryDrawsFlatLineAlongAxis)
{
    QImage img = FreshImage();
    TResponseHistory h;
    ClearResponseHistory(h);
    DrawResponseLine(img, h);
    for (int x = CX - 56; x <= CX + 4; ++x)
        EXPECT_TRUE(IsRed(img, x, CY)) << "x=" << x;
    EXPECT_FALSE(IsRed(img, CX - 57, CY));
    EXPECT_FALSE(IsRed(img, CX + 5, CY));
    // Nothing else is red.
    int red = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            red += IsRed(img, x, y);
    EXPECT_EQ(red, 61);
    // The line alone leaves the rest transparent.
    EXPECT_EQ(qAlpha(img.pixel(0, 0)), 0);
}

TEST(ResponseGraph, OnePixelPer40ms)
{
    for (const auto &c : {std::pair{39, CY}, std::pair{40, CY - 1}, std::pair{400, CY - 10}}) {
        QImage img = FreshImage();
        TResponseHistory h;
        ClearResponseHistory(h);
        PushResponse(h, c.first);
        DrawResponseLine(img, h);
        EXPECT_TRUE(IsRed(img, SlotX(0), c.second)) << c.first << " ms";
        if (c.second != CY)
            EXPECT_FALSE(IsRed(img, SlotX(0), CY)) << c.first << " ms";
        // The previous point is still on the axis.
        EXPECT_TRUE(IsRed(img, SlotX(1), CY)) << c.first << " ms";
    }
}

TEST(ResponseGraph, ClipLimitsFollowTheCircle)
{
    const int expected[16] = {58, 58, 57, 57, 56, 54, 53, 51, 48, 45, 42, 38, 33, 26, 15, 15};
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(SlotLimit(k), expected[k]) << "slot " << k;
}

TEST(ResponseGraph, TallValueIsCutAndLoweredSlotBySlot)
{
    const int expected[16] = {58, 58, 57, 57, 56, 54, 53, 51, 48, 45, 42, 38, 33, 26, 15, 15};
    TResponseHistory h;
    ClearResponseHistory(h);
    PushResponse(h, 3000);
    EXPECT_EQ(h[0], 75);
    for (int k = 0; k < 16; ++k) {
        QImage img = FreshImage();
        DrawResponseLine(img, h);
        EXPECT_EQ(h[k], expected[k]) << "after drawing in slot " << k;
        EXPECT_TRUE(IsRed(img, SlotX(k), CY - expected[k])) << "slot " << k;
        if (CY - expected[k] - 1 >= 0)
            EXPECT_FALSE(IsRed(img, SlotX(k), CY - expected[k] - 1)) << "slot " << k;
        PushResponse(h, 0);
    }
    // Once past the drawn slots the value is no longer touched.
    QImage img = FreshImage();
    DrawResponseLine(img, h);
    EXPECT_EQ(h[16], 15);
}

TEST(ResponseGraph, OnlySixteenNewestSlotsAreDrawn)
{
    TResponseHistory h;
    ClearResponseHistory(h);
    for (int k = 16; k < HistorySlots; ++k)
        h[k] = 75;
    h[15] = 10;
    QImage img = FreshImage();
    DrawResponseLine(img, h);
    // The older ten slots keep their values and leave no mark.
    for (int k = 16; k < HistorySlots; ++k)
        EXPECT_EQ(h[k], 75) << "slot " << k;
    EXPECT_TRUE(IsRed(img, CX - 56, CY - 10));
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < CX - 56; ++x)
            ASSERT_FALSE(IsRed(img, x, y)) << x << "," << y;
}

TEST(ResponseGraph, BackgroundHasCircleAxesTicksAndLabels)
{
    QImage img = FreshImage();
    DrawGraphBackground(img);
    const QRgb green = GraphPenColour;
    // Axes through the centre; the circle touches the box at the left and top.
    EXPECT_EQ(img.pixel(CX, 0), green);
    EXPECT_EQ(img.pixel(CX, H - 1), green);
    EXPECT_EQ(img.pixel(7, CY), green);
    EXPECT_EQ(img.pixel(W - 8, CY), green);
    // Tick marks across the vertical axis every 4 pixels, one pixel each side.
    EXPECT_EQ(img.pixel(CX - 1, 8), green);
    EXPECT_EQ(img.pixel(CX + 1, 8), green);
    EXPECT_NE(img.pixel(CX + 1, 9), green);
    // Ticks across the horizontal axis.
    EXPECT_EQ(img.pixel(CX - 8, CY - 1), green);
    EXPECT_EQ(img.pixel(CX + 8, CY + 1), green);
    EXPECT_NE(img.pixel(CX + 9, CY + 1), green);
    // Outside the circle the image stays transparent, so what lies below shows.
    EXPECT_EQ(qAlpha(img.pixel(1, 1)), 0);
    EXPECT_EQ(qAlpha(img.pixel(W - 2, H - 2)), 0);

    // Labels: olive text left of the vertical axis, above the centre line, and
    // none to the right of the axis or below the centre.
    int leftAbove = 0, elsewhere = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const QRgb p = img.pixel(x, y);
            if (qAlpha(p) == 0 || qRed(p) == 0)
                continue; // transparent or green
            if (x < CX && y < CY)
                ++leftAbove;
            else
                ++elsewhere;
        }
    EXPECT_GT(leftAbove, 40);
    EXPECT_EQ(elsewhere, 0);
}
