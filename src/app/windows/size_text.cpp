#include "app/windows/size_text.h"

#include <QLocale>

#include "component/progress_text.h"

namespace brennix {

QString SizeToText(double bytes) {
  QLocale locale;
  // Thousands separators would make "1000.00 KB" read like a different number.
  locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
  const SizeUnit unit = SizeUnitOf(bytes, 1000.0);
  if (unit.Bytes == 1.0)  // NaN lands here too, rather than in a bogus unit
    return locale.toString(bytes, 'f', QLocale::FloatingPointShortest) + " bytes";
  return locale.toString(bytes / unit.Bytes, 'f', 2) + " " + unit.Name;
}

}  // namespace brennix
