// An image file to write to a disc as it is: what it holds, checked before anything is
// written (a readable regular file of whole 2048-byte sectors that holds an ISO 9660 or UDF
// volume), and its first sectors, which hold its descriptors. The same for an image whose
// sectors come from a source as they are written (a disc copied to another recorder).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brennix {

class TImageSource;

// The sectors of an image's head that are looked at (and kept in TImageFile::Head).
constexpr int64_t kImageHeadSectors = 32;

struct TImageFile {
  std::string Path;  // the file; with a Source, what it is read from ("/dev/sr0")
  // Where the sectors come from instead of the file at Path; null for a file.
  std::shared_ptr<TImageSource> Source;
  int64_t Sectors = 0;
  std::string Kind;              // "ISO 9660" or "UDF"
  std::string Label;             // the volume identifier, blanks trimmed (ISO 9660)
  int64_t VolumeSectors = 0;     // the primary descriptor's volume size (ISO 9660)
  int32_t TerminatorSector = 0;  // the descriptor set terminator (ISO 9660), else 0
  std::vector<uint8_t> Head;     // up to the first kImageHeadSectors sectors
};

// Empty when the file can be written as an image, else why not (in capitals, as the
// component's refusals are).
std::string InspectImageFile(const std::string& path, TImageFile& out);

// The part of that check that reads the image's first sectors: out.Head and out.Sectors are
// set; names Kind, Label, VolumeSectors and TerminatorSector from the descriptors. Empty when
// they describe a volume the image holds whole, else why not.
std::string InspectImageHead(TImageFile& out);

}  // namespace brennix
