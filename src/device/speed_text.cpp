#include "device/speed_text.h"

#include <cstdio>

namespace brennix {

namespace {

std::string WithThousands(uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string out;
  const size_t n = digits.size();
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

}  // namespace

std::string FormatSpeedText(bool dvdScale, uint32_t speedKBs) {
  char factor[32];
  if (dvdScale) {
    std::snprintf(factor, sizeof factor, "%.1fX", speedKBs / 1385.0);
  } else {
    std::snprintf(factor, sizeof factor, "%.0fX", speedKBs / 176.4);
  }
  return std::string(factor) + " (" + WithThousands(speedKBs) + " KB/s)";
}

}  // namespace brennix
