// JPEG decoding through libjpeg-turbo. A damaged picture yields a null image and a reason;
// it never ends the program.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace brennix {

// Pictures larger than this on either side are refused before any pixel memory is taken.
inline constexpr int kMaxJpegSide = 8192;

QImage DecodeJpeg(const QByteArray& data, QString* error = nullptr);

// The splash logo built into the program (null when it cannot be decoded).
QImage LoadLogo();

}  // namespace brennix
