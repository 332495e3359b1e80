#include "device/disc_answers.h"

#include <algorithm>
#include <cstring>

namespace brennix {

namespace {

// What the drive sent, cut to the length it declares in its first two bytes.
std::span<const uint8_t> ClampToDeclared16(std::span<const uint8_t> answer) {
  if (answer.size() < 2) return {};
  const size_t declared = size_t{ReadBE16(&answer[0])} + 2;
  return answer.first(std::min(declared, answer.size()));
}

bool Matches(const uint8_t* type, uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return type[0] == a && type[1] == b && type[2] == c && type[3] == d;
}

}  // namespace

std::optional<DiscInformation> ParseDiscInformation(std::span<const uint8_t> answer) {
  const auto a = ClampToDeclared16(answer);
  if (a.size() < 5) return std::nullopt;
  DiscInformation d;
  d.Status = a[2] & 0x03;
  d.LastSessionState = (a[2] >> 2) & 0x03;
  d.Erasable = (a[2] & 0x10) != 0;
  d.Sessions = a[4];
  if (a.size() >= 7) d.LastTrackInLastSession = a[6];
  if (a.size() >= 12) d.LastTrackInLastSession |= static_cast<uint16_t>(a[11] << 8);
  return d;
}

std::optional<TrackInformation> ParseTrackInformation(std::span<const uint8_t> answer) {
  const auto a = ClampToDeclared16(answer);
  if (a.size() < 28) return std::nullopt;  // through the track size
  TrackInformation t;
  t.Number = a[2];
  t.Session = a[3];
  t.Damaged = (a[5] & 0x20) != 0;
  t.Reserved = (a[6] & 0x80) != 0;
  t.Blank = (a[6] & 0x40) != 0;
  t.TrackStart = ReadBE32(&a[8]);
  t.NextWritableAddress = ReadBE32(&a[12]);
  t.FreeBlocks = ReadBE32(&a[16]);
  t.FixedPacketSize = ReadBE32(&a[20]);
  t.TrackSize = ReadBE32(&a[24]);
  t.NextWritableValid = (a[7] & 0x01) != 0;
  if (a.size() >= 32) {
    t.LastRecordedAddress = ReadBE32(&a[28]);
    t.LastRecordedValid = (a[7] & 0x02) != 0;
  }
  if (a.size() >= 34) {
    t.Number = static_cast<uint16_t>(t.Number | a[32] << 8);
    t.Session = static_cast<uint16_t>(t.Session | a[33] << 8);
  }
  return t;
}

std::optional<Atip> ParseAtip(std::span<const uint8_t> answer) {
  const auto a = ClampToDeclared16(answer);
  if (a.size() < 7) return std::nullopt;
  Atip atip;
  atip.Present = (a[6] & 0x80) != 0;
  atip.Rewritable = (a[6] & 0x40) != 0;
  if (a.size() >= 15) {
    atip.HasLeadOut = true;
    atip.LeadOutMinutes = a[12];
    atip.LeadOutSeconds = a[13];
    atip.LeadOutFrames = a[14];
  }
  return atip;
}

std::optional<FormatCapacityList> ParseFormatCapacities(std::span<const uint8_t> answer) {
  if (answer.size() < 12) return std::nullopt;
  // Byte 3 is the list length; descriptors beyond it, or beyond what came back, read as 0.
  const size_t declared = size_t{answer[3]} + 4;
  const size_t valid = std::min(declared, answer.size());
  if (valid < 12) return std::nullopt;
  uint8_t b[28] = {};
  std::memcpy(b, answer.data(), std::min<size_t>(valid, sizeof b));
  const std::span<const uint8_t> s(b, sizeof b);
  FormatCapacityList f;
  f.CurrentBlocks = ReadBE32(&s[4]);
  std::memcpy(f.CurrentType, b + 8, 4);
  f.FirstBlocks = ReadBE32(&s[12]);
  std::memcpy(f.FirstType, b + 16, 4);
  f.SecondBlocks = ReadBE32(&s[20]);
  std::memcpy(f.SecondType, b + 24, 4);
  return f;
}

uint32_t FormatCapacityList::ChooseBlocks() const {
  if (Matches(CurrentType, 0x00, 0x00, 0x08, 0x00)) return CurrentBlocks;
  if (Matches(FirstType, 0x00, 0x00, 0x08, 0x00) || Matches(FirstType, 0x98, 0x00, 0x00, 0x00))
    return FirstBlocks;
  if (Matches(SecondType, 0x00, 0x00, 0x08, 0x00)) return SecondBlocks;
  return CurrentBlocks;
}

std::optional<CapacityAnswer> ParseReadCapacity(std::span<const uint8_t> answer) {
  if (answer.size() < kReadCapacityLength) return std::nullopt;
  return CapacityAnswer{ReadBE32(&answer[0]), ReadBE32(&answer[4])};
}

std::optional<BufferCapacity> ParseBufferCapacity(std::span<const uint8_t> answer) {
  if (answer.size() < 12) return std::nullopt;
  BufferCapacity c;
  c.BufferLength = ReadBE32(&answer[4]);
  c.BlankLength = ReadBE32(&answer[8]);
  if (c.BlankLength == 0xFFFFFFFFu) c.BlankLength = c.BufferLength;
  return c;
}

std::optional<uint16_t> ParseCurrentProfile(std::span<const uint8_t> answer) {
  if (answer.size() < 8) return std::nullopt;
  return ReadBE16(&answer[6]);
}

std::optional<uint32_t> ParseLastSessionStart(std::span<const uint8_t> answer) {
  const auto a = ClampToDeclared16(answer);
  if (a.size() < 12) return std::nullopt;
  return ReadBE32(&a[8]);
}

std::optional<uint32_t> ParseVolumeSpaceSize(std::span<const uint8_t> sector) {
  if (sector.size() < 84) return std::nullopt;
  if (sector[0] != 1 && sector[0] != 2) return std::nullopt;
  if (std::memcmp(sector.data() + 1, "CD001", 5) != 0) return std::nullopt;
  return ReadLE32(&sector[80]);  // the little-endian half of the volume space size
}

}  // namespace brennix
