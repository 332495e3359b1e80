#include "app/windows/size_text.h"

#include <QLocale>

namespace brennix {

QString SizeToText(double bytes) {
  QLocale locale;
  // Thousands separators would make "1000.00 KB" read like a different number.
  locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
  if (!(bytes >= 1024.0))  // NaN lands here too, rather than in a bogus unit
    return locale.toString(bytes, 'f', QLocale::FloatingPointShortest) + " bytes";
  if (bytes < 1024000.0) return locale.toString(bytes / 1024.0, 'f', 2) + " KB";
  if (bytes < 1024000000.0) return locale.toString(bytes / 1024000.0, 'f', 2) + " MB";
  return locale.toString(bytes / 1024000000.0, 'f', 2) + " GB";
}

}  // namespace brennix
