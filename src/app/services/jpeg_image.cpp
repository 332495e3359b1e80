#include "app/services/jpeg_image.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

// Resources of a static library must be registered by name, outside any namespace.
static void RegisterAppResources() { Q_INIT_RESOURCE(brennix); }

namespace brennix {

namespace {

// libjpeg's default error handler calls exit(); ours jumps back to the decoder instead.
struct JpegErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

extern "C" void JpegErrorExit(j_common_ptr cinfo) {
  auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  manager->base.format_message(cinfo, manager->message);
  std::longjmp(manager->jump, 1);
}

// Warnings (a truncated file, for one) go nowhere: a picture that decodes is shown as far
// as it goes.
extern "C" void JpegSilentOutput(j_common_ptr) {}

// Reads the picture's size, or with image (made at that size before) the picture into it.
// Everything between setjmp and a possible longjmp is plain C data, so the jump skips no
// destructor.
bool RunDecoder(const QByteArray& data, JpegErrorManager& errors, QSize& size, QImage* image) {
  jpeg_decompress_struct cinfo;
  cinfo.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = JpegErrorExit;
  errors.base.output_message = JpegSilentOutput;
  errors.message[0] = '\0';
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data.constData()),
               static_cast<unsigned long>(data.size()));
  bool ok = jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK;
  const auto side = static_cast<JDIMENSION>(kMaxJpegSide);
  if (!ok) {
    std::snprintf(errors.message, sizeof errors.message, "no picture in the data");
  } else if (cinfo.image_width == 0 || cinfo.image_height == 0 || cinfo.image_width > side ||
             cinfo.image_height > side) {
    std::snprintf(errors.message, sizeof errors.message, "picture size %ux%u refused",
                  static_cast<unsigned>(cinfo.image_width),
                  static_cast<unsigned>(cinfo.image_height));
    ok = false;
  } else if (image == nullptr) {
    size = QSize(static_cast<int>(cinfo.image_width), static_cast<int>(cinfo.image_height));
  } else {
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    ok = cinfo.output_components == 3 && static_cast<int>(cinfo.output_width) == image->width() &&
         static_cast<int>(cinfo.output_height) == image->height();
    if (!ok) std::snprintf(errors.message, sizeof errors.message, "unexpected output format");
    while (ok && cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = image->scanLine(static_cast<int>(cinfo.output_scanline));
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    if (ok) jpeg_finish_decompress(&cinfo);
  }
  jpeg_destroy_decompress(&cinfo);
  return ok;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& data, QString* error) {
  JpegErrorManager errors{};
  QSize size;
  if (data.isEmpty() || !RunDecoder(data, errors, size, nullptr)) {
    if (error) *error = data.isEmpty() ? QString("no data") : QString::fromLocal8Bit(errors.message);
    return {};
  }
  QImage image(size, QImage::Format_RGB888);
  if (image.isNull()) {
    if (error) *error = "out of memory";
    return {};
  }
  if (!RunDecoder(data, errors, size, &image)) {
    if (error) *error = QString::fromLocal8Bit(errors.message);
    return {};
  }
  return image;
}

QImage LoadLogo() {
  RegisterAppResources();
  QFile file(":/brennix/logo.jpg");
  if (!file.open(QIODevice::ReadOnly)) return {};
  return DecodeJpeg(file.readAll());
}

}  // namespace brennix
