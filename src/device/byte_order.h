// Drive data is big-endian on the wire and converted right after each read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/disc_units.h"

namespace brennix {

constexpr uint16_t Swap16(uint16_t value) {
  return static_cast<uint16_t>((value >> 8) | (value << 8));
}

constexpr uint32_t Swap32(uint32_t value) {
  return (value >> 24) | ((value >> 8) & 0x0000FF00u) | ((value << 8) & 0x00FF0000u) | (value << 24);
}

// Dest[Count-1-i] := Source[i]: loads a big-endian field of any width into host order (on a
// little-endian host) and back.
inline void ReverseCopy(const void* Source, void* Dest, size_t Count) {
  const auto* s = static_cast<const uint8_t*>(Source);
  auto* d = static_cast<uint8_t*>(Dest);
  for (size_t i = 0; i < Count; ++i) d[Count - 1 - i] = s[i];
}

}  // namespace brennix
