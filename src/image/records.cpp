#include "image/records.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "image/names.h"
#include "platform/date_time.h"

namespace brennix {

void AppendDirectoryRecord(const DirectoryRecord& r, std::vector<uint8_t>& out) {
  const size_t idLength = std::min<size_t>(r.Identifier.size(), 222);
  const size_t base = DirectoryRecordLength(idLength);
  const size_t systemUse = std::min(r.SystemUse.size(), SystemUseRoom(idLength));
  const size_t length = DirectoryRecordLength(idLength, systemUse);
  const size_t start = out.size();
  out.resize(start + length, 0);
  uint8_t* p = out.data() + start;
  p[dr::kLength] = static_cast<uint8_t>(length);
  WriteBoth32(p + dr::kExtent, r.Extent);
  WriteBoth32(p + dr::kDataLength, r.DataLength);
  std::memcpy(p + dr::kDate, r.Date.data(), dr::kDateLength);
  p[dr::kFlags] = r.Flags;
  WriteBoth16(p + dr::kSequenceNumber, 1);
  p[dr::kIdLength] = static_cast<uint8_t>(idLength);
  if (idLength != 0) std::memcpy(p + dr::kId, r.Identifier.data(), idLength);
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
  return used_ + recordLength > vd::kSize ? vd::kSize - used_ : 0;
}

void SectorPacker::Add(size_t recordLength) {
  if (sectors_ == 0 || used_ + recordLength > vd::kSize) {
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
  p[pt::kIdLength] = static_cast<uint8_t>(idLength);
  if (bigEndian) {
    WriteBE32(p + pt::kExtent, extent);
    WriteBE16(p + pt::kParent, parentNumber);
  } else {
    WriteLE32(p + pt::kExtent, extent);
    WriteLE16(p + pt::kParent, parentNumber);
  }
  if (idLength != 0) std::memcpy(p + pt::kId, identifier.data(), idLength);
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
  for (size_t i = 0; i < chars; ++i) WriteBE16(p + 2 * i, units[i]);
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
  std::memcpy(p, text, vd::kDateLength - 1);
  p[vd::kDateLength - 1] = 0;
}

namespace {

void PutRootRecord(uint8_t* p, uint32_t extent, uint32_t size) {
  p[dr::kLength] = dr::kDotLength;
  WriteBoth32(p + dr::kExtent, extent);
  WriteBoth32(p + dr::kDataLength, size);
  p[dr::kFlags] = kFlagDirectory;
  WriteBoth16(p + dr::kSequenceNumber, 1);
  p[dr::kIdLength] = 1;
}

void PutZeroDate(uint8_t* p) {
  std::memset(p, '0', vd::kDateLength - 1);
  p[vd::kDateLength - 1] = 0;
}

void PutDescriptorHead(uint8_t* p, uint8_t type) {
  p[vd::kType] = type;
  std::memcpy(p + vd::kStandardId, "CD001", 5);
  p[vd::kVersion] = 1;
}

std::array<uint8_t, vd::kSize> Descriptor(const VolumeDescriptorFields& f, bool joliet) {
  std::array<uint8_t, vd::kSize> s{};
  uint8_t* p = s.data();
  PutDescriptorHead(p, joliet ? vd::kSupplementary : vd::kPrimary);
  auto text = [&](size_t offset, size_t length, const std::string& value) {
    if (joliet) {
      PutJolietText(p + offset, length, value);
    } else {
      PutPrimaryText(p + offset, length, value);
    }
  };
  text(vd::kSystemId, vd::kIdLength, f.System);
  text(vd::kVolumeId, vd::kIdLength, f.Volume);
  WriteBoth32(p + vd::kVolumeSpaceSize, f.VolumeSectors);
  if (joliet || f.JolietEscape) {
    p[vd::kEscapes] = 0x25;
    p[vd::kEscapes + 1] = 0x2F;
    p[vd::kEscapes + 2] = 0x40;
  }
  WriteBoth16(p + vd::kVolumeSetSize, 1);
  WriteBoth16(p + vd::kSequenceNumber, 1);
  WriteBoth16(p + vd::kBlockSize, kSectorSize);
  WriteBoth32(p + vd::kPathTableSize, f.PathTableSize);
  WriteLE32(p + vd::kPathTableL, f.PathTableL);
  WriteBE32(p + vd::kPathTableM, f.PathTableM);
  PutRootRecord(p + vd::kRootRecord, f.RootExtent, f.RootSize);
  text(vd::kVolumeSetId, vd::kLongIdLength, f.VolumeSet);
  text(vd::kPublisherId, vd::kLongIdLength, f.Publisher);
  text(vd::kPreparerId, vd::kLongIdLength, f.Preparer);
  text(vd::kApplicationId, vd::kLongIdLength, f.Application);
  // The Joliet file identifiers hold 18 characters; their 37th byte stays zero.
  const size_t fileField = joliet ? vd::kFileIdLength - 1 : vd::kFileIdLength;
  text(vd::kCopyrightFile, fileField, f.Copyright);
  text(vd::kAbstractFile, fileField, f.Abstract);
  text(vd::kBibliographicFile, fileField, f.Bibliographic);
  PutDateField(p + vd::kCreation, f.Creation);
  PutDateField(p + vd::kModification, f.Modification);
  PutZeroDate(p + vd::kExpiration);
  PutZeroDate(p + vd::kEffective);
  p[vd::kFileStructureVersion] = 1;
  std::memset(p + 1024, 0x20, 8);
  return s;
}

}  // namespace

std::array<uint8_t, vd::kSize> PrimaryDescriptor(const VolumeDescriptorFields& f) {
  return Descriptor(f, false);
}

std::array<uint8_t, vd::kSize> JolietDescriptor(const VolumeDescriptorFields& f) {
  return Descriptor(f, true);
}

std::array<uint8_t, vd::kSize> TerminatorDescriptor() {
  std::array<uint8_t, vd::kSize> s{};
  PutDescriptorHead(s.data(), vd::kTerminator);
  return s;
}

}  // namespace brennix
