#include "app/windows/cd_size.h"

#include <QPainter>

#include <cmath>

namespace brennix {

namespace {

// Nearest integer, ties to even; far-off values are held to a range that still lies off
// any control, so a wild property can never overflow the conversion.
int RoundPx(double v) {
  if (std::isnan(v)) return 0;
  if (v > 1e6) v = 1e6;
  if (v < -1e6) v = -1e6;
  return static_cast<int>(std::nearbyint(v));
}

// A scale of more ticks than this is solid ink anyway; the cap keeps a huge MaxMemory from
// stalling the paint.
constexpr int kMaxTicks = 20000;

void DrawRect(QPainter& p, const CDSizeRect& r, const QColor& pen) {
  // Inverted corners are swapped, as the drawing convention of the bar expects.
  const int left = std::min(r.left, r.right), right = std::max(r.left, r.right);
  const int top = std::min(r.top, r.bottom), bottom = std::max(r.top, r.bottom);
  const int w = right - left, h = bottom - top;
  if (w <= 0 || h <= 0) return;
  p.fillRect(left, top, w, h, pen);
  if (w > 2 && h > 2) p.fillRect(left + 1, top + 1, w - 2, h - 2, r.brush);
}

}  // namespace

CDSizeLayout ComputeCDSizeLayout(const CDSizeValues& v, int w, int h) {
  CDSizeLayout out;
  const int h2 = h / 2;
  const int g = v.ProgressGap;
  out.horizontal = w >= h;

  double step = 10;
  if (v.MaxMemory > 1000) step = 20;
  if (v.MaxMemory > 2000) step = 50;
  if (v.MaxMemory > 5000) step = 100;
  out.step = step;
  const bool scaleDefined = std::isfinite(v.MaxMemory) && v.MaxMemory > 0;
  const double maxMemory = scaleDefined ? v.MaxMemory : 1.0;
  out.tickCount = scaleDefined ? RoundPx(v.MaxMemory / step) : 0;
  out.pixelsPerTick = scaleDefined ? w / (v.MaxMemory / step) : 5.0;

  out.background = {0, 0, w, h, Qt::white};
  out.band = {0, 0, RoundPx(v.MaxCDSize / maxMemory * w) + 1, h2, v.BarColour};

  auto bar = [&](double mb, const QColor& normal) {
    const QColor brush = mb > v.MaxCDSize ? v.OverBurnColour : normal;
    if (out.horizontal) return CDSizeRect{2, g, RoundPx(mb / maxMemory * w) + 1, h2 - g, brush};
    return CDSizeRect{g, g, w, RoundPx(mb / maxMemory * h) - g, brush};
  };
  out.usedBar = bar(v.MemUsed, v.MemBarColour);
  out.initialBar = bar(v.MemInitial, v.MemInitialColour);

  const int ticks = std::min(out.tickCount, kMaxTicks);
  for (int i = 1; i <= ticks; ++i) {
    const int x = RoundPx(i * out.pixelsPerTick);
    if (i % 10 == 0) {
      out.ticks.push_back({x, h});
      const double value = i * step;
      const int d = value > 9999 ? 32 : value > 999 ? 26 : 20;
      out.labels.push_back(
          {QPoint(x - d, h2 + 2), QString::number(static_cast<qlonglong>(value)) + " MB", x});
    } else if (i % 5 == 0) {
      out.ticks.push_back({x, h2 + 3});
    } else {
      out.ticks.push_back({x, h2});
    }
  }
  out.overBurn = v.MemUsed > v.MaxCDSize;
  return out;
}

TCDSize::TCDSize(QWidget* parent) : QWidget(parent) { resize(90, 20); }

void TCDSize::SetBarColour(const QColor& c) {
  v_.BarColour = c;
  update();
}

void TCDSize::SetMemBarColour(const QColor& c) {
  v_.MemBarColour = c;
  update();
}

void TCDSize::SetMemInitialColour(const QColor& c) {
  v_.MemInitialColour = c;
  update();
}

double TCDSize::Clamp(double mb) const {
  if (std::isnan(mb) || mb < 0) return 0;
  if (mb > v_.MaxMemory) return v_.MaxMemory;
  return mb;
}

void TCDSize::SetMemUsed(double mb) {
  v_.MemUsed = Clamp(mb);
  update();
}

void TCDSize::SetMemInitial(double mb) {
  v_.MemInitial = Clamp(mb);
  update();
}

void TCDSize::paintEvent(QPaintEvent*) {
  last_ = ComputeCDSizeLayout(v_, width(), height());
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing, false);
  const QColor outline = v_.TickColour;
  DrawRect(p, last_.background, outline);
  DrawRect(p, last_.band, outline);
  DrawRect(p, last_.usedBar, outline);
  DrawRect(p, last_.initialBar, outline);

  for (const CDSizeTick& t : last_.ticks)
    if (t.bottom > 0) p.fillRect(t.x, 0, 1, t.bottom, v_.TickColour);
  p.setPen(v_.TickColour);
  p.setBrush(Qt::NoBrush);
  const QFontMetrics metrics = p.fontMetrics();
  // Each label ends before its tick, whatever the font's width: the tick never cuts it.
  for (const CDSizeLabel& l : last_.labels) {
    const int left = l.tickX >= 0 ? l.tickX - 3 - metrics.horizontalAdvance(l.text) : l.topLeft.x();
    p.drawText(QPoint(left, l.topLeft.y() + metrics.ascent()), l.text);
  }
  p.end();

  if (last_.overBurn) DoOverBurn(nullptr);
}

void TCDSize::DoOverBurn(QObject* sender) {
  if (OnOverBurn) OnOverBurn(sender);
}

}  // namespace brennix
