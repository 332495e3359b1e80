// SHA-256 (FIPS 180-4), for the checksum list a disc may carry and the check that reads it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace brennix {

class TSha256 {
 public:
  TSha256();
  void Update(const void* data, size_t bytes);
  // The digest as 64 lower-case hexadecimal digits; the object is spent afterwards.
  std::string HexDigest();

 private:
  void Block(const uint8_t* p);
  std::array<uint32_t, 8> h_;
  std::array<uint8_t, 64> buffer_{};
  size_t used_ = 0;
  uint64_t length_ = 0;
};

}  // namespace brennix
