#include "image/head_writers.h"

#include <algorithm>

#include "image/names.h"

namespace brennix {
namespace {

int64_t SectorsFor(int64_t bytes) { return (bytes + kSectorSize - 1) / kSectorSize; }

void PadToSector(std::vector<uint8_t>& bytes) {
  bytes.resize(static_cast<size_t>(SectorsFor(static_cast<int64_t>(bytes.size())) * kSectorSize), 0);
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
    part.Extent = first + static_cast<uint32_t>(k * (kMaxExtentBytes / kSectorSize));
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

// The Rock Ridge time of an entry: its source's last write when known, else its record's date.
std::array<uint8_t, 7> ModifiedDate(const TFEntry* source, const std::array<uint8_t, 7>& recordDate) {
  return source != nullptr && source->ModTime != kNoModTime ? RockRidgeDate(source->ModTime) : recordDate;
}

const std::string& RockRidgeNameOf(const TFEntry* e) {
  return e->SourceName.empty() ? e->LongName : e->SourceName;
}

}  // namespace

// ---- volume descriptors

void DescriptorWriter::Write(const VolumeDescriptorFields& primary,
                             const VolumeDescriptorFields& joliet, TMemoryStream& out) const {
  const auto p = PrimaryDescriptor(primary);
  out.Write(p.data(), p.size());
  if (joliet_) {
    const auto j = JolietDescriptor(joliet);
    out.Write(j.data(), j.size());
  }
  const auto t = TerminatorDescriptor();
  out.Write(t.data(), t.size());
}

// ---- path tables

PathTableWriter::PathTableWriter(const HeadTree& tree) : tree_(tree) {
  const std::vector<TDEntry*>& dirs = *tree_.PathOrder;
  bytes_ = static_cast<int64_t>(PathTableRecordLength(1));
  for (size_t i = 1; i < dirs.size(); ++i) {
    bytes_ += static_cast<int64_t>(PathTableRecordLength(Identifier(dirs[i]).size()));
  }
}

int64_t PathTableWriter::Sectors() const { return 2 * SectorsFor(bytes_); }

std::vector<uint8_t> PathTableWriter::Identifier(const TDEntry* d) const {
  if (tree_.Joliet) return JolietIdentifier(d->LongName);
  return std::vector<uint8_t>(IsoNameOf(d).begin(), IsoNameOf(d).end());
}

uint16_t PathTableWriter::ParentNumber(const TDEntry* d) const {
  return static_cast<uint16_t>(tree_.Joliet ? d->Parent->Number : IsoParentOf(d)->IsoNumber);
}

void PathTableWriter::Write(TMemoryStream& out) const {
  const std::vector<TDEntry*>& dirs = *tree_.PathOrder;
  std::vector<uint8_t> bytes;
  for (const bool bigEndian : {false, true}) {
    bytes.clear();
    const auto extent = [&](const TDEntry* d) {
      return static_cast<uint32_t>(tree_.AreaStart + tree_.Location(d));
    };
    // The root's directory lies first in its area.
    AppendPathTableRecord({0}, static_cast<uint32_t>(tree_.AreaStart), 1, bigEndian, bytes);
    for (size_t i = 1; i < dirs.size(); ++i) {
      AppendPathTableRecord(Identifier(dirs[i]), extent(dirs[i]), ParentNumber(dirs[i]), bigEndian, bytes);
    }
    PadToSector(bytes);
    out.Write(bytes.data(), bytes.size());
  }
}

// ---- directory records

void DirectoryWriter::Add(DirectoryRecord& r, const RockRidgeRecord* rr) {
  PlannedRecord p;
  if (rr != nullptr) p.Su = SplitSystemUse(RockRidgeEntries(*rr), SystemUseRoom(r.Identifier.size()));
  p.Record = std::move(r);
  records_.Add(DirectoryRecordLength(p.Record.Identifier.size(), p.Su.InRecord.size()));
  if (!p.Su.Continuation.empty()) continuation_.Add(p.Su.Continuation.size());
  planned_.push_back(std::move(p));
}

void DirectoryWriter::Plan(const TDEntry* d) {
  planned_.clear();
  records_ = SectorPacker();
  continuation_ = SectorPacker();
  PlanDots(d);
  if (d == tree_.RelocationDir) {
    for (const TDEntry* x : *tree_.Relocated) {
      DirectoryRecord r = FolderRecord(x, x->OwnEntry, {x->IsoName.begin(), x->IsoName.end()});
      RockRidgeRecord rr = FolderEntries(x, x->OwnEntry, r);
      rr.Relocated = true;
      Add(r, &rr);
    }
    return;
  }
  for (const TFEntry* e = d->FirstEntry; e != nullptr; e = e->Next) PlanChild(e);
  if (d == tree_.Root && tree_.RelocationDir != nullptr) {
    const TDEntry* x = tree_.RelocationDir;
    DirectoryRecord r = FolderRecord(x, tree_.RelocationEntry, {x->ShortName.begin(), x->ShortName.end()});
    RockRidgeRecord rr = FolderEntries(x, tree_.RelocationEntry, r);
    Add(r, &rr);
  }
}

// "." and "..": the ".." of a relocated folder names the relocation folder, and its PL entry
// the real parent.
void DirectoryWriter::PlanDots(const TDEntry* d) {
  for (uint8_t dots = 0; dots < 2; ++dots) {
    const TDEntry* self = dots == 0 ? d : tree_.Joliet ? d->Parent : IsoParentOf(d);
    DirectoryRecord r;
    r.Date = dotDate_;
    r.Flags = kFlagDirectory;
    r.Extent = Extent(self);
    r.DataLength = static_cast<uint32_t>(tree_.Size(self));
    r.Identifier = {dots};
    if (!WithRockRidge()) {
      Add(r, nullptr);
      continue;
    }
    RockRidgeRecord rr;
    rr.Root = dots == 0 && d == tree_.Root;
    rr.Mode = kRationalDirMode;
    rr.Links = 2 + self->IsoSubDirs;
    rr.Modified = ModifiedDate(self->OwnEntry, dotDate_);
    if (dots == 1 && IsRelocated(d)) rr.ParentLink = Extent(d->Parent);
    Add(r, &rr);
  }
}

std::vector<uint8_t> DirectoryWriter::Identifier(const TFEntry* e) const {
  if (tree_.Joliet) return JolietIdentifier(e->Dir != nullptr ? e->LongName : e->LongName + ";1");
  const std::string id = e->Dir != nullptr ? e->ShortName : e->ShortName + ";1";
  return std::vector<uint8_t>(id.begin(), id.end());
}

DirectoryRecord DirectoryWriter::FolderRecord(const TDEntry* x, const TFEntry* e,
                                              std::vector<uint8_t> id) const {
  DirectoryRecord r;
  r.Date = RecordingDate(e->DateTime, tree_.TimeZoneOffset);
  r.Flags = static_cast<uint8_t>(kFlagDirectory | Hidden(e));
  r.Extent = Extent(x);
  r.DataLength = static_cast<uint32_t>(tree_.Size(x));
  r.Identifier = std::move(id);
  return r;
}

RockRidgeRecord DirectoryWriter::FolderEntries(const TDEntry* x, const TFEntry* e,
                                               const DirectoryRecord& r) const {
  RockRidgeRecord rr;
  rr.Mode = kRationalDirMode;
  rr.Links = 2 + x->IsoSubDirs;
  rr.Modified = ModifiedDate(e, r.Date);
  rr.Name = RockRidgeNameOf(e);
  return rr;
}

void DirectoryWriter::PlanChild(const TFEntry* e) {
  if (e->Dir == nullptr) {
    PlanFile(e);
    return;
  }
  DirectoryRecord r = FolderRecord(e->Dir, e, Identifier(e));
  if (!WithRockRidge()) {
    Add(r, nullptr);
    return;
  }
  RockRidgeRecord rr = FolderEntries(e->Dir, e, r);
  if (IsRelocated(e->Dir)) {
    // The placeholder: an empty file that points at where the folder went.
    r.Flags &= static_cast<uint8_t>(~kFlagDirectory);
    r.Extent = 0;
    r.DataLength = 0;
    rr.ChildLink = Extent(e->Dir);
  }
  Add(r, &rr);
}

void DirectoryWriter::PlanFile(const TFEntry* e) {
  const int64_t size = tree_.Joliet ? e->JolietSize : e->FileSize;
  const int64_t location = tree_.Joliet ? e->JolietLocation : e->Location;
  DirectoryRecord r;
  r.Date = RecordingDate(e->DateTime, tree_.TimeZoneOffset);
  r.Flags = Hidden(e);
  r.Extent = size > 0 ? static_cast<uint32_t>(tree_.FirstFileSector + location) : 0;
  r.DataLength = static_cast<uint32_t>(size & 0xFFFFFFFF);
  r.Identifier = Identifier(e);
  if (!WithRockRidge()) {
    PutFileRecords(e, r, size, [&](DirectoryRecord& part) { Add(part, nullptr); });
    return;
  }
  RockRidgeRecord rr;
  rr.Mode = RationalFileMode(e->Mode);
  rr.Modified = ModifiedDate(e, r.Date);
  rr.Name = RockRidgeNameOf(e);
  // Every extent's record carries the same entries, as readers take them from any.
  PutFileRecords(e, r, size, [&](DirectoryRecord& part) { Add(part, &rr); });
}

void DirectoryWriter::Write(const TDEntry* d, std::vector<uint8_t>& out) {
  Plan(d);
  bytes_.clear();
  continuationBytes_.clear();
  SectorPacker packer, continuation;
  // A directory's continuation areas follow its records: readers that stream the image pick
  // them up right after the directory they belong to.
  const int64_t continuationStart = Extent(d) + RecordSectors();
  for (PlannedRecord& p : planned_) {
    if (!p.Su.Continuation.empty()) {
      const size_t length = p.Su.Continuation.size();
      continuationBytes_.resize(continuationBytes_.size() + continuation.PaddingBefore(length), 0);
      continuation.Add(length);
      const size_t at = continuationBytes_.size();
      PutCeLocation(p.Su, static_cast<uint32_t>(continuationStart + static_cast<int64_t>(at / vd::kSize)),
                    static_cast<uint32_t>(at % vd::kSize));
      continuationBytes_.insert(continuationBytes_.end(), p.Su.Continuation.begin(), p.Su.Continuation.end());
    }
    p.Record.SystemUse = std::move(p.Su.InRecord);
    const size_t length = DirectoryRecordLength(p.Record.Identifier.size(), p.Record.SystemUse.size());
    bytes_.resize(bytes_.size() + packer.PaddingBefore(length), 0);
    packer.Add(length);
    AppendDirectoryRecord(p.Record, bytes_);
  }
  PadToSector(bytes_);
  out.insert(out.end(), bytes_.begin(), bytes_.end());
  PadToSector(continuationBytes_);
  out.insert(out.end(), continuationBytes_.begin(), continuationBytes_.end());
}

}  // namespace brennix
