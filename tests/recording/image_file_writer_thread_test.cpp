#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "image/image_tables.h"
#include "image/memory_stream.h"
#include "platform/clock.h"
#include "recording/cache_thread.h"
#include "recording/image_file_writer.h"
#include "recording/write_preparation.h"
#include "scratch_dir.h"

namespace brennix {
namespace {

class ImageFileWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Tables().Files.clear();
    const std::string data = ScratchDir::Pattern(3 * 1024 * 1024 + 5, 8);
    entry_.FullPath = dir_.Write("data", data);
    entry_.FileSize = static_cast<int64_t>(data.size());
    Tables().Files.push_back(&entry_);
    const std::string head = ScratchDir::Pattern(150 * 2048, 9);
    header_.Write(head.data(), head.size());
    expected_ = head + data + std::string(2048 - 5, '\0');
  }
  void TearDown() override { Tables().Files.clear(); }

  ScopedTestClock clock_;
  ScratchDir dir_;
  TFEntry entry_;
  TMemoryStream header_;
  std::string expected_;
  std::recursive_mutex lock_;
};

TEST_F(ImageFileWriterTest, WritesEveryBlockInOrder) {
  const std::string path = dir_.File("out.iso");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  int64_t lastProgress = -1;
  ImageFileResult result;
  {
    TCacheThread cache(2097152, &header_, static_cast<int64_t>(expected_.size()), true,
                       kCDBlockBytes, lock_, false);
    result = WriteImageToFile(cache, lock_, fd, static_cast<int64_t>(expected_.size()),
                              [&](int64_t done) { lastProgress = done; });
  }
  ::close(fd);
  EXPECT_EQ(result.ErrorText, "");
  EXPECT_EQ(result.FileErrors, "");
  EXPECT_EQ(result.BytesWritten, static_cast<int64_t>(expected_.size()));
  EXPECT_EQ(lastProgress, result.BytesWritten);
  EXPECT_TRUE(ScratchDir::Read(path) == expected_);
}

TEST_F(ImageFileWriterTest, FullDiskAbortsTheCacheWithAClearMessage) {
  const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (fd < 0) GTEST_SKIP() << "no /dev/full";
  TCacheThread cache(2097152, &header_, static_cast<int64_t>(expected_.size()), false,
                     kDVDBlockBytes, lock_, false);
  const ImageFileResult result =
      WriteImageToFile(cache, lock_, fd, static_cast<int64_t>(expected_.size()));
  ::close(fd);
  EXPECT_EQ(result.ErrorText, "CAN'T WRITE THE IMAGE FILE: No space left on device");
  EXPECT_TRUE(cache.AbortRequested.load());
}

TEST_F(ImageFileWriterTest, CancelAndSizeDisagreementAreFailures) {
  const int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  {
    const std::atomic<bool> cancel{true};
    TCacheThread cache(2097152, &header_, static_cast<int64_t>(expected_.size()), false,
                       kDVDBlockBytes, lock_, false);
    const ImageFileResult result =
        WriteImageToFile(cache, lock_, fd, static_cast<int64_t>(expected_.size()), nullptr, &cancel);
    EXPECT_EQ(result.ErrorText, "OPERATION ABORTED BY USER");
  }
  {
    // The consumer promised fewer bytes than the cache delivers.
    TMemoryStream header;
    header.Write(expected_.data(), 150 * 2048);
    TCacheThread cache(2097152, &header, static_cast<int64_t>(expected_.size()), false,
                       kDVDBlockBytes, lock_, false);
    const ImageFileResult result = WriteImageToFile(cache, lock_, fd, 150 * 2048);
    EXPECT_EQ(result.ErrorText, "IMAGE SIZE DOES NOT MATCH ITS LAYOUT");
  }
  ::close(fd);
}

// A tree of small and large files (some handed over whole, some as blocks), the image written
// through the cache with the files copied whole, once in the kernel and once by read and
// write: both are byte for byte the image the blocks alone give.
class DirectCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Tables().Files.clear();
    const std::string head = ScratchDir::Pattern(150 * 2048, 9);
    header_ = head;
    expected_ = head;
    const int64_t sizes[] = {1, 2048, kDirectCopyMinBytes - 1, kDirectCopyMinBytes,
                             3 * kDirectCopyMinBytes + 5, 4000, 2 * kDirectCopyMinBytes + 2048};
    int seed = 20;
    for (const int64_t size : sizes) {
      const std::string data = ScratchDir::Pattern(size, ++seed);
      auto entry = std::make_unique<TFEntry>();
      entry->FullPath = dir_.Write("f" + std::to_string(seed), data);
      entry->FileSize = size;
      Tables().Files.push_back(entry.get());
      entries_.push_back(std::move(entry));
      expected_ += data + std::string(static_cast<size_t>((2048 - size % 2048) % 2048), '\0');
    }
  }
  void TearDown() override {
    Tables().Files.clear();
    SetKernelCopyAllowed(true);
    SetSourceOpenHook(nullptr);
  }

  // The image as written by the cache with files of kDirectCopyMinBytes and more handed over.
  std::string Image(bool kernel, ImageFileResult& result) {
    SetKernelCopyAllowed(kernel);
    const std::string path = dir_.File(kernel ? "kernel.iso" : "plain.iso");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    EXPECT_GE(fd, 0);
    TMemoryStream header;
    header.Write(header_.data(), header_.size());
    {
      TCacheThread cache(2097152, &header, static_cast<int64_t>(expected_.size()), false,
                         kDVDBlockBytes, lock_, false, kDirectCopyMinBytes);
      result = WriteImageToFile(cache, lock_, fd, static_cast<int64_t>(expected_.size()));
    }
    ::close(fd);
    return ScratchDir::Read(path);
  }

  ScopedTestClock clock_;
  ScratchDir dir_;
  std::vector<std::unique_ptr<TFEntry>> entries_;
  std::string header_;
  std::string expected_;
  std::recursive_mutex lock_;
};

TEST_F(DirectCopyTest, KernelCopyAndReadWriteGiveTheSameImage) {
  ImageFileResult kernel, plain;
  const std::string byKernel = Image(true, kernel);
  const std::string byReadWrite = Image(false, plain);
  EXPECT_EQ(kernel.ErrorText, "");
  EXPECT_EQ(plain.ErrorText, "");
  EXPECT_EQ(kernel.FileErrors, "");
  EXPECT_EQ(kernel.BytesWritten, static_cast<int64_t>(expected_.size()));
  EXPECT_TRUE(byKernel == expected_);
  EXPECT_TRUE(byKernel == byReadWrite);
}

// A file handed over whole that shrank or grew since the layout: zeros for what is missing,
// cut at the size recorded, and the same words as the cache's own reading gives.
std::string g_changePath;
int64_t g_changeTo = 0;
void ChangeSizeOnOpen(const std::string& path) {
  if (path == g_changePath) {
    EXPECT_EQ(::truncate(path.c_str(), g_changeTo), 0);
  }
}

TEST_F(DirectCopyTest, AFileThatShrankOrGrewIsPaddedOrCutAndNamed) {
  for (const bool kernel : {true, false}) {
    for (const bool grow : {false, true}) {
      TFEntry& changed = *entries_[4];  // 3 MiB + 5 bytes
      const std::string original = ScratchDir::Pattern(changed.FileSize, 25);
      dir_.Write("f25", original);
      g_changePath = changed.FullPath;
      g_changeTo = grow ? changed.FileSize + 70000 : 1048576 + 3;
      SetSourceOpenHook(ChangeSizeOnOpen);
      ImageFileResult result;
      const std::string image = Image(kernel, result);
      SetSourceOpenHook(nullptr);
      EXPECT_EQ(result.ErrorText, "");
      EXPECT_EQ(result.FileErrors,
                TCacheThread::FileErrorLine(changed.FullPath, !grow));
      std::string want = expected_;
      if (!grow) {
        // The file's place in the image: after the head and the four files before it.
        const size_t at = 150 * 2048 + 2048 + 2048 + 1048576 + 1048576;
        want.replace(at + 1048576 + 3, static_cast<size_t>(changed.FileSize - 1048576 - 3),
                     std::string(static_cast<size_t>(changed.FileSize - 1048576 - 3), '\0'));
      }
      EXPECT_TRUE(image == want) << "kernel " << kernel << " grow " << grow;
      dir_.Write("f25", original);
    }
  }
}

}  // namespace
}  // namespace brennix
