// brennix-cli burn end to end on a virtual recorder: the dialog's question and texts, the disc
// read back by an independent reader, failures with their message and exit status, and
// Ctrl-C ending a recording through the abort path.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <dlfcn.h>

#include "name_table.h"
#include "virtual_recorder/session_export.h"
#include "virtual_recorder/virtual_recorder.h"
#include "support/cli_runner.h"
#include "support/iso_reader.h"
#include "support/recorder_environment.h"
#include "support/files.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

using brennix::test::FileContent;
using CliRun = brennix::test::ShellRun;
using brennix::test::Quote;
using brennix::test::RunCli;
using brennix::test::Shell;

void Write(const fs::path& path, size_t size, int seed) {
  fs::create_directories(path.parent_path());
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + static_cast<size_t>(seed)) >> 3);
  std::ofstream(path, std::ios::binary) << bytes;
}

class BurnCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Write(dir_ / "src/readme.txt", 5, 1);
    Write(dir_ / "src/photos/one.jpg", 100000, 2);
    Write(dir_ / "src/photos/two.jpg", 2048, 3);
  }

  // The device entry of the virtual recorder: a real drive in the machine comes first in
  // the list and must never be the one a test burns on.
  std::string VirtualEntry(const std::string& recorder) {
    const CliRun list = RunCli("--virtual-recorder " + Quote(recorder) +
                              " devices");
    size_t start = 0;
    while (start < list.output.size()) {
      size_t end = list.output.find('\n', start);
      if (end == std::string::npos) end = list.output.size();
      const std::string line = list.output.substr(start, end - start);
      if (line.find("VIRTUAL RECORDER") != std::string::npos) return line;
      start = end + 1;
    }
    return "none";
  }

  CliRun Burn(const std::string& profile, const std::vector<std::string>& words,
           const std::string& stdinFrom = "/dev/null") {
    const std::string recorder = (dir_ / "disc.img").string() + profile;
    std::string command = brennix::test::CliCommand() + " --virtual-recorder " + Quote(recorder) +
                          " burn --device " + Quote(VirtualEntry(recorder));
    for (const std::string& w : words) command.append(" ").append(Quote(w));  // -Wrestrict at -O3
    // On a terminal (script gives it one), as a person runs it: with the progress line.
    CliRun run = Shell("script -qec " + Quote(command + " <" + stdinFrom) + " /dev/null </dev/null");
    for (size_t at; (at = run.output.find("\r\n")) != std::string::npos;) run.output.erase(at, 1);
    return run;
  }

  // Extracts the disc's first session (an ordinary image) and compares the tree with src.
  std::string ReadBack(const std::string& below) {
    const fs::path out = dir_ / "extracted";
    fs::remove_all(out);
    const CliRun x = brennix::test::Extract("xorriso", (dir_ / "disc.img").string(), out.string());
    if (x.status != 0) return "xorriso: " + x.output;
    std::string problems;
    for (const char* name : {"readme.txt", "photos/one.jpg", "photos/two.jpg"}) {
      if (FileContent(out / below / name) != FileContent(dir_ / "src" / name)) problems += name;
    }
    return problems;
  }

  brennix::test::TempFolder temp_{"burncli"};
  fs::path dir_ = temp_.path();
};

TEST_F(BurnCliTest, BurnsAsTheDialogDoesAndTheDiscReadsBack) {
  if (Shell("command -v xorriso").status != 0) GTEST_SKIP() << "xorriso is not installed";
  // A drive ready at once ends this burn before the line's first tick: the first WRITE and the
  // close take a moment here, as on a real drive, so the line shows both.
  const brennix::test::RecorderEnvironment slow("fault=slow:2a:1:700ms,fault=slow:5b:1:700ms");
  const CliRun run = Burn(":dvd+r", {"--yes", "--verify", "--label", "  Holiday 2026  ",
                                     "--save-path", "last", (dir_ / "src").string()});
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("Verifying... "), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Do you want to write 99.66 KB to the disc ?"), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("MB Written: "), std::string::npos);
  EXPECT_NE(run.output.find("Finalizing..."), std::string::npos);
  EXPECT_NE(run.output.find("Burn process completed.\n"), std::string::npos);
  // The last progress line shows the end, not the dialog's 90 %.
  const size_t last = run.output.rfind("MB Written: ");
  EXPECT_NE(run.output.substr(last, run.output.find('\n', last) - last).find("100%"), std::string::npos)
      << run.output;
  EXPECT_EQ(ReadBack("src"), "");
  const CliRun info = Shell("isoinfo -d -i " + Quote((dir_ / "disc.img").string()));
  EXPECT_NE(info.output.find("Volume id: HOLIDAY 2026"), std::string::npos) << info.output;
}

TEST_F(BurnCliTest, KeepsTheDiscsFilesUnlessToldNotTo) {
  if (Shell("command -v xorriso").status != 0) GTEST_SKIP() << "xorriso is not installed";
  // What the newest session shows, as "path=content" lines.
  const auto lastSession = [this] {
    const fs::path iso = dir_ / "last.iso", out = dir_ / "last";
    std::string error;
    fs::remove_all(out);
    if (!brennix::ExportSessionIso((dir_ / "disc.img").string(), 0, iso.string(), error, true))
      return "export: " + error;
    const CliRun x = brennix::test::Extract("xorriso", iso.string(), out.string());
    if (x.status != 0) return "xorriso: " + x.output;
    std::set<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(out))
      if (e.is_regular_file()) files.insert(fs::relative(e.path(), out).string() + "=" + FileContent(e.path()));
    std::string text;
    for (const std::string& f : files) text += f + "\n";
    return text;
  };
  ASSERT_EQ(Burn(":cd-r", {"--yes", (dir_ / "src").string()}).status, 0);
  Write(dir_ / "more/readme.txt", 9, 7);
  Write(dir_ / "more/photos/three.jpg", 3000, 8);
  const CliRun kept = Burn("", {"--yes", (dir_ / "more").string()});
  ASSERT_EQ(kept.status, 0) << kept.output;
  EXPECT_NE(kept.output.find("Keeping 2 files of the earlier session (1 replaced by new ones)."),
            std::string::npos) << kept.output;
  // The question counts only what is new.
  EXPECT_NE(kept.output.find("Do you want to write 2.94 KB to the disc ?"), std::string::npos)
      << kept.output;
  std::string expected;
  for (const char* name : {"photos/one.jpg", "photos/three.jpg", "photos/two.jpg"})
    expected += std::string(name) + "=" + FileContent(dir_ / (std::string(name) == "photos/three.jpg" ? "more" : "src") / name) + "\n";
  expected += "readme.txt=" + FileContent(dir_ / "more/readme.txt") + "\n";
  EXPECT_EQ(lastSession(), expected);

  Write(dir_ / "alone/only.txt", 10, 9);
  const CliRun alone = Burn("", {"--yes", "--no-import", (dir_ / "alone").string()});
  ASSERT_EQ(alone.status, 0) << alone.output;
  EXPECT_EQ(alone.output.find("Keeping"), std::string::npos) << alone.output;
  EXPECT_EQ(lastSession(), "only.txt=" + FileContent(dir_ / "alone/only.txt") + "\n");
}

TEST_F(BurnCliTest, TheVirtualDiscInsideASourceIsLeftOut) {
  if (Shell("command -v xorriso").status != 0) GTEST_SKIP() << "xorriso is not installed";
  const std::string recorder = (dir_ / "src/disc.img").string() + ":cd-r";
  const CliRun run = RunCli("--virtual-recorder " + Quote(recorder) +
                           " burn --yes --device " + Quote(VirtualEntry(recorder)) + " " +
                           Quote((dir_ / "src").string()) + " </dev/null");
  ASSERT_EQ(run.status, 0) << run.output;
  const CliRun list = Shell("xorriso -indev " + Quote((dir_ / "src/disc.img").string()) +
                            " -find / -type f");
  EXPECT_NE(list.output.find("readme.txt"), std::string::npos) << list.output;
  EXPECT_EQ(list.output.find("'/disc.img"), std::string::npos) << list.output;
}

// A failure prints the lines the dialog shows: what happened in plain words, the state the
// disc is left in, what to do next, and the drive's own words last.
TEST_F(BurnCliTest, AFailureSaysWhatHappenedTheDiscsStateAndWhatToDo) {
  struct Case {
    const char* options;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"bad-sector=40",
       {"burn: The burn failed.",
        "burn: The disc was written, but reading it back found a difference at ",
        "burn: The new session is on the disc, but it does not read back as it was sent.",
        "burn: Do not rely on this disc",
        "burn: details: VERIFY FAILED AT SECTOR 40"}},
      {"fault=sense:2a:1:3/0c/00",
       {"burn: The burn failed.",
        "burn: The disc could not be written",
        ": a medium error. The disc may be damaged or of poor quality.",
        "burn: The disc ", "burn: Try another disc, or a lower write speed.",
        "burn: details: WRITER ERROR [MEDIUM ERROR (WRITE ERROR)]"}},
  };
  for (const Case& c : cases) {
    fs::remove(dir_ / "disc.img");
    fs::remove(dir_ / "disc.img.state");
    const brennix::test::RecorderEnvironment faults(c.options);
    const CliRun run = Burn(":cd-r", {"--yes", "--verify", (dir_ / "src").string()});
    EXPECT_EQ(run.status, 1) << run.output;
    size_t at = 0;
    for (const std::string& line : c.lines) {
      const size_t found =
          run.output.find(line.rfind("burn: ", 0) == 0 ? "brennix-cli: " + line : line, at);
      EXPECT_NE(found, std::string::npos) << c.options << ": " << line << "\n" << run.output;
      if (found != std::string::npos) at = found;
    }
    EXPECT_EQ(run.output.find("Burn process completed"), std::string::npos) << run.output;
  }
}

TEST_F(BurnCliTest, EveryNameReachesTheDiscAsReportedAndWhatCannotIsLeftOutWithAWord) {
  // The disc holds a folder "x" already; the table brings a file "x".
  Write(dir_ / "earlier/x/in.txt", 7, 4);
  ASSERT_EQ(Burn(":dvd+r", {"--yes", (dir_ / "earlier").string()}).status, 0);
  brennix::test::NameTable table = brennix::test::MakeCollidingNames(dir_ / "names");
  table.Files["x/in.txt"] = {FileContent(dir_ / "earlier/x/in.txt"), "x/in.txt"};
  std::vector<std::string> words = {"--yes"};
  words.insert(words.end(), table.Sources.begin(), table.Sources.end());
  const CliRun run = Burn("", words);
  ASSERT_EQ(run.status, 1) << run.output;  // for what was left out, not what was renamed
  const fs::path last = dir_ / "last.iso";
  std::string error;
  ASSERT_TRUE(brennix::ExportSessionIso((dir_ / "disc.img").string(), 0, last.string(), error, true))
      << error;
  for (const std::string reader : {"xorriso", "bsdtar"}) {
    if (Shell("command -v " + reader).status != 0) continue;
    const fs::path out = dir_ / reader;
    const CliRun x = brennix::test::Extract(reader, last.string(), out.string());
    EXPECT_EQ(x.status, 0) << x.output;
    EXPECT_EQ(brennix::test::CheckEveryFileCameBack(table, out, run.output), "") << reader << "\n" << run.output;
  }
}

TEST_F(BurnCliTest, SourcesLeftOutAreListedBeforeTheQuestionAndFailTheBurn) {
  ASSERT_EQ(::mkfifo((dir_ / "src/photos/pipe").c_str(), 0600), 0);
  // A link planted where a fixed temporary state file would be is never followed.
  Write(dir_ / "victim", 6, 9);
  fs::create_symlink(dir_ / "victim", dir_ / "disc.img.state.tmp");
  // The folder twice: its second listing adds nothing, which must not stop the burn.
  const std::string src = (dir_ / "src").string();
  const CliRun run = Burn(":cd-r", {"--yes", src, src});
  EXPECT_EQ(run.status, 1) << run.output;
  const size_t listed = run.output.find("left out: \"" + src + "/photos/pipe\": NOT A REGULAR FILE");
  const size_t question = run.output.find("to the disc ? (1 source left out, listed above) yes");
  EXPECT_NE(listed, std::string::npos) << run.output;
  EXPECT_NE(question, std::string::npos) << run.output;
  EXPECT_LT(listed, question);
  EXPECT_NE(run.output.find("Burn process completed.\n"), std::string::npos) << run.output;
  EXPECT_EQ(FileContent(dir_ / "victim").size(), 6u);
  EXPECT_TRUE(fs::is_symlink(dir_ / "disc.img.state.tmp"));
}

TEST_F(BurnCliTest, UnknownProfilesAndEmptyDevicesAreErrors) {
  const std::string cli = brennix::test::CliCommand() + " --virtual-recorder " + Quote((dir_ / "disc.img").string() + ":cd-r");
  for (const std::string& words :
       {brennix::test::CliCommand() + " --virtual-recorder " + Quote((dir_ / "x.img").string() + ":bogusprofile") + " devices",
        cli + " burn --yes --device= " + Quote((dir_ / "src").string()), cli + " info --device=",
        cli + " erase --yes --device="}) {
    const CliRun run = Shell(words + " </dev/null");
    EXPECT_NE(run.status, 0) << words << ": " << run.output;
    EXPECT_TRUE(run.output.find("unknown profile 'bogusprofile'") != std::string::npos ||
                run.output.find("--device= needs") != std::string::npos)
        << words << ": " << run.output;
  }
  EXPECT_FALSE(fs::exists(dir_ / "x.img:bogusprofile"));
  EXPECT_FALSE(fs::exists(dir_ / "x.img"));
}

TEST_F(BurnCliTest, ALibraryPlantedInTheWorkingFolderIsNeverLoaded) {
  const fs::path marker = dir_ / "marker";
  // The marker is what loading leaves: the library does its part.
  ::setenv("BRENNIX_PLANTED_MARKER", marker.c_str(), 1);
  void* handle = ::dlopen(BRENNIX_PLANTED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr);
  ::dlclose(handle);
  ASSERT_TRUE(fs::exists(marker));
  fs::remove(marker);
  // No usable drive: the transport looks for a manager library.
  fs::copy_file(BRENNIX_PLANTED_LIBRARY, dir_ / "WNASPI32.DLL");
  for (const char* command : {"devices", "info", "eject"})
    Shell("cd " + Quote(dir_.string()) + " && " + brennix::test::CliCommand() + " " + command);
  ::unsetenv("BRENNIX_PLANTED_MARKER");
  EXPECT_FALSE(fs::exists(marker));
}

TEST_F(BurnCliTest, RefusesToAskWithoutATerminal) {
  const CliRun run = Burn(":cd-r", {(dir_ / "src").string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.output.find("--yes"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("Burn process"), std::string::npos);
}

TEST_F(BurnCliTest, AFailedBurnSaysSoAndExitsNonZero) {
  ASSERT_EQ(Burn(":cd-r", {"--yes", "--close-disc", (dir_ / "src").string()}).status, 0);
  // The disc is closed now: the next session is refused before the question.
  const CliRun run = Burn("", {"--yes", (dir_ / "src").string()});
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("brennix-cli: burn: THE DISC IS CLOSED: NO FURTHER SESSION CAN BE "
                            "WRITTEN"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(run.output.find("Do you want"), std::string::npos) << run.output;
}

TEST_F(BurnCliTest, ADiscFileInUseByAnotherProgramIsNamedAtOnce) {
  // This test program has the disc in its recorder, as a running burn would.
  std::string error;
  const auto holder = brennix::VirtualRecorder::Create((dir_ / "disc.img").string(),
                                                       brennix::MediaProfile::CdR, {}, error);
  ASSERT_NE(holder, nullptr) << error;
  std::ifstream comm("/proc/self/comm");
  std::string self;
  std::getline(comm, self);
  const CliRun run = RunCli("--virtual-recorder " +
                           Quote((dir_ / "disc.img").string()) + " burn --yes " +
                           Quote((dir_ / "src").string()) + " </dev/null");
  EXPECT_EQ(run.status, 1);  // a failure, not a usage error
  EXPECT_NE(run.output.find("THE RECORDER IS IN USE BY " + self + " (PID " +
                            std::to_string(::getpid()) + ")"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(run.output.find("Writing Data..."), std::string::npos) << run.output;
}

// A disc copied to a second recorder reads back as the first, streamed: with no folder for a
// temporary image it still goes. Saved as an image file and burned again onto a disc that
// holds data, it is refused before anything is written.
TEST_F(BurnCliTest, CopyAndImagesGoThroughEveryRecorder) {
  if (Shell("command -v xorriso").status != 0) GTEST_SKIP() << "xorriso is not installed";
  ASSERT_EQ(Burn(":dvd+r", {"--yes", (dir_ / "src").string()}).status, 0);
  const std::string second = (dir_ / "copy.img").string();
  const std::string both = " --virtual-recorder " + Quote((dir_ / "disc.img").string()) +
                           " --virtual-recorder " + Quote(second + ":cd-r") + " ";
  const CliRun copy = Shell("TMPDIR=" + Quote((dir_ / "no-such-folder").string()) + " " +
                            brennix::test::CliCommand() + both + "copy --from D: --to E: --yes");
  ASSERT_EQ(copy.status, 0) << copy.output;
  EXPECT_NE(copy.output.find("Verified: every sector read back identical."), std::string::npos)
      << copy.output;
  EXPECT_EQ(copy.output.find("Reading Disc..."), std::string::npos) << copy.output;
  fs::rename(second, dir_ / "disc.img");
  fs::rename(second + ".state", (dir_ / "disc.img").string() + ".state");
  EXPECT_EQ(ReadBack(""), "");
  const CliRun saved = RunCli(both + "read-image --device D: -q " +
                             Quote((dir_ / "saved.iso").string()));
  ASSERT_EQ(saved.status, 0) << saved.output;
  const CliRun again = RunCli(both + "burn-image --device D: --yes " +
                             Quote((dir_ / "saved.iso").string()));
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.output.find("AN IMAGE IS WRITTEN TO A BLANK DISC"), std::string::npos)
      << again.output;
  // Copies in turn from a disc changer: each written disc comes out as PATH.N.
  const std::string stack = (dir_ / "stack.img").string();
  const CliRun copies = Shell("BRENNIX_VIRTUAL_RECORDER_OPTIONS=changer=1 " + Quote(BRENNIX_CLI) +
                              " --virtual-recorder " + Quote(stack + ":dvd+r") +
                              " burn-image --copies 2 --yes " + Quote((dir_ / "saved.iso").string()));
  EXPECT_EQ(copies.status, 0) << copies.output;
  EXPECT_NE(copies.output.find("Disc 2 of 2"), std::string::npos) << copies.output;
  EXPECT_TRUE(fs::exists(stack + ".1"));
}

TEST_F(BurnCliTest, BadArgumentsAreUsageErrors) {
  for (const std::vector<std::string>& words :
       std::vector<std::vector<std::string>>{{"--yes"},
                                             {"--yes", "--speed", "fast", "x"},
                                             {"--yes", "--speed", "70000", "x"},
                                             {"--yes", "--save-path", "some", "x"},
                                             {"--yes", "--frobnicate", "x"},
                                             {"--yes", (dir_ / "missing").string()}}) {
    const CliRun run = Burn(":cd-r", words);
    EXPECT_EQ(run.status, 2) << words.back() << ": " << run.output;
    EXPECT_NE(run.output.find("brennix-cli: burn: "), std::string::npos) << run.output;
  }
}

TEST_F(BurnCliTest, CtrlCAbortsTheRecording) {
  Write(dir_ / "src/big.bin", 48 << 20, 4);
  const fs::path log = dir_ / "output.txt";
  const std::string entry = VirtualEntry((dir_ / "disc.img").string() + ":cd-r");
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::setenv("BRENNIX_VIRTUAL_RECORDER_OPTIONS", "speed=simulated", 1);
    const std::string disc = (dir_ / "disc.img").string() + ":cd-r";
    const std::string source = (dir_ / "src").string();
    ::execl(BRENNIX_CLI, BRENNIX_CLI, "--virtual-recorder", disc.c_str(), "burn", "--device",
            entry.c_str(), "--yes", source.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Interrupt once the recording has started and the data is flowing (the drive is
  // prepared within about two seconds; the data takes about six).
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline &&
         FileContent(log).find("Writing Data...") == std::string::npos) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  ::kill(pid, SIGINT);
  int raw = 0;
  ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
  const std::string output = FileContent(log);
  ASSERT_TRUE(WIFEXITED(raw)) << output;
  EXPECT_EQ(WEXITSTATUS(raw), 1) << output;
  EXPECT_NE(output.find("brennix-cli: burn: The burn was stopped."), std::string::npos) << output;
  EXPECT_NE(output.find("brennix-cli: burn: You stopped the burn after "), std::string::npos)
      << output;
  EXPECT_NE(output.find("OPERATION ABORTED BY USER"), std::string::npos) << output;
}

}  // namespace
