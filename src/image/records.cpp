#include "image/records.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "image/names.h"
#include "platform/date_time.h"

namespace brennix {

void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutBE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
void PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutBE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}
void PutBoth16(uint8_t* p, uint16_t v) {
  PutLE16(p, v);
  PutBE16(p + 2, v);
}
void PutBoth32(uint8_t* p, uint32_t v) {
  PutLE32(p, v);
  PutBE32(p + 4, v);
}

void AppendDirectoryRecord(const DirectoryRecord& r, std::vector<uint8_t>& out) {
  const size_t idLength = std::min<size_t>(r.Identifier.size(), 222);
  const size_t base = DirectoryRecordLength(idLength);
  const size_t systemUse = std::min(r.SystemUse.size(), SystemUseRoom(idLength));
  const size_t length = DirectoryRecordLength(idLength, systemUse);
  const size_t start = out.size();
  out.resize(start + length, 0);
  uint8_t* p = out.data() + start;
  p[0] = static_cast<uint8_t>(length);
  PutBoth32(p + 2, r.Extent);
  PutBoth32(p + 10, r.DataLength);
  std::memcpy(p + 18, r.Date.data(), 7);
  p[25] = r.Flags;
  PutBoth16(p + 28, 1);
  p[32] = static_cast<uint8_t>(idLength);
  if (idLength != 0) std::memcpy(p + 33, r.Identifier.data(), idLength);
  if (systemUse != 0) std::memcpy(p + base, r.SystemUse.data(), systemUse);
}

std::array<uint8_t, 7> RecordingDate(double dateTime, int32_t timeZoneOffset) {
  std::array<uint8_t, 7> d{};
  DateTimeFields f;
  if (!DecodeDateTime(dateTime, f)) f = DateTimeFields();
  if (f.Year < 1900) {
    f = DateTimeFields();
    f.Year = 1900, f.Month = 1, f.Day = 1;
  } else if (f.Year > 2155) {
    f.Year = 2155, f.Month = 12, f.Day = 31, f.Hour = 23, f.Minute = 59, f.Second = 59;
  }
  d[0] = static_cast<uint8_t>(f.Year - 1900);
  d[1] = static_cast<uint8_t>(f.Month);
  d[2] = static_cast<uint8_t>(f.Day);
  d[3] = static_cast<uint8_t>(f.Hour);
  d[4] = static_cast<uint8_t>(f.Minute);
  d[5] = static_cast<uint8_t>(f.Second);
  d[6] = static_cast<uint8_t>(static_cast<int8_t>(std::clamp(timeZoneOffset, -48, 52)));
  return d;
}

size_t SectorPacker::PaddingBefore(size_t recordLength) const {
  if (sectors_ == 0) return 0;
  return used_ + recordLength > kSector ? kSector - used_ : 0;
}

void SectorPacker::Add(size_t recordLength) {
  if (sectors_ == 0 || used_ + recordLength > kSector) {
    ++sectors_;
    used_ = 0;
  }
  used_ += recordLength;
}

void AppendPathTableRecord(const std::vector<uint8_t>& identifier, uint32_t extent,
                           uint16_t parentNumber, bool bigEndian, std::vector<uint8_t>& out) {
  const size_t idLength = std::min<size_t>(identifier.size(), 255);
  const size_t start = out.size();
  out.resize(start + PathTableRecordLength(idLength), 0);
  uint8_t* p = out.data() + start;
  p[0] = static_cast<uint8_t>(idLength);
  if (bigEndian) {
    PutBE32(p + 2, extent);
    PutBE16(p + 6, parentNumber);
  } else {
    PutLE32(p + 2, extent);
    PutLE16(p + 6, parentNumber);
  }
  if (idLength != 0) std::memcpy(p + 8, identifier.data(), idLength);
}

void PutPrimaryText(uint8_t* p, size_t length, const std::string& text) {
  // One character of the field per character of the text (a whole UTF-8 sequence is one),
  // so that nothing is cut in half and only the standard's a-characters reach the disc.
  static constexpr std::string_view kOthers = " !\"%&'()*+,-./:;<=>?_";
  std::string field;
  const std::u16string units = Utf8ToUtf16(AsciiUpper(text));
  for (size_t i = 0; i < units.size() && field.size() < length; ++i) {
    const char16_t u = units[i];
    const bool allowed = (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                         (u < 0x80 && kOthers.find(static_cast<char>(u)) != kOthers.npos);
    field += allowed ? static_cast<char>(u) : '_';
    if (u >= 0xD800 && u <= 0xDBFF) ++i;  // the pair is one character
  }
  for (size_t i = 0; i < length; ++i) p[i] = i < field.size() ? static_cast<uint8_t>(field[i]) : 0x20;
}

void PutJolietText(uint8_t* p, size_t length, const std::string& text) {
  const size_t chars = length / 2;
  std::u16string units = Utf8ToUtf16(text);
  for (char16_t& u : units) {
    if (u < 0x20 || u == 0x7F) u = u'_';
  }
  if (units.size() > chars) {
    units.resize(chars);
    // A pair cut in half would leave a lone surrogate.
    if (!units.empty() && units.back() >= 0xD800 && units.back() <= 0xDBFF) units.back() = u' ';
  }
  units.resize(chars, u' ');
  for (size_t i = 0; i < chars; ++i) PutBE16(p + 2 * i, static_cast<uint16_t>(units[i]));
}

void PutDateField(uint8_t* p, double dateTime) {
  DateTimeFields f;
  char text[40];
  if (DecodeDateTime(dateTime, f)) {
    char ms[8];
    std::snprintf(ms, sizeof ms, "%02d", f.Millisecond);
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d%.2s", f.Year, f.Month, f.Day,
                  f.Hour, f.Minute, f.Second, ms);
  } else {
    std::snprintf(text, sizeof text, "%s", "0000000000000000");
  }
  std::memcpy(p, text, 16);
  p[16] = 0;
}

namespace {

void PutRootRecord(uint8_t* p, uint32_t extent, uint32_t size) {
  p[0] = 34;
  PutBoth32(p + 2, extent);
  PutBoth32(p + 10, size);
  p[25] = kFlagDirectory;
  PutBoth16(p + 28, 1);
  p[32] = 1;
}

void PutZeroDate(uint8_t* p) {
  std::memset(p, '0', 16);
  p[16] = 0;
}

std::array<uint8_t, kSector> Descriptor(const VolumeDescriptorFields& f, bool joliet) {
  std::array<uint8_t, kSector> s{};
  uint8_t* p = s.data();
  p[0] = joliet ? 2 : 1;
  std::memcpy(p + 1, "CD001", 5);
  p[6] = 1;
  auto text = [&](size_t offset, size_t length, const std::string& value) {
    if (joliet) {
      PutJolietText(p + offset, length, value);
    } else {
      PutPrimaryText(p + offset, length, value);
    }
  };
  text(8, 32, f.System);
  text(40, 32, f.Volume);
  PutBoth32(p + 80, f.VolumeSectors);
  if (joliet || f.JolietEscape) {
    p[88] = 0x25;
    p[89] = 0x2F;
    p[90] = 0x40;
  }
  PutBoth16(p + 120, 1);
  PutBoth16(p + 124, 1);
  PutBoth16(p + 128, 2048);
  PutBoth32(p + 132, f.PathTableSize);
  PutLE32(p + 140, f.PathTableL);
  PutBE32(p + 148, f.PathTableM);
  PutRootRecord(p + 156, f.RootExtent, f.RootSize);
  text(190, 128, f.VolumeSet);
  text(318, 128, f.Publisher);
  text(446, 128, f.Preparer);
  text(574, 128, f.Application);
  // The Joliet file identifiers hold 18 characters; their 37th byte stays zero.
  const size_t fileField = joliet ? 36 : 37;
  text(702, fileField, f.Copyright);
  text(739, fileField, f.Abstract);
  text(776, fileField, f.Bibliographic);
  PutDateField(p + 813, f.Creation);
  PutDateField(p + 830, f.Modification);
  PutZeroDate(p + 847);
  PutZeroDate(p + 864);
  p[881] = 1;
  std::memset(p + 1024, 0x20, 8);
  return s;
}

}  // namespace

std::array<uint8_t, kSector> PrimaryDescriptor(const VolumeDescriptorFields& f) {
  return Descriptor(f, false);
}

std::array<uint8_t, kSector> JolietDescriptor(const VolumeDescriptorFields& f) {
  return Descriptor(f, true);
}

std::array<uint8_t, kSector> TerminatorDescriptor() {
  std::array<uint8_t, kSector> s{};
  s[0] = 255;
  std::memcpy(s.data() + 1, "CD001", 5);
  s[6] = 1;
  return s;
}

}  // namespace brennix
