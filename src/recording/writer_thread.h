// The writer: a time-critical thread that prepares the recorder, takes the image block by
// block from the read-ahead cache and sends each with one WRITE, retrying while the drive is
// busy, then flushes, closes and restores the drive and reports the outcome once.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/thread.h"
#include "recording/recording_sequences.h"

namespace brennix {

class TCacheThread;
class TCacheFanOut;
struct TCacheBlock;

// Figures of one recording for a front end, written by the writer thread.
struct TWriteStats {
  // Lowest fill of the drive's buffer seen by the queries while data was sent, once it had
  // been half full, in percent; -1 when the drive never told (or never got half full).
  std::atomic<int> LowestBufferFill{-1};
  // Clock times of the first data WRITE and of the end of the data (0 until then).
  std::atomic<uint64_t> FirstWriteMs{0};
  std::atomic<uint64_t> DataEndMs{0};
  // Percent of the read-back done; -1 until a verification starts.
  std::atomic<int> VerifyPercent{-1};
};

// Everything one recording's writer works with. The owner keeps all of it alive, and
// unchanged, until the thread has been joined.
struct TWriteJob {
  TRecorderDrive* Drive = nullptr;
  TCacheThread* Cache = nullptr;
  // With several writers on one cache: the fan-out they take the blocks through, and this
  // writer's tap. A writer that fails then ends alone; the others go on.
  TCacheFanOut* FanOut = nullptr;
  int Tap = 0;
  std::shared_ptr<void> Keep;  // whatever the cache and fan-out need alive
  std::recursive_mutex* Lock = nullptr;
  TWriteSettings Settings;
  uint32_t StartSector = 0;
  int64_t SectorsToWrite = 0;
  std::vector<uint8_t> DescriptorCopy;  // the head of the new volume for sector 0 onward
  // How many sectors of it go there at most (32 when the old volume's sectors below 32 may
  // go; fewer when they hold data the new volume still lists).
  uint32_t DiscStartSectors = 32;
  // One past the new volume's descriptor set terminator, counted from StartSector.
  uint32_t DescriptorEnd = 0;
  std::atomic<bool>* AbortFlag = nullptr;
  std::atomic<int64_t>* BytesWritten = nullptr;
  TWriteStats* Stats = nullptr;  // optional
  // Raised on the writer thread once all data has been sent, before the drive is flushed.
  std::function<void()> OnFinalizingTrack;
  // Raised on the writer thread, exactly once, as its last action: empty on success, else
  // the message that ended the recording.
  std::function<void(const std::string& error)> OnFinished;
};

// Messages that end a recording.
// Where a volume's descriptors begin.
constexpr uint32_t kFirstDescriptorSector = 16;

constexpr const char* kAbortedByUser = "OPERATION ABORTED BY USER";
constexpr const char* kWriterBusy = "WRITER BUSY/BUFFER FULL";
std::string WriterErrorText(const std::string& lastErrorText);  // "WRITER ERROR [...]"
// The reason given when the drive's last command left no text of its own.
constexpr const char* kNoAnswer = "NO ANSWER FROM THE DRIVE";

// "VERIFY FAILED AT SECTOR n": sector n did not read back as it was sent.
std::string VerifyFailedText(int64_t sector);

constexpr int kMaxWriteAttempts = 10000;
// Read-back attempts of one block: while the drive is busy or not ready, and otherwise.
constexpr int kMaxVerifyBusyAttempts = 100;
constexpr int kMaxVerifyReadAttempts = 3;
constexpr uint32_t kBusyRetryMs = 600;

// READ(10) of whole sectors with the patience of a read-back: asked again kBusyRetryMs apart
// while the drive is busy or not ready, a few times after any other failure, and not again
// for a sector no recording reached, which stays blank however often it is read.
bool ReadWithRetry(TRecorderDrive& drive, uint32_t lba, uint16_t sectors, uint8_t* out);

class TThWrite : public TThread {
 public:
  explicit TThWrite(TWriteJob job);
  ~TThWrite() override;

 protected:
  void Execute() override;

 private:
  enum class Next { Data, End };

  std::string Record();
  // Takes the next block into the transfer buffer (its size in c); End when the data ended,
  // the recording was aborted or the cache failed.
  Next TakeBlock(int32_t& c, bool checkAbort);
  int32_t TakeFromCache();
  // Ends the recording early with a message; the cache keeps the first message it got.
  void Fail(const std::string& text);
  bool CacheFailed();
  // Writes the new volume's head at sector 0 onward of an overwritable disc; false (after
  // Fail) when the drive never took it.
  bool WriteDiscStart();
  // A first volume on a rewritable disc: its descriptors are held back (sector 16 carries a
  // lone terminator) until every sector they point to is on the disc. Returns the block to
  // send, with the descriptors masked where it holds them.
  const uint8_t* HoldBackDescriptors(int64_t lba, int32_t sectors);
  void EndOfData();
  void KeepDigests(const uint8_t* data, int64_t firstOffset, int32_t sectors);
  // Reads the new session back and compares it with the digests; empty when all match.
  std::string VerifyRecording();
  enum class WriteResult { Written, Aborted, Refused, Busy };
  // One WRITE, repeated kBusyRetryMs apart while the drive is busy or not ready. mend
  // (optional) is asked first after each failure and gives true when it has removed the
  // cause, so that the block goes out again at once; abortable: the user's abort ends it.
  WriteResult WriteWithRetry(uint32_t lba, uint16_t sectors, const uint8_t* data, uint32_t bytes,
                             bool abortable, const std::function<bool()>& mend = {});
  void NoteBufferFill();

  TWriteJob job_;
  TPrepareResult prep_;
  std::vector<uint8_t> transfer_;
  // The block being sent: the cache's own (held_, given back at the next take) or transfer_.
  std::unique_ptr<TCacheBlock> held_;
  uint8_t* data_ = nullptr;
  std::vector<uint8_t> head_;
  std::vector<uint8_t> masked_;
  bool holdDescriptors_ = false;
  std::string ownError_;  // what ended this writer alone (with a fan-out)
  std::vector<uint64_t> digests_;  // of every sector sent, when verifying
  std::atomic<int64_t> sectorsSent_{0};
  int bufferCountdown_ = 5;
  bool bufferQueries_ = false;
  bool bufferPrimed_ = false;
};

}  // namespace brennix
