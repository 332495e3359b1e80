// Directory listings with the information the image tree needs: long name, a generated 8.3
// alternate name, attribute bits, local DOS time and size.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace brennix {

// Attribute bits of a listed entry, and the mask that lets every entry through.
enum ListAttribute : int {
  kListAttrReadOnly = 0x01, kListAttrHidden = 0x02, kListAttrSystem = 0x04,
  kListAttrDirectory = 0x10, kListAttrArchive = 0x20, kListAllAttributes = 63,
};

struct DirListEntry {
  std::string Name;           // as the file system has it (UTF-8 on Linux)
  std::string AlternateName;  // 8.3 name, upper case; empty when Name is a valid 8.3 name
  int32_t Attr = 0;
  uint32_t DosTime = 0;  // packed, local time; 0 when the time has no DOS form
  int64_t ModTime = 0;   // last write, seconds since 1970 (UTC), to the second
  uint32_t Mode = 0;     // permission bits of the target (st_mode & 07777)
  int64_t Size = 0;      // 0 for directories
  bool IsDirectory = false;
  bool IsLink = false;  // reached through a symbolic link
  // A file this process may not open for reading (found with the listing, so that it is
  // left out before anything is written rather than fail the recording). Folders: always true.
  bool Readable = true;
  dev_t Device = 0;     // of the target, for loop checks
  ino_t Inode = 0;
};

// Special: the path is a FIFO, socket or device node (or leads to one). LinkLoop: a chain of
// symbolic links that never reaches anything.
enum class ListResult { Ok, NotFound, Unreadable, Special, LinkLoop };

// A name of a folder that cannot stand as a file or folder: Special (FIFO, socket, device
// node, or a link to one), NotFound (a dangling link, or gone since it was listed), LinkLoop
// or Unreadable (its details cannot be read).
struct DirListProblem {
  std::string Name;
  ListResult Kind = ListResult::Special;
};

// Lists `folder` (a native path) for names matching `mask` ("*" and "?" wildcards, ASCII
// case-insensitive; "*.*" matches every name). Entries are sorted by name. Symbolic links are
// followed; FIFOs, sockets, device nodes and dangling links never appear in `out`, but go to
// `problems` when given (those of them the mask and the hidden bit let through). Hidden,
// system and directory entries appear only when `attrMask` has their bit. Alternate names are
// unique across the whole folder, whatever the mask.
ListResult ListDirectory(const std::string& folder, const std::string& mask, int attrMask,
                         std::vector<DirListEntry>& out,
                         std::vector<DirListProblem>* problems = nullptr);

// The folders above a point of a walk, by device and inode; a folder found among them leads
// back into itself (a link loop or a bind mount).
using FolderAncestry = std::vector<std::pair<uint64_t, uint64_t>>;
bool InAncestry(const FolderAncestry& ancestry, uint64_t device, uint64_t inode);

// folder + "/" + name, without doubling a "/" that ends folder.
std::string JoinNative(const std::string& folder, const std::string& name);

// Describes one path (file or folder) itself. Its alternate name is generated on its own
// (not checked against its siblings).
ListResult ListSingle(const std::string& path, DirListEntry& out);

// True when `name` may stand as its own 8.3 name: base of 1 to 8 and an optional extension
// of 1 to 3 characters from A-Z, a-z, 0-9 and "_".
bool IsValidShortName(const std::string& name);

// Builds NAME~N.EXT style names, unique among the names already taken (compared upper case).
class ShortNameGenerator {
 public:
  void Reserve(const std::string& upperName);
  bool Taken(const std::string& upperName) const;
  void Release(const std::string& upperName);
  // A free 8.3 name for `longName` (which need not be valid 8.3); reserves it. `inUse`, when
  // given, names further names that are taken (those of a folder's entries).
  std::string Generate(const std::string& longName,
                       const std::function<bool(const std::string&)>& inUse = nullptr);

 private:
  std::unordered_set<std::string> taken_;
  std::unordered_map<std::string, int> nextTail_;  // first ~N worth trying per stem
};

// True when an entry with `attr` passes a listing's attribute mask: hidden, system and
// directory entries need their bit in the mask.
bool PassesAttrMask(int attr, int attrMask);

// Wildcard match as listings use it.
bool MatchesMask(const std::string& name, const std::string& mask);

// The absolute path with every link and "." or ".." resolved; empty when it cannot be.
std::string RealPath(const std::string& path);

}  // namespace brennix
