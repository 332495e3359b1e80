// The disc usage bar: a band for the disc's capacity, a bar for the space already used, a
// bar for what the burn adds, and a scale in MB. It only draws what it is fed.
#pragma once

#include <QColor>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

namespace brennix {

// What one paint of the bar draws, computed from the properties and the control's size.
// Rectangles are in the drawing convention of the bar: from (left, top) up to but not
// including (right, bottom), outlined one pixel inside; an empty one draws nothing.
struct CDSizeRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  QColor brush;
};
struct CDSizeTick {
  int x = 0;
  int bottom = 0;  // the line covers y = 0 .. bottom - 1
};
struct CDSizeLabel {
  QPoint topLeft;
  QString text;
  int tickX = -1;  // the tick it names: the painted text ends just left of it
};
struct CDSizeLayout {
  bool horizontal = true;
  double step = 10;
  int tickCount = 0;
  double pixelsPerTick = 5.0;
  CDSizeRect background, band, usedBar, initialBar;
  std::vector<CDSizeTick> ticks;
  std::vector<CDSizeLabel> labels;
  bool overBurn = false;
};

struct CDSizeValues {
  QColor BarColour{192, 192, 192};
  QColor MemBarColour{0, 0, 0};
  QColor MemInitialColour{0, 0, 0};
  QColor OverBurnColour{255, 0, 0};
  QColor TickColour{0, 0, 0};
  int ProgressGap = 0;
  double MaxCDSize = 650.0;
  double MaxMemory = 750.0;
  double MemUsed = 0.0;
  double MemInitial = 0.0;
};

// Pure: the layout of one paint of a control of width w and height h.
CDSizeLayout ComputeCDSizeLayout(const CDSizeValues& values, int w, int h);

class TCDSize : public QWidget {
  Q_OBJECT

 public:
  explicit TCDSize(QWidget* parent = nullptr);

  // Raised on every paint while the space used after the burn exceeds the capacity.
  std::function<void(QObject* sender)> OnOverBurn;

  QColor BarColour() const { return v_.BarColour; }
  QColor MemBarColour() const { return v_.MemBarColour; }
  QColor MemInitialColour() const { return v_.MemInitialColour; }
  QColor OverBurnColour() const { return v_.OverBurnColour; }
  QColor TickColour() const { return v_.TickColour; }
  int ProgressGap() const { return v_.ProgressGap; }
  double MaxCDSize() const { return v_.MaxCDSize; }
  double MaxMemory() const { return v_.MaxMemory; }
  double MemUsed() const { return v_.MemUsed; }
  double MemInitial() const { return v_.MemInitial; }

  // These ask for a repaint.
  void SetBarColour(const QColor& c);
  void SetMemBarColour(const QColor& c);
  void SetMemInitialColour(const QColor& c);
  // These only store: set them before the values below, which they do not re-clamp.
  void SetOverBurnColour(const QColor& c) { v_.OverBurnColour = c; }
  void SetTickColour(const QColor& c) { v_.TickColour = c; }
  void SetProgressGap(int g) { v_.ProgressGap = g; }
  void SetMaxCDSize(double mb) { v_.MaxCDSize = mb; }
  void SetMaxMemory(double mb) { v_.MaxMemory = mb; }
  // Clamped to 0 .. MaxMemory, then repainted.
  void SetMemUsed(double mb);
  void SetMemInitial(double mb);

  const CDSizeLayout& LastLayout() const { return last_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  virtual void DoOverBurn(QObject* sender);

 private:
  double Clamp(double mb) const;

  CDSizeValues v_;
  CDSizeLayout last_;
};

}  // namespace brennix
