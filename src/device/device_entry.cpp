#include "device/device_entry.h"

namespace brennix {

std::string DeviceListEntry(uint8_t haId, uint8_t target, uint8_t lun, char letter,
                            const uint8_t* inquiry) {
  std::string entry = std::to_string(haId) + ":" + std::to_string(target) + ":" +
                      std::to_string(lun) + ",";
  entry += letter == 0 ? '?' : letter;
  entry += ": ";
  entry.append(reinterpret_cast<const char*>(inquiry + 8), 28);
  if (inquiry[0] == 4) entry += " (not supported)";
  return entry;
}

namespace {

bool ReadNumber(const std::string& text, size_t& pos, uint8_t& value) {
  unsigned number = 0;
  const size_t start = pos;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    number = number * 10 + static_cast<unsigned>(text[pos] - '0');
    if (number >= 254) return false;
    ++pos;
  }
  if (pos == start) return false;
  value = static_cast<uint8_t>(number);
  return true;
}

}  // namespace

bool ParseDeviceEntry(const std::string& entry, uint8_t& haId, uint8_t& target, uint8_t& lun) {
  size_t pos = 0;
  uint8_t h = 0, t = 0, l = 0;
  if (!ReadNumber(entry, pos, h) || pos >= entry.size() || entry[pos++] != ':') return false;
  if (!ReadNumber(entry, pos, t) || pos >= entry.size() || entry[pos++] != ':') return false;
  if (!ReadNumber(entry, pos, l)) return false;
  if (pos != entry.size() && entry[pos] != ',') return false;
  haId = h;
  target = t;
  lun = l;
  return true;
}

char DeviceEntryLetter(const std::string& entry) {
  const size_t comma = entry.find(',');
  if (comma == std::string::npos || comma + 2 >= entry.size()) return 0;
  if (entry[comma + 2] != ':') return 0;
  return entry[comma + 1];
}

std::string InquiryDeviceName(const uint8_t* inquiry) {
  auto field = [&](unsigned from, unsigned count) {
    std::string text(reinterpret_cast<const char*>(inquiry + from), count);
    for (char& c : text)
      if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return text;
  };
  return field(8, 8) + " " + field(16, 16) + " " + field(32, 4);
}

}  // namespace brennix
