#include "image/session_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "image/names.h"
#include "image/records.h"
#include "platform/date_time.h"

namespace brennix {
namespace {

// Bounds of what one earlier session may ask of us. A folder of 64 MiB holds about a
// million records; the sum keeps a disc of many such folders from reading for hours.
constexpr uint32_t kMaxDescriptors = 64;
constexpr uint64_t kMaxFolderBytes = 64ull << 20;
constexpr uint64_t kMaxBytesRead = 256ull << 20;
// Deeper than any tree a source path of 4096 bytes can give.
constexpr int kMaxDepth = 2048;
constexpr uint64_t kMaxEntries = 2000000;
constexpr int kMaxContinuations = 16;
constexpr uint64_t kMaxContinuationBytes = 512ull << 20;  // scanned, cached sectors included
constexpr size_t kMaxNameBytes = 255;
constexpr size_t kCachedSectors = 1024;

uint64_t SectorsFor(uint64_t bytes) { return (bytes + kSectorSize - 1) / kSectorSize; }

std::string Number(uint64_t v) { return std::to_string(v); }

// ---- dates

// Local calendar fields and an offset in 15-minute units to seconds since 1970 in UTC;
// false when the fields are no date (then the entry simply has no time).
bool UtcSeconds(int year, int month, int day, int hour, int minute, int second, int offset,
                int64_t& out) {
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return false;
  if (offset < -48 || offset > 52) offset = 0;
  out = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second -
        static_cast<int64_t>(offset) * 900;
  return true;
}

bool ShortDate(const uint8_t* p, int64_t& out) {
  return UtcSeconds(1900 + p[0], p[1], p[2], p[3], p[4], p[5], static_cast<int8_t>(p[6]), out);
}

// "YYYYMMDDHHMMSScc" and an offset byte.
bool LongDate(const uint8_t* p, int64_t& out) {
  int v[7] = {};
  const int widths[7] = {4, 2, 2, 2, 2, 2, 2};
  for (int i = 0, at = 0; i < 7; at += widths[i], ++i) {
    for (int k = 0; k < widths[i]; ++k) {
      const uint8_t c = p[at + k];
      if (c < '0' || c > '9') return false;
      v[i] = v[i] * 10 + (c - '0');
    }
  }
  return UtcSeconds(v[0], v[1], v[2], v[3], v[4], v[5], static_cast<int8_t>(p[vd::kDateLength - 1]), out);
}

// ---- names

void AppendUtf8(uint32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool ValidUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const size_t n = Utf8At(s, i).Length;
    if (n == 0) return false;
    i += n;
  }
  return true;
}

// A name as it may stand in a message: invalid bytes and control characters become "?".
std::string Printable(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    const size_t n = Utf8At(s, i).Length;
    if (n == 0 || static_cast<uint8_t>(s[i]) < 0x20 || s[i] == 0x7F) {
      out += '?';
      i += n == 0 ? 1 : n;
    } else {
      out.append(s, i, n);
      i += n;
    }
  }
  return out;
}

// UCS-2 big-endian with surrogate pairs to UTF-8; false (with "?" in place) when a
// surrogate stands alone or the length is odd.
bool JolietToUtf8(const std::string& id, std::string& out) {
  bool valid = id.size() % 2 == 0;
  const size_t units = id.size() / 2;
  const auto unit = [&](size_t k) {
    return static_cast<uint32_t>(static_cast<uint8_t>(id[2 * k])) << 8 | static_cast<uint8_t>(id[2 * k + 1]);
  };
  for (size_t k = 0; k < units; ++k) {
    const uint32_t u = unit(k);
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units && unit(k + 1) >= 0xDC00 && unit(k + 1) <= 0xDFFF) {
      AppendUtf8(0x10000 + ((u - 0xD800) << 10) + (unit(k + 1) - 0xDC00), out);
      ++k;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      out += '?';
      valid = false;
    } else {
      AppendUtf8(u, out);
    }
  }
  return valid;
}

// File identifiers end in ";" and a version number, which is no part of the name.
void DropVersion(std::string& name) {
  const size_t semicolon = name.rfind(';');
  if (semicolon == std::string::npos || semicolon + 1 == name.size() || name.size() - semicolon > 6) return;
  for (size_t i = semicolon + 1; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return;
  }
  name.resize(semicolon);
}

// Empty when the name may stand in the new tree, else why not.
std::string NameFault(const std::string& name) {
  if (name.empty()) return "IS EMPTY";
  if (name == "." || name == "..") return "IS A DOT NAME";
  if (name.size() > kMaxNameBytes) return "IS LONGER THAN 255 BYTES";
  if (!ValidUtf8(name)) return "IS NOT VALID UTF-8";
  if (name.find('\0') != std::string::npos) return "HOLDS A NUL CHARACTER";
  if (name.find('/') != std::string::npos) return "HOLDS A SLASH";
  return std::string();
}

// ---- system use entries

struct RockRidgeInfo {
  bool HasSp = false;
  uint8_t SkipBytes = 0;  // SP: bytes before the entries of every other record
  bool HasRr = false;
  bool HasRripEr = false;
  bool HasEr = false;
  bool HasName = false;
  bool NameTooLong = false;
  bool NameSpecial = false;  // NM for "." or ".." on an entry
  std::string Name;
  bool HasMode = false;
  uint32_t Mode = 0;
  bool HasTime = false;
  int64_t ModTime = 0;
  int64_t ChildLink = -1;
  bool Relocated = false;
  bool Symlink = false;
};

struct Continuation {
  bool Present = false;
  uint32_t Block = 0, Offset = 0, Length = 0;
};

void ScanTimes(const uint8_t* e, size_t len, RockRidgeInfo& info) {
  if (len < 5) return;
  const uint8_t flags = e[4];
  const size_t stamp = (flags & 0x80) != 0 ? 17 : 7;
  size_t at = 5;
  for (int bit = 0; bit < 7; ++bit) {
    if ((flags & (1 << bit)) == 0) continue;
    if (at + stamp > len) return;
    if (bit == 1) {
      int64_t t = 0;
      if (stamp == 17 ? LongDate(e + at, t) : ShortDate(e + at, t)) info.ModTime = t, info.HasTime = true;
      return;
    }
    at += stamp;
  }
}

// One system-use area: the entries this reader uses, and where the area continues. ST ends
// the area. False when an entry's length is impossible and what follows is not padding:
// the entries are not where the tree says (or are damaged).
bool ScanArea(const uint8_t* p, size_t n, RockRidgeInfo& info, Continuation& next) {
  size_t at = 0;
  while (at + 4 <= n) {
    const uint8_t* e = p + at;
    const size_t len = e[susp::kLength];
    if (len < 4 || len > n - at) return std::all_of(e, p + n, [](uint8_t b) { return b == 0; });
    const auto is = [&](const char* sig) { return e[0] == sig[0] && e[1] == sig[1]; };
    if (is("ST")) return true;
    if (is("SP") && len >= 7 && e[4] == 0xBE && e[5] == 0xEF) {
      info.HasSp = true;
      info.SkipBytes = e[6];
    } else if (is("CE") && len >= 28) {
      next = Continuation{true, ReadLE32(e + susp::kCeBlock), ReadLE32(e + susp::kCeOffset),
                          ReadLE32(e + susp::kCeSize)};
    } else if (is("ER") && len >= 8) {
      info.HasEr = true;
      const size_t idLength = e[4];
      if (8 + idLength <= len) {
        const std::string id(reinterpret_cast<const char*>(e + 8), idLength);
        if (id.rfind("RRIP_", 0) == 0 || id.rfind("IEEE_P1282", 0) == 0 || id.rfind("IEEE_1282", 0) == 0)
          info.HasRripEr = true;
      }
    } else if (is("RR")) {
      info.HasRr = true;
    } else if (is("NM") && len >= 5) {
      info.HasName = true;
      if ((e[4] & 0x06) != 0) info.NameSpecial = true;
      if (info.Name.size() + (len - 5) > kMaxNameBytes) {
        info.NameTooLong = true;
      } else {
        info.Name.append(reinterpret_cast<const char*>(e + 5), len - 5);
      }
    } else if (is("PX") && len >= 12) {
      info.HasMode = true;
      info.Mode = ReadLE32(e + susp::kPxMode);
    } else if (is("TF")) {
      ScanTimes(e, len, info);
    } else if (is("CL") && len >= 12) {
      info.ChildLink = ReadLE32(e + susp::kLinkBlock);
    } else if (is("RE")) {
      info.Relocated = true;
    } else if (is("SL")) {
      info.Symlink = true;
    }
    at += len;
  }
  return true;
}

// ---- the directory records of one folder

// A "." record (the first of every folder) starts at p.
bool IsDotRecord(const uint8_t* p) {
  return p[dr::kLength] >= dr::kDotLength && p[dr::kIdLength] == 1 && p[dr::kId] == 0;
}

struct RawRecord {
  uint32_t Extent = 0;  // where the data begins (after any extended attribute record)
  uint32_t Length = 0;
  uint8_t Flags = 0;
  std::array<uint8_t, 7> Date{};
  std::string Id;
  RockRidgeInfo Rr;
  bool Dot() const { return Id.size() == 1 && (Id[0] == '\0' || Id[0] == '\1'); }
};

enum class Tree { RockRidge, Joliet, Iso };

struct FolderToRead {
  size_t Index = 0;  // in the parent's Children
  uint32_t Extent = 0, Size = 0;
  bool Linked = false;  // a CL entry: the size is in the folder's own "." record
};

class Reader {
 public:
  Reader(const TSectorReader& read, const TEarlierSessionBounds& bounds, std::string& error)
      : read_(read), discSectors_(bounds.DiscSectors), recorded_(bounds.Recorded), error_(error) {}
  bool NoVolume() const { return !rootReached_; }

  bool Run(uint32_t sessionStart, TImportedSession& out);

 private:
  bool Fail(const std::string& why) {
    error_ = std::string(kEarlierSessionErrorPrefix) + why;
    return false;
  }
  bool Read(uint32_t sector, uint32_t count, std::vector<uint8_t>& out);
  bool Within(uint64_t sector, uint64_t sectors) const { return sector + sectors <= discSectors_; }
  bool Recorded(uint64_t sector, uint64_t sectors) const {
    if (recorded_.empty()) return true;
    for (const TSectorRange& r : recorded_) {
      if (sector >= r.Start && sector + sectors <= r.End) return true;
    }
    return false;
  }
  bool SystemUse(const uint8_t* p, size_t n, RockRidgeInfo& info, const std::string& folder);
  bool ParseRecords(const std::vector<uint8_t>& bytes, uint32_t size, const std::string& path,
                    std::vector<RawRecord>& out);
  bool ReadFolder(TImportedEntry& dir, uint32_t extent, uint32_t size, bool linked,
                  const std::string& path, int depth, bool& relocationFolder);
  bool AddEntries(TImportedEntry& dir, std::vector<RawRecord>& records, const std::string& path,
                  std::vector<FolderToRead>& folders, size_t& relocatedSeen);
  std::string NameOf(const RawRecord& r, bool isDir, std::string& fault) const;
  // The hidden folder at extent holds only moved folders, each linked from its place.
  bool MovedFoldersAllLinked(uint32_t extent);

  const TSectorReader& read_;
  const uint32_t discSectors_;
  const std::vector<TSectorRange>& recorded_;
  std::string& error_;
  bool rootReached_ = false;  // the descriptors were read and the root folder is being read
  std::unordered_set<uint32_t> relocated_, linked_;  // folders moved away, and CL targets
  Tree tree_ = Tree::Iso;
  uint8_t skipBytes_ = 0;
  uint64_t bytesRead_ = 0;
  uint64_t entries_ = 0;
  uint64_t continuationBytes_ = 0;
  std::unordered_set<uint32_t> foldersRead_;
  std::unordered_map<uint32_t, std::vector<uint8_t>> cache_;  // sectors of continuation areas
  TImportedSession* session_ = nullptr;
};

bool Reader::Read(uint32_t sector, uint32_t count, std::vector<uint8_t>& out) {
  out.assign(static_cast<size_t>(count) * kSectorSize, 0);
  std::string why;
  if (!read_(sector, count, out.data(), why)) {
    return Fail("READ ERROR AT SECTOR " + Number(sector) + (why.empty() ? "" : ": " + why));
  }
  bytesRead_ += out.size();
  if (bytesRead_ > kMaxBytesRead) return Fail("ITS FOLDERS HOLD MORE THAN 256 MIB OF RECORDS");
  return true;
}

// The entries of one record's system-use area and of the continuation areas it leads to.
bool Reader::SystemUse(const uint8_t* p, size_t n, RockRidgeInfo& info, const std::string& folder) {
  Continuation next;
  const auto record = [&] { return "THE ROCK RIDGE ENTRIES OF A RECORD IN FOLDER " + folder; };
  // Before the tree is known to be Rock Ridge, the area may hold another format's bytes.
  const bool strict = tree_ == Tree::RockRidge;
  if (!ScanArea(p, n, info, next) && strict) return Fail(record() + " ARE DAMAGED");
  for (int hops = 0; next.Present; ++hops) {
    if (hops == kMaxContinuations) return Fail(record() + " CONTINUE TOO OFTEN");
    const Continuation ce = next;
    // A continuation area lies within one sector, as readers of these discs expect.
    if (ce.Offset >= vd::kSize || ce.Length > vd::kSize - ce.Offset)
      return Fail(record() + " CONTINUE ACROSS A SECTOR");
    if (!Within(ce.Block, 1)) return Fail(record() + " POINT PAST THE END OF THE DISC");
    continuationBytes_ += ce.Length;
    if (continuationBytes_ > kMaxContinuationBytes) return Fail("ITS ROCK RIDGE ENTRIES RUN TOO LONG");
    auto it = cache_.find(ce.Block);
    if (it == cache_.end()) {
      std::vector<uint8_t> sector;
      if (!Read(ce.Block, 1, sector)) return false;
      if (cache_.size() == kCachedSectors) cache_.clear();
      it = cache_.emplace(ce.Block, std::move(sector)).first;
    }
    next = Continuation{};
    if (!ScanArea(it->second.data() + ce.Offset, ce.Length, info, next) && strict)
      return Fail(record() + " ARE DAMAGED");
  }
  return true;
}

bool Reader::ParseRecords(const std::vector<uint8_t>& bytes, uint32_t size, const std::string& path,
                          std::vector<RawRecord>& out) {
  for (size_t sector = 0; sector * vd::kSize < size; ++sector) {
    size_t at = sector * vd::kSize;
    const size_t end = std::min<size_t>(size, at + vd::kSize);
    // A zero length byte: the rest of the sector is padding, and holds nothing else.
    while (at < end) {
      const uint8_t* p = bytes.data() + at;
      const size_t len = p[dr::kLength];
      if (len == 0) {
        if (!std::all_of(p, bytes.data() + end, [](uint8_t b) { return b == 0; }))
          return Fail("A RECORD IN FOLDER " + path + " HAS A LENGTH OF 0");
        break;
      }
      if (len > end - at) return Fail("A RECORD IN FOLDER " + path + " RUNS PAST THE END OF ITS SECTOR");
      if (len < dr::kDotLength || dr::kHeaderSize + p[dr::kIdLength] > len)
        return Fail("A RECORD IN FOLDER " + path + " IS TOO SHORT FOR ITS CONTENTS");
      RawRecord r;
      // The data begins after any extended attribute record.
      const uint64_t extent = static_cast<uint64_t>(ReadLE32(p + dr::kExtent)) + p[dr::kExtAttrLength];
      if (extent > UINT32_MAX) return Fail("A RECORD IN FOLDER " + path + " POINTS PAST THE END OF THE DISC");
      r.Extent = static_cast<uint32_t>(extent);
      r.Length = ReadLE32(p + dr::kDataLength);
      std::memcpy(r.Date.data(), p + dr::kDate, dr::kDateLength);
      r.Flags = p[dr::kFlags];
      const size_t idLength = p[dr::kIdLength];
      r.Id.assign(reinterpret_cast<const char*>(p + dr::kId), idLength);
      if (!r.Dot() && ++entries_ > kMaxEntries)
        return Fail("IT HOLDS MORE THAN " + Number(kMaxEntries) + " ENTRIES");
      // Of "." and "..", only the first record says anything (the root's time).
      if (r.Dot() && !out.empty()) {
        at += len;
        continue;
      }
      if (tree_ == Tree::RockRidge) {
        const size_t su = DirectoryRecordLength(idLength) + skipBytes_;
        if (su < len && !SystemUse(p + su, len - su, r.Rr, path)) return false;
      }
      out.push_back(std::move(r));
      at += len;
    }
  }
  return true;
}

std::string Reader::NameOf(const RawRecord& r, bool isDir, std::string& fault) const {
  std::string name;
  if (tree_ == Tree::RockRidge && r.Rr.HasName) {
    if (r.Rr.NameTooLong) fault = "IS LONGER THAN 255 BYTES";
    if (r.Rr.NameSpecial) fault = "IS A DOT NAME";
    name = r.Rr.Name;
  } else {
    if (tree_ != Tree::Joliet) {
      name = r.Id;
    } else if (!JolietToUtf8(r.Id, name)) {
      fault = "IS NOT VALID UCS-2";
    }
    // "README.;1" stands for README.
    if (!isDir) {
      DropVersion(name);
      if (!name.empty() && name.back() == '.') name.pop_back();
    }
  }
  if (fault.empty()) fault = NameFault(name);
  return name;
}

bool Reader::AddEntries(TImportedEntry& dir, std::vector<RawRecord>& records, const std::string& path,
                        std::vector<FolderToRead>& folders, size_t& relocatedSeen) {
  const bool rr = tree_ == Tree::RockRidge;
  std::unordered_set<std::string> names;
  for (size_t i = 0; i < records.size(); ++i) {
    const RawRecord& r = records[i];
    if (r.Dot()) continue;
    // A folder moved here to keep the tree shallow is listed where its CL entry stands.
    if (rr && r.Rr.Relocated) {
      ++relocatedSeen;
      relocated_.insert(r.Extent);
      continue;
    }
    const bool isDir = (r.Flags & kFlagDirectory) != 0 || (rr && r.Rr.ChildLink >= 0);
    std::string fault;
    const std::string name = NameOf(r, isDir, fault);
    // Only a message needs the path.
    const auto where = [&] { return (path == "/" ? "" : path) + "/" + Printable(name); };
    // The parts of a file of 4 GiB and more follow one another under one identifier.
    size_t last = i;
    while (!isDir && (records[last].Flags & kFlagMultiExtent) != 0) {
      if (last + 1 == records.size() || records[last + 1].Id != r.Id ||
          (records[last + 1].Flags & kFlagDirectory) != 0)
        return Fail("FILE " + where() + " ENDS WITHOUT ITS LAST PART");
      ++last;
    }
    const size_t first = i;
    i = last;
    if ((r.Flags & 0x04) != 0) {  // an associated file (a resource fork): no file of its own
      session_->LeftOut.push_back(where() + ": AN ASSOCIATED FILE");
      continue;
    }
    const uint32_t type = r.Rr.Mode & 0170000;
    if (rr && !isDir && (r.Rr.Symlink || (r.Rr.HasMode && type != 0100000 && type != 0))) {
      session_->LeftOut.push_back(where() + ": NOT A REGULAR FILE");
      continue;
    }
    if (!fault.empty()) return Fail("THE NAME OF " + where() + " " + fault);
    if (!names.insert(name).second)
      return Fail("FOLDER " + path + " HOLDS TWO ENTRIES NAMED " + Printable(name));
    TImportedEntry e;
    e.Name = name;
    e.IsDir = isDir;
    e.Hidden = (r.Flags & kFlagHidden) != 0;
    if (rr && r.Rr.HasTime) {
      e.ModTime = r.Rr.ModTime;
    } else if (!ShortDate(r.Date.data(), e.ModTime)) {
      e.ModTime = 0;
    }
    if (rr && r.Rr.HasMode) e.Mode = r.Rr.Mode & 07777;
    if (isDir) {
      const bool linked = rr && r.Rr.ChildLink >= 0;
      const uint32_t at = linked ? static_cast<uint32_t>(r.Rr.ChildLink) : r.Extent;
      folders.push_back(FolderToRead{dir.Children.size(), at, linked ? 0 : r.Length, linked});
    } else {
      for (size_t k = first; k <= last; ++k) {
        const RawRecord& part = records[k];
        if (part.Length == 0) continue;
        if (!Within(part.Extent, SectorsFor(part.Length)))
          return Fail("FILE " + where() + " POINTS PAST THE END OF THE DISC");
        e.Extents.push_back(TImportedExtent{part.Extent, part.Length});
        e.Size += part.Length;
      }
      // A recording that ended early may name data that never reached the disc.
      const bool whole = std::all_of(e.Extents.begin(), e.Extents.end(), [&](const TImportedExtent& x) {
        return Recorded(x.Sector, SectorsFor(x.Bytes));
      });
      if (!whole) {
        session_->LeftOut.push_back(where() + ": " + kNotWholeText);
        continue;
      }
    }
    dir.Children.push_back(std::move(e));
  }
  return true;
}

bool Reader::ReadFolder(TImportedEntry& dir, uint32_t extent, uint32_t size, bool linked,
                        const std::string& path, int depth, bool& relocationFolder) {
  if (depth > kMaxDepth)
    return Fail("FOLDER " + path + " LIES MORE THAN " + Number(kMaxDepth) + " LEVELS DEEP");
  if (!Within(extent, 1)) return Fail("FOLDER " + path + " POINTS PAST THE END OF THE DISC");
  if (!foldersRead_.insert(extent).second)
    return Fail("FOLDER " + path + " LEADS BACK TO A FOLDER READ BEFORE");
  std::vector<uint8_t> bytes;
  if (linked) {
    linked_.insert(extent);
    if (!Read(extent, 1, bytes)) return false;
    const uint8_t* p = bytes.data();
    if (!IsDotRecord(p) || (p[dr::kFlags] & kFlagDirectory) == 0)
      return Fail("FOLDER " + path + " IS LINKED TO A PLACE THAT HOLDS NO FOLDER");
    size = ReadLE32(p + dr::kDataLength);
  }
  if (size == 0) return Fail("FOLDER " + path + " HAS NO RECORDS");
  if (size > kMaxFolderBytes) return Fail("FOLDER " + path + " IS LARGER THAN 64 MIB");
  const uint32_t count = static_cast<uint32_t>(SectorsFor(size));
  if (!Within(extent, count)) return Fail("FOLDER " + path + " POINTS PAST THE END OF THE DISC");
  if ((!linked || count > 1) && !Read(extent, count, bytes)) return false;
  std::vector<RawRecord> records;
  if (!ParseRecords(bytes, size, path, records)) return false;
  bytes = {};
  if (depth == 0 && !records.empty() && records[0].Dot()) {
    const RawRecord& dot = records[0];
    if (tree_ == Tree::RockRidge && dot.Rr.HasTime) {
      dir.ModTime = dot.Rr.ModTime;
    } else if (!ShortDate(dot.Date.data(), dir.ModTime)) {
      dir.ModTime = 0;
    }
    if (tree_ == Tree::RockRidge && dot.Rr.HasMode) dir.Mode = dot.Rr.Mode & 07777;
  }
  std::vector<FolderToRead> folders;
  size_t relocatedSeen = 0;
  if (!AddEntries(dir, records, path, folders, relocatedSeen)) return false;
  records = {};
  std::vector<size_t> drop;
  for (const FolderToRead& f : folders) {
    TImportedEntry& child = dir.Children[f.Index];
    bool relocation = false;
    const std::string childPath = (path == "/" ? "" : path) + "/" + child.Name;
    if (!ReadFolder(child, f.Extent, f.Size, f.Linked, childPath, depth + 1, relocation)) return false;
    if (relocation) drop.push_back(f.Index);
  }
  for (auto it = drop.rbegin(); it != drop.rend(); ++it)
    dir.Children.erase(dir.Children.begin() + static_cast<std::ptrdiff_t>(*it));
  // The folder that holds the moved folders is no folder of the user's.
  relocationFolder = relocatedSeen > 0 && dir.Children.empty();
  return true;
}

bool Reader::MovedFoldersAllLinked(uint32_t extent) {
  std::vector<uint8_t> bytes;
  if (!Within(extent, 1) || !Read(extent, 1, bytes)) return false;
  const uint8_t* p = bytes.data();
  if (!IsDotRecord(p)) return false;
  const uint32_t size = ReadLE32(p + dr::kDataLength);
  if (size == 0 || size > kMaxFolderBytes) return false;
  const auto count = static_cast<uint32_t>(SectorsFor(size));
  if (!Within(extent, count) || (count > 1 && !Read(extent, count, bytes))) return false;
  std::vector<RawRecord> records;
  const std::string path = "AT SECTOR " + Number(extent);
  if (!ParseRecords(bytes, size, path, records)) return false;
  size_t folders = 0;
  for (const RawRecord& r : records) {
    if (r.Dot()) continue;
    if ((r.Flags & kFlagDirectory) == 0) return false;
    if (linked_.count(r.Extent) == 0 && relocated_.count(r.Extent) == 0) return false;
    ++folders;
  }
  return folders > 0;
}

bool RootUsable(const uint8_t* d) {
  const uint8_t* root = d + vd::kRootRecord;
  return ReadLE16(d + vd::kBlockSize) == kSectorSize && root[dr::kLength] >= dr::kDotLength &&
         (root[dr::kFlags] & kFlagDirectory) != 0 && ReadLE32(root + dr::kDataLength) != 0;
}

void Count(const TImportedEntry& dir, TImportedSession& out) {
  for (const TImportedEntry& e : dir.Children) {
    if (e.IsDir) {
      ++out.DirCount;
      Count(e, out);
    } else {
      ++out.FileCount;
    }
  }
}

bool Reader::Run(uint32_t sessionStart, TImportedSession& out) {
  session_ = &out;
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> primary, joliet;
  const uint64_t first = static_cast<uint64_t>(sessionStart) + vd::kFirstSector;
  for (uint32_t i = 0; i < kMaxDescriptors; ++i) {
    if (!Within(first + i, 1)) {
      if (i == 0) return Fail("THE DISC ENDS BEFORE SECTOR " + Number(first));
      break;
    }
    if (!Read(static_cast<uint32_t>(first + i), 1, bytes)) return false;
    if (std::memcmp(bytes.data() + vd::kStandardId, "CD001", 5) != 0) {
      if (i == 0) return Fail("NO ISO 9660 VOLUME BEGINS AT SECTOR " + Number(first));
      break;
    }
    const uint8_t type = bytes[vd::kType];
    if (type == vd::kTerminator) break;
    const uint8_t* escapes = bytes.data() + vd::kEscapes;
    if (type == vd::kPrimary && primary.empty() && bytes[vd::kVersion] == 1) primary = bytes;
    if (type == vd::kSupplementary && joliet.empty() && bytes[vd::kVersion] == 1 && escapes[0] == 0x25 &&
        escapes[1] == 0x2F && (escapes[2] == 0x40 || escapes[2] == 0x43 || escapes[2] == 0x45))
      joliet = bytes;
  }
  if (primary.empty()) return Fail("THE VOLUME AT SECTOR " + Number(first) + " HAS NO PRIMARY DESCRIPTOR");
  if (ReadLE16(primary.data() + vd::kBlockSize) != kSectorSize)
    return Fail("THE VOLUME USES BLOCKS OF " + Number(ReadLE16(primary.data() + vd::kBlockSize)) + " BYTES");
  if (!RootUsable(primary.data())) return Fail("THE ROOT FOLDER RECORD OF THE VOLUME IS DAMAGED");
  std::string id(reinterpret_cast<const char*>(primary.data() + vd::kVolumeId), vd::kIdLength);
  while (!id.empty() && (id.back() == ' ' || id.back() == '\0')) id.pop_back();
  out.VolumeId = Printable(id);
  out.VolumeSectors = ReadLE32(primary.data() + vd::kVolumeSpaceSize);

  // Rock Ridge when the root's own record starts the entries and says which protocol they
  // follow (discs of before the ER entry carry RR instead).
  const uint32_t isoRoot = ReadLE32(primary.data() + vd::kRootRecord + dr::kExtent);
  if (!Within(isoRoot, 1)) return Fail("FOLDER / POINTS PAST THE END OF THE DISC");
  if (!Read(isoRoot, 1, bytes)) return false;
  rootReached_ = true;
  const uint8_t* dot = bytes.data();
  if (IsDotRecord(dot)) {
    RockRidgeInfo info;
    if (!SystemUse(dot + dr::kDotLength, dot[dr::kLength] - dr::kDotLength, info, "/")) return false;
    if (info.HasSp && (info.HasRripEr || (!info.HasEr && info.HasRr))) {
      tree_ = Tree::RockRidge;
      skipBytes_ = info.SkipBytes;
    }
  }
  if (tree_ != Tree::RockRidge && !joliet.empty() && RootUsable(joliet.data())) tree_ = Tree::Joliet;
  const uint8_t* root = (tree_ == Tree::Joliet ? joliet : primary).data() + vd::kRootRecord;
  out.TreeRead = tree_ == Tree::RockRidge ? "Rock Ridge" : tree_ == Tree::Joliet ? "Joliet" : "ISO 9660";
  out.Root.Name = "/";
  out.Root.IsDir = true;
  bool relocation = false;
  if (!ReadFolder(out.Root, ReadLE32(root + dr::kExtent), ReadLE32(root + dr::kDataLength), false, "/", 0, relocation)) return false;
  // A folder moved to keep the tree shallow belongs where a link to it stands; without one,
  // its files would be lost from sight. A hidden folder that nothing links to may only be
  // the one that holds the moved folders, each of them linked.
  for (const uint32_t moved : relocated_) {
    if (linked_.count(moved) != 0) continue;
    if (!MovedFoldersAllLinked(moved))
      return error_.empty() ? Fail("THE FOLDER MOVED TO SECTOR " + Number(moved) + " HAS NO LINK TO ITS PLACE")
                            : false;
  }
  Count(out.Root, out);
  return true;
}

}  // namespace

bool ReadEarlierSession(const TSectorReader& read, uint32_t sessionStart, uint32_t discSectors,
                        TImportedSession& out, std::string& error) {
  TEarlierSessionBounds bounds;
  bounds.DiscSectors = discSectors;
  return ReadEarlierSession(read, sessionStart, bounds, out, error);
}

bool ReadEarlierSession(const TSectorReader& read, uint32_t sessionStart,
                        const TEarlierSessionBounds& bounds, TImportedSession& out,
                        std::string& error, TEarlierSessionFailure* failure) {
  out = TImportedSession{};
  error.clear();
  if (failure != nullptr) *failure = TEarlierSessionFailure{};
  Reader reader(read, bounds, error);
  // Within the bounds above a tree can still need some hundred MiB; a machine without them
  // gets a message, not an exception through the component.
  try {
    if (reader.Run(sessionStart, out)) return true;
    if (failure != nullptr) failure->NoVolume = reader.NoVolume();
  } catch (const std::bad_alloc&) {
    error = std::string(kEarlierSessionErrorPrefix) + "NOT ENOUGH MEMORY FOR ITS FOLDERS";
  }
  out = TImportedSession{};
  return false;
}

}  // namespace brennix
