// Where a read-ahead cache takes an image's sectors from when they are neither the tree's
// files nor an image file: a source read as the recording goes (the disc being copied, in
// another recorder). The cache calls it on its own thread, in order, from the first sector
// to the last, and nothing else calls it meanwhile.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace brennix {

class TImageSource {
 public:
  virtual ~TImageSource() = default;
  // Fills out with the image's bytes [offset, offset + bytes), whole sectors. Empty when
  // they came, else why not: the message that ends the recording. stop becomes true when
  // the recording is aborted; a source that waits or retries gives up then.
  virtual std::string Read(int64_t offset, uint8_t* out, int32_t bytes,
                           const std::atomic<bool>& stop) = 0;

 protected:
  TImageSource() = default;
  TImageSource(const TImageSource&) = default;
  TImageSource& operator=(const TImageSource&) = default;
};

}  // namespace brennix
