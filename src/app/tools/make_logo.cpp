// Draws the splash logo (443 x 285, the size of the splash's picture) and writes it as a
// baseline JPEG through libjpeg. The committed logo.jpg was made with this program, so the
// picture is ours and can be remade at will.
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

#include <jpeglib.h>

namespace {

QImage DrawLogo() {
  QImage image(443, 285, QImage::Format_RGB888);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);

  QLinearGradient sky(0, 0, 0, 285);
  sky.setColorAt(0.0, QColor(255, 248, 236));
  sky.setColorAt(1.0, QColor(244, 222, 196));
  p.fillRect(image.rect(), sky);

  // A disc seen from the front: rainbow sheen, a clear inner ring and the hole.
  const QPointF centre(120, 128);
  QRadialGradient sheen(centre, 92);
  sheen.setColorAt(0.0, QColor(250, 250, 252));
  sheen.setColorAt(0.45, QColor(196, 214, 240));
  sheen.setColorAt(0.7, QColor(230, 196, 232));
  sheen.setColorAt(0.85, QColor(246, 226, 170));
  sheen.setColorAt(1.0, QColor(176, 186, 204));
  p.setPen(QPen(QColor(113, 72, 42), 2));
  p.setBrush(sheen);
  p.drawEllipse(centre, 92, 92);
  p.setBrush(QColor(236, 238, 242));
  p.drawEllipse(centre, 30, 30);
  p.setBrush(QColor(255, 248, 236));
  p.drawEllipse(centre, 11, 11);

  // A flame over the disc's edge: the program burns.
  QPainterPath flame;
  flame.moveTo(176, 206);
  flame.cubicTo(130, 180, 158, 130, 176, 102);
  flame.cubicTo(180, 134, 196, 140, 200, 160);
  flame.cubicTo(210, 142, 206, 128, 204, 118);
  flame.cubicTo(232, 150, 226, 200, 176, 206);
  QLinearGradient fire(0, 102, 0, 206);
  fire.setColorAt(0.0, QColor(255, 214, 64));
  fire.setColorAt(1.0, QColor(220, 70, 20));
  p.setPen(Qt::NoPen);
  p.setBrush(fire);
  p.drawPath(flame);

  QFont title("DejaVu Sans", 34, QFont::Bold);
  p.setFont(title);
  p.setPen(QColor(113, 72, 42));
  p.drawText(QRectF(232, 70, 205, 56), Qt::AlignLeft | Qt::AlignVCenter, "Brennix");
  QFont sub("DejaVu Sans", 15);
  p.setFont(sub);
  p.setPen(QColor(150, 104, 70));
  p.drawText(QRectF(234, 124, 205, 30), Qt::AlignLeft | Qt::AlignVCenter, "CD & DVD");
  p.setPen(QPen(QColor(200, 160, 120), 1));
  p.drawLine(234, 160, 420, 160);
  QFont tag("DejaVu Sans", 10);
  p.setFont(tag);
  p.drawText(QRectF(234, 164, 205, 24), Qt::AlignLeft | Qt::AlignVCenter,
             "data discs for Linux");
  return image;
}

bool WriteJpeg(const QImage& image, const char* path) {
  FILE* out = std::fopen(path, "wb");
  if (!out) return false;
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, out);
  cinfo.image_width = static_cast<JDIMENSION>(image.width());
  cinfo.image_height = static_cast<JDIMENSION>(image.height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(image.constScanLine(static_cast<int>(cinfo.next_scanline)));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const char* path = argc > 1 ? argv[1] : "logo.jpg";
  if (!WriteJpeg(DrawLogo(), path)) {
    std::fprintf(stderr, "cannot write %s\n", path);
    return 1;
  }
  return 0;
}
