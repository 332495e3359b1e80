// A growable in-memory byte stream (the image head is assembled in one). Its end may be
// made only when it is read: the directory records of a large tree would otherwise be held
// whole, a sector for every folder and tree, while the reader needs a few blocks at a time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace brennix {

class TMemoryStream {
 public:
  // Appends the next piece of the made bytes to `out`; false once nothing is left.
  using Producer = std::function<bool(std::vector<uint8_t>& out)>;

  int64_t Size() const { return static_cast<int64_t>(data_.size()) + tailBytes_; }
  void Seek(int64_t position) { position_ = std::clamp<int64_t>(position, 0, Size()); }
  void Clear() {
    std::vector<uint8_t>().swap(data_);  // releases the memory
    DropTail();
    position_ = 0;
  }
  // Writes into the held bytes (none may be made ones: write before SetTail).
  void Write(const void* buffer, size_t count) {
    const size_t end = static_cast<size_t>(position_) + count;
    if (end > data_.size()) data_.resize(end);
    if (count != 0) std::memcpy(data_.data() + position_, buffer, count);
    position_ = static_cast<int64_t>(end);
  }
  // The stream goes on with `bytes` bytes made when read, in order, by a producer that
  // `start` returns; a read that goes back into them starts a new one. A producer that
  // makes fewer bytes leaves the rest to read as zeros; more are never read.
  void SetTail(int64_t bytes, std::function<Producer()> start) {
    DropTail();
    tailBytes_ = std::max<int64_t>(bytes, 0);
    start_ = std::move(start);
  }
  // Returns the number of bytes copied (fewer at the end of the stream).
  size_t Read(void* buffer, size_t count) {
    auto* to = static_cast<uint8_t*>(buffer);
    const auto wanted =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), Size() - position_));
    const auto held = static_cast<int64_t>(data_.size());
    size_t done = 0;
    while (done < wanted) {
      size_t n = 0;
      if (position_ < held) {
        n = std::min(wanted - done, static_cast<size_t>(held - position_));
        std::memcpy(to + done, data_.data() + position_, n);
      } else {
        n = CopyMade(position_ - held, to + done, wanted - done);
      }
      done += n;
      position_ += static_cast<int64_t>(n);
    }
    return done;
  }
  // Every byte of the stream; the made ones are made first, and kept from then on.
  const std::vector<uint8_t>& Bytes() const {
    if (tailBytes_ > 0) {
      std::vector<uint8_t> made(static_cast<size_t>(tailBytes_));
      for (size_t at = 0; at < made.size();)
        at += CopyMade(static_cast<int64_t>(at), made.data() + at, made.size() - at);
      DropTail();
      data_.insert(data_.end(), made.begin(), made.end());
    }
    return data_;
  }
  void Reserve(int64_t bytes) {
    if (bytes > 0) data_.reserve(static_cast<size_t>(bytes));
  }

 private:
  // Copies made bytes from `offset` (below tailBytes_) on, while they lie in one piece.
  size_t CopyMade(int64_t offset, uint8_t* to, size_t count) const {
    if (!started_ || offset < pieceStart_) {
      producer_ = start_ ? start_() : Producer();
      piece_.clear();
      pieceStart_ = 0;
      started_ = true;
    }
    while (offset >= pieceStart_ + static_cast<int64_t>(piece_.size())) {
      pieceStart_ += static_cast<int64_t>(piece_.size());
      piece_.clear();
      if (!producer_ || !producer_(piece_)) {
        producer_ = nullptr;
        piece_.clear();
        const size_t n = std::min(count, static_cast<size_t>(tailBytes_ - offset));
        std::memset(to, 0, n);
        return n;
      }
    }
    const auto inPiece = static_cast<size_t>(offset - pieceStart_);
    const size_t n = std::min(count, piece_.size() - inPiece);
    std::memcpy(to, piece_.data() + inPiece, n);
    return n;
  }
  void DropTail() const {
    tailBytes_ = 0;
    start_ = nullptr;
    producer_ = nullptr;
    std::vector<uint8_t>().swap(piece_);
    pieceStart_ = 0;
    started_ = false;
  }

  // Bytes() makes the made bytes held ones, so even a const stream changes inside.
  mutable std::vector<uint8_t> data_;
  int64_t position_ = 0;
  // The made bytes: how many, how to start making them, and the piece made last.
  mutable int64_t tailBytes_ = 0;
  mutable std::function<Producer()> start_;
  mutable Producer producer_;
  mutable std::vector<uint8_t> piece_;
  mutable int64_t pieceStart_ = 0;  // offset of piece_ within the made bytes
  mutable bool started_ = false;
};

}  // namespace brennix
