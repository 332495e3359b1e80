// Reads the directory tree of a volume already on a disc (the last session), so that a new
// session can list those files again without copying their data. The disc is hostile input:
// every record, size, extent and name is checked, every folder is read once, and the walk is
// bounded in depth, entries and bytes read. Whatever is wrong ends the read with
// "CANNOT READ THE EARLIER SESSION: <why>", never with a crash or a hang.
//
// The richest tree the volume has is read: the ISO tree with its Rock Ridge entries (full
// names, modes, times; relocated folders put back where they belong), else the Joliet tree,
// else the plain ISO tree (";1" and a trailing "." taken off the names, in Joliet as well).
//
// Limits: a folder of at most 64 MiB of records, 256 MiB of records in all, 2048 levels below
// the root (after relocated folders are put back), 2,000,000 entries. A name must be UTF-8 of
// 1 to 255 bytes without NUL or "/" and not "." or "..". Two entries of one name in a folder
// are an error rather than a choice, as readers differ in which of them they show. A Rock
// Ridge continuation area must lie within one sector. Each folder is read in one request
// (a folder reached through a relocation link in two: its first sector tells its size);
// continuation areas are read a sector at a time and kept while the walk goes on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace brennix {

constexpr const char* kEarlierSessionErrorPrefix = "CANNOT READ THE EARLIER SESSION: ";

// One extent of an imported file: absolute sector on the disc, and bytes.
struct TImportedExtent {
  uint32_t Sector = 0;
  uint32_t Bytes = 0;
};

struct TImportedEntry {
  std::string Name;      // UTF-8, never empty, never "." or "..", no "/" and no NUL
  bool IsDir = false;
  // Files: the extents in order (several for a file of 4 GiB or more; none when empty).
  std::vector<TImportedExtent> Extents;
  uint64_t Size = 0;     // files: the sum of the extents' bytes
  int64_t ModTime = 0;   // seconds since 1970, UTC (Rock Ridge TF, else the record's date)
  uint32_t Mode = 0;     // Rock Ridge permission bits (0 when the volume has none)
  bool Hidden = false;   // the record's existence bit
  std::vector<TImportedEntry> Children;  // folders only, in the order of the disc
};

struct TImportedSession {
  TImportedEntry Root;     // IsDir, Name "/"
  std::string VolumeId;    // the primary descriptor's volume identifier, spaces trimmed
  uint32_t VolumeSectors = 0;  // the primary descriptor's volume space size
  std::string TreeRead;    // "Rock Ridge", "Joliet" or "ISO 9660"
  uint64_t FileCount = 0, DirCount = 0;  // below the root
  // Entries that a new session cannot list again, each "\DOCS\LINK: WHY" (symbolic links and
  // special files of a Rock Ridge tree, associated files, and files whose data the disc does
  // not wholly hold: kNotWholeText). They are not in Root.
  std::vector<std::string> LeftOut;
};

// Why a file of the tree is not kept: a recording that ended early named it in its tree but
// did not get all of its data onto the disc.
constexpr const char* kNotWholeText = "its data was not completely written";

// Sectors [Start, End) that hold recorded data.
struct TSectorRange {
  uint32_t Start = 0;
  uint32_t End = 0;
};

// Where a read of the volume may go. No extent may end past DiscSectors (that is a damaged
// tree); a file whose data lies outside Recorded (when it is given) is left out by name.
struct TEarlierSessionBounds {
  uint32_t DiscSectors = 0;
  std::vector<TSectorRange> Recorded;  // empty: all of [0, DiscSectors)
};

// What a failed read found: NoVolume when the session holds no volume that can be read at
// all (its descriptors or its root), as against a volume whose tree is damaged.
struct TEarlierSessionFailure {
  bool NoVolume = false;
};

// Reads count sectors of 2048 bytes from sector on into out; false with a reason in error.
// count is up to 32768 (a folder of 64 MiB): a reader for a real drive splits it into
// transfers the drive takes.
using TSectorReader =
    std::function<bool(uint32_t sector, uint32_t count, uint8_t* out, std::string& error)>;

// Reads the volume whose descriptors begin at sessionStart + 16. discSectors is the number of
// sectors a read may reach (no extent may end past it). False with error beginning with
// kEarlierSessionErrorPrefix.
bool ReadEarlierSession(const TSectorReader& read, uint32_t sessionStart, uint32_t discSectors,
                        TImportedSession& out, std::string& error);
bool ReadEarlierSession(const TSectorReader& read, uint32_t sessionStart,
                        const TEarlierSessionBounds& bounds, TImportedSession& out,
                        std::string& error, TEarlierSessionFailure* failure = nullptr);

}  // namespace brennix
