#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>

#include "image/image_tables.h"
#include "image/memory_stream.h"
#include "platform/clock.h"
#include "recording/cache_thread.h"
#include "recording/image_file_writer.h"
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
                       kCdBlockSize, lock_, false);
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
                     kDvdBlockSize, lock_, false);
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
                       kDvdBlockSize, lock_, false);
    const ImageFileResult result =
        WriteImageToFile(cache, lock_, fd, static_cast<int64_t>(expected_.size()), nullptr, &cancel);
    EXPECT_EQ(result.ErrorText, "OPERATION ABORTED BY USER");
  }
  {
    // The consumer promised fewer bytes than the cache delivers.
    TMemoryStream header;
    header.Write(expected_.data(), 150 * 2048);
    TCacheThread cache(2097152, &header, static_cast<int64_t>(expected_.size()), false,
                       kDvdBlockSize, lock_, false);
    const ImageFileResult result = WriteImageToFile(cache, lock_, fd, 150 * 2048);
    EXPECT_EQ(result.ErrorText, "IMAGE SIZE DOES NOT MATCH ITS LAYOUT");
  }
  ::close(fd);
}

}  // namespace
}  // namespace brennix
