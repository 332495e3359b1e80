#include "image/iso_image.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unordered_map>
#include <unordered_set>

#include "image/names.h"
#include "platform/date_time.h"
#include "platform/dir_listing.h"
#include "platform/listing_ahead.h"

namespace brennix {
namespace {

// A set of a folder's entries found by a key each entry carries (its name, its source path),
// kept without a copy of the key: open addressing, one pointer a slot, at most 3/4 full.
// Keys are unique: an entry whose key is in use stays out.
template <typename Key>
class EntryTable {
 public:
  TFEntry* Find(std::string_view key) const {
    if (count_ == 0) return nullptr;
    for (size_t i = Key::Hash(key) & mask_;; i = (i + 1) & mask_) {
      TFEntry* e = slots_[i];
      if (e == nullptr || Key::Equal(e, key)) return e;
    }
  }
  bool Contains(std::string_view key) const { return Find(key) != nullptr; }
  // False (and nothing changed) when an entry of the same key is in already.
  bool Insert(TFEntry* e) {
    if ((count_ + 1) * 4 > slots_.size() * 3) Grow();
    for (size_t i = Key::Hash(e) & mask_;; i = (i + 1) & mask_) {
      if (slots_[i] == nullptr) {
        slots_[i] = e;
        ++count_;
        return true;
      }
      if (Key::Same(slots_[i], e)) return false;
    }
  }
  // Takes out `e` itself, when it is in (its key unchanged since it went in).
  void Erase(const TFEntry* e) {
    if (count_ == 0) return;
    size_t i = Key::Hash(e) & mask_;
    for (; slots_[i] != e; i = (i + 1) & mask_) {
      if (slots_[i] == nullptr) return;
    }
    slots_[i] = nullptr;
    --count_;
    // Moves back the entries after it that could not stand where they belong.
    for (size_t j = (i + 1) & mask_; slots_[j] != nullptr; j = (j + 1) & mask_) {
      const size_t home = Key::Hash(slots_[j]) & mask_;
      if (((j - home) & mask_) >= ((j - i) & mask_)) {
        slots_[i] = slots_[j];
        slots_[j] = nullptr;
        i = j;
      }
    }
  }

 private:
  void Grow() {
    std::vector<TFEntry*> old(std::max<size_t>(8, slots_.size() * 2), nullptr);
    old.swap(slots_);
    mask_ = slots_.size() - 1;
    count_ = 0;
    for (TFEntry* e : old) {
      if (e != nullptr) Insert(e);
    }
  }

  std::vector<TFEntry*> slots_;
  size_t mask_ = 0;
  size_t count_ = 0;
};

// The keys the tables find entries by.
uint64_t HashUpper(std::string_view text) {
  uint64_t hash = kHashStart;
  for (const char c : text) {
    const char u = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    hash = (hash ^ static_cast<unsigned char>(u)) * 1099511628211ULL;
  }
  return hash;
}
bool EqualUpper(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 'a' + 'A') : a[i];
    const char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 'a' + 'A') : b[i];
    if (x != y) return false;
  }
  return true;
}
const std::string& RockRidgeNameOf(const TFEntry* e);

// The long name, ASCII letters in either case alike.
struct ByLongName {
  static uint64_t Hash(std::string_view key) { return HashUpper(key); }
  static uint64_t Hash(const TFEntry* e) { return HashUpper(e->LongName); }
  static bool Equal(const TFEntry* e, std::string_view key) { return EqualUpper(e->LongName, key); }
  static bool Same(const TFEntry* a, const TFEntry* b) { return EqualUpper(a->LongName, b->LongName); }
};
struct BySourcePath {
  static uint64_t Hash(std::string_view key) { return HashText(key); }
  static uint64_t Hash(const TFEntry* e) { return e->FullPath.Hash(); }
  static bool Equal(const TFEntry* e, std::string_view key) { return e->FullPath == key; }
  static bool Same(const TFEntry* a, const TFEntry* b) { return a->FullPath == b->FullPath; }
};
// Byte for byte.
template <std::string TFEntry::*Name>
struct ByName {
  static uint64_t Hash(std::string_view key) { return HashText(key); }
  static uint64_t Hash(const TFEntry* e) { return HashText(e->*Name); }
  static bool Equal(const TFEntry* e, std::string_view key) { return e->*Name == key; }
  static bool Same(const TFEntry* a, const TFEntry* b) { return a->*Name == b->*Name; }
};
struct ByRockRidgeName {
  static uint64_t Hash(std::string_view key) { return HashText(key); }
  static uint64_t Hash(const TFEntry* e) { return HashText(RockRidgeNameOf(e)); }
  static bool Equal(const TFEntry* e, std::string_view key) { return RockRidgeNameOf(e) == key; }
  static bool Same(const TFEntry* a, const TFEntry* b) { return RockRidgeNameOf(a) == RockRidgeNameOf(b); }
};

// Lookups by path and by name, kept in step with every add and remove so that neither is a
// scan. Process-wide like the tables it indexes.
struct DirIndex {
  EntryTable<ByLongName> Children;
  // Entries whose long name had to be shortened, by their upper-cased original name, so that
  // adding the same source again finds them.
  std::unordered_map<std::string, TFEntry*> Aliases;
  std::unordered_map<const TFEntry*, std::string> AliasOf;
  // Files by their source path: the same source added again is found whatever its name.
  EntryTable<BySourcePath> BySource;
  // The Rock Ridge name each child carries, case kept: Linux readers tell names apart only
  // byte for byte.
  EntryTable<ByRockRidgeName> RockRidgeNames;
  // ISO names in use: those of the children, and those Generated reserved for no child.
  EntryTable<ByName<&TFEntry::ShortName>> ShortNames;
  ShortNameGenerator Generated;
  bool HasDuplicates = false;  // two children share a long name (file beside folder)

  bool ShortNameTaken(const std::string& name) const {
    return ShortNames.Contains(name) || Generated.Taken(name);
  }
  // A free ISO name for `longName`, reserved until a child takes it.
  std::string GenerateShortName(const std::string& longName) {
    return Generated.Generate(longName, [this](const std::string& n) { return ShortNames.Contains(n); });
  }
};

// Where an entry came from, kept for the few entries whose name on the disc may differ from
// their source's own: which of the trees shows the change is decided when the notes are read.
struct RenameOrigin {
  const TDEntry* Dir = nullptr;  // the folder holding the entry
  std::string Source;            // the native path, or the path on the disc it came from
  std::string OwnName;           // the source's own name
  std::string LongReason;        // why the long (Joliet) name is not OwnName, unless cleaned
  bool Earlier = false;          // kept from the disc's earlier session
};

struct TreeIndex {
  std::unordered_map<std::string, TDEntry*> ByPath;
  std::unordered_map<const TFEntry*, RenameOrigin> Origins;
  std::unordered_map<const TDEntry*, DirIndex> Dirs;
  // Removed records stay allocated until the tables are compacted once per operation, so
  // removing many records never shifts the tables many times.
  std::unordered_set<const void*> Doomed;
  std::vector<TDEntry*> DoomedDirs;
  std::vector<TFEntry*> DoomedFiles;
  size_t LiveDirs = 0;
  size_t LiveFiles = 0;
  size_t EmptyDirsLeftOut = 0;
};

TreeIndex& Index() {
  static TreeIndex index;
  return index;
}

DirIndex& IndexOf(const TDEntry* dir) { return Index().Dirs[dir]; }

void LinkChild(TDEntry* dir, TFEntry* e) {
  e->Prev = dir->LastEntry;
  e->Next = nullptr;
  if (dir->LastEntry != nullptr) {
    dir->LastEntry->Next = e;
  } else {
    dir->FirstEntry = e;
  }
  dir->LastEntry = e;
}

void UnlinkChild(TDEntry* dir, TFEntry* e) {
  (e->Prev != nullptr ? e->Prev->Next : dir->FirstEntry) = e->Next;
  (e->Next != nullptr ? e->Next->Prev : dir->LastEntry) = e->Prev;
  e->Next = e->Prev = nullptr;
}

void IndexChild(TDEntry* dir, TFEntry* e) {
  DirIndex& ix = IndexOf(dir);
  if (!ix.Children.Insert(e)) ix.HasDuplicates = true;
  if (!e->FullPath.empty()) ix.BySource.Insert(e);
  ix.RockRidgeNames.Insert(e);
  // Its ISO name, reserved for it until now, is in use by it from now on.
  ix.Generated.Release(e->ShortName);
  ix.ShortNames.Insert(e);
}

void UnindexChild(TDEntry* dir, TFEntry* e) {
  DirIndex& ix = IndexOf(dir);
  if (ix.Children.Find(e->LongName) == e) {
    ix.Children.Erase(e);
    if (ix.HasDuplicates) {
      for (TFEntry* c = dir->FirstEntry; c != nullptr; c = c->Next) {
        if (c != e && EqualUpper(c->LongName, e->LongName)) {
          ix.Children.Insert(c);
          break;
        }
      }
    }
  }
  ix.BySource.Erase(e);
  ix.RockRidgeNames.Erase(e);
  auto alias = ix.AliasOf.find(e);
  if (alias != ix.AliasOf.end()) {
    auto a = ix.Aliases.find(alias->second);
    if (a != ix.Aliases.end() && a->second == e) ix.Aliases.erase(a);
    ix.AliasOf.erase(alias);
  }
  ix.ShortNames.Erase(e);
}

// An ISO name no sibling has. Files always carry a "."; directories never do.
std::string UniqueShortName(DirIndex& ix, std::string wanted, bool isFile) {
  // Whatever a handler left here, only characters ISO readers accept reach the disc.
  for (char& c : wanted) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '~' ||
                      (c == '.' && isFile);
    if (!keep) c = '_';
  }
  if (wanted.size() > kMaxShortNameBytes) wanted.resize(kMaxShortNameBytes);
  if (wanted.empty() || wanted == ".") wanted = "_" + wanted;
  if (isFile && wanted.find('.') == std::string::npos) wanted += '.';
  // (The child that takes the name reserves it when it is indexed.)
  if (!ix.ShortNameTaken(wanted)) return wanted;
  for (;;) {
    std::string candidate = ix.GenerateShortName(wanted);
    if (!isFile || candidate.find('.') != std::string::npos) return candidate;
    candidate += '.';
    if (!ix.ShortNameTaken(candidate)) return candidate;
  }
}

void DoomDir(TDEntry* d) {
  TreeIndex& ix = Index();
  auto it = ix.ByPath.find(d->Path);
  if (it != ix.ByPath.end() && it->second == d) ix.ByPath.erase(it);
  ix.Dirs.erase(d);
  ix.Doomed.insert(d);
  ix.DoomedDirs.push_back(d);
  --ix.LiveDirs;
}

void DoomFile(TFEntry* f) {
  TreeIndex& ix = Index();
  ix.Origins.erase(f);
  ix.Doomed.insert(f);
  ix.DoomedFiles.push_back(f);
  --ix.LiveFiles;
}

// Closes the gaps that removals left in the tables, keeping their order, and frees the
// removed records.
void CompactTables() {
  TreeIndex& ix = Index();
  if (ix.Doomed.empty()) return;
  ImageTables& t = Tables();
  auto doomed = [&](const void* p) { return ix.Doomed.count(p) != 0; };
  std::erase_if(t.Dirs, doomed);
  std::erase_if(t.DirsISO, doomed);
  std::erase_if(t.DirsJoliet, doomed);
  std::erase_if(t.Files, doomed);
  for (TDEntry* d : ix.DoomedDirs) delete d;
  for (TFEntry* f : ix.DoomedFiles) delete f;
  ix.DoomedDirs.clear();
  ix.DoomedFiles.clear();
  ix.Doomed.clear();
}

void FreeTree() {
  ImageTables& t = Tables();
  TreeIndex& ix = Index();
  CompactTables();
  for (TDEntry* d : t.Dirs) delete d;
  for (TFEntry* f : t.Files) delete f;
  t.Dirs.clear();
  t.DirsISO.clear();
  t.DirsJoliet.clear();
  t.Files.clear();
  ix.ByPath.clear();
  ix.Dirs.clear();
  ix.Origins.clear();
  ix.LiveDirs = ix.LiveFiles = 0;
  ix.EmptyDirsLeftOut = 0;
}

std::string AbsoluteNative(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path.empty() ? "." : path, ec);
  if (ec) p = path;
  std::string s = p.lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

// "/home/u/docs" -> "\home\u\docs" (components cleaned as tree names are); "/" -> "\".
std::string TreePathOfNative(const std::string& nativeFolder, bool lastOnly) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= nativeFolder.size()) {
    size_t slash = nativeFolder.find('/', start);
    if (slash == std::string::npos) slash = nativeFolder.size();
    std::string part = nativeFolder.substr(start, slash - start);
    if (!part.empty() && part != ".") parts.push_back(CleanLongName(part));
    start = slash + 1;
  }
  if (lastOnly && parts.size() > 1) parts.erase(parts.begin(), parts.end() - 1);
  std::string out;
  for (const std::string& p : parts) out += "\\" + p;
  return out.empty() ? "\\" : out;
}

std::string LastTreeFolder(const std::string& treePath) {
  std::string p = treePath;
  while (p.size() > 1 && p.back() == '\\') p.pop_back();
  const size_t slash = p.rfind('\\');
  const std::string last = slash == std::string::npos ? p : p.substr(slash + 1);
  return last.empty() ? "\\" : "\\" + last;
}

// Where an entry named `name` in `dir` is on the disc, as a reader shows it: "docs/b~1.txt".
std::string DiscPath(const TDEntry* dir, const std::string& name) {
  std::string path = name;
  for (const TDEntry* d = dir; d != nullptr && d->Parent != d; d = d->Parent) {
    path = d->LongName + "/" + path;
  }
  return path;
}

// The folder already standing in `ix` under `key` (its own name or the one it had before it
// was shortened or renamed), if any.
TDEntry* FolderNamed(const DirIndex& ix, const std::string& key) {
  const TFEntry* child = ix.Children.Find(key);
  if (child != nullptr && child->Dir != nullptr) return child->Dir;
  auto a = ix.Aliases.find(key);
  if (a != ix.Aliases.end() && a->second->Dir != nullptr) return a->second->Dir;
  return nullptr;
}

// At most 255 bytes, never splitting a UTF-8 sequence.
std::string RockRidgeName(std::string name) {
  if (name.size() <= 255) return name;
  size_t cut = 255;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  name.resize(cut);
  return name;
}

// The Rock Ridge name of a new child of `ix`: the source's own, unless a sibling carries
// exactly that name already (two sources of one name, or names that agree in their first 255
// bytes); then the name it is stored under, which no sibling has, without the "." that
// dotless names get for Joliet.
// The stored name may itself be a sibling's Rock Ridge name (a file "x" stored as "x." beside
// a folder "x"): then it gets a "~N" too, for two entries of one name are one too many for
// every reader.
std::string UniqueRockRidgeName(const DirIndex& ix, const std::string& own,
                                const std::string& stored) {
  const auto taken = [&ix](const std::string& n) { return ix.RockRidgeNames.Contains(n); };
  if (!taken(own)) return own;
  std::string name = stored;
  if (own.find('.') == std::string::npos && !name.empty() && name.back() == '.') name.pop_back();
  name = RockRidgeName(name);
  if (!taken(name)) return name;
  const size_t dot = name.rfind('.');
  const std::string ext =
      dot != std::string::npos && dot > 0 && name.size() - dot <= 16 ? name.substr(dot) : "";
  const std::string stem = name.substr(0, name.size() - ext.size());
  for (uint32_t n = 1;; ++n) {
    const std::string tail = std::string("~").append(std::to_string(n));
    // Whole characters of the stem only, so that tail and extension fit in 255 bytes.
    size_t keep = std::min(stem.size(), 255 - tail.size() - ext.size());
    while (keep > 0 && keep < stem.size() &&
           (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80)
      --keep;
    const std::string candidate = stem.substr(0, keep) + tail + ext;
    if (!taken(candidate)) return candidate;
  }
}

// The name an entry shows where Rock Ridge is read, and where only the long names are.
const std::string& RockRidgeNameOf(const TFEntry* e) {
  return e->SourceName.empty() ? e->LongName : e->SourceName;
}

// Keeps the origin of an entry whose name differs from its source's own in either tree.
void NoteOrigin(const TFEntry* e, const TDEntry* dir, const std::string& source,
                const std::string& own, const char* longReason, bool earlier = false) {
  std::string ownLong = own;
  if (e->Dir == nullptr && own.find('.') == std::string::npos) ownLong += '.';
  if (RockRidgeNameOf(e) == own && e->LongName == ownLong) {
    Index().Origins.erase(e);
    return;
  }
  Index().Origins[e] = {dir, source, own, longReason, earlier};
}

}  // namespace

TIsoImage::TIsoImage() : DescriptorCopy(kDescriptorCopyBytes, 0xFF) { ClearAll(65535, 8191); }

TIsoImage::~TIsoImage() {
  HeaderStream.Clear();
  FreeTree();
}

void TIsoImage::DebugMessage(const std::string& text, uint8_t type) {
  if (OnDebugMessage) OnDebugMessage(text, type);
}

void TIsoImage::NoteSkipped(const std::string& source, const std::string& reason,
                            const std::string& newName) {
  // The same source queued twice is left out once.
  if (newName.empty() && !leftOutNoted_.insert(source + '\0' + reason).second) return;
  skipped_.push_back({source, reason, newName});
}

bool TIsoImage::RefuseWhenFull(bool folder, const std::string& source, bool& fatal) {
  const ImageTables& t = Tables();
  const TreeIndex& ix = Index();
  std::string reason;
  if (folder && ix.LiveDirs >= static_cast<size_t>(t.MaxDirs)) {
    reason = "MAXIMUM DIRECTORIES CAN BE " + std::to_string(t.MaxDirs);
    DebugMessage(">>> " + reason, 3);
  } else if (ix.LiveFiles >= static_cast<size_t>(t.MaxFiles)) {
    reason = "MAXIMUM FILES CAN BE " + std::to_string(t.MaxFiles);
    DebugMessage(reason, 3);
  } else {
    return false;
  }
  NoteSkipped(source, reason);
  treeFull_ = true;
  fatal = true;
  return true;
}

std::vector<TSkippedSource> TIsoImage::SkippedSources() const {
  std::vector<TSkippedSource> notes = skipped_;
  const TreeIndex& ix = Index();
  if (ix.Origins.empty()) return notes;
  // Entries are met in the order they were made, so folders come before what they hold.
  for (const TFEntry* e : Tables().Files) {
    auto it = ix.Origins.find(e);
    if (it == ix.Origins.end()) continue;
    const RenameOrigin& o = it->second;
    std::string own = o.OwnName;
    if (!RockRidge && e->Dir == nullptr && own.find('.') == std::string::npos) own += '.';
    const std::string& shown = RockRidge ? RockRidgeNameOf(e) : e->LongName;
    if (shown == own) continue;  // changed only where Linux readers do not look
    std::string path = shown;
    for (const TDEntry* d = o.Dir; d != nullptr && d->Parent != d; d = d->Parent) {
      const TFEntry* entry = d->OwnEntry;
      path = (entry == nullptr ? d->LongName
              : RockRidge      ? RockRidgeNameOf(entry)
                               : entry->LongName) + "/" + path;
    }
    const char* reason = shown == CleanLongName(own) ? "CHARACTERS REPLACED"
                         : RockRidge                 ? "NAME IN USE"
                                                     : o.LongReason.c_str();
    // A path of the earlier session could pass for a source's: the reason tells them apart.
    notes.push_back({o.Source, o.Earlier ? std::string(reason) + " (KEPT FROM THE DISC)" : reason,
                     path});
  }
  return notes;
}

int TIsoImage::LeftOutCount() const {
  return static_cast<int>(std::count_if(skipped_.begin(), skipped_.end(),
                                        [](const TSkippedSource& s) { return s.NewName.empty(); }));
}

double TIsoImage::CurrentTime() const { return Now ? Now() : NowDateTime(); }

void TIsoImage::SetCacheSize(int32_t value) {
  cacheSize_ = value < 2097152 ? 2097152 : value - value % kSectorSize;
}

bool TIsoImage::ClearAll(int maxFiles, int maxDirs) {
  // A recording's read-ahead cache still walks the tree: freeing it now would pull the
  // entries from under it.
  if (Tables().Readers.load() > 0) return false;
  TimeZoneOffset = -TimeZoneBaseBiasMinutes() / 15;
  HeaderStream.Clear();
  FreeTree();
  skipped_.clear();
  leftOutNoted_.clear();
  treeFull_ = false;
  ImageTables& t = Tables();
  t.SessionImported = false;
  t.MaxFiles = std::max(maxFiles, 0);
  t.MaxDirs = std::max(maxDirs, 0);
  // Sized for the limits up front (within reason), so filling never moves the tables.
  t.Files.reserve(static_cast<size_t>(std::min(t.MaxFiles, 1 << 20)));
  const size_t dirs = static_cast<size_t>(std::min(t.MaxDirs, 1 << 18));
  t.Dirs.reserve(dirs);
  t.DirsISO.reserve(dirs);
  t.DirsJoliet.reserve(dirs);
  auto* root = new TDEntry;
  root->ShortName = "CD_ROOT";
  root->LongName = "CD Root Directory";
  root->Path = "\\";
  root->Parent = root;
  root->Number = 1;
  t.Dirs.push_back(root);
  t.DirsISO.push_back(root);
  t.DirsJoliet.push_back(root);
  Index().Dirs[root];
  Index().LiveDirs = 1;
  return true;
}

TDEntry* TIsoImage::FindDir(const std::string& path) const {
  const ImageTables& t = Tables();
  if (t.Dirs.empty()) return nullptr;
  if (path.empty() || path == "\\") return t.Dirs.front();
  std::string key = path;
  if (key.back() == '\\') key.pop_back();
  const auto& byPath = Index().ByPath;
  auto it = byPath.find(AsciiUpper(key));
  return it == byPath.end() ? nullptr : it->second;
}

TFEntry* TIsoImage::FindFile(const TDEntry* dir, const std::string& longName) const {
  if (dir == nullptr) return nullptr;
  const auto& dirs = Index().Dirs;
  auto d = dirs.find(dir);
  if (d == dirs.end()) return nullptr;
  // Names are stored cleaned; the name a source has on disk finds its entry too.
  const std::string key = AsciiUpper(CleanLongName(longName));
  if (TFEntry* child = d->second.Children.Find(key)) return child;
  auto a = d->second.Aliases.find(key);
  return a == d->second.Aliases.end() ? nullptr : a->second;
}

int TIsoImage::DirCount() const {
  const size_t live = Index().LiveDirs;
  return live == 0 ? 0 : static_cast<int>(live - 1);
}

int TIsoImage::FileCount() const { return static_cast<int>(Index().LiveFiles); }

int TIsoImage::EmptyDirsLeftOut() const { return static_cast<int>(Index().EmptyDirsLeftOut); }

TDEntry* TIsoImage::AddDirEntry(TDEntry* parent, std::string longName, std::string shortName,
                                int32_t attr, double dateTime, bool& fatal,
                                const std::string& source, int64_t modTime) {
  const std::string own = longName;
  longName = CleanLongName(longName);
  if (longName.empty()) longName = "_";
  const std::string sourceName = RockRidgeName(longName);
  DirIndex& pix = IndexOf(parent);
  const std::string key = AsciiUpper(longName);
  // The same folder name merges, also when that folder had to be shortened or renamed.
  if (TDEntry* existing = FolderNamed(pix, key)) return existing;
  // Otherwise the name must be free: a file of that name, or a folder whose name agrees
  // this far after shortening, gives this one a "~N" name.
  const bool inUse = pix.Children.Contains(key) || pix.Aliases.count(key) != 0;
  const std::string stored =
      FitLongName(longName, kMaxJolietDirUnits, [&pix](const std::string& n) {
        const std::string k = AsciiUpper(n);
        return pix.Children.Contains(k) || pix.Aliases.count(k) != 0;
      });
  const std::string path = (parent->Path == "\\" ? std::string() : parent->Path) + "\\" +
                           AsciiUpper(stored);
  ImageTables& t = Tables();
  TreeIndex& ix = Index();
  if (RefuseWhenFull(true, source.empty() ? DiscPath(parent, longName) : source, fatal)) return nullptr;
  const std::string wanted = AsciiUpper(shortName.empty() ? longName : shortName);
  auto* d = new TDEntry;
  auto* e = new TFEntry;
  d->ShortName = e->ShortName = UniqueShortName(pix, wanted, false);
  d->LongName = e->LongName = stored;
  e->SourceName = UniqueRockRidgeName(pix, sourceName, stored);
  if (e->SourceName == e->LongName) e->SourceName.clear();
  e->Mode = 0555;
  e->ModTime = modTime;
  d->Path = path;
  d->Parent = parent;
  d->OwnEntry = e;
  e->Attr = attr | kAttrDirectory;
  e->DateTime = dateTime;
  e->Dir = d;
  LinkChild(parent, e);
  IndexChild(parent, e);
  t.Dirs.push_back(d);
  t.DirsISO.push_back(d);
  t.DirsJoliet.push_back(d);
  t.Files.push_back(e);
  ix.ByPath[path] = d;
  ix.Dirs[d];
  ++ix.LiveDirs;
  ++ix.LiveFiles;
  if (stored != longName && pix.Aliases.emplace(key, e).second) pix.AliasOf[e] = key;
  NoteOrigin(e, parent, source.empty() ? DiscPath(parent, own) : source, own,
             inUse ? "NAME IN USE" : "NAME TOO LONG");
  return d;
}

TDEntry* TIsoImage::CreateDir(TDEntry* parent, std::string name, int32_t attr) {
  if (!name.empty() && name.front() == '\\') name.erase(0, 1);
  if (!name.empty() && name.back() == '\\') name.pop_back();
  bool fatal = false;
  return AddDirEntry(parent, name, CreatedDirShortName(name), attr, CurrentTime(), fatal);
}

TDEntry* TIsoImage::ForceDir(const std::string& path) {
  if (TDEntry* found = FindDir(path)) return found;
  TDEntry* current = FindDir("\\");
  size_t start = 0;
  while (current != nullptr && start < path.size()) {
    size_t sep = path.find('\\', start);
    if (sep == std::string::npos) sep = path.size();
    const std::string part = path.substr(start, sep - start);
    start = sep + 1;
    if (part.empty()) continue;
    const std::string childPath =
        (current->Path == "\\" ? std::string() : current->Path) + "\\" + part;
    TDEntry* child = FindDir(childPath);
    current = child != nullptr ? child : CreateDir(current, part, kAttrDirectory);
  }
  return current;
}

TDEntry* TIsoImage::SavePathDestination(TDEntry* base, const std::string& nativeFolder) {
  std::string path = TreePathOfNative(nativeFolder, false);
  if (base != nullptr && base->Path != "\\" && !base->Path.empty()) {
    path = path == "\\" ? base->Path : base->Path + path;
  }
  if (LastFolderOnly) path = LastTreeFolder(path);
  // (Not FindDir of the path: a folder whose name had to be shortened stands under another.)
  TDEntry* dest = ForceDir(path);
  // The folders stand for the source's own, whose names the tree path holds cleaned: a
  // folder made here that shows another name than its source folder's is a rename too.
  std::string folder = nativeFolder;
  for (TDEntry* d = dest; d != nullptr && d->Parent != d && d->OwnEntry != nullptr;
       d = d->Parent) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const size_t slash = folder.rfind('/');
    if (slash == std::string::npos || slash + 1 >= folder.size()) break;
    const std::string own = folder.substr(slash + 1);
    if (Index().Origins.count(d->OwnEntry) == 0) {
      NoteOrigin(d->OwnEntry, d->Parent, folder, own,
                 Utf16Units(CleanLongName(own)) > kMaxJolietDirUnits ? "NAME TOO LONG"
                                                                      : "NAME IN USE");
    }
    folder.erase(slash);
    if (LastFolderOnly) break;
  }
  return dest;
}

namespace {

// What a file entry takes from its source's listing.
void TakeListing(TFEntry* f, const DirListEntry& entry, const TSourcePath& source,
                 double dateTime) {
  f->FileSize = f->JolietSize = entry.Size;
  f->Attr = entry.Attr;
  f->DateTime = dateTime;
  f->FullPath = source;
  f->Dir = nullptr;
  f->Imported = false;
  f->OldExtents.clear();
}

}  // namespace

int TIsoImage::AddFileEntry(TDEntry* dir, const DirListEntry& entry, const TSourcePath& source,
                            bool& fatal) {
  const std::string fullPath = source.str();
  if (!entry.Readable) {
    DebugMessage("CAN'T READ FILE, NOT ADDED \"" + fullPath + "\"", 0);
    NoteSkipped(fullPath, "CAN'T READ FILE");
    return 0;
  }
  std::string longName = CleanLongName(entry.Name);
  std::string shortName = entry.AlternateName;
  if (longName.find('.') == std::string::npos) {
    longName += '.';
    if (!shortName.empty() && shortName.find('.') == std::string::npos) shortName += '.';
  }
  std::string longFileName = longName;
  std::string shortFileName = shortName.empty() ? AsciiUpper(longName) : shortName;
  double dateTime = 0.0;
  if (!DosDateTimeToDateTime(entry.DosTime, dateTime)) dateTime = CurrentTime();
  const double listedTime = dateTime;
  // A long name is shortened below rather than left out: a handler still may skip it.
  bool skip = false;
  if (OnAddFile) {
    OnAddFile(this, fullPath, longFileName, shortFileName, dateTime, entry.Attr, entry.Size,
              skip);
  }
  if (skip) return 0;
  longFileName = CleanLongName(longFileName);
  if (longFileName.empty()) return 0;

  DirIndex& ix = IndexOf(dir);
  TFEntry* f = nullptr;
  if (TFEntry* same = ix.BySource.Find(fullPath)) {
    // The same source again: one entry. Replacing refreshes it where it stands.
    if (!ReplaceFile) return 0;
    TakeListing(same, entry, source, dateTime);
    return 1;
  }
  TFEntry* existing = FindFile(dir, longFileName);
  // A file kept from the disc's earlier session gives way to the queued one of its name.
  const bool replace =
      existing != nullptr && existing->Dir == nullptr && (ReplaceFile || existing->Imported);
  if (replace) {
    f = existing;
    UnindexChild(dir, f);  // keeps its place in the list
  } else {
    if (RefuseWhenFull(false, fullPath, fatal)) return 0;
    ImageTables& t = Tables();
    f = new TFEntry;
    LinkChild(dir, f);
    t.Files.push_back(f);
    ++Index().LiveFiles;
  }
  // A name in use by another source (or by a folder) gets a "~N" name; one too long for its
  // Joliet record (or for readers) is shortened. Both keep the extension.
  const std::string stored = FitLongName(
      longFileName, kMaxJolietFileUnits, [&ix](const std::string& n) {
        const std::string key = AsciiUpper(n);
        return ix.Children.Contains(key) || ix.Aliases.count(key) != 0;
      });
  if (stored != longFileName) {
    const std::string original = AsciiUpper(longFileName);
    if (ix.Aliases.emplace(original, f).second) ix.AliasOf[f] = original;
  }
  f->ShortName = UniqueShortName(ix, AsciiUpper(shortFileName), true);
  f->LongName = stored;
  TakeListing(f, entry, source, dateTime);
  // The name as the source has it, without the "." that dotless names get for Joliet,
  // unless a handler chose another.
  f->SourceName = UniqueRockRidgeName(
      ix, RockRidgeName(longFileName == longName ? CleanLongName(entry.Name) : longFileName),
      stored);
  if (f->SourceName == f->LongName) f->SourceName.clear();  // (the same name, held once)
  f->Mode = entry.Mode;
  f->ModTime = dateTime == listedTime ? entry.ModTime : kNoModTime;
  IndexChild(dir, f);
  // A name a handler chose is the name wanted.
  NoteOrigin(f, dir, fullPath, longFileName == longName ? entry.Name : longFileName,
             existing != nullptr && !replace ? "NAME IN USE" : "NAME TOO LONG");
  return 1;
}

int TIsoImage::AddFile(const std::string& destPath, const std::string& fileName, bool savePath) {
  const std::string full = AbsoluteNative(fileName);
  TDEntry* dest = nullptr;
  if (savePath) {
    const size_t slash = full.rfind('/');
    dest = SavePathDestination(nullptr, slash == std::string::npos ? std::string()
                                                                    : full.substr(0, slash));
  } else {
    dest = FindDir(destPath);
  }
  if (dest == nullptr) {
    DebugMessage("INVALID DESTINATION PATH", 4);
    NoteSkipped(full, "INVALID DESTINATION PATH");
    return 0;
  }
  DirListEntry entry;
  switch (ListSingle(full, entry)) {
    case ListResult::Ok:
      break;
    case ListResult::Special:
      DebugMessage("NOT A REGULAR FILE, NOT ADDED \"" + full + "\"", 0);
      NoteSkipped(full, "NOT A REGULAR FILE");
      return 0;
    default:
      return -1;
  }
  if (entry.IsDirectory) {
    DebugMessage("A FOLDER IS NOT A FILE, NOT ADDED \"" + full + "\"", 0);
    NoteSkipped(full, "A FOLDER IS NOT A FILE");
    return 0;
  }
  bool fatal = false;
  AddFileEntry(dest, entry, TSourcePath(nullptr, full), fatal);
  return 1;
}

int TIsoImage::AddDir(TDEntry* destDir, const std::string& sourcePath, const std::string& mask,
                      int attr, bool recursive, bool savePath, bool archiveOnly) {
  const std::string source = AbsoluteNative(sourcePath);
  FolderAncestry ancestry;
  struct stat st {};
  if (stat(source.c_str(), &st) == 0) ancestry.emplace_back(st.st_dev, st.st_ino);
  bool fatal = false;
  // The folders below are listed ahead on a second thread while this one builds the tree.
  std::optional<TTreeListingAhead> ahead;
  if (recursive) ahead.emplace(source, ancestry);
  listingAhead_ = ahead ? &*ahead : nullptr;
  int result = 0;
  try {
    result = AddDirRecursive(destDir, source, mask.empty() ? "*.*" : mask, attr, recursive,
                             savePath, archiveOnly, ancestry, fatal);
  } catch (...) {
    listingAhead_ = nullptr;
    throw;
  }
  listingAhead_ = nullptr;
  CompactTables();
  return result;
}

int TIsoImage::AddDirRecursive(TDEntry* destDir, const std::string& source,
                               const std::string& mask, int attr, bool recursive, bool savePath,
                               bool archiveOnly, FolderAncestry& ancestry, bool& fatal) {
  if (savePath) destDir = SavePathDestination(destDir, source);
  if (destDir == nullptr) {
    DebugMessage("INVALID DESTINATION PATH", 4);
    NoteSkipped(source, "INVALID DESTINATION PATH");
    fatal = true;
    return 0;
  }
  std::vector<DirListEntry> entries;
  std::vector<DirListProblem> problems;
  const ListResult listed =
      listingAhead_ != nullptr
          ? listingAhead_->List(source, entries, problems)
          : ListDirectory(source, "*.*", kListAllAttributes, entries, &problems);
  if (listed == ListResult::Unreadable) {
    DebugMessage("CAN'T READ FOLDER \"" + source + "\", SKIPPED", 0);
    NoteSkipped(source, "CAN'T READ FOLDER");
    return 0;
  }
  if (listed != ListResult::Ok) {
    NoteSkipped(source, "FOLDER NOT FOUND");
    return 0;
  }
  for (const DirListProblem& p : problems) {
    if (!MatchesMask(p.Name, mask)) continue;
    const std::string path = JoinNative(source, p.Name);
    const char* reason = p.Kind == ListResult::Special    ? "NOT A REGULAR FILE"
                         : p.Kind == ListResult::NotFound ? "BROKEN LINK OR GONE"
                         : p.Kind == ListResult::LinkLoop ? "LINK LOOP"
                                                          : "CAN'T READ";
    DebugMessage(std::string(reason) + ", NOT ADDED \"" + path + "\"", 0);
    NoteSkipped(path, reason);
  }
  int result = 1;  // the folder exists
  if (recursive) {
    for (const DirListEntry& e : entries) {
      if (!e.IsDirectory) continue;
      const std::string child = JoinNative(source, e.Name);
      if (InAncestry(ancestry, e.Device, e.Inode)) {
        // Its files are in the tree already, but the folder itself is not where the source
        // has it: say so.
        DebugMessage("FOLDER LEADS BACK INTO ITSELF, SKIPPED \"" + child + "\"", 0);
        NoteSkipped(child, e.IsLink ? "LINK LOOP" : "FOLDER LOOP");
        continue;
      }
      std::string longName = e.Name;
      std::string shortName = e.AlternateName.empty() ? AsciiUpper(e.Name) : e.AlternateName;
      bool skip = false;
      if (OnAddDir) OnAddDir(this, longName, shortName, skip);
      if (skip) continue;
      double dateTime = 0.0;
      if (!DosDateTimeToDateTime(e.DosTime, dateTime)) dateTime = CurrentTime();
      TDEntry* sub = AddDirEntry(destDir, longName, shortName, e.Attr, dateTime, fatal, child,
                                 e.ModTime);
      if (sub == nullptr) return 0;
      if (e.Name == "Installer" && OnBeep) OnBeep();
      ancestry.emplace_back(e.Device, e.Inode);
      const int r = AddDirRecursive(sub, child, mask, attr, recursive, false, archiveOnly,
                                    ancestry, fatal);
      ancestry.pop_back();
      if (sub->FirstEntry == nullptr) {
        RemoveDirEntries(sub);
        ++Index().EmptyDirsLeftOut;
      }
      // Only a full table ends the parent's listing: a subfolder whose last file was
      // skipped must not cost the files that follow it.
      if (r == 0 && fatal) return 0;
    }
  }
  // The folder's path, held once for all of its files.
  std::shared_ptr<const std::string> folder;
  for (const DirListEntry& e : entries) {
    if (e.IsDirectory) continue;
    if (!PassesAttrMask(e.Attr, attr) || !MatchesMask(e.Name, mask)) continue;
    if (archiveOnly && (e.Attr & kAttrArchive) == 0) continue;
    if (!folder) folder = std::make_shared<const std::string>(source);
    result = AddFileEntry(destDir, e, TSourcePath(folder, e.Name), fatal);
    if (fatal) return 0;
  }
  return result;
}

void TIsoImage::ClearDir(TDEntry* dir) {
  while (dir->FirstEntry != nullptr) RemoveEntry(dir, dir->FirstEntry);
}

void TIsoImage::RemoveEntry(TDEntry* dir, TFEntry* entry) {
  if (entry->Dir != nullptr) {
    TDEntry* sub = entry->Dir;
    ClearDir(sub);
    DoomDir(sub);
    entry->Dir = nullptr;
  }
  UnindexChild(dir, entry);
  UnlinkChild(dir, entry);
  DoomFile(entry);
}

// Removes a directory and all below it; the tables are compacted by the caller.
void TIsoImage::RemoveDirEntries(TDEntry* dir) {
  if (dir->OwnEntry != nullptr && dir->Parent != nullptr && dir->Parent != dir) {
    RemoveEntry(dir->Parent, dir->OwnEntry);
  }
}

bool TIsoImage::RemoveDir(TDEntry*& dir) {
  // Only a directory of the tree is looked at: a stale pointer is never followed.
  if (dir == nullptr || Index().Dirs.count(dir) == 0) return false;
  if (dir->Path == "\\" || dir->Parent == dir) return false;
  RemoveDirEntries(dir);
  CompactTables();
  dir = nullptr;
  return true;
}

bool TIsoImage::RemoveFile(const std::string& dirPath, const std::string& longName) {
  TDEntry* dir = FindDir(dirPath);
  TFEntry* entry = FindFile(dir, longName);
  if (entry == nullptr) return false;
  RemoveEntry(dir, entry);
  CompactTables();
  return true;
}

bool TIsoImage::RemoveEmptyDirs() {
  // Children are created after their parents, so one pass from the end sees every
  // directory after all of its subdirectories have had their turn.
  std::vector<TDEntry*>& dirs = Tables().Dirs;
  const std::unordered_set<const void*>& doomed = Index().Doomed;
  for (size_t i = dirs.size(); i-- > 1;) {
    TDEntry* d = dirs[i];
    if (doomed.count(d) == 0 && d->FirstEntry == nullptr) {
      RemoveDirEntries(d);
      ++Index().EmptyDirsLeftOut;
    }
  }
  CompactTables();
  return true;
}

int64_t TIsoImage::DiskDirSize(const std::string& path) { return MeasureDiskSize(path); }

void TIsoImage::ReleaseLookups() {
  CompactTables();
  TreeIndex& ix = Index();
  // Swapped with empty ones: clear() keeps the bucket arrays.
  decltype(ix.ByPath)().swap(ix.ByPath);
  decltype(ix.Origins)().swap(ix.Origins);
  decltype(ix.Dirs)().swap(ix.Dirs);
  decltype(ix.Doomed)().swap(ix.Doomed);
  std::vector<TSkippedSource>().swap(skipped_);
  decltype(leftOutNoted_)().swap(leftOutNoted_);
}

namespace {

// The ISO name an entry of an earlier session asks for: its own when it is a valid 8.3
// name, else one made as listings make them (UniqueShortName then keeps it unique).
std::string EarlierShortName(DirIndex& ix, const std::string& name) {
  if (IsValidShortName(name)) return AsciiUpper(name);
  std::string generated = ix.GenerateShortName(name);
  ix.Generated.Release(generated);
  return generated;
}

double EarlierDateTime(const TImportedEntry& e) {
  return UnixToDateTime(static_cast<time_t>(e.ModTime));
}

}  // namespace

bool TIsoImage::EarlierSessionAdded() const { return Tables().SessionImported; }

std::vector<std::pair<std::string, std::string>> TIsoImage::SourceFilesOnDisc() const {
  std::vector<std::pair<std::string, std::string>> files;
  // The name a reader shows: the Rock Ridge name, else the long name without the dot that
  // marks a name without an extension.
  const auto shown = [this](const TFEntry* e) {
    std::string name = RockRidge ? RockRidgeNameOf(e) : e->LongName;
    if (e->Dir == nullptr && name == e->LongName && !name.empty() && name.back() == '.')
      name.pop_back();
    return name;
  };
  std::vector<std::pair<const TDEntry*, std::string>> folders;
  if (const TDEntry* root = FindDir("\\")) folders.emplace_back(root, std::string());
  while (!folders.empty()) {
    const auto [dir, prefix] = folders.back();
    folders.pop_back();
    for (const TFEntry* e = dir->FirstEntry; e != nullptr; e = e->Next) {
      if (e->Dir != nullptr) {
        folders.emplace_back(e->Dir, prefix + shown(e) + "/");
      } else if (!e->Imported && !e->FullPath.empty()) {
        files.emplace_back(prefix + shown(e), e->FullPath);
      }
    }
  }
  return files;
}

void TIsoImage::MarkEarlierSessionAdded() { Tables().SessionImported = true; }

uint32_t TIsoImage::FirstImportedSector() const {
  uint32_t lowest = UINT32_MAX;
  for (const TFEntry* f : Tables().Files) {
    if (!f->Imported) continue;
    for (const TImportedExtent& x : f->OldExtents) {
      if (x.Bytes > 0) lowest = std::min(lowest, x.Sector);
    }
  }
  return lowest;
}

TIsoImage::TEarlierSessionCount TIsoImage::AddEarlierSession(const TImportedSession& session) {
  TEarlierSessionCount count;
  MarkEarlierSessionAdded();
  TDEntry* root = FindDir("\\");
  bool fatal = false;
  if (root != nullptr) AddEarlierEntries(root, session.Root, count, fatal);
  CompactTables();
  return count;
}

void TIsoImage::AddEarlierEntries(TDEntry* dir, const TImportedEntry& from,
                                  TEarlierSessionCount& count, bool& fatal) {
  for (const TImportedEntry& child : from.Children) {
    if (fatal) return;
    if (child.IsDir) {
      TDEntry* sub = nullptr;
      if (TFEntry* existing = FindFile(dir, child.Name)) {
        if (existing->Dir == nullptr) {  // a queued file of that name stands there
          ++count.Replaced;
          continue;
        }
        sub = existing->Dir;
      } else {
        const int32_t attr = kAttrDirectory | (child.Hidden ? kAttrHidden : 0);
        sub = AddDirEntry(dir, child.Name, CreatedDirShortName(child.Name), attr,
                          EarlierDateTime(child), fatal, std::string(), child.ModTime);
        if (sub == nullptr) return;
        auto origin = Index().Origins.find(sub->OwnEntry);
        if (origin != Index().Origins.end()) origin->second.Earlier = true;
      }
      AddEarlierEntries(sub, child, count, fatal);
      continue;
    }
    std::string longName = CleanLongName(child.Name);
    // A queued entry replaces an old file only under the same full name, byte for byte; one
    // that differs in case, or only in the shorter names, leaves the old file beside it
    // under a "~N" name, as two sources of one session would be.
    if (IndexOf(dir).RockRidgeNames.Contains(RockRidgeName(longName))) {
      ++count.Replaced;
      continue;
    }
    if (longName.find('.') == std::string::npos) longName += '.';
    if (AddImportedFile(dir, child, longName, fatal)) ++count.Files;
  }
}

bool TIsoImage::AddImportedFile(TDEntry* dir, const TImportedEntry& from, std::string longName,
                                bool& fatal) {
  if (RefuseWhenFull(false, DiscPath(dir, from.Name), fatal)) return false;
  ImageTables& t = Tables();
  DirIndex& ix = IndexOf(dir);
  auto* f = new TFEntry;
  LinkChild(dir, f);
  t.Files.push_back(f);
  ++Index().LiveFiles;
  const std::string stored =
      FitLongName(longName, kMaxJolietFileUnits, [&ix](const std::string& n) {
        const std::string key = AsciiUpper(n);
        return ix.Children.Contains(key) || ix.Aliases.count(key) != 0;
      });
  if (stored != longName) {
    const std::string original = AsciiUpper(longName);
    if (ix.Aliases.emplace(original, f).second) ix.AliasOf[f] = original;
  }
  f->ShortName = UniqueShortName(ix, EarlierShortName(ix, CleanLongName(from.Name)), true);
  f->LongName = stored;
  f->FileSize = f->JolietSize = static_cast<int64_t>(from.Size);
  f->Attr = kAttrArchive | (from.Hidden ? kAttrHidden : 0);
  f->DateTime = EarlierDateTime(from);
  f->SourceName = UniqueRockRidgeName(ix, RockRidgeName(CleanLongName(from.Name)), stored);
  if (f->SourceName == f->LongName) f->SourceName.clear();
  // Volumes without Rock Ridge say nothing of modes: the file stays readable by all.
  f->Mode = from.Mode != 0 ? from.Mode : 0444;
  f->ModTime = from.ModTime;
  f->Imported = true;
  f->OldExtents = from.Extents;
  IndexChild(dir, f);
  NoteOrigin(f, dir, DiscPath(dir, from.Name), from.Name, "NAME IN USE", true);
  return true;
}

namespace {

int64_t MeasureTree(const std::string& path, FolderAncestry& ancestry,
                    const std::atomic<bool>* cancel) {
  if (cancel != nullptr && cancel->load()) return 0;
  DirListEntry self;
  if (ListSingle(path, self) != ListResult::Ok) return 0;
  if (!self.IsDirectory) return self.Readable ? self.Size : 0;
  if (InAncestry(ancestry, self.Device, self.Inode)) return 0;
  std::vector<DirListEntry> entries;
  if (ListDirectory(path, "*.*", kListAllAttributes, entries) != ListResult::Ok) return 0;
  ancestry.emplace_back(self.Device, self.Inode);
  int64_t total = 0;
  for (const DirListEntry& e : entries) {
    total += e.IsDirectory ? MeasureTree(JoinNative(path, e.Name), ancestry, cancel)
             : e.Readable  ? e.Size
                           : 0;
  }
  ancestry.pop_back();
  return total;
}

}  // namespace

int64_t MeasureDiskSize(const std::string& path, const std::atomic<bool>* cancel) {
  FolderAncestry ancestry;
  return MeasureTree(AbsoluteNative(path), ancestry, cancel);
}

}  // namespace brennix
