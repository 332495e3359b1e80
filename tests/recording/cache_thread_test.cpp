#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "image/image_tables.h"
#include "image/memory_stream.h"
#include "platform/clock.h"
#include "recording/cache_thread.h"
#include "recording/write_preparation.h"
#include "scratch_dir.h"

namespace brennix {
namespace {

constexpr int32_t kDialogCacheSize = 8392704;

// Fills the process-wide file table with records the test owns, and empties it again.
class FileTable {
 public:
  FileTable() { Tables().Files.clear(); }
  ~FileTable() { Tables().Files.clear(); }
  void File(const std::string& path, int64_t size) { Add(path, size, kAttrArchive); }
  void DirectoryEntry(int64_t isoSize) { Add("", isoSize, kAttrDirectory); }

 private:
  void Add(const std::string& path, int64_t size, int32_t attr) {
    auto entry = std::make_unique<TFEntry>();
    entry->FullPath = path;
    entry->FileSize = size;
    entry->Attr = attr;
    Tables().Files.push_back(entry.get());
    owned_.push_back(std::move(entry));
  }
  std::vector<std::unique_ptr<TFEntry>> owned_;
};

int64_t Sectors(int64_t bytes) { return (bytes + 2047) / 2048; }

// Polls in real time (the test clock makes every product sleep instant), bounded.
bool WaitUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    SleepMs(1);
  }
  return true;
}

struct Drained {
  std::string bytes;
  std::vector<int32_t> sizes;
  bool ended = false;  // GetBlock returned 0
};

// Takes blocks as the writer does: under the lock, -1 means ask again.
Drained Drain(TCacheThread& cache, std::recursive_mutex& lock) {
  Drained out;
  std::vector<uint8_t> buffer(65536);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    int32_t n = 0;
    {
      std::lock_guard<std::recursive_mutex> guard(lock);
      n = cache.GetBlock(buffer.data());
    }
    if (n < 0) {
      SleepMs(1);
      continue;
    }
    if (n == 0) {
      out.ended = true;
      break;
    }
    out.sizes.push_back(n);
    out.bytes.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n));
  }
  return out;
}

std::string Sectored(const std::string& data) {
  std::string s = data;
  s.resize(static_cast<size_t>(Sectors(static_cast<int64_t>(data.size())) * 2048), '\0');
  return s;
}

// Sends a file's pages out of the page cache where the file system lets them go: the cache
// then finds the disk cold and opens the files ahead.
void Evict(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fdatasync(fd);
  (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

TMemoryStream Header(int sectors) {
  TMemoryStream header;
  const std::string bytes = ScratchDir::Pattern(int64_t{sectors} * 2048, 99);
  header.Write(bytes.data(), bytes.size());
  return header;
}

class CacheThreadTest : public ::testing::TestWithParam<int32_t> {
 protected:
  ScopedTestClock clock_;  // declared first: outlives every cache thread of a test
  ScratchDir dir_;
  FileTable table_;
  std::recursive_mutex lock_;
};

TEST_P(CacheThreadTest, DeliversHeaderThenFilesInWholeZeroFilledSectors) {
  const int32_t blockSize = GetParam();
  const std::string a = ScratchDir::Pattern(1, 1);
  const std::string b = ScratchDir::Pattern(2048, 2);
  const std::string c = ScratchDir::Pattern(2049, 3);
  const std::string d = ScratchDir::Pattern(200001, 4);
  table_.File(dir_.Write("a", a), 1);
  table_.DirectoryEntry(2048);  // a folder's records are in the header, not here
  table_.File(dir_.Write("b", b), 2048);
  table_.File(dir_.Write("empty", ""), 0);
  table_.File(dir_.Write("c", c), 2049);
  table_.File(dir_.Write("d", d), 200001);
  // From a cold disk for one block size: each file is read through the descriptor opened ahead.
  if (blockSize == kDVDBlockBytes) {
    for (const char* name : {"a", "b", "c", "d"}) Evict(dir_.File(name));
  }
  TMemoryStream header = Header(150);
  const std::string headerBytes(header.Bytes().begin(), header.Bytes().end());
  const std::string expected = headerBytes + Sectored(a) + Sectored(b) + Sectored(c) + Sectored(d);
  ASSERT_EQ(Sectors(static_cast<int64_t>(expected.size())), 150 + 1 + 1 + 2 + 98);

  TCacheThread cache(kDialogCacheSize, &header, static_cast<int64_t>(expected.size()), false,
                     blockSize, lock_);
  EXPECT_EQ(cache.MaxBlocks, blockSize == kCDBlockBytes ? 151 : 128);
  const Drained got = Drain(cache, lock_);
  EXPECT_TRUE(got.ended);
  ASSERT_EQ(got.bytes.size(), expected.size());
  EXPECT_TRUE(got.bytes == expected);
  for (size_t i = 0; i + 1 < got.sizes.size(); ++i) EXPECT_EQ(got.sizes[i], blockSize) << i;
  EXPECT_LE(got.sizes.back(), blockSize);
  EXPECT_TRUE(cache.ErrorText().empty());
  EXPECT_TRUE(cache.FileErrors().empty());
  EXPECT_TRUE(cache.CacheFilled.load());
  EXPECT_EQ(cache.BytesToDeliver.load(), 0);
  EXPECT_EQ(cache.CurrentFile(), dir_.File("d"));
  std::vector<uint8_t> buffer(65536);
  EXPECT_EQ(cache.GetBlock(buffer.data()), 0);  // stays at the end
  EXPECT_EQ(header.Size(), 0);                  // the header's memory was released
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, CacheThreadTest, ::testing::Values(kCDBlockBytes, kDVDBlockBytes));

class CacheThreadPadding : public CacheThreadTest {};

TEST_F(CacheThreadPadding, ShortImagePaddedTo300ZeroSectors) {
  TMemoryStream header = Header(10);
  const std::string headerBytes(header.Bytes().begin(), header.Bytes().end());
  std::unique_lock<std::recursive_mutex> held(lock_);  // keeps the producer from queueing
  TCacheThread cache(kDialogCacheSize, &header, 10 * 2048, true, kDVDBlockBytes, lock_);
  EXPECT_TRUE(cache.PadToMinimum);
  EXPECT_EQ(cache.BytesToDeliver.load(), 10 * 2048);
  std::vector<uint8_t> buffer(65536);
  EXPECT_EQ(cache.GetBlock(buffer.data()), -1);  // nothing queued yet
  held.unlock();
  ASSERT_TRUE(WaitUntil([&] { return cache.CacheFilled.load(); }));
  EXPECT_EQ(cache.BytesToDeliver.load(), 614400);
  const Drained got = Drain(cache, lock_);
  EXPECT_TRUE(got.ended);
  ASSERT_EQ(got.bytes.size(), 614400u);
  EXPECT_EQ(got.bytes.substr(0, 20480), headerBytes);
  EXPECT_EQ(got.bytes.substr(20480), std::string(614400 - 20480, '\0'));
}

// Guards against the padding going out as blocks of its own: a DVD writer sends whole
// 32-sector blocks, and a separate short padding block would run past the track reserved
// for SectorsToWrite (298 sectors of data + 2 of padding must be 10 blocks, not 11).
TEST_F(CacheThreadPadding, PaddingContinuesTheLastDataBlock) {
  TMemoryStream header = Header(298);
  TCacheThread cache(kDialogCacheSize, &header, 298 * 2048, true, kDVDBlockBytes, lock_);
  const Drained got = Drain(cache, lock_);
  EXPECT_TRUE(got.ended);
  ASSERT_EQ(got.bytes.size(), 614400u);
  ASSERT_EQ(got.sizes.size(), 10u);
  for (size_t i = 0; i + 1 < got.sizes.size(); ++i) EXPECT_EQ(got.sizes[i], kDVDBlockBytes);
  EXPECT_EQ(got.sizes.back(), 300 * 2048 - 9 * kDVDBlockBytes);
  EXPECT_EQ(got.bytes.substr(298 * 2048), std::string(2 * 2048, '\0'));
}

TEST_F(CacheThreadPadding, NoPaddingFrom300SectorsOnOrWhenNotAsked) {
  for (const auto& [sectors, pad] : {std::pair{300, true}, std::pair{10, false}}) {
    TMemoryStream header = Header(sectors);
    TCacheThread cache(kDialogCacheSize, &header, int64_t{sectors} * 2048, pad, kCDBlockBytes,
                       lock_);
    EXPECT_FALSE(cache.PadToMinimum);
    const Drained got = Drain(cache, lock_);
    EXPECT_TRUE(got.ended);
    EXPECT_EQ(got.bytes.size(), static_cast<size_t>(sectors) * 2048);
  }
}

class CacheThreadFlow : public CacheThreadTest {
 protected:
  // A sparse source far larger than the cache.
  std::string BigFile(FileTable& table, int64_t size) {
    const std::string path = dir_.Write("big", "");
    EXPECT_EQ(::truncate(path.c_str(), size), 0);
    table.File(path, size);
    return path;
  }
};

TEST_F(CacheThreadFlow, FullQueueHoldsMaxBlocksLessOne) {
  for (const int32_t blockSize : {kCDBlockBytes, kDVDBlockBytes}) {
    FileTable table;
    const int64_t size = 12 * 1024 * 1024;
    BigFile(table, size);
    TMemoryStream header = Header(150);
    const int64_t image = (150 + Sectors(size)) * 2048;
    TCacheThread cache(kDialogCacheSize, &header, image, true, blockSize, lock_);
    ASSERT_TRUE(WaitUntil([&] { return cache.CacheFilled.load(); }));
    for (int i = 0; i < 50; ++i) SleepMs(1);
    EXPECT_EQ(cache.QueuedBlocks(), blockSize == kCDBlockBytes ? 150 : 127);
    EXPECT_EQ(cache.PriorityLevel.load(), 0);  // idle while full
    const Drained got = Drain(cache, lock_);
    EXPECT_TRUE(got.ended);
    EXPECT_EQ(static_cast<int64_t>(got.bytes.size()), image);
  }
}

TEST_F(CacheThreadFlow, AbortWhileFullFreesTheQueue) {
  BigFile(table_, 12 * 1024 * 1024);
  for (const bool writerHadAMessage : {false, true}) {
    TMemoryStream header = Header(150);
    TCacheThread cache(kDialogCacheSize, &header, (150 + 6144) * 2048, false, kDVDBlockBytes, lock_);
    ASSERT_TRUE(WaitUntil([&] { return cache.CacheFilled.load(); }));
    if (writerHadAMessage) cache.SetErrorText("WRITER ERROR");
    cache.Abort();
    ASSERT_TRUE(WaitUntil([&] { return cache.Finished.load(); }));
    EXPECT_EQ(cache.QueuedBlocks(), 0);
    EXPECT_EQ(cache.ErrorText(), writerHadAMessage ? "WRITER ERROR" : "OPERATION ABORTED BY USER");
    std::vector<uint8_t> buffer(65536);
    std::lock_guard<std::recursive_mutex> guard(lock_);
    EXPECT_EQ(cache.GetBlock(buffer.data()), 0);
  }
}

TEST_F(CacheThreadFlow, DestroyingNeverHangs) {
  BigFile(table_, 12 * 1024 * 1024);
  {
    TMemoryStream header = Header(150);
    TCacheThread cache(kDialogCacheSize, &header, (150 + 6144) * 2048, false, kDVDBlockBytes, lock_);
    // destroyed at once, perhaps before the thread ran
  }
  {
    TMemoryStream header = Header(150);
    TCacheThread cache(kDialogCacheSize, &header, (150 + 6144) * 2048, false, kDVDBlockBytes, lock_);
    ASSERT_TRUE(WaitUntil([&] { return cache.CacheFilled.load(); }));
  }
  {
    // Everything queued, nobody consuming: the producer waits in the drain phase.
    FileTable table;
    TMemoryStream header = Header(20);
    TCacheThread cache(kDialogCacheSize, &header, 20 * 2048, true, kDVDBlockBytes, lock_);
    ASSERT_TRUE(WaitUntil([&] { return cache.CacheFilled.load(); }));
  }
}

TEST_F(CacheThreadFlow, SmallCacheRecyclesBlocksWithoutLeakingOldBytes) {
  // 4 MiB of 0xFF pass through a 32-block cache, so the blocks that then carry the one-byte
  // files have held 0xFF before.
  const std::string ff(4 * 1024 * 1024, '\xFF');
  table_.File(dir_.Write("ff", ff), static_cast<int64_t>(ff.size()));
  std::string expected = ff;
  for (int i = 0; i < 100; ++i) {
    table_.File(dir_.Write("one" + std::to_string(i), "\x01"), 1);
    expected += Sectored("\x01");
  }
  TMemoryStream header = Header(150);
  const std::string headerBytes(header.Bytes().begin(), header.Bytes().end());
  expected = headerBytes + expected;
  TCacheThread cache(2097152, &header, static_cast<int64_t>(expected.size()), false, kDVDBlockBytes,
                     lock_);
  const Drained got = Drain(cache, lock_);
  EXPECT_TRUE(got.ended);
  ASSERT_EQ(got.bytes.size(), expected.size());
  EXPECT_TRUE(got.bytes == expected);
}

TEST_F(CacheThreadFlow, SourceThatVanishedOrIsNoFileStopsWithItsName) {
  for (const std::string kind : {"vanished", "fifo", "folder"}) {
    FileTable table;
    table.File(dir_.Write("first", "1"), 1);
    const std::string path = dir_.File(kind);
    if (kind == "fifo") {
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    } else if (kind == "folder") {
      ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    }
    table.File(path, 4096);
    table.File(dir_.Write("last", "3"), 1);
    TMemoryStream header = Header(150);
    TCacheThread cache(kDialogCacheSize, &header, (150 + 1 + 2 + 1) * 2048, true, kDVDBlockBytes,
                       lock_);
    const Drained got = Drain(cache, lock_);  // must end, not wait for ever
    EXPECT_TRUE(got.ended) << kind;
    EXPECT_EQ(cache.ErrorText(),
              "CAN'T OPEN FILE \"" + path + "\" OR FILE IS IN USES BY OTHER SOFTWARE");
    EXPECT_EQ(cache.CurrentFile(), path);
  }
}

TEST_F(CacheThreadFlow, ShrunkFileIsPaddedAndNamedGrownFileIsCut) {
  const std::string shrunk = dir_.Write("shrunk", ScratchDir::Pattern(3000, 5));
  const std::string grown = dir_.Write("grown", ScratchDir::Pattern(5000, 6));
  table_.File(shrunk, 5000);  // the layout recorded 5000 bytes: 3 sectors
  table_.File(grown, 3000);   // and 3000 here: 2 sectors
  TMemoryStream header = Header(150);
  const std::string headerBytes(header.Bytes().begin(), header.Bytes().end());
  const std::string expected = headerBytes + Sectored(ScratchDir::Pattern(3000, 5) + std::string(2000, '\0')) +
                               Sectored(ScratchDir::Pattern(3000, 6));
  TCacheThread cache(kDialogCacheSize, &header, static_cast<int64_t>(expected.size()), false,
                     kDVDBlockBytes, lock_);
  const Drained got = Drain(cache, lock_);
  EXPECT_TRUE(got.ended);
  EXPECT_TRUE(got.bytes == expected);
  EXPECT_TRUE(cache.ErrorText().empty());  // the image is whole; the writer must go on
  EXPECT_EQ(cache.FileErrors(),
            "FILE \"" + shrunk + "\" WAS SHORTER THAN EXPECTED, PADDED WITH ZEROS\n"
            "FILE \"" + grown + "\" WAS LONGER THAN EXPECTED, CUT TO ITS FORMER SIZE\n");
}

TEST_F(CacheThreadFlow, ImageSizeThatDisagreesWithTheDataEndsWithAnError) {
  table_.File(dir_.Write("f", "x"), 1);
  TMemoryStream header = Header(150);
  TCacheThread cache(kDialogCacheSize, &header, (150 + 5) * 2048, false, kDVDBlockBytes, lock_);
  const Drained got = Drain(cache, lock_);
  EXPECT_TRUE(got.ended);  // no endless -1 for bytes that never come
  EXPECT_EQ(cache.ErrorText(), "IMAGE SIZE DOES NOT MATCH ITS LAYOUT");

  // More data than the layout reserved never leaves the cache: it would run past the track.
  table_.File(dir_.Write("g", std::string(300000, 'g')), 300000);
  TMemoryStream header2 = Header(150);
  TCacheThread over(kDialogCacheSize, &header2, (150 + 1) * 2048, false, kDVDBlockBytes, lock_);
  const Drained got2 = Drain(over, lock_);
  EXPECT_TRUE(got2.ended);
  EXPECT_LE(got2.bytes.size(), static_cast<size_t>(151 * 2048));
  EXPECT_EQ(over.ErrorText(), "IMAGE SIZE DOES NOT MATCH ITS LAYOUT");
}

}  // namespace
}  // namespace brennix
