// Byte layouts of the on-disc structures: volume descriptors, directory records, path table
// records, and the packing of records into sectors. Pure functions; each size rule sits next
// to its encoder so the layout and the writer cannot disagree.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/iso_structures.h"

namespace brennix {

// ---- directory records

// Length of a record with an identifier of `idLength` bytes: 33 + L, plus a pad byte when L
// is even, then `systemUse` bytes, padded to keep the length even.
constexpr size_t DirectoryRecordLength(size_t idLength, size_t systemUse = 0) {
  return dr::kHeaderSize + idLength + (idLength % 2 == 0 ? 1 : 0) + systemUse + systemUse % 2;
}
// System-use bytes a record with this identifier can carry within 255 bytes (even length).
constexpr size_t SystemUseRoom(size_t idLength) {
  return DirectoryRecordLength(idLength) >= 254 ? 0 : 254 - DirectoryRecordLength(idLength);
}

constexpr uint8_t kFlagHidden = 0x01;
constexpr uint8_t kFlagDirectory = 0x02;
constexpr uint8_t kFlagMultiExtent = 0x80;

// A file larger than one 32-bit data length is written as several records for consecutive
// extents (ISO 9660 level 3), each of at most this many bytes (whole sectors), all but the
// last with kFlagMultiExtent.
constexpr int64_t kMaxExtentBytes = 0xFFFFF800LL;
constexpr int64_t ExtentCount(int64_t fileSize) {
  return fileSize <= kMaxExtentBytes ? 1 : (fileSize + kMaxExtentBytes - 1) / kMaxExtentBytes;
}

struct DirectoryRecord {
  uint32_t Extent = 0;
  uint32_t DataLength = 0;
  std::array<uint8_t, 7> Date{};  // recording date, see RecordingDate
  uint8_t Flags = 0;
  std::vector<uint8_t> Identifier;
  std::vector<uint8_t> SystemUse;  // after the identifier (and its pad byte)
};

// Appends the record (DirectoryRecordLength(Identifier.size(), SystemUse.size()) bytes). The identifier must be
// at most 222 bytes so that the length fits its byte.
void AppendDirectoryRecord(const DirectoryRecord& record, std::vector<uint8_t>& out);

// Seven bytes: years since 1900, month, day, hour, minute, second (local time, seconds
// truncated), offset from GMT in 15-minute units. Years outside 1900..2155 are clamped.
std::array<uint8_t, 7> RecordingDate(double dateTime, int32_t timeZoneOffset);

// Packs records into sectors: a record never straddles a sector boundary.
class SectorPacker {
 public:
  // Bytes used in the current sector and sectors begun so far.
  void Add(size_t recordLength);
  size_t Sectors() const { return sectors_; }
  // Zero bytes to write before a record of `recordLength` so that it starts whole.
  size_t PaddingBefore(size_t recordLength) const;

 private:
  size_t used_ = 0;
  size_t sectors_ = 0;
};

// ---- path tables

constexpr size_t PathTableRecordLength(size_t idLength) {
  return pt::kHeaderSize + idLength + (idLength % 2 == 1 ? 1 : 0);
}

// `bigEndian` selects the M form.
void AppendPathTableRecord(const std::vector<uint8_t>& identifier, uint32_t extent,
                           uint16_t parentNumber, bool bigEndian, std::vector<uint8_t>& out);

// ---- volume descriptors

struct VolumeDescriptorFields {
  std::string System, Volume, VolumeSet, Publisher, Preparer, Application;
  std::string Copyright, Abstract, Bibliographic;
  uint32_t VolumeSectors = 0;
  uint32_t PathTableSize = 0;
  uint32_t PathTableL = 0, PathTableM = 0;
  uint32_t RootExtent = 0, RootSize = 0;
  double Creation = 0.0, Modification = 0.0;
  bool JolietEscape = false;  // primary: also mark bytes 88-90 as the Joliet one does
};

// Text field of the primary descriptor: ASCII letters upper-cased, every character that is
// not an a-character of the standard (control characters, non-ASCII ones) one "_", cut and
// space-padded.
void PutPrimaryText(uint8_t* p, size_t length, const std::string& text);
// Text field of the Joliet descriptor: `length` bytes hold length / 2 UTF-16BE characters,
// cut between characters; control characters become "_".
void PutJolietText(uint8_t* p, size_t length, const std::string& text);
// 16 ASCII digits and a zero offset byte; zeros when the value is no date.
void PutDateField(uint8_t* p, double dateTime);

std::array<uint8_t, vd::kSize> PrimaryDescriptor(const VolumeDescriptorFields& f);
std::array<uint8_t, vd::kSize> JolietDescriptor(const VolumeDescriptorFields& f);
std::array<uint8_t, vd::kSize> TerminatorDescriptor();

}  // namespace brennix
