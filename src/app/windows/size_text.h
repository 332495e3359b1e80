#pragma once

#include <QString>

namespace brennix {

// A byte count as the program shows it: "1023 bytes", "1.00 KB", "4.59 GB". MB and GB are
// 1,024,000 and 1,024,000,000 bytes; the decimal separator is the user's locale's.
QString SizeToText(double bytes);

}  // namespace brennix
