// Layout (where every structure and file lies) and the image head built from it.
#include <algorithm>
#include <cassert>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "image/head_writers.h"
#include "image/iso_image.h"
#include "image/names.h"

namespace brennix {
namespace {

size_t IsoIdLength(const TFEntry* e) { return e->ShortName.size() + (e->Dir ? 0 : 2); }
size_t JolietIdLength(const TFEntry* e) { return 2 * (Utf16Units(e->LongName) + (e->Dir ? 0 : 2)); }

int64_t SectorsFor(int64_t bytes) { return (bytes + kSectorSize - 1) / kSectorSize; }

// Path-table order: the root, then every directory after its parent's block, siblings by
// ISO name (unsigned bytes). Walking the levels in order gives exactly the order a repeated
// sort by (parent number, name) settles on.
std::vector<TDEntry*> PathTableOrder(TDEntry* root, size_t count) {
  std::vector<TDEntry*> order;
  order.reserve(count);
  order.push_back(root);
  std::vector<TDEntry*> siblings;
  for (size_t i = 0; i < order.size(); ++i) {
    siblings.clear();
    for (TFEntry* e = order[i]->FirstEntry; e != nullptr; e = e->Next) {
      if (e->Dir != nullptr) siblings.push_back(e->Dir);
    }
    std::stable_sort(siblings.begin(), siblings.end(),
                     [](const TDEntry* a, const TDEntry* b) { return a->ShortName < b->ShortName; });
    order.insert(order.end(), siblings.begin(), siblings.end());
  }
  return order;
}


// Places the directories of `tree` one after another, each with the sectors its writer plans
// for its records and then for their continuation areas; the sectors of the whole area.
int64_t PlaceDirectories(const HeadTree& tree) {
  DirectoryWriter writer(tree, {});
  int64_t area = 0;
  for (TDEntry* d : *tree.Placement) {
    writer.Plan(d);
    const auto location = static_cast<int32_t>(area);
    const int64_t size = writer.RecordSectors() * kSectorSize;
    if (tree.Joliet) {
      d->JolietLocation = location;
      d->JolietSize = size;
    } else {
      d->ISOLocation = location;
      d->ISOSize = size;
    }
    area += writer.RecordSectors() + writer.ContinuationSectors();
  }
  return area;
}

}  // namespace

int64_t TIsoImage::SectorsToWrite() const {
  return WritePostGap ? std::max<int64_t>(ImageSectors, 300) : ImageSectors;
}

HeadTree TIsoImage::HeadTreeOf(bool joliet) const {
  ImageTables& t = Tables();
  HeadTree tree;
  tree.Joliet = joliet;
  tree.RockRidge = RockRidge;
  tree.MarkHidden = MarkHidden;
  tree.TimeZoneOffset = TimeZoneOffset;
  tree.AreaStart = joliet ? JolietDirArea : ISODirArea;
  tree.FirstFileSector = FirstFileSector;
  tree.Root = t.Dirs.empty() ? nullptr : t.Dirs.front();
  tree.PathOrder = joliet ? &t.DirsJoliet : &isoOrder_;
  const bool moved = !joliet && !relocated_.empty();
  tree.Placement = moved ? &isoPlacement_ : &t.Dirs;
  if (moved) {
    tree.RelocationDir = &relocationDir_;
    tree.RelocationEntry = &relocationEntry_;
    tree.Relocated = &relocated_;
  }
  return tree;
}

bool TIsoImage::PrepareImage() {
  const ImageTables& t = Tables();
  if (t.Dirs.empty() || !NumberDirectories()) return false;
  // Records must fit their length byte.
  for (const TFEntry* e : t.Files) {
    if (DirectoryRecordLength(IsoIdLength(e)) > 255 ||
        (JolietFileSystem && DirectoryRecordLength(JolietIdLength(e)) > 255)) {
      DebugMessage("NAME TOO LONG FOR A DIRECTORY RECORD \"" + e->LongName + "\"", 0);
      return false;
    }
  }
  return PlaceFiles(PlaceHead());
}

bool TIsoImage::NumberDirectories() {
  ImageTables& t = Tables();
  // A path-table record names its parent by a 16-bit number: the folders numbered past
  // 65535 can only be folders without subfolders (checked below, once numbered). The last
  // record in path-table order always is one, so 65,535 folders besides the root fit.
  if (t.Dirs.size() > kMaxPathTableRecords) {
    DebugMessage("TOO MANY DIRECTORIES FOR THE PATH TABLES: " + std::to_string(t.Dirs.size()), 0);
    return false;
  }
  std::vector<TDEntry*> order = PathTableOrder(t.Dirs.front(), t.Dirs.size());
  if (order.size() != t.Dirs.size()) {
    DebugMessage("IMAGE TREE IS INCONSISTENT", 0);
    return false;
  }
  for (size_t i = 0; i < order.size(); ++i) order[i]->Number = static_cast<int32_t>(i + 1);
  t.DirsISO = order;
  t.DirsJoliet = order;
  isoOrder_ = order;
  PlanRelocation();
  // Each folder's count of subfolders, once: the Rock Ridge link counts of its own record,
  // its "." and the ".." of every folder below it all need it.
  for (TDEntry* d : t.Dirs) d->IsoSubDirs = 0;
  for (size_t i = 1; i < t.Dirs.size(); ++i) {
    if (!IsRelocated(t.Dirs[i])) ++t.Dirs[i]->Parent->IsoSubDirs;
  }
  if (!relocated_.empty()) {
    ++t.Dirs.front()->IsoSubDirs;
    relocationDir_.IsoSubDirs = static_cast<uint32_t>(relocated_.size());
  }
  for (const TDEntry* d : t.Dirs) {
    if (d->Parent->Number > 65535 || IsoParentOf(d)->IsoNumber > 65535) {
      DebugMessage("TOO MANY DIRECTORIES FOR THE PATH TABLES: " + std::to_string(t.Dirs.size()), 0);
      return false;
    }
  }
  return true;
}

int64_t TIsoImage::PlaceHead() {
  int64_t cursor = StartSector + static_cast<int64_t>(vd::kFirstSector);
  const DescriptorWriter descriptors(JolietFileSystem);
  PrimaryDescriptorSector = static_cast<int32_t>(cursor);
  JolietDescriptorSector = JolietFileSystem ? static_cast<int32_t>(cursor + 1) : 0;
  cursor += descriptors.Sectors();
  TerminatorSector = static_cast<int32_t>(cursor - 1);
  const HeadTree iso = HeadTreeOf(false), joliet = HeadTreeOf(true);
  // Path tables, each in L form and then in M form.
  auto placeTable = [&](const HeadTree& tree, int32_t& size, int32_t& l, int32_t& m) {
    const PathTableWriter table(tree);
    size = static_cast<int32_t>(table.Bytes());
    l = static_cast<int32_t>(cursor);
    m = static_cast<int32_t>(cursor + table.Sectors() / 2);
    cursor += table.Sectors();
  };
  placeTable(iso, PathTableSize, PathTableL, PathTableM);
  if (JolietFileSystem) {
    placeTable(joliet, JolietPathTableSize, JolietPathTableL, JolietPathTableM);
  } else {
    JolietPathTableSize = JolietPathTableL = JolietPathTableM = 0;
  }
  // The directory areas.
  ISODirArea = static_cast<int32_t>(cursor);
  const int64_t isoSectors = PlaceDirectories(iso);
  ISODirSectors = static_cast<int32_t>(isoSectors);
  cursor += isoSectors;
  JolietDirArea = static_cast<int32_t>(cursor);
  int64_t jolietSectors = 0;
  if (JolietFileSystem) {
    jolietSectors = PlaceDirectories(joliet);
  } else {
    for (TDEntry* d : Tables().Dirs) d->JolietLocation = 0, d->JolietSize = 0;
  }
  JolietDirSectors = static_cast<int32_t>(jolietSectors);
  return cursor + jolietSectors;
}

bool TIsoImage::PlaceFiles(int64_t headEnd) {
  // Nothing of the file data before sector 150.
  PadSectors = headEnd < 150 ? static_cast<int32_t>(150 - headEnd) : 0;
  FirstFileSector = static_cast<int32_t>(std::max<int64_t>(headEnd, 150));
  if (headEnd > INT32_MAX) {
    DebugMessage("IMAGE TOO LARGE", 0);
    return false;
  }
  relocationEntry_.FileSize = relocationDir_.ISOSize;
  relocationEntry_.Location = relocationDir_.ISOLocation;
  int64_t fileSectors = 0;
  for (TFEntry* e : Tables().Files) {
    if (e->Dir != nullptr) {
      e->FileSize = e->Dir->ISOSize;
      e->JolietSize = e->Dir->JolietSize;
      e->Location = e->Dir->ISOLocation;
      e->JolietLocation = e->Dir->JolietLocation;
    } else if (e->FileSize > 0 && !e->Imported) {
      e->Location = e->JolietLocation = static_cast<int32_t>(std::min<int64_t>(fileSectors, INT32_MAX));
      fileSectors += SectorsFor(e->FileSize);
    } else {
      e->Location = e->JolietLocation = 0;
    }
  }
  // Every extent must stay addressable with 32 bits.
  VolumeSectors = FirstFileSector + fileSectors;
  ImageSectors = VolumeSectors - StartSector;
  if (VolumeSectors > INT32_MAX) {
    DebugMessage("IMAGE TOO LARGE", 0);
    return false;
  }
  return true;
}

void TIsoImage::WriteDescriptors(double now) {
  const TDEntry* root = Tables().Dirs.front();
  // One tree's descriptor: the volume's names and size, that tree's path tables and root,
  // and its dates. Bytes 88-90 of the primary descriptor stay zero: readers that look for
  // the Joliet escape sequence in any descriptor would otherwise read the ISO tree as UCS-2.
  const auto tree = [&](int64_t tables, int64_t tableL, int64_t tableM, int64_t rootExtent,
                        int64_t rootSize, double creation, double modification) {
    return VolumeDescriptorFields{
        .System = IdSystem, .Volume = IdVolume, .VolumeSet = IdVolumeSet,
        .Publisher = IdPublisher, .Preparer = IdPreparer, .Application = IdApplication,
        .Copyright = FileCopyright, .Abstract = FileAbstract, .Bibliographic = FileBibliographic,
        .VolumeSectors = static_cast<uint32_t>(VolumeSectors),
        .PathTableSize = static_cast<uint32_t>(tables),
        .PathTableL = static_cast<uint32_t>(tableL), .PathTableM = static_cast<uint32_t>(tableM),
        .RootExtent = static_cast<uint32_t>(rootExtent),
        .RootSize = static_cast<uint32_t>(rootSize), .Creation = creation,
        .Modification = modification, .JolietEscape = false};
  };
  DescriptorWriter(JolietFileSystem)
      .Write(tree(PathTableSize, PathTableL, PathTableM, ISODirArea + root->ISOLocation,
                  root->ISOSize, now, now),
             tree(JolietPathTableSize, JolietPathTableL, JolietPathTableM,
                  JolietDirArea + root->JolietLocation, root->JolietSize, DateCreation,
                  DateModification),
             HeaderStream);

  DescriptorCopy.assign(kDescriptorCopyBytes, 0xFF);
  const auto& head = HeaderStream.Bytes();
  const size_t copied = std::min(head.size(), DescriptorCopy.size());
  std::memcpy(DescriptorCopy.data(), head.data(), copied);
  DescriptorCopySize = static_cast<int32_t>(copied);
}

namespace {

// Makes the directory areas of the head, one directory at a time, then the padding before
// the first file: a piece each call, so that only the directory at hand is held.
class DirectoryAreaMaker {
 public:
  // planned: the bytes the layout counted for the areas and the padding.
  DirectoryAreaMaker(HeadTree iso, HeadTree joliet, bool withJoliet,
                     const std::array<uint8_t, 7>& dotDate, int32_t padSectors, int64_t planned)
      : iso_(std::move(iso)), joliet_(std::move(joliet)), withJoliet_(withJoliet),
        isoWriter_(iso_, dotDate), jolietWriter_(joliet_, dotDate), padSectors_(padSectors),
        planned_(planned) {}

  bool Next(std::vector<uint8_t>& out) {
    const size_t before = out.size();
    const bool more = Make(out);
    made_ += static_cast<int64_t>(out.size() - before);
    // The writers write what they plan: a record that disagreed with its plan would shift
    // every file after it (the stream would cut or pad the areas to the planned size).
    assert(more ? made_ <= planned_ : made_ == planned_);
    return more;
  }

 private:
  bool Make(std::vector<uint8_t>& out) {
    if (tree_ == 0 && next_ >= iso_.Placement->size()) tree_ = withJoliet_ ? 1 : 2, next_ = 0;
    if (tree_ == 1 && next_ >= joliet_.Placement->size()) tree_ = 2, next_ = 0;
    if (tree_ == 0) {
      isoWriter_.Write((*iso_.Placement)[next_++], out);
    } else if (tree_ == 1) {
      jolietWriter_.Write((*joliet_.Placement)[next_++], out);
    } else if (padSectors_ > 0) {
      out.resize(out.size() + static_cast<size_t>(padSectors_) * vd::kSize, 0);
      padSectors_ = 0;
    } else {
      return false;
    }
    return true;
  }

  const HeadTree iso_, joliet_;
  const bool withJoliet_;
  DirectoryWriter isoWriter_, jolietWriter_;
  int32_t padSectors_;
  int tree_ = 0;  // 0 the ISO tree, 1 the Joliet tree, 2 the padding
  size_t next_ = 0;
  const int64_t planned_;
  int64_t made_ = 0;
};

}  // namespace

bool TIsoImage::BuildHeader() {
  if (Tables().Dirs.empty()) return false;
  const double now = CurrentTime();
  // What is written must end exactly where the layout put the first file.
  const int64_t expected = static_cast<int64_t>(FirstFileSector - StartSector) * kSectorSize;
  HeaderStream.Clear();
  std::vector<uint8_t> zeros(vd::kFirstSector * vd::kSize, 0);  // the system area
  HeaderStream.Write(zeros.data(), zeros.size());
  WriteDescriptors(now);
  const HeadTree iso = HeadTreeOf(false), joliet = HeadTreeOf(true);
  PathTableWriter(iso).Write(HeaderStream);
  if (JolietFileSystem) PathTableWriter(joliet).Write(HeaderStream);
  // The directory areas and the padding are made as the stream is read: a tree of many
  // folders takes a sector per folder and tree, far more than the tree itself.
  const auto dotDate = RecordingDate(now, TimeZoneOffset);
  const int32_t pad = PadSectors;
  const bool withJoliet = JolietFileSystem;
  // The layout planned every directory with these writers, which write what they plan: the
  // areas take the sectors it counted, and the head must end where it put the first file.
  const int64_t made = (int64_t{ISODirSectors} + JolietDirSectors + PadSectors) * kSectorSize;
  const auto start = [iso, joliet, dotDate, pad, withJoliet,
                      made]() -> TMemoryStream::Producer {
    auto maker =
        std::make_shared<DirectoryAreaMaker>(iso, joliet, withJoliet, dotDate, pad, made);
    return [maker](std::vector<uint8_t>& out) { return maker->Next(out); };
  };
  const int64_t size = HeaderStream.Size() + made;
  HeaderStream.SetTail(made, start);
  HeaderStream.Seek(0);

  ImageSectors = VolumeSectors - StartSector;
  if (OnSetDoDebug) OnSetDoDebug(true);
  if (size != expected) {
    DebugMessage("IMAGE HEADER SIZE MISMATCH: " + std::to_string(size) +
                     " BYTES INSTEAD OF " + std::to_string(expected),
                 0);
    return false;
  }
  return true;
}

// ISO 9660 allows eight levels. With Rock Ridge, a folder that would lie deeper moves to a
// relocation folder below the root (its place keeps a CL placeholder, its ".." a PL back
// to the real parent, its own record there an RE), so POSIX readers see the tree whole
// while the ISO tree stays within the limit. Joliet keeps the tree as it is.
void TIsoImage::PlanRelocation() {
  ImageTables& t = Tables();
  TDEntry* root = t.Dirs.front();
  relocated_.clear();
  for (TDEntry* d : t.Dirs) {
    d->IsoParent = nullptr;
    d->IsoName.clear();
    d->IsoNumber = d->Number;
  }
  if (!RockRidge) return;
  std::unordered_map<const TDEntry*, int> level{{root, 1}};
  for (size_t i = 1; i < t.Dirs.size(); ++i) {
    TDEntry* d = t.Dirs[i];
    auto parent = level.find(d->Parent);
    int depth = (parent == level.end() ? 1 : parent->second) + 1;
    if (depth > 8) {
      d->IsoParent = &relocationDir_;
      relocated_.push_back(d);
      char name[16];
      std::snprintf(name, sizeof name, "%06zu", relocated_.size());
      d->IsoName = name;
      depth = 3;
    }
    level[d] = depth;
  }
  if (relocated_.empty()) return;
  std::string name = "RR_MOVED";
  for (bool taken = true; taken;) {
    taken = false;
    for (const TFEntry* e = root->FirstEntry; e != nullptr; e = e->Next) taken |= e->ShortName == name;
    if (taken) name += "_";
  }
  relocationDir_ = TDEntry{};
  relocationEntry_ = TFEntry{};
  relocationDir_.ShortName = relocationEntry_.ShortName = name;
  relocationDir_.LongName = relocationEntry_.LongName = "rr_moved";
  relocationDir_.Path = "\\" + name;
  relocationDir_.Parent = root;
  relocationDir_.OwnEntry = &relocationEntry_;
  relocationEntry_.Attr = kAttrDirectory;
  relocationEntry_.Dir = &relocationDir_;
  relocationEntry_.DateTime = CurrentTime();
  // The ISO tree's path-table order: as the tree's, with the moved folders under the
  // relocation folder, siblings by identifier.
  isoOrder_.assign(1, root);
  std::vector<TDEntry*> siblings;
  for (size_t i = 0; i < isoOrder_.size(); ++i) {
    TDEntry* d = isoOrder_[i];
    siblings.clear();
    if (d == &relocationDir_) {
      siblings = relocated_;
    } else {
      for (TFEntry* e = d->FirstEntry; e != nullptr; e = e->Next) {
        if (e->Dir != nullptr && !IsRelocated(e->Dir)) siblings.push_back(e->Dir);
      }
      if (d == root) siblings.push_back(&relocationDir_);
    }
    std::stable_sort(siblings.begin(), siblings.end(), [](const TDEntry* a, const TDEntry* b) {
      return IsoNameOf(a) < IsoNameOf(b);
    });
    isoOrder_.insert(isoOrder_.end(), siblings.begin(), siblings.end());
  }
  for (size_t i = 0; i < isoOrder_.size(); ++i) isoOrder_[i]->IsoNumber = static_cast<int32_t>(i + 1);
  // Where the ISO directories lie: the root, the relocation folder, every moved folder with
  // all below it, then the rest. Readers that stream the image take directories in the
  // order they lie and must meet a moved folder before the placeholder that points to it.
  std::unordered_map<const TDEntry*, bool> moved{{root, false}};
  std::vector<TDEntry*> rest;
  isoPlacement_.assign({root, &relocationDir_});
  for (size_t i = 1; i < t.Dirs.size(); ++i) {
    TDEntry* d = t.Dirs[i];
    const bool below = IsRelocated(d) || moved[d->Parent];
    moved[d] = below;
    (below ? isoPlacement_ : rest).push_back(d);
  }
  isoPlacement_.insert(isoPlacement_.end(), rest.begin(), rest.end());
}

}  // namespace brennix
