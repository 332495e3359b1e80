// Sizes as the program shows them, the burn queue's texts and sums, and what a drop on the
// queue offers, as plain functions.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

class QMimeData;

namespace brennix {

// The queue's byte total, rewritten by every size update of the main window and read by
// the burn dialog's confirmation.
extern double QueuedBytes;

// A byte count as the program shows it: "1023 bytes", "1.00 KB", "4.59 GB". MB and GB are
// 1,024,000 and 1,024,000,000 bytes; the decimal separator is the user's locale's.
QString SizeToText(double bytes);

// The queue's "Size " cell: the byte count with the locale's thousands separators, no
// decimals; empty for 0.
QString QueueSizeCell(int64_t bytes);

// A folder as the queue holds it: one trailing "/" (the root stays "/").
QString FolderQueuePath(const QString& folder);

// The size line under the queue: what the disc will hold after the burn, and what it adds.
QString SizeLineText(double usedBytes, double newBytes);

// The usage bar's scale for a disc of the given capacity in 2048-byte sectors: the capacity
// in MB, and a full scale 20 % past it. Both rounded to the nearest MB, ties to even.
struct DiscScale {
  double MaxCDSize = 0;
  double MaxMemory = 0;
};
DiscScale DiscScaleFor(uint32_t capacitySectors);

// The local files and folders that a drop offers (a file manager's text/uri-list); other
// addresses are left out.
QStringList LocalPathsOf(const QMimeData* mime);

}  // namespace brennix
