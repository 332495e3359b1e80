// The usage bar: its layout for the edge cases the main window meets, and what it actually
// paints, rendered offscreen into an image.
#include "app/windows/cd_size.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cmath>

using namespace brennix;

namespace {

QImage Render(TCDSize& bar) {
  QImage image(bar.size(), QImage::Format_RGB32);
  image.fill(Qt::magenta);  // anything left unpainted shows up
  bar.render(&image);
  return image;
}

QColor At(const QImage& image, int x, int y) { return QColor(image.pixel(x, y)); }

bool IsInk(const QImage& image, int x, int y) { return qGray(image.pixel(x, y)) < 160; }

// The layout of the main window's 634 by 20 pixel bar on a scale of maxMemory MB for a disc
// of maxCDSize MB (the defaults: 750 and 650).
CDSizeLayout Layout(double maxMemory = 750, double maxCDSize = 650) {
  CDSizeValues v;
  v.MaxMemory = maxMemory;
  v.MaxCDSize = maxCDSize;
  return ComputeCDSizeLayout(v, 634, 20);
}

std::vector<int> TickXs(const CDSizeLayout& layout) {
  std::vector<int> xs;
  for (const CDSizeTick& t : layout.ticks) xs.push_back(t.x);
  return xs;
}

}  // namespace

TEST(CDSizeLayout, EmptyDriveScaleOf750MbAt634Pixels) {
  const CDSizeLayout l = Layout();
  EXPECT_TRUE(l.horizontal);
  EXPECT_EQ(l.step, 10);
  EXPECT_EQ(l.tickCount, 75);
  ASSERT_EQ(l.ticks.size(), 75u);
  ASSERT_EQ(l.labels.size(), 7u);
  for (int k = 0; k < 7; ++k) {
    const int x = static_cast<int>(std::nearbyint((k + 1) * 10 * (634.0 / 75)));
    EXPECT_EQ(l.labels[k].text, QString("%1 MB").arg((k + 1) * 100));
    EXPECT_EQ(l.labels[k].topLeft, QPoint(x - 20, 12));
    EXPECT_EQ(l.labels[k].tickX, x);  // painted to end left of its tick
  }
  // Tick lengths: short to the middle, every fifth to three below it, every tenth to the
  // bottom.
  EXPECT_EQ(l.ticks[0].bottom, 10);
  EXPECT_EQ(l.ticks[4].bottom, 13);
  EXPECT_EQ(l.ticks[9].bottom, 20);
  EXPECT_EQ(l.ticks[9].x, 85);
  EXPECT_EQ(l.ticks[74].x, 634);
}

TEST(CDSizeLayout, CdOf703MbOnAn844MbScale) {
  const CDSizeLayout l = Layout(844, 703);
  EXPECT_EQ(l.step, 10);
  EXPECT_EQ(l.tickCount, 84);
  EXPECT_NEAR(l.pixelsPerTick, 7.5118, 0.0001);
  EXPECT_EQ(l.band.left, 0);
  EXPECT_EQ(l.band.right, 529);  // a 529-pixel band
  EXPECT_EQ(l.band.bottom, 10);  // the top half only
}

TEST(CDSizeLayout, DvdScaleOf5380MbLabelsThousandsFurtherLeft) {
  const CDSizeLayout l = Layout(5380, 4483);
  EXPECT_EQ(l.step, 100);
  EXPECT_EQ(l.tickCount, 54);
  ASSERT_EQ(l.labels.size(), 5u);
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(l.labels[k].text, QString("%1 MB").arg((k + 1) * 1000));
    EXPECT_EQ(l.labels[k].topLeft.x(), TickXs(l)[10 * (k + 1) - 1] - 26);
  }
}

TEST(CDSizeLayout, StepChangesOnlyAboveEachBoundary) {
  const std::pair<double, double> cases[] = {{1000, 10}, {1000.5, 20}, {2000, 20}, {2000.5, 50},
                                             {5000, 50}, {5001, 100}};
  for (auto [maxMemory, step] : cases) EXPECT_EQ(Layout(maxMemory).step, step) << maxMemory;
  // A label of five digits sits 32 pixels left of its tick.
  const CDSizeLayout l = Layout(12000);
  EXPECT_EQ(l.labels.back().text, "12000 MB");
  EXPECT_EQ(l.labels.back().topLeft.x(), l.ticks[119].x - 32);
}

TEST(CDSizeLayout, UndefinedOrHugeScalesStayBounded) {
  EXPECT_TRUE(Layout(0).ticks.empty());
  EXPECT_TRUE(Layout(std::nan("")).ticks.empty());
  EXPECT_LE(Layout(1e15).ticks.size(), 20000u);
}

TEST(CDSize, ConstructionDefaultsAndClamping) {
  TCDSize bar;
  EXPECT_EQ(bar.width(), 90);
  EXPECT_EQ(bar.height(), 20);
  EXPECT_EQ(bar.BarColour(), QColor(192, 192, 192));
  EXPECT_EQ(bar.OverBurnColour(), QColor(255, 0, 0));
  EXPECT_EQ(bar.MaxCDSize(), 650.0);
  EXPECT_EQ(bar.MaxMemory(), 750.0);
  bar.SetMemUsed(-5);
  EXPECT_EQ(bar.MemUsed(), 0.0);
  bar.SetMemInitial(std::nan(""));
  EXPECT_EQ(bar.MemInitial(), 0.0);
  bar.SetMaxMemory(844);
  bar.SetMemUsed(2000);
  EXPECT_EQ(bar.MemUsed(), 844.0);
  // Changing the scale afterwards does not re-clamp what is stored.
  bar.SetMaxMemory(500);
  EXPECT_EQ(bar.MemUsed(), 844.0);
}

TEST(CDSize, PaintsBandBarsTicksAndLabelsWhereTheyBelong) {
  TCDSize bar;
  bar.resize(634, 40);
  bar.SetMemBarColour(Qt::blue);
  bar.SetMemInitialColour(Qt::green);
  bar.SetMemUsed(300);     // bar up to x = 255
  bar.SetMemInitial(100);  // bar up to x = 86
  const QImage img = Render(bar);

  EXPECT_EQ(At(img, 40, 10), QColor(Qt::green));           // already on the disc
  EXPECT_EQ(At(img, 200, 10), QColor(Qt::blue));           // what the burn adds
  EXPECT_EQ(At(img, 300, 10), QColor(192, 192, 192));      // rest of the capacity band
  EXPECT_EQ(At(img, 549, 10), QColor(Qt::black));          // band outline (right = 550)
  EXPECT_EQ(At(img, 560, 10), QColor(Qt::white));          // beyond the disc's capacity
  EXPECT_EQ(At(img, 300, 19), QColor(Qt::black));          // band's lower outline, H2 - 1
  EXPECT_EQ(At(img, 300, 20), QColor(Qt::white));          // the band covers the top half
  EXPECT_EQ(At(img, 633, 39), QColor(Qt::black));          // control outline

  // Short tick (i = 1, x = 8) ends at H2, medium (i = 5, x = 42) three below, long (i = 10,
  // x = 85) at the bottom.
  EXPECT_EQ(At(img, 8, 19), QColor(Qt::black));
  EXPECT_EQ(At(img, 8, 20), QColor(Qt::white));
  EXPECT_EQ(At(img, 42, 22), QColor(Qt::black));
  EXPECT_EQ(At(img, 42, 23), QColor(Qt::white));
  EXPECT_EQ(At(img, 85, 38), QColor(Qt::black));

  // Each label's ink ends just left of its tick, below H2 + 2: the tick never cuts it.
  const CDSizeLayout& l = bar.LastLayout();
  ASSERT_EQ(l.labels.size(), 7u);
  for (const CDSizeLabel& label : l.labels) {
    int lastInk = -1;
    for (int x = label.tickX - 1; x > label.tickX - 12 && lastInk < 0; --x)
      for (int y = 22; y < 39; ++y)
        if (IsInk(img, x, y)) {
          lastInk = x;
          break;
        }
    EXPECT_LE(lastInk, label.tickX - 2) << label.text.toStdString();
    EXPECT_GE(lastInk, label.tickX - 6) << label.text.toStdString();
  }
}

TEST(CDSize, OverBurnPaintsInItsColourAndIsRaisedOnEveryPaint) {
  TCDSize bar;
  bar.resize(634, 30);
  bar.SetMaxMemory(844);
  bar.SetMaxCDSize(703);
  int raised = 0;
  QObject* sender = reinterpret_cast<QObject*>(1);
  bar.OnOverBurn = [&](QObject* s) {
    ++raised;
    sender = s;
  };
  bar.SetMemUsed(600);
  Render(bar);
  EXPECT_EQ(raised, 0);
  bar.SetMemUsed(2000);
  const QImage img = Render(bar);
  EXPECT_EQ(At(img, 302, 7), QColor(Qt::red));
  EXPECT_EQ(At(img, 600, 7), QColor(Qt::red));  // beyond the band, too
  EXPECT_EQ(raised, 1);
  EXPECT_EQ(sender, nullptr);
  Render(bar);
  EXPECT_EQ(raised, 2);
  // The disc's own content over capacity is drawn in the over-burn colour as well.
  bar.SetMemInitialColour(Qt::green);
  bar.SetMemInitial(800);
  EXPECT_EQ(At(Render(bar), 302, 7), QColor(Qt::red));
}

TEST(CDSize, TallerThanWideDrawsBarsDownwardsWithTheScaleAlongTheWidth) {
  TCDSize bar;
  bar.resize(40, 200);
  bar.SetMaxMemory(100);  // ten ticks, 4 pixels apart
  bar.SetMaxCDSize(90);
  bar.SetMemBarColour(Qt::blue);
  bar.SetProgressGap(3);
  bar.SetMemUsed(80);  // down to y = 160 - 3
  const QImage img = Render(bar);
  EXPECT_FALSE(bar.LastLayout().horizontal);
  EXPECT_EQ(At(img, 6, 150), QColor(Qt::blue));
  EXPECT_EQ(At(img, 6, 156), QColor(Qt::black));  // the bar's lower outline
  EXPECT_EQ(At(img, 6, 165), QColor(Qt::white));
  EXPECT_EQ(At(img, 2, 150), QColor(Qt::white));  // the gap on the left
  EXPECT_EQ(At(img, 4, 99), QColor(Qt::black));   // first tick, along the width
  ASSERT_EQ(bar.LastLayout().ticks.size(), 10u);
  EXPECT_EQ(bar.LastLayout().ticks[0].x, 4);
}
