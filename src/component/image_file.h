// An image file to write to a disc as it is: what it holds, checked before anything is
// written (a readable regular file of whole 2048-byte sectors that holds an ISO 9660 or UDF
// volume), and its first sectors, which hold its descriptors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brennix {

struct TImageFile {
  std::string Path;
  int64_t Sectors = 0;
  std::string Kind;              // "ISO 9660" or "UDF"
  std::string Label;             // the volume identifier, blanks trimmed (ISO 9660)
  int64_t VolumeSectors = 0;     // the primary descriptor's volume size (ISO 9660)
  int32_t TerminatorSector = 0;  // the descriptor set terminator (ISO 9660), else 0
  std::vector<uint8_t> Head;     // up to the first 32 sectors
};

// Empty when the file can be written as an image, else why not (in capitals, as the
// component's refusals are).
std::string InspectImageFile(const std::string& path, TImageFile& out);

}  // namespace brennix
