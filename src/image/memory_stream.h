// A growable in-memory byte stream (the image head is assembled in one).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace brennix {

class TMemoryStream {
 public:
  int64_t Size() const { return static_cast<int64_t>(data_.size()); }
  void Seek(int64_t position) { position_ = std::clamp<int64_t>(position, 0, Size()); }
  void Clear() {
    std::vector<uint8_t>().swap(data_);  // releases the memory
    position_ = 0;
  }
  void Write(const void* buffer, size_t count) {
    const size_t end = static_cast<size_t>(position_) + count;
    if (end > data_.size()) data_.resize(end);
    if (count != 0) std::memcpy(data_.data() + position_, buffer, count);
    position_ = static_cast<int64_t>(end);
  }
  // Returns the number of bytes copied (fewer at the end of the stream).
  size_t Read(void* buffer, size_t count) {
    const size_t available = data_.size() - static_cast<size_t>(position_);
    const size_t n = std::min(count, available);
    if (n != 0) std::memcpy(buffer, data_.data() + position_, n);
    position_ += static_cast<int64_t>(n);
    return n;
  }
  const std::vector<uint8_t>& Bytes() const { return data_; }
  void Reserve(int64_t bytes) {
    if (bytes > 0) data_.reserve(static_cast<size_t>(bytes));
  }

 private:
  std::vector<uint8_t> data_;
  int64_t position_ = 0;
};

}  // namespace brennix
