// Layout (where every structure and file lies) and the image head built from it.
#include <algorithm>
#include <climits>
#include <cstring>

#include "image/iso_image.h"
#include "image/names.h"
#include "image/records.h"
#include "image/rock_ridge.h"

namespace brennix {
namespace {

size_t IsoIdLength(const TFEntry* e) { return e->ShortName.size() + (e->Dir ? 0 : 2); }
size_t JolietIdLength(const TFEntry* e) { return 2 * (Utf16Units(e->LongName) + (e->Dir ? 0 : 2)); }

int64_t SectorsFor(int64_t bytes) { return (bytes + kSector - 1) / static_cast<int64_t>(kSector); }

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

template <typename RecordLength>
int64_t DirectorySectors(const TDEntry* d, RecordLength length) {
  SectorPacker packer;
  packer.Add(34);
  packer.Add(34);
  for (const TFEntry* e = d->FirstEntry; e != nullptr; e = e->Next) packer.Add(length(e));
  return static_cast<int64_t>(packer.Sectors());
}

uint32_t SubDirCount(const TDEntry* d) {
  uint32_t n = 0;
  for (const TFEntry* e = d->FirstEntry; e != nullptr; e = e->Next) n += e->Dir != nullptr;
  return n;
}

// The Rock Ridge entries of one ISO record: `self` is the directory a "." or ".." record
// describes (nullptr for a child entry `e`). The layout and the writer both ask here, so
// record lengths and continuation areas agree by construction.
SystemUse IsoSystemUse(const TDEntry* self, bool isRootDot, const TFEntry* e, size_t idLength,
                       const std::array<uint8_t, 7>& recordDate) {
  RockRidgeRecord r;
  const TFEntry* source = self != nullptr ? self->OwnEntry : e;
  r.Root = isRootDot;
  if (self != nullptr || e->Dir != nullptr) {
    r.Mode = kRationalDirMode;
    r.Links = 2 + SubDirCount(self != nullptr ? self : e->Dir);
  } else {
    r.Mode = RationalFileMode(e->Mode);
  }
  r.Modified = source != nullptr && source->ModTime != kNoModTime ? RockRidgeDate(source->ModTime)
                                                                   : recordDate;
  if (e != nullptr) r.Name = e->SourceName.empty() ? e->LongName : e->SourceName;
  return SplitSystemUse(RockRidgeEntries(r), SystemUseRoom(idLength));
}

// Visits the records of `d` in order: "." and ".." (`self` the directory they describe,
// `e` nullptr), then every child `e`, each with the system use it carries in the ISO tree
// (empty without Rock Ridge).
template <typename Visit>
void ForEachRecord(const TDEntry* d, bool rockRidge, const std::array<uint8_t, 7>& dotDate,
                   int32_t timeZoneOffset, Visit visit) {
  const bool isRoot = d->Parent == d;
  for (int dots = 0; dots < 2; ++dots) {
    const TDEntry* self = dots == 0 ? d : d->Parent;
    SystemUse su;
    if (rockRidge) su = IsoSystemUse(self, dots == 0 && isRoot, nullptr, 1, dotDate);
    visit(self, static_cast<uint8_t>(dots), static_cast<const TFEntry*>(nullptr), su);
  }
  for (const TFEntry* e = d->FirstEntry; e != nullptr; e = e->Next) {
    SystemUse su;
    if (rockRidge) {
      su = IsoSystemUse(nullptr, false, e, IsoIdLength(e), RecordingDate(e->DateTime, timeZoneOffset));
    }
    visit(static_cast<const TDEntry*>(nullptr), uint8_t{0}, e, su);
  }
}

void PadToSector(std::vector<uint8_t>& bytes) {
  bytes.resize((bytes.size() + kSector - 1) / kSector * kSector, 0);
}

}  // namespace

int64_t TIsoImage::SectorsToWrite() const {
  return WritePostGap ? std::max<int64_t>(ImageSectors, 300) : ImageSectors;
}

bool TIsoImage::PrepareImage() {
  ImageTables& t = Tables();
  if (t.Dirs.empty()) return false;
  if (t.Dirs.size() > 65535) {
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
    isoTable += static_cast<int64_t>(PathTableRecordLength(order[i]->ShortName.size()));
    jolietTable += static_cast<int64_t>(PathTableRecordLength(2 * Utf16Units(order[i]->LongName)));
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
  for (TDEntry* d : t.Dirs) {
    int64_t sectors = 0;
    int64_t continuationSectors = 0;
    if (RockRidge) {
      SectorPacker packer, continuation;
      ForEachRecord(d, true, {}, TimeZoneOffset,
                    [&](const TDEntry*, uint8_t, const TFEntry* e, const SystemUse& su) {
                      packer.Add(DirectoryRecordLength(e ? IsoIdLength(e) : 1, su.InRecord.size()));
                      if (!su.Continuation.empty()) continuation.Add(su.Continuation.size());
                    });
      sectors = static_cast<int64_t>(packer.Sectors());
      continuationSectors = static_cast<int64_t>(continuation.Sectors());
    } else {
      sectors = DirectorySectors(
          d, [](const TFEntry* e) { return DirectoryRecordLength(IsoIdLength(e)); });
    }
    d->ISOLocation = static_cast<int32_t>(area);
    d->ISOSize = sectors * static_cast<int64_t>(kSector);
    // A directory's continuation areas follow its records: readers that stream the image
    // pick them up right after the directory they belong to.
    area += sectors + continuationSectors;
  }
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
    d->JolietSize = sectors * static_cast<int64_t>(kSector);
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
  int64_t fileSectors = 0;
  for (TFEntry* e : t.Files) {
    if (e->Dir != nullptr) {
      e->FileSize = e->Dir->ISOSize;
      e->JolietSize = e->Dir->JolietSize;
      e->Location = e->Dir->ISOLocation;
      e->JolietLocation = e->Dir->JolietLocation;
    } else if (e->FileSize > 0) {
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
                       static_cast<int64_t>(kSector));
  std::vector<uint8_t> bytes(16 * kSector, 0);
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
                   : std::vector<uint8_t>(d->ShortName.begin(), d->ShortName.end());
        const int32_t extent = areaStart + (joliet ? d->JolietLocation : d->ISOLocation);
        AppendPathTableRecord(id, static_cast<uint32_t>(extent),
                              static_cast<uint16_t>(d->Parent->Number), bigEndian, bytes);
      }
      PadToSector(bytes);
      HeaderStream.Write(bytes.data(), bytes.size());
    }
  };
  writeTable(t.DirsISO, false, ISODirArea);
  if (JolietFileSystem) writeTable(t.DirsJoliet, true, JolietDirArea);

  // Directory records, one directory after another, none straddling a sector.
  const auto dotDate = RecordingDate(now, TimeZoneOffset);
  std::vector<uint8_t> continuationBytes;
  auto writeDirs = [&](bool joliet) {
    const int32_t areaStart = joliet ? JolietDirArea : ISODirArea;
    for (const TDEntry* d : t.Dirs) {
      bytes.clear();
      continuationBytes.clear();
      SectorPacker packer, continuation;
      const int64_t continuationStart = areaStart + d->ISOLocation + d->ISOSize / static_cast<int64_t>(kSector);
      ForEachRecord(d, RockRidge && !joliet, dotDate, TimeZoneOffset,
                    [&](const TDEntry* self, uint8_t dots, const TFEntry* e, SystemUse su) {
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
        if (!su.Continuation.empty()) {
          const size_t length = su.Continuation.size();
          continuationBytes.resize(continuationBytes.size() + continuation.PaddingBefore(length), 0);
          continuation.Add(length);
          const size_t at = continuationBytes.size();
          PutCeLocation(su, static_cast<uint32_t>(continuationStart + static_cast<int64_t>(at / kSector)),
                        static_cast<uint32_t>(at % kSector));
          continuationBytes.insert(continuationBytes.end(), su.Continuation.begin(), su.Continuation.end());
        }
        r.SystemUse = std::move(su.InRecord);
        const size_t length = DirectoryRecordLength(r.Identifier.size(), r.SystemUse.size());
        bytes.resize(bytes.size() + packer.PaddingBefore(length), 0);
        packer.Add(length);
        AppendDirectoryRecord(r, bytes);
      });
      PadToSector(bytes);
      HeaderStream.Write(bytes.data(), bytes.size());
      PadToSector(continuationBytes);
      HeaderStream.Write(continuationBytes.data(), continuationBytes.size());
    }
  };
  writeDirs(false);
  if (JolietFileSystem) writeDirs(true);

  bytes.assign(kSector, 0);
  for (int32_t i = 0; i < PadSectors; ++i) HeaderStream.Write(bytes.data(), bytes.size());
  HeaderStream.Seek(0);

  ImageSectors = VolumeSectors - StartSector;
  if (OnSetDoDebug) OnSetDoDebug(true);
  // What was written must end exactly where the layout put the first file.
  const int64_t expected = static_cast<int64_t>(FirstFileSector - StartSector) *
                           static_cast<int64_t>(kSector);
  if (HeaderStream.Size() != expected) {
    DebugMessage("IMAGE HEADER SIZE MISMATCH: " + std::to_string(HeaderStream.Size()) +
                     " BYTES INSTEAD OF " + std::to_string(expected),
                 0);
    return false;
  }
  return true;
}

}  // namespace brennix
