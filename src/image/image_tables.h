// The records of the image tree and the process-wide tables that hold them: one image is
// built per process at a time, and every component shares it.
#pragma once

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "image/session_reader.h"

namespace brennix {

struct TFEntry;

// Where a file's data is read from: the native folder it was listed in, held once for every
// file of that folder, and its name there; or, set from a whole path, that path alone. It
// reads as the whole path ("/home/u/docs/b.txt"); empty for a directory entry.
class TSourcePath {
 public:
  TSourcePath() = default;
  TSourcePath(std::shared_ptr<const std::string> folder, std::string name)
      : folder_(std::move(folder)), name_(std::move(name)) {}
  TSourcePath& operator=(std::string path) {
    folder_.reset();
    name_ = std::move(path);
    return *this;
  }
  bool empty() const { return !folder_ && name_.empty(); }
  std::string str() const;
  operator std::string() const { return str(); }  // NOLINT: reads as the path it names
  // The hash of str(), made without building it (see HashText).
  uint64_t Hash() const;
  bool operator==(std::string_view path) const;
  bool operator==(const TSourcePath& other) const;
  friend std::ostream& operator<<(std::ostream& out, const TSourcePath& path);

 private:
  std::shared_ptr<const std::string> folder_;
  std::string name_;
};

// FNV-1a over `text`, continuing from `hash`: a path hashed in pieces hashes as it would whole.
constexpr uint64_t kHashStart = 14695981039346656037ULL;
constexpr uint64_t HashText(std::string_view text, uint64_t hash = kHashStart) {
  for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  return hash;
}

// One directory, the root included.
struct TDEntry {
  std::string ShortName;      // ISO 9660 identifier; "CD_ROOT" for the root
  std::string LongName;       // Joliet identifier; "CD Root Directory" for the root
  int64_t ISOSize = 0;        // bytes of ISO records, a multiple of 2048 (layout)
  int64_t JolietSize = 0;     // bytes of Joliet records, a multiple of 2048 (layout)
  std::string Path;           // "\" + long names joined by "\", ASCII upper case; root "\"
  int32_t ISOLocation = 0;    // sector offset within the ISO directory area (layout)
  int32_t JolietLocation = 0; // sector offset within the Joliet directory area (layout)
  int32_t Number = 0;         // 1-based position in the path tables
  TDEntry* Parent = nullptr;  // the root points to itself
  TFEntry* FirstEntry = nullptr;
  TFEntry* LastEntry = nullptr;  // tail of the child list, so appending is O(1)
  TFEntry* OwnEntry = nullptr;   // the entry that stands for it in its parent; none for the root
  // The ISO tree with Rock Ridge moves folders deeper than eight levels into a relocation
  // folder (layout): their parent there, their identifier in it and their path-table number.
  TDEntry* IsoParent = nullptr;  // nullptr: Parent
  std::string IsoName;           // empty: ShortName
  int32_t IsoNumber = 0;
  uint32_t IsoSubDirs = 0;  // folders below it in the ISO tree (layout; Rock Ridge link counts)
};

// One child of a directory: a file, or the entry that stands for a subdirectory.
struct TFEntry {
  std::string ShortName;  // upper case, without ";1"
  std::string LongName;   // without ";1"
  TSourcePath FullPath;   // source path; empty for a directory entry
  double DateTime = 0.0;  // days since 1899-12-30, local time
  int64_t FileSize = 0;
  int64_t JolietSize = 0;
  int32_t Location = 0;
  int32_t JolietLocation = 0;
  int32_t Attr = 0;  // 0x10 directory, 0x02 hidden, 0x20 archive, 0x01 read-only
  // For the Rock Ridge entries: the source's own name (case kept, up to 255 bytes; empty:
  // LongName), its permission bits and its last write in seconds since 1970 (kNoModTime:
  // the record's date stands).
  std::string SourceName;
  uint32_t Mode = 0;
  int64_t ModTime = INT64_MIN;
  // A file kept from the disc's earlier session: its data stays where it lies, in these
  // extents (absolute sectors), so nothing reads it and the layout gives it no sectors.
  bool Imported = false;
  std::vector<TImportedExtent> OldExtents;
  TDEntry* Dir = nullptr;  // the directory a directory entry stands for
  TFEntry* Next = nullptr;
  TFEntry* Prev = nullptr;  // so an entry leaves its list without a walk
};

constexpr int64_t kNoModTime = INT64_MIN;
constexpr int32_t kAttrReadOnly = 0x01;
constexpr int32_t kAttrHidden = 0x02;
constexpr int32_t kAttrDirectory = 0x10;
constexpr int32_t kAttrArchive = 0x20;

struct ImageTables {
  std::vector<TDEntry*> Dirs;        // creation order, root first
  std::vector<TDEntry*> DirsISO;     // path-table order after the layout
  std::vector<TDEntry*> DirsJoliet;  // path-table order after the layout
  std::vector<TFEntry*> Files;       // creation order; the cache walks it
  int32_t MaxFiles = 0;
  int32_t MaxDirs = 0;
  // The disc's earlier session has been merged into this tree (once per tree).
  bool SessionImported = false;
  // Read-ahead caches that may still walk the tree: while one does, ClearAll refuses.
  std::atomic<int> Readers{0};
};

// The process-wide tables.
ImageTables& Tables();

}  // namespace brennix
