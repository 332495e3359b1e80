#include "image/rock_ridge.h"

#include <algorithm>
#include <ctime>

#include "image/records.h"

namespace brennix {
namespace {

SuspEntry Header(char a, char b, size_t length) {
  // Sized first, then filled: g++ 12 at -O3 warns about a four-byte list grown by resize().
  SuspEntry e(std::max<size_t>(length, 4), 0);
  e[0] = static_cast<uint8_t>(a);
  e[1] = static_cast<uint8_t>(b);
  e[susp::kLength] = static_cast<uint8_t>(length);
  e[susp::kVersion] = 1;
  return e;
}

void Append(SuspEntry& e, const std::string& text) { e.insert(e.end(), text.begin(), text.end()); }

}  // namespace

SuspEntry SpEntry() {
  SuspEntry e = Header('S', 'P', kSpLength);
  e[4] = 0xBE;
  e[5] = 0xEF;
  return e;
}

SuspEntry ErEntry() {
  const std::string id = "RRIP_1991A";
  const std::string descriptor =
      "THE ROCK RIDGE INTERCHANGE PROTOCOL PROVIDES SUPPORT FOR POSIX FILE SYSTEM SEMANTICS";
  const std::string source =
      "PLEASE CONTACT DISC PUBLISHER FOR THE PROTOCOL'S SOURCE.  SEE PUBLISHER IDENTIFIER IN "
      "PRIMARY VOLUME DESCRIPTOR FOR CONTACT INFORMATION.";
  SuspEntry e = Header('E', 'R', 8);
  e[susp::kLength] = static_cast<uint8_t>(8 + id.size() + descriptor.size() + source.size());
  e[4] = static_cast<uint8_t>(id.size());
  e[5] = static_cast<uint8_t>(descriptor.size());
  e[6] = static_cast<uint8_t>(source.size());
  e[7] = 1;
  Append(e, id);
  Append(e, descriptor);
  Append(e, source);
  return e;
}

SuspEntry CeEntry(uint32_t block, uint32_t offset, uint32_t length) {
  SuspEntry e = Header('C', 'E', kCeLength);
  WriteBoth32(e.data() + susp::kCeBlock, block);
  WriteBoth32(e.data() + susp::kCeOffset, offset);
  WriteBoth32(e.data() + susp::kCeSize, length);
  return e;
}

SuspEntry PxEntry(uint32_t mode, uint32_t links) {
  SuspEntry e = Header('P', 'X', kPxLength);
  WriteBoth32(e.data() + susp::kPxMode, mode);
  WriteBoth32(e.data() + susp::kPxLinks, links);
  // Owner and group stay 0.
  return e;
}

SuspEntry TfEntry(const std::array<uint8_t, 7>& modified) {
  SuspEntry e = Header('T', 'F', kTfLength);
  e[4] = 0x02 | 0x04;  // modify, access
  for (size_t i = 0; i < 7; ++i) e[5 + i] = e[12 + i] = modified[i];
  return e;
}

std::vector<SuspEntry> NmEntries(const std::string& name) {
  std::vector<SuspEntry> out;
  size_t at = 0;
  do {
    const size_t n = std::min(kNmChunk, name.size() - at);
    SuspEntry e = Header('N', 'M', NmLength(n));
    e.resize(5);
    e[4] = at + n < name.size() ? 0x01 : 0x00;  // continues in the next NM
    e.insert(e.end(), name.begin() + static_cast<std::ptrdiff_t>(at),
             name.begin() + static_cast<std::ptrdiff_t>(at + n));
    out.push_back(std::move(e));
    at += n;
  } while (at < name.size());
  return out;
}

SuspEntry ClEntry(uint32_t block) {
  SuspEntry e = Header('C', 'L', kLinkLength);
  WriteBoth32(e.data() + susp::kLinkBlock, block);
  return e;
}

SuspEntry PlEntry(uint32_t block) {
  SuspEntry e = Header('P', 'L', kLinkLength);
  WriteBoth32(e.data() + susp::kLinkBlock, block);
  return e;
}

SuspEntry ReEntry() { return Header('R', 'E', kReLength); }

std::array<uint8_t, 7> RockRidgeDate(int64_t unixSeconds) {
  std::array<uint8_t, 7> d{};
  const time_t t = static_cast<time_t>(unixSeconds);
  struct tm f {};
  if (gmtime_r(&t, &f) == nullptr || f.tm_year < 0) {
    d[0] = 0, d[1] = 1, d[2] = 1;
    return d;
  }
  if (f.tm_year > 255) {
    d = {255, 12, 31, 23, 59, 59, 0};
    return d;
  }
  d[0] = static_cast<uint8_t>(f.tm_year);
  d[1] = static_cast<uint8_t>(f.tm_mon + 1);
  d[2] = static_cast<uint8_t>(f.tm_mday);
  d[3] = static_cast<uint8_t>(f.tm_hour);
  d[4] = static_cast<uint8_t>(f.tm_min);
  d[5] = static_cast<uint8_t>(std::min(f.tm_sec, 59));
  return d;
}

uint32_t RationalFileMode(uint32_t sourceMode) {
  return 0100444 | ((sourceMode & 0111) != 0 ? 0111 : 0);
}

std::vector<SuspEntry> RockRidgeEntries(const RockRidgeRecord& r) {
  std::vector<SuspEntry> out;
  out.reserve(8);  // the most a record carries
  if (r.Root) out.push_back(SpEntry());
  // The summary of the entries that follow, which older readers look for first.
  SuspEntry rr = Header('R', 'R', kRrLength);
  rr[4] = static_cast<uint8_t>(0x01 | 0x80 | (r.Name.empty() ? 0 : 0x08) | (r.ChildLink >= 0 ? 0x10 : 0) |
                               (r.ParentLink >= 0 ? 0x20 : 0) | (r.Relocated ? 0x40 : 0));
  out.push_back(std::move(rr));
  // The name first: readers that follow no continuation area still find it whenever it
  // fits into the record.
  if (!r.Name.empty()) {
    for (SuspEntry& e : NmEntries(r.Name)) out.push_back(std::move(e));
  }
  out.push_back(PxEntry(r.Mode, r.Links));
  out.push_back(TfEntry(r.Modified));
  if (r.ChildLink >= 0) out.push_back(ClEntry(static_cast<uint32_t>(r.ChildLink)));
  if (r.ParentLink >= 0) out.push_back(PlEntry(static_cast<uint32_t>(r.ParentLink)));
  if (r.Relocated) out.push_back(ReEntry());
  if (r.Root) out.push_back(ErEntry());
  return out;
}

SystemUse SplitSystemUse(const std::vector<SuspEntry>& entries, size_t room) {
  SystemUse su;
  size_t total = 0;
  for (const SuspEntry& e : entries) total += e.size();
  su.InRecord.reserve(std::min(total, room));
  size_t i = 0;
  if (total > room) {
    // Whole entries while a CE still fits behind them; the rest continues elsewhere.
    for (; i < entries.size() && su.InRecord.size() + entries[i].size() + kCeLength <= room; ++i)
      su.InRecord.insert(su.InRecord.end(), entries[i].begin(), entries[i].end());
    su.CeOffset = su.InRecord.size();
    const SuspEntry ce = CeEntry(0, 0, 0);
    su.InRecord.insert(su.InRecord.end(), ce.begin(), ce.end());
    for (; i < entries.size(); ++i)
      su.Continuation.insert(su.Continuation.end(), entries[i].begin(), entries[i].end());
    WriteBoth32(su.InRecord.data() + su.CeOffset + susp::kCeSize, static_cast<uint32_t>(su.Continuation.size()));
    return su;
  }
  for (const SuspEntry& e : entries) su.InRecord.insert(su.InRecord.end(), e.begin(), e.end());
  return su;
}

void PutCeLocation(SystemUse& su, uint32_t block, uint32_t offset) {
  if (su.Continuation.empty()) return;
  WriteBoth32(su.InRecord.data() + su.CeOffset + susp::kCeBlock, block);
  WriteBoth32(su.InRecord.data() + su.CeOffset + susp::kCeOffset, offset);
}

}  // namespace brennix
