// Layout (where every structure and file lies) and the image head built from it.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "image/iso_image.h"
#include "image/names.h"
#include "image/records.h"
#include "image/rock_ridge.h"

namespace brennix {
namespace {

size_t IsoIdLength(const TFEntry* e) { return e->ShortName.size() + (e->Dir ? 0 : 2); }
size_t JolietIdLength(const TFEntry* e) { return 2 * (Utf16Units(e->LongName) + (e->Dir ? 0 : 2)); }

int64_t SectorsFor(int64_t bytes) { return (bytes + kSectorSize - 1) / int64_t{kSectorSize}; }

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

// Records a child takes: one per extent of a file.
int64_t RecordCount(const TFEntry* e) {
  if (e->Dir != nullptr) return 1;
  if (e->Imported) return std::max<int64_t>(1, static_cast<int64_t>(e->OldExtents.size()));
  return ExtentCount(e->FileSize);
}

template <typename RecordLength>
int64_t DirectorySectors(const TDEntry* d, RecordLength length) {
  SectorPacker packer;
  packer.Add(34);
  packer.Add(34);
  for (const TFEntry* e = d->FirstEntry; e != nullptr; e = e->Next) {
    const size_t l = length(e);
    for (int64_t k = RecordCount(e); k > 0; --k) packer.Add(l);
  }
  return static_cast<int64_t>(packer.Sectors());
}

const TDEntry* IsoParentOf(const TDEntry* d) { return d->IsoParent != nullptr ? d->IsoParent : d->Parent; }
bool IsRelocated(const TDEntry* d) { return d->IsoParent != nullptr && d->IsoParent != d->Parent; }
const std::string& IsoNameOf(const TDEntry* d) { return d->IsoName.empty() ? d->ShortName : d->IsoName; }

// Visits the records of `d` in order: "." and ".." (`self` the directory they describe,
// `e` nullptr), then every child `e`.
template <typename Visit>
void ForEachRecord(const TDEntry* d, Visit visit) {
  for (int dots = 0; dots < 2; ++dots) {
    visit(dots == 0 ? d : d->Parent, static_cast<uint8_t>(dots), static_cast<const TFEntry*>(nullptr));
  }
  for (const TFEntry* e = d->FirstEntry; e != nullptr; e = e->Next) {
    visit(static_cast<const TDEntry*>(nullptr), uint8_t{0}, e);
  }
}

// Splits the record of a file of `size` bytes whose first extent `r` names into one record
// per extent.
template <typename Put>
void PutExtents(DirectoryRecord& r, int64_t size, Put put) {
  const int64_t count = ExtentCount(size);
  if (count == 1) {
    put(r);
    return;
  }
  const uint32_t first = r.Extent;
  for (int64_t k = 0; k < count; ++k) {
    DirectoryRecord part = r;
    part.Extent = first + static_cast<uint32_t>(k * (kMaxExtentBytes / int64_t{kSectorSize}));
    part.DataLength = static_cast<uint32_t>(std::min(kMaxExtentBytes, size - k * kMaxExtentBytes));
    if (k + 1 < count) part.Flags |= kFlagMultiExtent;
    put(part);
  }
}

// The records of file `e` whose fields `r` holds: one per extent it is laid out in, or, for
// a file kept from an earlier session, one per extent it already has on the disc.
template <typename Put>
void PutFileRecords(const TFEntry* e, DirectoryRecord& r, int64_t size, Put put) {
  if (!e->Imported) {
    PutExtents(r, size, put);
    return;
  }
  if (e->OldExtents.empty()) {
    r.Extent = 0;
    r.DataLength = 0;
    put(r);
    return;
  }
  for (size_t k = 0; k < e->OldExtents.size(); ++k) {
    DirectoryRecord part = r;
    part.Extent = e->OldExtents[k].Sector;
    part.DataLength = e->OldExtents[k].Bytes;
    if (k + 1 < e->OldExtents.size()) part.Flags |= kFlagMultiExtent;
    put(part);
  }
}

void PadToSector(std::vector<uint8_t>& bytes) {
  bytes.resize((bytes.size() + kSectorSize - 1) / kSectorSize * kSectorSize, 0);
}

}  // namespace

int64_t TIsoImage::SectorsToWrite() const {
  return WritePostGap ? std::max<int64_t>(ImageSectors, 300) : ImageSectors;
}

bool TIsoImage::PrepareImage() {
  ImageTables& t = Tables();
  if (t.Dirs.empty()) return false;
  // A path-table record names its parent by a 16-bit number: the folders numbered past
  // 65535 can only be folders without subfolders (checked below, once numbered). The last
  // record in path-table order always is one, so 65,535 folders besides the root fit.
  if (t.Dirs.size() > kMaxPathTableRecords) {
    DebugMessage("TOO MANY DIRECTORIES FOR THE PATH TABLES: " + std::to_string(t.Dirs.size()), 0);
    return false;
  }
  // 1. Directory numbers.
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

  // Records must fit their length byte.
  for (const TFEntry* e : t.Files) {
    if (DirectoryRecordLength(IsoIdLength(e)) > 255 ||
        (JolietFileSystem && DirectoryRecordLength(JolietIdLength(e)) > 255)) {
      DebugMessage("NAME TOO LONG FOR A DIRECTORY RECORD \"" + e->LongName + "\"", 0);
      return false;
    }
  }

  // 2. Descriptors and path tables.
  int64_t cursor = static_cast<int64_t>(StartSector) + 16;
  PrimaryDescriptorSector = static_cast<int32_t>(cursor++);
  JolietDescriptorSector = JolietFileSystem ? static_cast<int32_t>(cursor++) : 0;
  TerminatorSector = static_cast<int32_t>(cursor++);
  int64_t isoTable = 10, jolietTable = 10;
  for (size_t i = 1; i < order.size(); ++i) {
    jolietTable += static_cast<int64_t>(PathTableRecordLength(2 * Utf16Units(order[i]->LongName)));
  }
  for (size_t i = 1; i < isoOrder_.size(); ++i) {
    isoTable += static_cast<int64_t>(PathTableRecordLength(IsoNameOf(isoOrder_[i]).size()));
  }
  PathTableSize = static_cast<int32_t>(isoTable);
  PathTableL = static_cast<int32_t>(cursor);
  PathTableM = static_cast<int32_t>(cursor + SectorsFor(isoTable));
  cursor += 2 * SectorsFor(isoTable);
  if (JolietFileSystem) {
    JolietPathTableSize = static_cast<int32_t>(jolietTable);
    JolietPathTableL = static_cast<int32_t>(cursor);
    JolietPathTableM = static_cast<int32_t>(cursor + SectorsFor(jolietTable));
    cursor += 2 * SectorsFor(jolietTable);
  } else {
    JolietPathTableSize = JolietPathTableL = JolietPathTableM = 0;
  }

  // 3. Directory areas, in creation order.
  ISODirArea = static_cast<int32_t>(cursor);
  int64_t area = 0;
  std::vector<PlannedRecord> planned;
  auto placeIsoDir = [&](TDEntry* d) {
    int64_t sectors = 0;
    int64_t continuationSectors = 0;
    if (RockRidge) {
      SectorPacker packer, continuation;
      RockRidgeRecords(d, {}, planned);
      for (const PlannedRecord& p : planned) {
        packer.Add(DirectoryRecordLength(p.Record.Identifier.size(), p.Su.InRecord.size()));
        if (!p.Su.Continuation.empty()) continuation.Add(p.Su.Continuation.size());
      }
      sectors = static_cast<int64_t>(packer.Sectors());
      continuationSectors = static_cast<int64_t>(continuation.Sectors());
    } else {
      sectors = DirectorySectors(
          d, [](const TFEntry* e) { return DirectoryRecordLength(IsoIdLength(e)); });
    }
    d->ISOLocation = static_cast<int32_t>(area);
    d->ISOSize = sectors * int64_t{kSectorSize};
    // A directory's continuation areas follow its records: readers that stream the image
    // pick them up right after the directory they belong to.
    area += sectors + continuationSectors;
  };
  for (TDEntry* d : relocated_.empty() ? t.Dirs : isoPlacement_) placeIsoDir(d);
  ISODirSectors = static_cast<int32_t>(area);
  cursor += area;
  JolietDirArea = static_cast<int32_t>(cursor);
  area = 0;
  for (TDEntry* d : t.Dirs) {
    if (!JolietFileSystem) {
      d->JolietLocation = 0;
      d->JolietSize = 0;
      continue;
    }
    const int64_t sectors = DirectorySectors(
        d, [](const TFEntry* e) { return DirectoryRecordLength(JolietIdLength(e)); });
    d->JolietLocation = static_cast<int32_t>(area);
    d->JolietSize = sectors * int64_t{kSectorSize};
    area += sectors;
  }
  JolietDirSectors = static_cast<int32_t>(area);
  cursor += area;

  // 4. Nothing of the file data before sector 150.
  if (cursor < 150) {
    PadSectors = static_cast<int32_t>(150 - cursor);
    FirstFileSector = 150;
  } else {
    PadSectors = 0;
    FirstFileSector = static_cast<int32_t>(cursor);
  }
  if (cursor > INT32_MAX) {
    DebugMessage("IMAGE TOO LARGE", 0);
    return false;
  }

  // 5. Files.
  relocationEntry_.FileSize = relocationDir_.ISOSize;
  relocationEntry_.Location = relocationDir_.ISOLocation;
  int64_t fileSectors = 0;
  for (TFEntry* e : t.Files) {
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
  // 6. Sizes. Every extent must stay addressable with 32 bits.
  VolumeSectors = FirstFileSector + fileSectors;
  ImageSectors = VolumeSectors - StartSector;
  if (VolumeSectors > INT32_MAX) {
    DebugMessage("IMAGE TOO LARGE", 0);
    return false;
  }
  return true;
}

bool TIsoImage::BuildHeader() {
  const ImageTables& t = Tables();
  if (t.Dirs.empty()) return false;
  const double now = CurrentTime();
  HeaderStream.Clear();
  HeaderStream.Reserve(static_cast<int64_t>(FirstFileSector - StartSector) *
                       int64_t{kSectorSize});
  std::vector<uint8_t> bytes(16 * kSectorSize, 0);
  HeaderStream.Write(bytes.data(), bytes.size());

  // Volume descriptors.
  const TDEntry* root = t.Dirs.front();
  VolumeDescriptorFields f;
  f.System = IdSystem;
  f.Volume = IdVolume;
  f.VolumeSet = IdVolumeSet;
  f.Publisher = IdPublisher;
  f.Preparer = IdPreparer;
  f.Application = IdApplication;
  f.Copyright = FileCopyright;
  f.Abstract = FileAbstract;
  f.Bibliographic = FileBibliographic;
  f.VolumeSectors = static_cast<uint32_t>(VolumeSectors);
  f.PathTableSize = static_cast<uint32_t>(PathTableSize);
  f.PathTableL = static_cast<uint32_t>(PathTableL);
  f.PathTableM = static_cast<uint32_t>(PathTableM);
  f.RootExtent = static_cast<uint32_t>(ISODirArea + root->ISOLocation);
  f.RootSize = static_cast<uint32_t>(root->ISOSize);
  f.Creation = now;
  f.Modification = now;
  // Bytes 88-90 of the primary descriptor stay zero: readers that look for the Joliet
  // escape sequence in any descriptor would otherwise read the ISO tree as UCS-2.
  f.JolietEscape = false;
  const auto primary = PrimaryDescriptor(f);
  HeaderStream.Write(primary.data(), primary.size());
  if (JolietFileSystem) {
    f.PathTableSize = static_cast<uint32_t>(JolietPathTableSize);
    f.PathTableL = static_cast<uint32_t>(JolietPathTableL);
    f.PathTableM = static_cast<uint32_t>(JolietPathTableM);
    f.RootExtent = static_cast<uint32_t>(JolietDirArea + root->JolietLocation);
    f.RootSize = static_cast<uint32_t>(root->JolietSize);
    f.Creation = DateCreation;
    f.Modification = DateModification;
    const auto joliet = JolietDescriptor(f);
    HeaderStream.Write(joliet.data(), joliet.size());
  }
  const auto terminator = TerminatorDescriptor();
  HeaderStream.Write(terminator.data(), terminator.size());

  DescriptorCopy.assign(kDescriptorCopyBytes, 0xFF);
  const auto& head = HeaderStream.Bytes();
  const size_t copied = std::min(head.size(), DescriptorCopy.size());
  std::memcpy(DescriptorCopy.data(), head.data(), copied);
  DescriptorCopySize = static_cast<int32_t>(copied);

  // Path tables, each in L form and then in M form.
  auto writeTable = [&](const std::vector<TDEntry*>& dirs, bool joliet, int32_t areaStart) {
    for (const bool bigEndian : {false, true}) {
      bytes.clear();
      AppendPathTableRecord({0}, static_cast<uint32_t>(areaStart), 1, bigEndian, bytes);
      for (size_t i = 1; i < dirs.size(); ++i) {
        const TDEntry* d = dirs[i];
        const std::vector<uint8_t> id =
            joliet ? JolietIdentifier(d->LongName)
                   : std::vector<uint8_t>(IsoNameOf(d).begin(), IsoNameOf(d).end());
        const int32_t extent = areaStart + (joliet ? d->JolietLocation : d->ISOLocation);
        const int32_t parent = joliet ? d->Parent->Number : IsoParentOf(d)->IsoNumber;
        AppendPathTableRecord(id, static_cast<uint32_t>(extent), static_cast<uint16_t>(parent),
                              bigEndian, bytes);
      }
      PadToSector(bytes);
      HeaderStream.Write(bytes.data(), bytes.size());
    }
  };
  writeTable(isoOrder_, false, ISODirArea);
  if (JolietFileSystem) writeTable(t.DirsJoliet, true, JolietDirArea);

  // Directory records, one directory after another, none straddling a sector.
  const auto dotDate = RecordingDate(now, TimeZoneOffset);
  std::vector<uint8_t> continuationBytes;
  std::vector<PlannedRecord> planned;
  auto writeDirs = [&](bool joliet) {
    const int32_t areaStart = joliet ? JolietDirArea : ISODirArea;
    auto writeDir = [&](const TDEntry* d) {
      bytes.clear();
      continuationBytes.clear();
      SectorPacker packer, continuation;
      const int64_t continuationStart = areaStart + d->ISOLocation + d->ISOSize / int64_t{kSectorSize};
      auto put = [&](DirectoryRecord& r, SystemUse& su) {
        if (!su.Continuation.empty()) {
          const size_t length = su.Continuation.size();
          continuationBytes.resize(continuationBytes.size() + continuation.PaddingBefore(length), 0);
          continuation.Add(length);
          const size_t at = continuationBytes.size();
          PutCeLocation(su, static_cast<uint32_t>(continuationStart + static_cast<int64_t>(at / kSectorSize)),
                        static_cast<uint32_t>(at % kSectorSize));
          continuationBytes.insert(continuationBytes.end(), su.Continuation.begin(), su.Continuation.end());
        }
        r.SystemUse = std::move(su.InRecord);
        const size_t length = DirectoryRecordLength(r.Identifier.size(), r.SystemUse.size());
        bytes.resize(bytes.size() + packer.PaddingBefore(length), 0);
        packer.Add(length);
        AppendDirectoryRecord(r, bytes);
      };
      if (RockRidge && !joliet) {
        RockRidgeRecords(d, dotDate, planned);
        for (PlannedRecord& p : planned) put(p.Record, p.Su);
      } else {
        ForEachRecord(d, [&](const TDEntry* self, uint8_t dots, const TFEntry* e) {
          DirectoryRecord r;
          if (e == nullptr) {  // "." or ".."
            r.Date = dotDate;
            r.Flags = kFlagDirectory;
            r.Extent = static_cast<uint32_t>(areaStart + (joliet ? self->JolietLocation : self->ISOLocation));
            r.DataLength = static_cast<uint32_t>(joliet ? self->JolietSize : self->ISOSize);
            r.Identifier = {dots};
          } else {
            r.Date = RecordingDate(e->DateTime, TimeZoneOffset);
            r.Flags = static_cast<uint8_t>((e->Dir ? kFlagDirectory : 0) |
                                           ((MarkHidden && (e->Attr & kAttrHidden)) ? kFlagHidden : 0));
            const int32_t location = joliet ? e->JolietLocation : e->Location;
            const int64_t size = joliet ? e->JolietSize : e->FileSize;
            if (e->Dir != nullptr) {
              r.Extent = static_cast<uint32_t>(areaStart + location);
            } else {
              r.Extent = size > 0 ? static_cast<uint32_t>(FirstFileSector + location) : 0;
            }
            r.DataLength = static_cast<uint32_t>(size & 0xFFFFFFFF);
            if (joliet) {
              r.Identifier = JolietIdentifier(e->Dir ? e->LongName : e->LongName + ";1");
            } else {
              const std::string id = e->Dir ? e->ShortName : e->ShortName + ";1";
              r.Identifier.assign(id.begin(), id.end());
            }
          }
          SystemUse none;
          if (e == nullptr || e->Dir != nullptr) {
            put(r, none);
            return;
          }
          const int64_t size = joliet ? e->JolietSize : e->FileSize;
          PutFileRecords(e, r, size, [&](DirectoryRecord& part) { put(part, none); });
        });
      }
      PadToSector(bytes);
      HeaderStream.Write(bytes.data(), bytes.size());
      PadToSector(continuationBytes);
      HeaderStream.Write(continuationBytes.data(), continuationBytes.size());
    };
    for (const TDEntry* d : joliet || relocated_.empty() ? t.Dirs : isoPlacement_) writeDir(d);
  };
  writeDirs(false);
  if (JolietFileSystem) writeDirs(true);

  bytes.assign(kSectorSize, 0);
  for (int32_t i = 0; i < PadSectors; ++i) HeaderStream.Write(bytes.data(), bytes.size());
  HeaderStream.Seek(0);

  ImageSectors = VolumeSectors - StartSector;
  if (OnSetDoDebug) OnSetDoDebug(true);
  // What was written must end exactly where the layout put the first file.
  const int64_t expected = static_cast<int64_t>(FirstFileSector - StartSector) *
                           int64_t{kSectorSize};
  if (HeaderStream.Size() != expected) {
    DebugMessage("IMAGE HEADER SIZE MISMATCH: " + std::to_string(HeaderStream.Size()) +
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

void TIsoImage::RockRidgeRecords(const TDEntry* d, const std::array<uint8_t, 7>& dotDate,
                                 std::vector<PlannedRecord>& out) const {
  out.clear();
  const TDEntry* root = Tables().Dirs.front();
  auto extent = [&](const TDEntry* x) { return static_cast<uint32_t>(ISODirArea + x->ISOLocation); };
  auto subDirs = [](const TDEntry* x) { return x->IsoSubDirs; };
  auto modified = [&](const TFEntry* source, const std::array<uint8_t, 7>& recordDate) {
    return source != nullptr && source->ModTime != kNoModTime ? RockRidgeDate(source->ModTime) : recordDate;
  };
  auto add = [&](DirectoryRecord& r, const RockRidgeRecord& rr) {
    PlannedRecord p;
    p.Su = SplitSystemUse(RockRidgeEntries(rr), SystemUseRoom(r.Identifier.size()));
    p.Record = std::move(r);
    out.push_back(std::move(p));
  };
  // A directory's own record wherever it stands (its parent's list or the relocation folder).
  auto dirRecord = [&](const TDEntry* x, const TFEntry* e, const std::string& id) {
    DirectoryRecord r;
    r.Date = RecordingDate(e->DateTime, TimeZoneOffset);
    r.Flags = static_cast<uint8_t>(kFlagDirectory | ((MarkHidden && (e->Attr & kAttrHidden)) ? kFlagHidden : 0));
    r.Extent = extent(x);
    r.DataLength = static_cast<uint32_t>(x->ISOSize);
    r.Identifier.assign(id.begin(), id.end());
    RockRidgeRecord rr;
    rr.Mode = kRationalDirMode;
    rr.Links = 2 + subDirs(x);
    rr.Modified = modified(e, r.Date);
    rr.Name = e->SourceName.empty() ? e->LongName : e->SourceName;
    return std::make_pair(r, rr);
  };
  for (uint8_t dots = 0; dots < 2; ++dots) {
    const TDEntry* self = dots == 0 ? d : IsoParentOf(d);
    DirectoryRecord r;
    r.Date = dotDate;
    r.Flags = kFlagDirectory;
    r.Extent = extent(self);
    r.DataLength = static_cast<uint32_t>(self->ISOSize);
    r.Identifier = {dots};
    RockRidgeRecord rr;
    rr.Root = dots == 0 && d == root;
    rr.Mode = kRationalDirMode;
    rr.Links = 2 + subDirs(self);
    rr.Modified = modified(self->OwnEntry, dotDate);
    if (dots == 1 && IsRelocated(d)) rr.ParentLink = extent(d->Parent);
    add(r, rr);
  }
  if (d == &relocationDir_) {
    for (const TDEntry* x : relocated_) {
      auto [r, rr] = dirRecord(x, x->OwnEntry, x->IsoName);
      rr.Relocated = true;
      add(r, rr);
    }
    return;
  }
  for (const TFEntry* e = d->FirstEntry; e != nullptr; e = e->Next) {
    if (e->Dir != nullptr) {
      auto [r, rr] = dirRecord(e->Dir, e, e->ShortName);
      if (IsRelocated(e->Dir)) {
        // The placeholder: an empty file that points at where the folder went.
        r.Flags &= static_cast<uint8_t>(~kFlagDirectory);
        r.Extent = 0;
        r.DataLength = 0;
        rr.ChildLink = extent(e->Dir);
      }
      add(r, rr);
      continue;
    }
    DirectoryRecord r;
    r.Date = RecordingDate(e->DateTime, TimeZoneOffset);
    r.Flags = (MarkHidden && (e->Attr & kAttrHidden)) ? kFlagHidden : 0;
    r.Extent = e->FileSize > 0 ? static_cast<uint32_t>(FirstFileSector + e->Location) : 0;
    r.DataLength = static_cast<uint32_t>(e->FileSize & 0xFFFFFFFF);
    const std::string id = e->ShortName + ";1";
    r.Identifier.assign(id.begin(), id.end());
    RockRidgeRecord rr;
    rr.Mode = RationalFileMode(e->Mode);
    rr.Modified = modified(e, r.Date);
    rr.Name = e->SourceName.empty() ? e->LongName : e->SourceName;
    // Every extent's record carries the same entries, as readers take them from any.
    PutFileRecords(e, r, e->FileSize, [&](DirectoryRecord& part) { add(part, rr); });
  }
  if (d == root && !relocated_.empty()) {
    auto [r, rr] = dirRecord(&relocationDir_, &relocationEntry_, relocationDir_.ShortName);
    add(r, rr);
  }
}

}  // namespace brennix
