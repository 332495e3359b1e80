// The sector file of a virtual disc: sector n at byte n x 2048. Blank areas stay holes in
// the file, so a blank DVD takes no room and a first session from sector 0 is an ordinary
// ISO image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/disc_units.h"

namespace brennix {

// True when every one of the length bytes is zero (a blank stretch of a disc).
bool AllZero(const uint8_t* data, size_t length);

class DiscFile {
 public:
  DiscFile() = default;
  ~DiscFile();
  DiscFile(const DiscFile&) = delete;
  DiscFile& operator=(const DiscFile&) = delete;

  bool Open(const std::string& path, std::string& error);
  bool IsOpen() const { return fd_ >= 0; }
  // Keeps a second recorder (in this or another process) off the same disc.
  bool LockExclusive();
  // Sectors the file spans (rounded up).
  uint64_t SizeSectors() const;
  // Reads count sectors; what lies beyond the end of the file or in a hole reads as zeros.
  bool Read(uint32_t lba, uint32_t count, uint8_t* out);
  // Writes count sectors. All-zero data over a range that is not yet in the file is not
  // written at all, and over written sectors it is punched out where the file system can.
  bool Write(uint32_t lba, uint32_t count, const uint8_t* data);
  // Throws away every sector (blanking).
  bool Clear();

 private:
  int fd_ = -1;
};

}  // namespace brennix
