#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "recording/stream_ex.h"
#include "scratch_dir.h"

namespace brennix {
namespace {

TEST(TFileStreamEx, SizeBeyondFourGigabytesKeepsThePosition) {
  ScratchDir dir;
  const std::string path = dir.File("big.bin");
  {
    TFileStreamEx s(path, kFmCreate);
    s.SetSize(int64_t{5} * 1024 * 1024 * 1024 + 7);  // sparse: costs no disk space
    EXPECT_EQ(s.Seek(12345, kSoFromBeginning), 12345);
    EXPECT_EQ(s.GetSize(), int64_t{5} * 1024 * 1024 * 1024 + 7);
    EXPECT_EQ(s.Seek(0, kSoFromCurrent), 12345);
    // A 64-bit position past 4 GiB reads back whole.
    EXPECT_EQ(s.Seek(int64_t{4} * 1024 * 1024 * 1024 + 1, kSoFromBeginning),
              int64_t{4} * 1024 * 1024 * 1024 + 1);
  }
  TFileStreamEx r(path, kSourceFileMode);
  EXPECT_EQ(r.GetSize(), int64_t{5} * 1024 * 1024 * 1024 + 7);
}

TEST(TFileStreamEx, EmptyFileEndOfFileAndFailingHandlesGiveZero) {
  ScratchDir dir;
  const std::string path = dir.File("empty");
  dir.Write("empty", "");
  TFileStreamEx s(path, kSourceFileMode);
  EXPECT_EQ(s.Seek(0, kSoFromEnd), 0);
  char buffer[16];
  EXPECT_EQ(s.Read(buffer, sizeof buffer), 0);
  // Writing to a read-only descriptor fails: 0, not -1.
  EXPECT_EQ(s.Write("x", 1), 0);

  THandleStreamEx none(-1);
  EXPECT_EQ(none.Read(buffer, sizeof buffer), 0);
  EXPECT_EQ(none.Write(buffer, sizeof buffer), 0);
  EXPECT_EQ(none.Seek(0, kSoFromCurrent), -1);

  // A folder opens for reading on Linux, but every read fails.
  TFileStreamEx folder(dir.Path(), kSourceFileMode);
  EXPECT_EQ(folder.Read(buffer, sizeof buffer), 0);
  EXPECT_EQ(folder.Seek(0, 7), -1);  // unknown origin
}

TEST(TFileStreamEx, ReadsWritesAndSizes) {
  ScratchDir dir;
  const std::string path = dir.File("data");
  {
    TFileStreamEx s(path, kFmCreate);
    EXPECT_EQ(s.Write("hello world", 11), 11);
    EXPECT_EQ(s.GetSize(), 11);
    s.SetSize(5);  // cuts
    EXPECT_EQ(s.Seek(0, kSoFromCurrent), 5);
    EXPECT_EQ(s.Seek(0, kSoFromBeginning), 0);
    char got[16] = {};
    EXPECT_EQ(s.Read(got, sizeof got), 5);
    EXPECT_EQ(std::string(got), "hello");
  }
  {
    TFileStreamEx s(path, kFmOpenReadWrite | kFmShareExclusive);
    EXPECT_EQ(s.Seek(-2, kSoFromEnd), 3);
    EXPECT_EQ(s.Write("LO", 2), 2);
  }
  EXPECT_EQ(ScratchDir::Read(path), "helLO");
}

TEST(TFileStreamEx, CreateReplacesAnExistingFile) {
  ScratchDir dir;
  dir.Write("old", "previous content");
  TFileStreamEx s(dir.File("old"), kFmCreate);
  EXPECT_EQ(s.GetSize(), 0);
}

TEST(TFileStreamEx, SourceModeReadsAFileAnotherProgramIsWriting) {
  ScratchDir dir;
  dir.Write("busy", "abc");
  std::ofstream writer(dir.File("busy"), std::ios::app);
  writer << "def" << std::flush;
  TFileStreamEx s(dir.File("busy"), kSourceFileMode);
  EXPECT_EQ(s.GetSize(), 6);
}

TEST(TFileStreamEx, OpenFailuresRaiseAndCloseNothing) {
  ScratchDir dir;
  // The descriptor number a failed open would leave behind must stay free.
  const int probeBefore = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ::close(probeBefore);
  EXPECT_THROW(TFileStreamEx(dir.File("missing"), kSourceFileMode), std::system_error);
  EXPECT_THROW(TFileStreamEx(dir.File("no/such/folder/file"), kFmCreate), std::system_error);
  EXPECT_THROW(TFileStreamEx(dir.File("x"), 0x0003), std::system_error);  // no such access
  const int probeAfter = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(probeAfter, probeBefore);
  ::close(probeAfter);
  try {
    TFileStreamEx s(dir.File("missing"), kSourceFileMode);
  } catch (const std::system_error& e) {
    EXPECT_NE(std::string(e.what()).find("missing"), std::string::npos);
  }
}

TEST(TFileStreamEx, OpeningAFifoDoesNotWaitForAWriter) {
  ScratchDir dir;
  const std::string fifo = dir.File("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  TFileStreamEx s(fifo, kSourceFileMode);  // would block for ever without O_NONBLOCK
  EXPECT_GE(s.Handle, 0);
  EXPECT_EQ(::fcntl(s.Handle, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
}

TEST(THandleStreamEx, SetSizeOnAReadOnlyHandleRaises) {
  ScratchDir dir;
  dir.Write("ro", "1234");
  TFileStreamEx s(dir.File("ro"), kSourceFileMode);
  EXPECT_THROW(s.SetSize(2), std::system_error);
  EXPECT_THROW(s.SetSize(-1), std::system_error);
  EXPECT_EQ(s.GetSize(), 4);
}

}  // namespace
}  // namespace brennix
