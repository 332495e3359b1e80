// File streams with 64-bit positions and sizes, used to read the source files of an image
// (any size, DVD-sized images included). Read and write failures show as a count of 0;
// only opening a file and setting its size raise (std::system_error with the system's
// message).
#pragma once

#include <cstdint>
#include <string>

namespace brennix {

// Open modes of TFileStreamEx: kFmCreate, or an access value (low two bits) combined with
// a sharing value (bits 4-7). Linux has no mandatory sharing modes: the sharing bits are
// accepted and ignored, so a file that another program holds open for writing can always
// be read.
enum FileMode : uint16_t {
  kFmCreate = 0xFFFF, kFmOpenRead = 0x0000, kFmOpenWrite = 0x0001, kFmOpenReadWrite = 0x0002,
  kFmShareExclusive = 0x0010, kFmShareDenyWrite = 0x0020, kFmShareDenyRead = 0x0030,
  kFmShareDenyNone = 0x0040,
};
// How source files are opened: read access, full sharing.
constexpr uint16_t kSourceFileMode = kFmOpenRead | kFmShareDenyNone;

enum SeekOrigin : uint16_t { kSoFromBeginning = 0, kSoFromCurrent = 1, kSoFromEnd = 2 };

class TStreamEx {
 public:
  virtual ~TStreamEx() = default;
  virtual void SetSize(int64_t /*newSize*/) {}
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  virtual int64_t Seek(int64_t offset, uint16_t origin) = 0;

  // The size, found by seeking to the end; the position is left where it was.
  int64_t GetSize();

 protected:
  TStreamEx() = default;
  TStreamEx(const TStreamEx&) = default;
  TStreamEx& operator=(const TStreamEx&) = default;
};

// A stream over a file descriptor it does not own.
class THandleStreamEx : public TStreamEx {
 public:
  explicit THandleStreamEx(int handle) : Handle(handle) {}
  THandleStreamEx(const THandleStreamEx&) = delete;
  THandleStreamEx& operator=(const THandleStreamEx&) = delete;

  // One system read or write (retried only when a signal interrupted it before any byte
  // moved); the count moved, 0 on failure, never negative.
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  // The new position, or -1 when the system refuses the move.
  int64_t Seek(int64_t offset, uint16_t origin) override;
  // Moves to newSize and ends the file there; raises std::system_error on failure.
  void SetSize(int64_t newSize) override;

  int Handle = -1;  // -1: no file
};

// A stream that opens (or creates) a named file and closes it on destruction.
class TFileStreamEx : public THandleStreamEx {
 public:
  // Raises std::system_error when the file can be neither opened nor created. Opening
  // never blocks on a FIFO or device (O_NONBLOCK), and the descriptor is not inherited
  // by child processes.
  TFileStreamEx(const std::string& fileName, uint16_t mode);
  // Takes over a descriptor opened elsewhere; it is closed on destruction.
  explicit TFileStreamEx(int ownedHandle) : THandleStreamEx(ownedHandle) {}
  ~TFileStreamEx() override;
};

}  // namespace brennix
