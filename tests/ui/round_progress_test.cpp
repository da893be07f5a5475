// The round progress widget of the firmware update screen.

#include "ui/qt_app.h"

#include "ui/QRoundProgressBar.h"

#include <gtest/gtest.h>

#include <QImage>

namespace {

// The ring is round and centred: on a square widget it keeps the same
// margin to all four edges, whatever the progress.
TEST(RoundProgress, RingKeepsTheSameMarginToEveryEdge)
{
    zemtest::qtApp();
    QRoundProgressBar bar;
    bar.resize(120, 120);
    for (int value : {0, 40}) {
        SCOPED_TRACE(value);
        bar.setValue(value);
        const QImage img = bar.grab().toImage();
        const QRgb background = img.pixel(0, 0);
        const int mid = img.width() / 2;
        // Pixels from an edge towards the middle until the ring begins.
        auto margin = [&](int x, int y, int dx, int dy) {
            int n = 0;
            while (img.pixel(x + n * dx, y + n * dy) == background && n < mid)
                ++n;
            return n;
        };
        const int top = margin(mid, 0, 0, 1);
        EXPECT_GT(top, 0);
        EXPECT_LT(top, mid);
        EXPECT_EQ(margin(mid, img.height() - 1, 0, -1), top) << "bottom";
        EXPECT_EQ(margin(0, mid, 1, 0), top) << "left";
        EXPECT_EQ(margin(img.width() - 1, mid, -1, 0), top) << "right";
    }
}

} // namespace
