// Region algebra: exact rectangle sets, banded form, rounded corners.
#include "RectRegion.h"

#include <QtTest>

using platform::RectRegion;
using platform::WinRect;

Q_DECLARE_METATYPE(RectRegion)

namespace {
// Pixel-by-pixel membership, the reference the banded code is checked against.
bool samePixels(const RectRegion& region, const std::function<bool(int, int)>& expected, const WinRect& area) {
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            if (region.contains(x, y) != expected(x, y)) {
                qWarning("pixel %d,%d differs", x, y);
                return false;
            }
        }
    }
    return true;
}
}  // namespace

class TestRectRegion : public QObject {
    Q_OBJECT

private slots:
    void squareCutAndRepair() {
        const RectRegion full = RectRegion::rect(0, 0, 200, 100);
        const RectRegion square = RectRegion::roundRect(10, 10, 60, 60, 0, 0);
        const RectRegion cut = full.subtracted(square);
        QCOMPARE(cut.area(), 200LL * 100 - 50 * 50);
        QCOMPARE(cut.kind(), platform::kComplexRegion);
        QVERIFY(!cut.contains(10, 10));
        QVERIFY(!cut.contains(59, 59));
        QVERIFY(cut.contains(60, 59));
        QVERIFY(cut.contains(9, 10));
        QVERIFY(cut.united(square) == full);
        QCOMPARE(cut.united(square).kind(), platform::kSimpleRegion);
        // Banded form: above the hole, the hole's band (two spans), below.
        const std::vector<WinRect> vecRects = cut.rects();
        QCOMPARE(vecRects.size(), size_t(4));
        QCOMPARE(vecRects[0], (WinRect{0, 0, 200, 10}));
        QCOMPARE(vecRects[1], (WinRect{0, 10, 10, 60}));
        QCOMPARE(vecRects[2], (WinRect{60, 10, 200, 60}));
        QCOMPARE(vecRects[3], (WinRect{0, 60, 200, 100}));
    }

    void operationsMatchPixels_data() {
        QTest::addColumn<RectRegion>("a");
        QTest::addColumn<RectRegion>("b");
        const RectRegion frame = RectRegion::rect(0, 0, 40, 30).subtracted(RectRegion::rect(5, 5, 35, 25));
        QTest::newRow("overlapping") << RectRegion::rect(0, 0, 20, 20) << RectRegion::rect(10, 5, 30, 25);
        QTest::newRow("disjoint") << RectRegion::rect(0, 0, 5, 5) << RectRegion::rect(10, 10, 15, 15);
        QTest::newRow("touching") << RectRegion::rect(0, 0, 10, 10) << RectRegion::rect(10, 0, 20, 10);
        QTest::newRow("inside") << RectRegion::rect(0, 0, 40, 40) << RectRegion::rect(10, 10, 20, 20);
        QTest::newRow("frame and bar") << frame << RectRegion::rect(-3, 12, 50, 18);
        QTest::newRow("rounded") << RectRegion::roundRect(0, 0, 40, 30, 16, 12) << RectRegion::rect(20, 0, 45, 35);
        QTest::newRow("empty") << RectRegion() << RectRegion::rect(2, 2, 8, 8);
    }
    void operationsMatchPixels() {
        QFETCH(RectRegion, a);
        QFETCH(RectRegion, b);
        const WinRect area{-10, -10, 60, 50};
        QVERIFY(samePixels(
            a.united(b), [&](int x, int y) { return a.contains(x, y) || b.contains(x, y); }, area));
        QVERIFY(samePixels(
            a.subtracted(b), [&](int x, int y) { return a.contains(x, y) && !b.contains(x, y); }, area));
        QVERIFY(samePixels(
            a.intersected(b), [&](int x, int y) { return a.contains(x, y) && b.contains(x, y); }, area));
        QVERIFY(samePixels(
            a.xored(b), [&](int x, int y) { return a.contains(x, y) != b.contains(x, y); }, area));
        // Equal pixel sets have one representation.
        QVERIFY(a.united(b) == b.united(a));
        QVERIFY(a.subtracted(b).united(a.intersected(b)) == a);
    }

    void roundedCorners_data() {
        QTest::addColumn<int>("iWidth");
        QTest::addColumn<int>("iHeight");
        QTest::addColumn<int>("iRound");
        QTest::newRow("20 on 100x60") << 100 << 60 << 20;
        QTest::newRow("odd 7 on 31x17") << 31 << 17 << 7;
        QTest::newRow("larger than the rectangle") << 40 << 20 << 500;
        QTest::newRow("circle") << 30 << 30 << 30;
    }
    void roundedCorners() {
        QFETCH(int, iWidth);
        QFETCH(int, iHeight);
        QFETCH(int, iRound);
        const RectRegion region = RectRegion::roundRect(5, 7, 5 + iWidth, 7 + iHeight, iRound, iRound);
        QCOMPARE(region.boundingRect(), (WinRect{5, 7, 5 + iWidth, 7 + iHeight}));
        QVERIFY(region.area() < static_cast<long long>(iWidth) * iHeight);
        // Corners cut, centre kept, and the shape symmetric in both axes.
        QVERIFY(!region.contains(5, 7));
        QVERIFY(!region.contains(5 + iWidth - 1, 7 + iHeight - 1));
        QVERIFY(region.contains(5 + iWidth / 2, 7 + iHeight / 2));
        for (int y = 0; y < iHeight; ++y) {
            for (int x = 0; x < iWidth; ++x) {
                const bool bIn = region.contains(5 + x, 7 + y);
                QCOMPARE(region.contains(5 + iWidth - 1 - x, 7 + y), bIn);
                QCOMPARE(region.contains(5 + x, 7 + iHeight - 1 - y), bIn);
            }
        }
        // Each row of a corner is at least as wide as the row above it.
        int iPreviousWidth = 0;
        for (int y = 0; y < iHeight / 2; ++y) {
            int iRowWidth = 0;
            for (int x = 0; x < iWidth; ++x) iRowWidth += region.contains(5 + x, 7 + y) ? 1 : 0;
            QVERIFY(iRowWidth >= iPreviousWidth);
            iPreviousWidth = iRowWidth;
        }
    }

    void degenerateShapes() {
        QVERIFY(RectRegion::roundRect(0, 0, 10, 10, 1, 1) == RectRegion::rect(0, 0, 10, 10));
        QVERIFY(RectRegion::roundRect(0, 0, 10, 10, 0, 0) == RectRegion::rect(0, 0, 10, 10));
        QVERIFY(RectRegion::rect(10, 10, 0, 0) == RectRegion::rect(0, 0, 10, 10));
        QVERIFY(RectRegion::rect(0, 0, 0, 0).isEmpty());
        QCOMPARE(RectRegion::rect(0, 0, 0, 0).kind(), platform::kNullRegion);
        QVERIFY(RectRegion::rect(0, 0, 10, 10).subtracted(RectRegion::rect(-5, -5, 20, 20)).isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestRectRegion)
#include "tst_rectregion.moc"
