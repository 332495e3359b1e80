// Saves the X screen as a PNG, cut to the windows on it: brennix_screen_grab <file.png>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <algorithm>
#include <cstdio>

namespace {

// The smallest rectangle holding every pixel that differs from the bare screen's colour (the
// one in the top left corner): the windows, without the empty screen around them.
QRect WindowsArea(const QImage& image) {
  const QRgb bare = image.pixel(0, 0);
  int left = image.width(), top = image.height(), right = -1, bottom = -1;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixel(x, y) == bare) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  }
  return right < 0 ? image.rect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <file.png>\n", argv[0]);
    return 2;
  }
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return 1;
  const QImage shot = screen->grabWindow(0).toImage();
  if (shot.isNull()) return 1;
  return shot.copy(WindowsArea(shot)).save(argv[1], "PNG") ? 0 : 1;
}
