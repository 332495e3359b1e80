// Drive speeds as the start messages show them: "4.0X (5,540 KB/s)" on the DVD scale
// (1385 KB/s per X), "40X (7,056 KB/s)" on the CD scale (176.4 KB/s per X).
#pragma once

#include <cstdint>
#include <string>

namespace brennix {

std::string FormatSpeedText(bool dvdScale, uint32_t speedKBs);

}  // namespace brennix
