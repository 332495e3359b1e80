#include "app/windows/queue_texts.h"

#include "component/progress_text.h"
#include "platform/disc_units.h"

#include <QLocale>
#include <QMimeData>
#include <QUrl>

#include <cmath>

namespace brennix {

double QueuedBytes = 0;

QString SizeToText(double bytes) {
  QLocale locale;
  // Thousands separators would make "1000.00 KB" read like a different number.
  locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
  const SizeUnit unit = SizeUnitOf(bytes, 1000.0);
  if (unit.Bytes == 1.0)  // NaN lands here too, rather than in a bogus unit
    return locale.toString(bytes, 'f', QLocale::FloatingPointShortest) + " bytes";
  return locale.toString(bytes / unit.Bytes, 'f', 2) + " " + unit.Name;
}

QString QueueSizeCell(int64_t bytes) {
  if (bytes == 0) return QString();
  return QLocale().toString(static_cast<qlonglong>(bytes));
}

QString FolderQueuePath(const QString& folder) {
  QString path = folder;
  if (path.endsWith('/')) path.chop(1);
  return path + '/';
}

QString SizeLineText(double usedBytes, double newBytes) {
  return "Used Disc Space: " + SizeToText(usedBytes + newBytes) + ", New: " + SizeToText(newBytes);
}

DiscScale DiscScaleFor(uint32_t capacitySectors) {
  // nearbyint rounds in the default mode, to the nearest with ties to even.
  const double mb = std::nearbyint(double(capacitySectors) * kSectorSize / 1024.0 / 1024.0);
  return DiscScale{mb, std::nearbyint(mb * 1.2)};
}

QStringList LocalPathsOf(const QMimeData* mime) {
  QStringList paths;
  if (mime == nullptr || !mime->hasUrls()) return paths;
  for (const QUrl& url : mime->urls()) {
    if (!url.isLocalFile()) continue;
    QString path = url.toLocalFile();
    // A folder's address may end with "/"; the queue adds its own.
    while (path.size() > 1 && path.endsWith('/')) path.chop(1);
    if (!path.isEmpty()) paths << path;
  }
  return paths;
}

}  // namespace brennix
