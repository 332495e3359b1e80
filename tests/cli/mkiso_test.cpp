// brennix-cli mkiso end to end: the built program makes images that independent readers
// accept and extract byte for byte, and every failure shows as a message and an exit status.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "name_table.h"
#include "support/cli_runner.h"
#include "support/iso_reader.h"
#include "support/files.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace brennix::test {
namespace {

ShellRun Mkiso(const std::vector<std::string>& words) {
  std::string command = "mkiso";
  for (const std::string& w : words) command.append(" ").append(Quote(w));  // -Wrestrict at -O3
  return RunCli(command);
}

// A temporary image file left behind in `dir`.
bool PartialLeft(const fs::path& dir) {
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".part") return true;
  return false;
}

std::string Pattern(size_t size, int seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 13 + static_cast<size_t>(seed)) & 0xFF);
  return s;
}

class MkisoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    src_ = root_ / "src";
    fs::create_directories(src_);
  }

  void Put(const std::string& rel, const std::string& content) {
    const fs::path p = src_ / rel;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
    files_[rel] = content;
  }

  // The tree every reader must get back.
  void BuildTree() {
    Put("empty.txt", "");
    Put("one.bin", Pattern(1, 1));
    Put("s2048.bin", Pattern(2048, 2));
    Put("s2049.bin", Pattern(2049, 3));
    Put("big.bin", Pattern(300001, 4));  // spans several cache blocks
    Put("with space.txt", "spaces\n");
    Put("MixedCase.Txt", "case\n");
    Put("Grüße ünïcödé.txt", "utf-8\n");
    Put("README", "no dot\n");
    Put(".hidden", "dot file\n");
    Put("a/b/c/deep.dat", Pattern(5000, 5));
    for (int i = 0; i < 60; ++i) {
      const std::string n = std::to_string(i);  // (a temporary here trips -Wrestrict at -O3)
      Put("many/file " + n + ".txt", "n" + n);
    }
    fs::create_directories(src_ / "empty folder");
  }

  // Every file of the tree below prefix in the extracted folder, byte for byte.
  void ExpectExtracted(const fs::path& dir, const std::string& reader) {
    for (const auto& [rel, content] : files_) {
      // A name without a dot is "NAME." on the disc; some readers keep the dot.
      fs::path at = dir / rel;
      if (!fs::exists(at) && fs::exists(dir / (rel + "."))) at = dir / (rel + ".");
      const std::string got = FileContent(at);
      EXPECT_TRUE(got == content) << reader << ": " << rel << " (" << got.size() << " bytes, want "
                                  << content.size() << ")";
    }
    EXPECT_FALSE(fs::exists(dir / "empty folder")) << reader << ": empty folders are removed";
  }

  TempFolder temp_{"mkiso"};
  fs::path root_ = temp_.path(), src_;
  std::map<std::string, std::string> files_;
};

TEST_F(MkisoTest, IndependentReadersAcceptTheImageAndExtractTheSameBytes) {
  BuildTree();
  const fs::path iso = root_ / "out.iso";
  const ShellRun made = Mkiso({"-o", iso.string(), "--label", "  Test Disc  ", src_.string()});
  ASSERT_EQ(made.status, 0) << made.output;
  EXPECT_NE(made.output.find("71 files"), std::string::npos) << made.output;
  EXPECT_NE(made.output.find("4 folders"), std::string::npos) << made.output;
  EXPECT_NE(made.output.find("\n1 empty folder not written\n"), std::string::npos) << made.output;
  EXPECT_EQ(fs::file_size(iso) % 2048, 0u);
  EXPECT_FALSE(PartialLeft(root_));
  const std::string isoText = Quote(iso.string());

  if (HaveTool("isovfy")) {
    const ShellRun v = Shell("isovfy " + isoText);
    EXPECT_EQ(v.status, 0) << v.output;
    EXPECT_NE(v.output.find("No errors found"), std::string::npos) << v.output;
  }
  if (HaveTool("isoinfo")) {
    const ShellRun d = Shell("isoinfo -d -i " + isoText);
    EXPECT_NE(d.output.find("Joliet"), std::string::npos) << d.output;
    const ShellRun j = Shell("isoinfo -J -l -i " + isoText);
    // (isoinfo shows characters outside its charset as "_": the extractors check those.)
    EXPECT_NE(j.output.find("MixedCase.Txt"), std::string::npos) << j.output;
    EXPECT_NE(j.output.find("with space.txt"), std::string::npos) << j.output;
  }
  for (const std::string& reader : InstalledReaders()) {
    const fs::path out = root_ / reader;
    const ShellRun x = Extract(reader, iso.string(), out.string());
    EXPECT_EQ(x.status, 0) << x.output;
    ExpectExtracted(out, reader);
  }
}

TEST_F(MkisoTest, SavePathModesAndFileSources) {
  if (!HaveTool("7z")) GTEST_SKIP() << "7z is not installed";
  Put("docs/a.txt", "A");
  Put("docs/sub/b.txt", "B");
  const fs::path single = root_ / "single.txt";
  std::ofstream(single) << "single";
  const fs::path docs = src_ / "docs";
  const std::string relDocs = docs.relative_path().string();  // absolute path without "/"

  struct Case {
    std::string mode;
    fs::path docsAt, singleAt;
  };
  const std::vector<Case> cases = {
      {"none", "", "single.txt"},
      {"last", "docs", root_.filename() / "single.txt"},
      {"full", relDocs, root_.relative_path() / "single.txt"},
  };
  for (const Case& c : cases) {
    const fs::path iso = root_ / (c.mode + ".iso");
    const ShellRun made = Mkiso({"-o", iso.string(), "--save-path", c.mode, docs.string(), single.string()});
    ASSERT_EQ(made.status, 0) << c.mode << ": " << made.output;
    const fs::path out = root_ / ("x-" + c.mode);
    ASSERT_EQ(Shell("7z x -y -o" + Quote(out.string()) + " " + Quote(iso.string())).status, 0);
    EXPECT_EQ(FileContent(out / c.docsAt / "a.txt"), "A") << c.mode;
    EXPECT_EQ(FileContent(out / c.docsAt / "sub/b.txt"), "B") << c.mode;
    EXPECT_EQ(FileContent(out / c.singleAt), "single") << c.mode;
  }
}

TEST_F(MkisoTest, WithoutJolietOnlyTheIsoNamesRemain) {
  if (!HaveTool("isoinfo") || !HaveTool("isovfy")) GTEST_SKIP() << "isoinfo/isovfy are not installed";
  Put("one.bin", Pattern(1, 1));
  Put("Long File Name.txt", "long");
  const fs::path iso = root_ / "plain.iso";
  const ShellRun made = Mkiso({"-o", iso.string(), "--no-joliet", src_.string()});
  ASSERT_EQ(made.status, 0) << made.output;
  EXPECT_NE(Shell("isovfy " + Quote(iso.string())).output.find("No errors found"), std::string::npos);
  const ShellRun d = Shell("isoinfo -d -i " + Quote(iso.string()));
  EXPECT_NE(d.output.find("NO Joliet present"), std::string::npos) << d.output;
  const ShellRun x = Shell("isoinfo -i " + Quote(iso.string()) + " -x '/ONE.BIN;1'");
  EXPECT_TRUE(x.output == Pattern(1, 1)) << x.output.size();
}

TEST_F(MkisoTest, BadArgumentsAndMissingSourcesFailClearly) {
  Put("a.txt", "a");
  const std::string iso = (root_ / "bad.iso").string();
  struct Case {
    std::vector<std::string> words;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{src_.string()}, "-o OUT.iso"},
      {{"-o", iso}, "SOURCE"},
      {{"-o"}, "needs a file name"},
      {{"-o", iso, "--frobnicate", src_.string()}, "unknown option '--frobnicate'"},
      {{"-o", iso, "--save-path", "some", src_.string()}, "full, last or none"},
      {{"-o", iso, "--label"}, "--label needs a text"},
      {{"-o", iso, "--cache-size", "12x", src_.string()}, "--cache-size must be a number"},
      {{"-o", iso, "--cache-size", "-5", src_.string()}, "--cache-size must be a number"},
      {{"-o", iso, (root_ / "no such folder").string()}, "no such folder"},
      {{"-o", root_.string(), src_.string()}, "not a regular file"},
      {{"-o", (root_ / "missing dir/x.iso").string(), src_.string()}, "missing dir"},
  };
  for (const Case& c : cases) {
    const ShellRun run = Mkiso(c.words);
    EXPECT_NE(run.status, 0) << c.says;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(iso)) << c.says;
  }
  // Folders without a single file: nothing to write.
  fs::create_directories(root_ / "hollow/inner");
  const ShellRun hollow = Mkiso({"-o", iso, (root_ / "hollow").string()});
  EXPECT_EQ(hollow.status, 1);
  EXPECT_NE(hollow.output.find("nothing to write"), std::string::npos) << hollow.output;
  EXPECT_FALSE(fs::exists(iso));
  EXPECT_FALSE(PartialLeft(root_));
}

TEST_F(MkisoTest, SourcesLeftOutAreListedAndFailTheRun) {
  Put("good.txt", "good");
  ASSERT_EQ(::mkfifo((src_ / "pipe").c_str(), 0600), 0);
  const fs::path fifoIso = root_ / "fifo.iso";
  const ShellRun fifo = Mkiso({"-o", fifoIso.string(), src_.string()});
  EXPECT_EQ(fifo.status, 1) << fifo.output;  // and it did not hang on the FIFO
  EXPECT_NE(fifo.output.find("\n1 file, "), std::string::npos) << fifo.output;
  EXPECT_NE(fifo.output.find("left out: \"" + (src_ / "pipe").string() + "\": NOT A REGULAR FILE"),
            std::string::npos) << fifo.output;
  EXPECT_NE(fifo.output.find("1 source left out"), std::string::npos) << fifo.output;
  fs::remove(src_ / "pipe");
}

// A sparse file just over 4 GiB (the least that needs a second extent), marked at its start,
// across the first extent's end and at its end, lies in two extents and reads back whole
// through every reader.
TEST_F(MkisoTest, AFileOfOverFourGibibytesReadsBackWhole) {
  const fs::path huge = src_ / "huge.bin";
  const off_t size = off_t{1} << 32 | 8192;
  std::ofstream(huge).close();
  fs::resize_file(huge, static_cast<uintmax_t>(size));
  const int fd = ::open(huge.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  for (const off_t at : {off_t{0}, off_t{0xFFFFF800} - 150, size - 300}) {
    const std::string mark(300, static_cast<char>('A' + at % 26));
    EXPECT_EQ(::pwrite(fd, mark.data(), mark.size(), at), 300);
  }
  ::close(fd);
  const fs::path iso = root_ / "huge.iso";
  const ShellRun made = Mkiso({"-o", iso.string(), src_.string()});
  ASSERT_EQ(made.status, 0) << made.output;
  // Each reader's copy is compared with the source as it streams out.
  const std::string image = Quote(iso.string()), compare = " | cmp - " + Quote(huge.string());
  const std::vector<std::pair<std::string, std::string>> readers = {
      {"bsdtar", "bsdtar -xOf " + image + " huge.bin" + compare},
      {"7z", "7z e -so " + image + " huge.bin 2>/dev/null" + compare},
      {"xorriso", "xorriso -osirrox on -indev " + image +
                      " -concat append /dev/fd/3 /huge.bin 3>&1 >/dev/null 2>&1" + compare},
  };
  for (const auto& [tool, command] : readers) {
    if (!HaveTool(tool)) continue;
    const ShellRun read = Shell(command);
    EXPECT_EQ(read.status, 0) << tool << ": " << read.output;
  }
  fs::remove(iso);
}

TEST_F(MkisoTest, EveryNameReachesTheImageAsReportedAndWhatCannotIsLeftOutWithAWord) {
  const NameTable table = MakeCollidingNames(src_);
  // Readers take the Joliet names without Rock Ridge, the Rock Ridge ones with it.
  for (const bool rockRidge : {false, true}) {
    const fs::path iso = root_ / "names.iso";
    std::vector<std::string> words = {"-o", iso.string()};
    if (!rockRidge) words.push_back("--no-rock-ridge");
    words.insert(words.end(), table.Sources.begin(), table.Sources.end());
    const ShellRun made = Mkiso(words);
    ASSERT_EQ(made.status, 1) << made.output;  // for what was left out, not what was renamed
    for (const std::string reader : {"osirrox", "bsdtar"}) {
      if (!HaveTool(reader == "osirrox" ? "xorriso" : reader)) continue;
      const fs::path out = root_ / (reader + (rockRidge ? "-rr" : ""));
      const ShellRun x = Extract(reader, iso.string(), out.string());
      EXPECT_EQ(x.status, 0) << x.output;
      EXPECT_EQ(CheckEveryFileCameBack(table, out, made.output), "")
          << reader << (rockRidge ? " with Rock Ridge\n" : "\n") << made.output;
    }
  }
}

TEST_F(MkisoTest, AnOutputAmongTheSourcesIsRefusedAndEachRunWritesAFileOfItsOwn) {
  Put("a.txt", "a");
  const fs::path victim = root_ / "victim";
  std::ofstream(victim) << "victim";
  struct Case {
    fs::path output;
    std::vector<std::string> sources;
    int status;
  };
  const std::vector<Case> cases = {
      {src_ / "a.txt", {src_.string()}, 2},         // a file of a queued folder
      {src_ / "a.txt", {(src_ / "a.txt").string()}, 2},  // the queued file itself
      {src_ / "new.iso", {src_.string()}, 0},       // not there yet: nothing to destroy
      {src_ / "new.iso", {src_.string()}, 2},       // the second time it is a source
      {root_ / "out.iso", {src_.string()}, 0},
  };
  for (const Case& c : cases) {
    // A link planted at the name a fixed temporary file would have is never followed.
    std::error_code ignored;
    fs::create_symlink(victim, c.output.string() + ".part", ignored);
    std::vector<std::string> words = {"-o", c.output.string()};
    words.insert(words.end(), c.sources.begin(), c.sources.end());
    const ShellRun run = Mkiso(words);
    EXPECT_EQ(run.status, c.status) << c.output << ": " << run.output;
    if (c.status == 2) {
      EXPECT_NE(run.output.find("is one of the sources"), std::string::npos) << run.output;
    }
    EXPECT_EQ(FileContent(src_ / "a.txt"), "a") << c.output;
    EXPECT_EQ(FileContent(victim), "victim") << c.output;
    fs::remove(c.output.string() + ".part");
    EXPECT_FALSE(PartialLeft(c.output.parent_path())) << c.output;
  }
  // Another run's temporary file is left alone.
  std::ofstream(root_ / "out.iso.part") << "another run";
  ASSERT_EQ(Mkiso({"-o", (root_ / "out.iso").string(), src_.string()}).status, 0);
  EXPECT_EQ(FileContent(root_ / "out.iso.part"), "another run");
}

// Sysfs attributes stand for sources that changed after they were added: one that stat
// reports larger than what it yields for a file that shrank (the image is whole, the file
// padded), a write-only one that can be listed but not opened, even by root, for one that
// vanished (no image is left).
TEST_F(MkisoTest, ASourceThatShrankOrVanishedIsNamedInTheFailure) {
  struct Case {
    std::string path, before, after;  // the failure: before + path + after
    bool shrunk;
  };
  const Case cases[] = {
      {"/sys/devices/system/cpu/online", "FILE \"", "\" WAS SHORTER THAN EXPECTED, PADDED WITH ZEROS", true},
      {"/sys/bus/cpu/drivers_probe", "CAN'T OPEN FILE \"", "\" OR FILE IS IN USES BY OTHER SOFTWARE", false},
  };
  Put("good.txt", "good");
  int ran = 0;
  for (const Case& c : cases) {
    struct stat info {};
    const std::string real = FileContent(c.path);
    const bool standsIn = ::stat(c.path.c_str(), &info) == 0 &&
                          (c.shrunk ? info.st_size > static_cast<off_t>(real.size()) : real == "<missing>");
    if (!standsIn) continue;
    ++ran;
    const fs::path iso = root_ / (c.shrunk ? "shrunk.iso" : "vanished.iso");
    const ShellRun run = Mkiso({"-o", iso.string(), src_.string(), c.path});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find(c.before + c.path + c.after), std::string::npos) << run.output;
    EXPECT_FALSE(PartialLeft(root_));
    if (!c.shrunk) {
      EXPECT_FALSE(fs::exists(iso));
      continue;
    }
    ASSERT_TRUE(fs::exists(iso));
    EXPECT_EQ(fs::file_size(iso) % 2048, 0u);
    if (HaveTool("isovfy")) {
      EXPECT_NE(Shell("isovfy " + Quote(iso.string())).output.find("No errors found"), std::string::npos);
    }
    if (HaveTool("7z")) {
      const fs::path out = root_ / "x";
      ASSERT_EQ(Extract("7z", iso.string(), out.string()).status, 0);
      EXPECT_EQ(FileContent(out / "good.txt"), "good");
      const std::string padded = FileContent(out / "online");
      ASSERT_EQ(padded.size(), static_cast<size_t>(info.st_size));
      EXPECT_EQ(padded.substr(0, real.size()), real);
      EXPECT_EQ(padded.substr(real.size()), std::string(padded.size() - real.size(), '\0'));
    }
  }
  if (ran == 0) GTEST_SKIP() << "no sysfs attribute to stand for a shrunk or vanished file";
}

}  // namespace
}  // namespace brennix::test
