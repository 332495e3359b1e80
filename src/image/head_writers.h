// The structures of the image head, each with the one writer that knows its size and writes
// its bytes: the volume descriptors, the path tables, and the directory records of the ISO
// tree (with their Rock Ridge entries) and of the Joliet tree. The layout asks the writers
// for their sizes and BuildHeader has the same writers write, so the two cannot disagree.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "image/image_tables.h"
#include "image/memory_stream.h"
#include "image/records.h"
#include "image/rock_ridge.h"

namespace brennix {

// Where a folder stands in the ISO tree, which moves folders deeper than eight levels into a
// relocation folder when Rock Ridge is on.
inline const TDEntry* IsoParentOf(const TDEntry* d) {
  return d->IsoParent != nullptr ? d->IsoParent : d->Parent;
}
inline bool IsRelocated(const TDEntry* d) {
  return d->IsoParent != nullptr && d->IsoParent != d->Parent;
}
inline const std::string& IsoNameOf(const TDEntry* d) {
  return d->IsoName.empty() ? d->ShortName : d->IsoName;
}

// One of the image's directory trees as the writers see it: the ISO tree or the Joliet tree.
struct HeadTree {
  bool Joliet = false;
  bool RockRidge = false;  // the ISO tree's records carry Rock Ridge entries
  bool MarkHidden = false;
  int32_t TimeZoneOffset = 0;
  int64_t AreaStart = 0;  // the first sector of the tree's directory area
  int64_t FirstFileSector = 0;
  const TDEntry* Root = nullptr;
  const std::vector<TDEntry*>* PathOrder = nullptr;  // path-table order, root first
  const std::vector<TDEntry*>* Placement = nullptr;  // the order of the directory area
  // The relocation folder of the ISO tree and the folders moved into it (none: empty).
  const TDEntry* RelocationDir = nullptr;
  const TFEntry* RelocationEntry = nullptr;
  const std::vector<TDEntry*>* Relocated = nullptr;

  int64_t Location(const TDEntry* d) const { return Joliet ? d->JolietLocation : d->ISOLocation; }
  int64_t Size(const TDEntry* d) const { return Joliet ? d->JolietSize : d->ISOSize; }
};

// The volume descriptors: the primary, the Joliet one when there is a Joliet tree, and the
// terminator.
class DescriptorWriter {
 public:
  explicit DescriptorWriter(bool joliet) : joliet_(joliet) {}
  int64_t Sectors() const { return joliet_ ? 3 : 2; }
  void Write(const VolumeDescriptorFields& primary, const VolumeDescriptorFields& joliet,
             TMemoryStream& out) const;

 private:
  bool joliet_;
};

// The path table of one tree, in its L form and then its M form, each padded to whole sectors.
class PathTableWriter {
 public:
  explicit PathTableWriter(const HeadTree& tree);
  int64_t Bytes() const { return bytes_; }  // of one form
  int64_t Sectors() const;                   // of both forms
  void Write(TMemoryStream& out) const;

 private:
  std::vector<uint8_t> Identifier(const TDEntry* d) const;
  uint16_t ParentNumber(const TDEntry* d) const;

  const HeadTree& tree_;
  int64_t bytes_ = 0;
};

// The directory records of one tree, planned one directory at a time; the records of a
// directory are followed by the continuation areas of their Rock Ridge entries.
class DirectoryWriter {
 public:
  // `dotDate` is the recording date of every "." and ".." record.
  DirectoryWriter(const HeadTree& tree, const std::array<uint8_t, 7>& dotDate)
      : tree_(tree), dotDate_(dotDate) {}
  void Plan(const TDEntry* d);
  // Of the directory planned last.
  int64_t RecordSectors() const { return static_cast<int64_t>(records_.Sectors()); }
  int64_t ContinuationSectors() const { return static_cast<int64_t>(continuation_.Sectors()); }
  // Plans `d` (its layout done) and appends its records and their continuation areas.
  void Write(const TDEntry* d, std::vector<uint8_t>& out);

 private:
  void Add(DirectoryRecord& r, const RockRidgeRecord* rr);
  void PlanDots(const TDEntry* d);
  void PlanChild(const TFEntry* e);
  void PlanFile(const TFEntry* e);
  std::vector<uint8_t> Identifier(const TFEntry* e) const;
  // The record of folder `x` that `e` stands for, and its Rock Ridge entries.
  DirectoryRecord FolderRecord(const TDEntry* x, const TFEntry* e, std::vector<uint8_t> id) const;
  RockRidgeRecord FolderEntries(const TDEntry* x, const TFEntry* e, const DirectoryRecord& r) const;
  uint32_t Extent(const TDEntry* d) const {
    return static_cast<uint32_t>(tree_.AreaStart + tree_.Location(d));
  }
  uint8_t Hidden(const TFEntry* e) const {
    return tree_.MarkHidden && (e->Attr & kAttrHidden) != 0 ? kFlagHidden : 0;
  }
  bool WithRockRidge() const { return tree_.RockRidge && !tree_.Joliet; }

  const HeadTree& tree_;
  const std::array<uint8_t, 7> dotDate_;
  std::vector<PlannedRecord> planned_;
  SectorPacker records_, continuation_;
  std::vector<uint8_t> bytes_, continuationBytes_;
};

}  // namespace brennix
