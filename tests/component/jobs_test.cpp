// The burn and erase jobs as every front end runs them, driven by a scripted handler on
// virtual recorders: a table of media and outcomes, each checked for what the handler was
// told, on which thread, and what reached the disc.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <thread>

#include "burn_harness.h"
#include "component/burn_job.h"
#include "component/check_job.h"
#include "component/copy_job.h"
#include "component/erase_job.h"
#include "component/image_job.h"
#include "component/read_image_job.h"
#include "component/recorder_rules.h"
#include "platform/clock.h"
#include "platform/main_thread.h"
#include "recording/cache_thread.h"
#include "recording/writer_thread.h"
#include "transport/spti.h"
#include "virtual_recorder/attach.h"
#include "virtual_recorder/disc_state.h"

namespace brennix {
namespace {

using burntest::Rig;
using burntest::TempDir;
using burntest::ReadFile;
using burntest::WriteFile;

constexpr uint8_t kWrite10 = 0x2A;

// Answers as scripted and keeps every event as a line; fails the test when an event comes
// on another thread than the one that runs the job.
class ScriptedHandler final : public TJobHandler {
 public:
  std::map<TQuestionKind, bool> answers = {{TQuestionKind::Write, true},
                                           {TQuestionKind::Erase, true},
                                           {TQuestionKind::Unmount, false}};
  std::vector<std::string> events;
  std::optional<TJobResult> result;
  std::function<void(const TJobProgress&)> onProgress;
  std::function<void(const TJobMessage&)> onTell;
  bool sawWriting = false;

  void Ask(const TJobQuestion& question, std::function<void(bool)> answer) override {
    OnMyThread();
    events.push_back("ask: " + question.Text);
    for (const std::string& note : question.Notes) events.push_back("note: " + note);
    for (const TSkippedSource& left : question.Skipped)
      events.push_back("skipped: " + left.Source + ": " + left.Reason);
    answer(answers[question.Kind]);
  }
  void Tell(const TJobMessage& message) override {
    OnMyThread();
    events.push_back("tell: " + message.Text);
    if (onTell) onTell(message);
  }
  void Progress(const TJobProgress& progress) override {
    OnMyThread();
    sawWriting = sawWriting || progress.Phase == TJobPhase::Writing;
    if (onProgress) onProgress(progress);
  }
  void Done(const TJobResult& done) override {
    OnMyThread();
    EXPECT_FALSE(result.has_value()) << "a second Done";
    result = done;
  }

  TJobResult Run(TJob& job) {
    EXPECT_TRUE(job.Start());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
    while (!result && std::chrono::steady_clock::now() < deadline) {
      if (PumpMainThread() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(result.has_value()) << "no Done within 300 s";
    EXPECT_FALSE(job.Running());
    return result.value_or(TJobResult());
  }

 private:
  void OnMyThread() const { EXPECT_EQ(std::this_thread::get_id(), thread_); }
  std::thread::id thread_ = std::this_thread::get_id();
};

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& line : lines)
    if (line.find(text) != std::string::npos) return true;
  return false;
}

int Writes(Rig& rig) {
  int writes = 0;
  for (const auto& c : rig.drive().Log()) writes += c.opcode == kWrite10 ? 1 : 0;
  return writes;
}

struct BurnCase {
  const char* name;
  MediaProfile profile;
  bool answer = true;
  bool closeFirst = false;        // an earlier burn closed the disc
  bool queueNothing = false;
  bool verify = false;
  std::optional<RecorderFault> fault = std::nullopt;
  bool abortWhileWriting = false;
  TJobOutcome outcome = TJobOutcome::Completed;
  const char* said = "";          // a line of the handler's events, or of the result's text
};

RecorderFault WriteFault() { return {.opcode = kWrite10, .key = 0x03, .asc = 0x0C}; }

class BurnJobTest : public ::testing::TestWithParam<BurnCase> {
 protected:
  void SetUp() override {
    if (!burntest::HaveXorriso()) GTEST_SKIP() << "xorriso is not installed";
    WriteFile(dir_ / "src/a.txt", 3000, 1);
    WriteFile(dir_ / "src/sub/b.bin", 300000, 2);
  }
  TBurnOptions Options(const BurnCase& c, bool close) const {
    TBurnOptions options;
    if (!c.queueNothing) options.Sources = {{dir_ / "src", true}};
    options.Label = "  JOB  ";
    options.CloseDisc = close;
    options.Verify = c.verify;
    return options;
  }
  TempDir dir_;
};

TEST_P(BurnJobTest, EndsAsTheDiscAndTheAnswersSay) {
  const BurnCase c = GetParam();
  Rig rig(dir_ / "disc.img", c.profile);
  ASSERT_TRUE(rig.ok()) << rig.error();
  if (c.closeFirst) {
    ScriptedHandler first;
    TBurnJob closing(rig.burner(), first, Options(c, true));
    ASSERT_EQ(first.Run(closing).Outcome, TJobOutcome::Completed);
  }
  const int writesBefore = Writes(rig);
  if (c.fault) rig.drive().AddFault(*c.fault);
  ScriptedHandler handler;
  handler.answers[TQuestionKind::Write] = c.answer;
  TBurnJob job(rig.burner(), handler, Options(c, false));
  // The abort comes with the first WRITE: a small image can be written before the first
  // progress report reaches the handler.
  if (c.abortWhileWriting) {
    rig.drive().beforeCommand = [&job](const burntest::LoggedCommand& command) {
      if (command.opcode == kWrite10) job.Cancel();
    };
  }
  const TJobResult result = handler.Run(job);
  rig.drive().beforeCommand = nullptr;

  EXPECT_EQ(result.Outcome, c.outcome) << result.Error;
  std::vector<std::string> said = handler.events;
  said.push_back(result.Text);
  said.push_back(result.Error);
  for (const std::string& line : result.Summary) said.push_back(line);
  for (const std::string* line : {&result.Plain, &result.DiscState, &result.Advice})
    said.push_back(*line);
  EXPECT_TRUE(Contains(said, c.said)) << c.said << "\n" << result.Plain << "\n" << result.Error;
  // The question says whether the disc is verified, and whether a write-once disc stays open.
  if (c.outcome != TJobOutcome::Refused) {
    EXPECT_TRUE(Contains(handler.events, c.verify ? "note: It will be read back and compared"
                                                  : "note: It will not be verified."));
    if (c.profile == MediaProfile::DvdR || c.profile == MediaProfile::CdR) {
      EXPECT_TRUE(Contains(handler.events, "note: The disc stays open: further sessions can be "
                                           "added later."));
    }
  }
  // A failure says what happened, what state the disc is in and what to do.
  if (c.outcome == TJobOutcome::Failed) {
    EXPECT_FALSE(result.Plain.empty());
    EXPECT_FALSE(result.DiscState.empty());
    EXPECT_EQ(result.Stopped, c.abortWhileWriting);
  }
  // Only a recording that started says so; one aborted at once may not have sent a WRITE.
  EXPECT_EQ(handler.sawWriting,
            c.outcome == TJobOutcome::Completed || c.outcome == TJobOutcome::Failed);
  if (!c.abortWhileWriting) {
    EXPECT_EQ(Writes(rig) > writesBefore, handler.sawWriting);
  }
  EXPECT_FALSE(rig.burner().Recording());
  if (c.outcome == TJobOutcome::Completed) {
    EXPECT_EQ(burntest::CompareLastSession(dir_ / "disc.img", {{"a.txt", dir_ / "src/a.txt"},
                                                              {"sub/b.bin", dir_ / "src/sub/b.bin"}}),
              "");
    // The job empties the tree once the recording has ended.
    EXPECT_EQ(rig.burner().FileCount(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    MediaAndOutcomes, BurnJobTest,
    ::testing::Values(
        BurnCase{.name = "CdRVerified", .profile = MediaProfile::CdR, .verify = true, .said = kVerifiedText},
        BurnCase{.name = "DvdPlusRw", .profile = MediaProfile::DvdPlusRw, .said = kBurnCompletedText},
        BurnCase{.name = "DvdRwSequential", .profile = MediaProfile::DvdRwSequential,
                 .said = "ask: Do you want to write 295.90 KB"},
        BurnCase{.name = "Declined", .profile = MediaProfile::DvdPlusR, .answer = false,
                 .outcome = TJobOutcome::Declined, .said = "ask: Do you want to write"},
        BurnCase{.name = "NoDisc", .profile = MediaProfile::None, .outcome = TJobOutcome::Refused,
                 .said = kNoDiscText},
        BurnCase{.name = "ClosedDisc", .profile = MediaProfile::DvdPlusR, .closeFirst = true,
                 .outcome = TJobOutcome::Refused, .said = kDiscClosedText},
        BurnCase{.name = "EmptyQueue", .profile = MediaProfile::CdR, .queueNothing = true,
                 .outcome = TJobOutcome::Refused, .said = kEmptyQueueText},
        BurnCase{.name = "WriteFault", .profile = MediaProfile::DvdR, .fault = WriteFault(),
                 .outcome = TJobOutcome::Failed,
                 .said = "a medium error. The disc may be damaged or of poor quality."},
        BurnCase{.name = "Aborted", .profile = MediaProfile::DvdPlusRw, .abortWhileWriting = true,
                 .outcome = TJobOutcome::Failed, .said = "You stopped the burn"}),
    [](const ::testing::TestParamInfo<BurnCase>& row) { return std::string(row.param.name); });

// A link in another program's session cannot be listed again: it is named before the
// question and the burn says that something was left out.
TEST(BurnJob, WhatTheEarlierSessionCannotKeepIsNamed) {
  if (!burntest::HaveXorriso()) GTEST_SKIP() << "xorriso is not installed";
  TempDir dir;
  WriteFile(dir / "theirs/kept.txt", 4000, 1);
  ASSERT_EQ(::symlink("kept.txt", (dir / "theirs/link").c_str()), 0);
  const std::string make = "xorriso -as mkisofs -J -R -o '" + dir / "disc.img" + "' '" +
                           dir / "theirs" + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0);
  WriteFile(dir / "new/b.txt", 100, 2);
  Rig rig(dir / "disc.img", MediaProfile::DvdPlusRw);
  ASSERT_TRUE(rig.ok()) << rig.error();
  ScriptedHandler handler;
  TBurnOptions options;
  options.Sources = {{dir / "new", true}};
  TBurnJob job(rig.burner(), handler, options);
  const TJobResult result = handler.Run(job);
  EXPECT_EQ(result.Outcome, TJobOutcome::Completed) << result.Error;
  EXPECT_EQ(result.LeftOut, 1);
  EXPECT_TRUE(Contains(handler.events, "skipped: /link: NOT A REGULAR FILE"));
  EXPECT_TRUE(Contains(handler.events, "note: Keeping 1 file of the earlier session."));
  EXPECT_EQ(burntest::CompareLastSession(dir / "disc.img", {{"kept.txt", dir / "theirs/kept.txt"},
                                                            {"b.txt", dir / "new/b.txt"}}),
            "");
}

// Written once as far as the jobs go: a DVD-RW is formatted for overwriting before it is written.
bool WriteOnce(MediaProfile profile) {
  return !IsOverwritableMedia(profile) && profile != MediaProfile::DvdRwSequential;
}

// Jobs on virtual discs read back with xorriso, in a folder and on a clock of the test's own.
class DiscJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!burntest::HaveXorriso()) GTEST_SKIP() << "xorriso is not installed";
  }
  ScopedTestClock clock;
  TempDir dir;
};

TJobResult BurnWith(const std::string& disc, const std::vector<std::string>& sources,
                    ScriptedHandler& handler, bool import = true) {
  Rig rig(disc, std::nullopt);
  EXPECT_TRUE(rig.ok()) << rig.error();
  TBurnOptions options;
  for (const std::string& source : sources) options.Sources.push_back({source, true});
  options.Import = import;
  TBurnJob job(rig.burner(), handler, options);
  return handler.Run(job);
}

// A recording that ends early, in every way one can, on every kind of disc; then a default
// burn of a new file. The newest session must hold every earlier file that was whole, byte
// for byte, and the new file; every earlier file not kept is named, and counts as left out.
enum class End { Abort10, Abort60, WriteErrorFirst, WriteErrorMid, SourceUnopenable, Killed };

struct EarlyEndCase {
  MediaProfile profile;
  End end;
};

std::string EarlyEndName(const ::testing::TestParamInfo<EarlyEndCase>& row) {
  static const char* const ends[] = {"Abort10",      "Abort60",          "WriteErrorFirst",
                                     "WriteErrorMid", "SourceUnopenable", "Killed"};
  std::string name;
  for (const char c : ProfileName(row.param.profile)) {
    if (std::isalnum(static_cast<unsigned char>(c))) name += c;
    if (c == '+') name += "plus";
  }
  return name + "_" + ends[static_cast<int>(row.param.end)];
}

class EarlyEndTest : public DiscJobTest, public ::testing::WithParamInterface<EarlyEndCase> {};

// The state a drive keeps when the program dies mid-recording: on a write-once disc the last
// track open and only partly written, its session never closed; on a rewritable one the
// descriptors still held back (a lone terminator at sector 16).
void LeaveRecordingUnfinished(const std::string& disc) {
  DiscState state;
  std::string error;
  ASSERT_TRUE(LoadDiscState(disc + ".state", state, error)) << error;
  if (state.tracks.empty()) {
    std::fstream file(disc, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(16 * 2048);
    const char terminator[2048] = {'\xFF', 'C', 'D', '0', '0', '1', '\x01'};
    file.write(terminator, sizeof terminator);
    return;
  }
  RecordedTrack& last = state.tracks.back();
  last.recorded = last.recorded / 2 / 16 * 16;
  last.closed = false;
  if (state.closedSessions >= last.session) state.closedSessions = last.session - 1;
  state.finalized = false;
  ASSERT_TRUE(SaveDiscState(disc + ".state", state, error, false)) << error;
}

TEST_P(EarlyEndTest, TheNextBurnKeepsOnlyWholeFilesAndSaysWhich) {
  const EarlyEndCase c = GetParam();
  const bool writeOnce = WriteOnce(c.profile);
  const std::map<std::string, std::string> first = {
      {"a.txt", dir / "src/a.txt"}, {"big.bin", dir / "src/big.bin"}, {"z.txt", dir / "src/z.txt"}};
  WriteFile(dir / "src/a.txt", 3000, 1);
  WriteFile(dir / "src/big.bin", 900000, 2);
  WriteFile(dir / "src/z.txt", 2000, 3);
  WriteFile(dir / "new/n.txt", 500, 4);
  const std::string disc = dir / "disc.img";
  {
    Rig rig(disc, c.profile);
    ASSERT_TRUE(rig.ok()) << rig.error();
    ScriptedHandler handler;
    TBurnOptions options;
    options.Sources = {{dir / "src", true}};
    TBurnJob job(rig.burner(), handler, options);
    const int stopAt = c.end == End::Abort10 ? 2 : c.end == End::WriteErrorFirst ? 1 : 10;
    std::atomic<int> writes{0};
    rig.drive().beforeCommand = [&](const burntest::LoggedCommand& command) {
      if (command.opcode != kWrite10 || ++writes != stopAt) return;
      if (c.end == End::Abort10 || c.end == End::Abort60) job.Cancel();
      if (c.end == End::WriteErrorFirst || c.end == End::WriteErrorMid) rig.drive().AddFault(WriteFault());
    };
    if (c.end == End::SourceUnopenable) {  // it goes away after the tree was made
      SetSourceOpenHook([](const std::string& path) {
        if (path.find("big.bin") != std::string::npos) ::unlink(path.c_str());
      });
    }
    const TJobResult result = handler.Run(job);
    SetSourceOpenHook(nullptr);
    EXPECT_EQ(result.Outcome, c.end == End::Killed ? TJobOutcome::Completed : TJobOutcome::Failed)
        << result.Error;
  }
  if (c.end == End::Killed) LeaveRecordingUnfinished(disc);

  ScriptedHandler handler;
  const TJobResult result = BurnWith(disc, {dir / "new"}, handler);
  ASSERT_EQ(result.Outcome, TJobOutcome::Completed) << result.Error;
  std::set<std::string> notKept;
  int kept = 0;
  for (const std::string& line : handler.events) {
    if (line.find(std::string(": ") + kNotWholeText) != std::string::npos)
      notKept.insert(line.substr(std::string("skipped: /").size(),
                                 line.find(": ", 9) - std::string("skipped: /").size()));
    if (line.rfind("note: Keeping ", 0) == 0) kept = std::atoi(line.c_str() + 14);
  }
  EXPECT_EQ(result.LeftOut, static_cast<int>(notKept.size()));
  std::map<std::string, std::string> expected = {{"n.txt", dir / "new/n.txt"}};
  if (kept > 0) {
    for (const auto& [name, source] : first)
      if (notKept.count(name) == 0) expected[name] = source;
    EXPECT_EQ(kept + 1, static_cast<int>(expected.size()));
  }
  // Ends in the middle leave the small file before the big one whole, and the big one not.
  const bool midway = c.end == End::Abort60 || c.end == End::WriteErrorMid || c.end == End::Killed;
  if (writeOnce && midway) {
    EXPECT_EQ(expected.count("a.txt"), 1u);
    EXPECT_EQ(notKept.count("big.bin"), 1u);
  }
  EXPECT_TRUE(notKept.size() + expected.size() == 4 || kept == 0);
  const bool bsdtar = static_cast<int>(c.end) % 2 == 1;
  EXPECT_EQ(burntest::CompareLastSession(disc, expected, bsdtar), "");
}

std::vector<EarlyEndCase> EveryMediumAndEnd() {
  std::vector<EarlyEndCase> cases;
  for (MediaProfile profile :
       {MediaProfile::CdR, MediaProfile::CdRw, MediaProfile::DvdR, MediaProfile::DvdRwSequential,
        MediaProfile::DvdPlusR, MediaProfile::DvdPlusRDl, MediaProfile::DvdPlusRw, MediaProfile::DvdRam})
    for (End end : {End::Abort10, End::Abort60, End::WriteErrorFirst, End::WriteErrorMid,
                    End::SourceUnopenable, End::Killed})
      cases.push_back({profile, end});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(MediaAndEnds, EarlyEndTest, ::testing::ValuesIn(EveryMediumAndEnd()),
                         EarlyEndName);

// Sessions that build on one another: case twins stay apart, a file queued under the same
// name replaces the old one, one differing in case stands beside it, and a tree deeper than
// 255 levels is read back as it was written.
class EarlierSessions : public DiscJobTest {};

TEST_F(EarlierSessions, FiveSessionsKeepEveryNameAndADeepTree) {
  const std::string disc = dir / "disc.img";
  { Rig blank(disc, MediaProfile::DvdPlusR); ASSERT_TRUE(blank.ok()) << blank.error(); }
  std::string deep = "deep";
  for (int level = 1; level < 300; ++level) deep += "/d";
  std::map<std::string, std::string> want;
  const auto session = [&](int n, const std::vector<std::pair<std::string, size_t>>& files) {
    const std::string root = dir / ("s" + std::to_string(n));
    for (const auto& [name, size] : files) {
      WriteFile(root + "/" + name, size, static_cast<uint32_t>(n * 10 + name.size()));
      want[name] = root + "/" + name;
    }
    ScriptedHandler handler;
    const TJobResult result = BurnWith(disc, {root}, handler);
    EXPECT_EQ(result.Outcome, TJobOutcome::Completed) << n << ": " << result.Error;
    EXPECT_EQ(result.LeftOut, 0) << n;
    // bsdtar places a kept file below a moved folder by where its data lies, which in a later
    // session is before the folders that link the moved ones back: xorriso reads those.
    EXPECT_EQ(burntest::CompareLastSession(disc, want, n == 1), "") << "session " << n;
  };
  session(1, {{"Index.html", 10}, {"index.html", 20}, {"readme.txt", 30}});
  session(2, {{"README.TXT", 40}, {deep + "/bottom.txt", 50}});
  session(3, {{"readme.txt", 60}, {"Readme.txt", 70}});
  session(4, {{"INDEX.HTML", 80}, {"new.bin", 90}});
  session(5, {{"index.html", 100}, {deep + "/bottom.txt", 110}});
}

// A rewritable disc whose volume area holds data but no readable volume is not blank: the
// burn stops before anything is written, and goes on only when told to leave the old files.
TEST_F(EarlierSessions, ADamagedRewritableVolumeIsNotOverwrittenUnasked) {
  WriteFile(dir / "old/a.txt", 5000, 1);
  WriteFile(dir / "new/b.txt", 100, 2);
  for (MediaProfile profile : {MediaProfile::DvdPlusRw, MediaProfile::DvdRam, MediaProfile::DvdRwRestricted}) {
    for (const int damagedByte : {16 * 2048 + 80, 16 * 2048}) {  // volume size, descriptor type
      const std::string name = std::string(ProfileName(profile)) + "-byte-" + std::to_string(damagedByte);
      SCOPED_TRACE(name);
      const std::string disc = dir / name;
      { Rig blank(disc, profile); ASSERT_TRUE(blank.ok()) << blank.error(); }
      ScriptedHandler first;
      ASSERT_EQ(BurnWith(disc, {dir / "old"}, first).Outcome, TJobOutcome::Completed);
      {
        std::fstream file(disc, std::ios::in | std::ios::out | std::ios::binary);
        // Both the primary and the Joliet descriptor lose the field.
        for (const int at : {damagedByte, damagedByte + 2048}) {
          file.seekp(at);
          file.write("\0\0\0\0\0\0\0\0", damagedByte % 2048 == 0 ? 1 : 8);
        }
      }
      const std::vector<uint8_t> before = ReadFile(disc);
      ScriptedHandler refused;
      const TJobResult stop = BurnWith(disc, {dir / "new"}, refused);
      EXPECT_EQ(stop.Outcome, TJobOutcome::Refused);
      EXPECT_EQ(stop.Error.rfind(kEarlierSessionErrorPrefix, 0), 0u) << stop.Error;
      EXPECT_TRUE(ReadFile(disc) == before) << "written before the question";
      ScriptedHandler told;
      EXPECT_EQ(BurnWith(disc, {dir / "new"}, told, false).Outcome, TJobOutcome::Completed);
      EXPECT_TRUE(Contains(told.events, kOverwriteText));
      EXPECT_EQ(burntest::CompareLastSession(disc, {{"b.txt", dir / "new/b.txt"}}), "");
    }
  }
}

// An image file burned as it is onto every kind of disc, then saved from the disc again:
// the file read back is the file sent. A write-once disc takes an image only when blank.
// On one disc a sector that cannot be read is written as zeros and listed, and a resumed
// run reads it again.
class ImageJobs : public DiscJobTest {};

TEST_F(ImageJobs, EveryDiscGivesBackTheImageItWasSent) {
  WriteFile(dir / "src/a.bin", 200000, 1);
  WriteFile(dir / "src/b/c.txt", 5000, 2);
  const std::string image = dir / "sent.iso";
  ASSERT_EQ(std::system(("xorriso -as mkisofs -R -J -V SENT -o '" + image + "' '" + (dir / "src") +
                         "' >/dev/null 2>&1").c_str()),
            0);
  const std::vector<uint8_t> sent = ReadFile(image);
  for (MediaProfile profile :
       {MediaProfile::CdR, MediaProfile::CdRw, MediaProfile::DvdR, MediaProfile::DvdRwSequential,
        MediaProfile::DvdPlusR, MediaProfile::DvdPlusRDl, MediaProfile::DvdPlusRw, MediaProfile::DvdRam}) {
    SCOPED_TRACE(std::string(ProfileName(profile)));
    const std::string disc = dir / ("disc-" + std::string(ProfileName(profile)));
    const std::string out = disc + ".iso";
    Rig rig(disc, profile);
    ASSERT_TRUE(rig.ok()) << rig.error();
    TBurnOptions burn;
    burn.ImageFile = image;
    burn.Verify = true;
    ScriptedHandler burned;
    TBurnJob burnJob(rig.burner(), burned, burn);
    ASSERT_EQ(burned.Run(burnJob).Outcome, TJobOutcome::Completed);
    EXPECT_TRUE(Contains(burned.events, "ask: Do you want to write the ISO 9660 image \"SENT\""));
    const bool writeOnce = WriteOnce(profile);
    ScriptedHandler again;
    TBurnJob againJob(rig.burner(), again, burn);
    const TJobResult second = again.Run(againJob);
    EXPECT_EQ(second.Outcome, writeOnce ? TJobOutcome::Refused : TJobOutcome::Completed);
    if (writeOnce) {
      EXPECT_EQ(second.Error, kImageNeedsBlankText);
    }

    // The first read of the volume's start fails six times: three for the chunk, three for
    // its first sector, which stays unread.
    const bool faulty = profile == MediaProfile::DvdPlusR;
    if (faulty) {
      rig.drive().beforeCommand = [&rig, armed = true](const burntest::LoggedCommand& c) mutable {
        if (!armed || c.opcode != 0x28 || c.lba != 0) return;
        armed = false;
        rig.drive().AddFault({.opcode = 0x28, .count = 6, .key = 0x03, .asc = 0x11});
      };
    }
    TReadImageOptions read;
    read.Out = out;
    ScriptedHandler saved;
    TReadImageJob readJob(rig.burner(), saved, read);
    const TJobResult result = saved.Run(readJob);
    rig.drive().beforeCommand = nullptr;
    if (faulty) {
      EXPECT_EQ(result.Outcome, TJobOutcome::Failed);
      EXPECT_TRUE((ReadFile(out + ".bad") == std::vector<uint8_t>{'0', '\n'}));
      std::vector<uint8_t> zeroed = sent;
      std::fill(zeroed.begin(), zeroed.begin() + 2048, 0);
      EXPECT_TRUE(ReadFile(out) == zeroed);
      read.Resume = true;
      ScriptedHandler resumed;
      TReadImageJob resumeJob(rig.burner(), resumed, read);
      EXPECT_EQ(resumed.Run(resumeJob).Outcome, TJobOutcome::Completed);
      EXPECT_FALSE(std::filesystem::exists(out + ".bad"));
    } else {
      EXPECT_EQ(result.Outcome, TJobOutcome::Completed) << result.Error;
    }
    EXPECT_TRUE(ReadFile(out) == sent) << "the image read back differs";
    EXPECT_FALSE(std::filesystem::exists(out + ".part"));
  }
}

// A disc burned with its SHA256SUMS list: sha256sum -c accepts it once extracted, and the
// check finds it whole; a sector the drive stored wrong is named by the file it spoils.
TEST_F(ImageJobs, TheChecksumListFindsASpoiledFile) {
  WriteFile(dir / "src/big.bin", 400000, 1);
  WriteFile(dir / "src/sub/small.txt", 300, 2);
  for (const bool spoiled : {false, true}) {
    SCOPED_TRACE(spoiled ? "spoiled" : "whole");
    const std::string disc = dir / (spoiled ? "spoiled.img" : "whole.img");
    RecorderOptions options;
    if (spoiled) options.badSectors = {250};  // within big.bin
    Rig rig(disc, MediaProfile::DvdPlusR, options);
    ASSERT_TRUE(rig.ok()) << rig.error();
    TBurnOptions burn;
    burn.Sources = {{dir / "src", true}};
    burn.Checksums = true;
    ScriptedHandler burned;
    TBurnJob burnJob(rig.burner(), burned, burn);
    ASSERT_EQ(burned.Run(burnJob).Outcome, TJobOutcome::Completed);
    ScriptedHandler checked;
    TCheckJob check(rig.burner(), checked);
    const TJobResult result = checked.Run(check);
    EXPECT_EQ(result.Outcome, spoiled ? TJobOutcome::Failed : TJobOutcome::Completed);
    EXPECT_EQ(result.Problems, spoiled ? std::vector<std::string>{"big.bin: DIFFERS FROM ITS SUM"}
                                       : std::vector<std::string>{});
    if (!spoiled) {
      const std::string out = dir / "extracted";
      const std::string command = "xorriso -osirrox on -indev '" + disc + "' -extract / '" + out +
                                  "' >/dev/null 2>&1 && cd '" + out +
                                  "' && sha256sum --quiet -c SHA256SUMS >/dev/null";
      EXPECT_EQ(std::system(command.c_str()), 0);
    }
  }
}

// A disc copied by the copy job, from a source recorder to a target one (streamed: no
// temporary image, the source held while it is read) or, after the tray has opened and the
// discs changed, to the same one. Whatever the end, no temporary image is left; nothing is
// written when the source cannot be read whole or no disc can take it.
struct CopyCase {
  const char* name;
  const char* source;          // PROFILE for the disc holding the image; "" pressed
  const char* target;          // PROFILE of the blank disc in a second recorder; "" the same
  enum { None, CloseTray, Cancel } onPrompt = None;
  uint32_t waitMs = UINT32_MAX;  // on the test's clock: only a test that fails waits it out
  bool unreadable = false;     // the source's sector troubleAt cannot be read
  TJobOutcome outcome = TJobOutcome::Completed;
  const char* error = "";
  bool stopReading = false;    // the copy is stopped while the source is read
  uint32_t troubleAt = 0;      // the trouble comes with the first read of this sector
};

class CopyJobTest : public ::testing::TestWithParam<CopyCase> {};

TEST_P(CopyJobTest, EndsAsTheDiscsAndThePersonSay) {
  const CopyCase c = GetParam();
  // The drive's retries and the wait for a disc go by on a clock of the test's own.
  ScopedTestClock clock;
  TempDir dir;
  WriteFile(dir / "src/a.bin", 200000, 1);
  WriteFile(dir / "src/b/c.txt", 5000, 2);
  const std::string sent = dir / "sent.iso";
  {
    TImageOptions make;
    make.Sources = {dir / "src"};
    make.Output = sent;
    ScriptedHandler made;
    TImageJob job(made, make);
    ASSERT_EQ(made.Run(job).Outcome, TJobOutcome::Completed);
  }
  std::filesystem::copy_file(sent, dir / "source.img");
  const std::string sourceText = dir / "source.img" + (*c.source ? ":" + std::string(c.source) : "");
  const std::string targetPath = dir / "target.img";
  const bool same = *c.target == 0;

  // Both recorders behind logging drives, each component on its own.
  ClearExtraDrives();
  std::string error;
  const auto sourceDrive = AttachVirtualRecorder(sourceText, {}, error);
  const auto targetDrive = AttachVirtualRecorder(targetPath + ":" + (same ? "cd-r" : c.target), {}, error);
  ASSERT_TRUE(sourceDrive && targetDrive) << error;
  ClearExtraDrives();
  const auto sourceLog = std::make_shared<burntest::LoggingDrive>(sourceDrive);
  const auto targetLog = std::make_shared<burntest::LoggingDrive>(targetDrive);
  RegisterExtraDrive(sourceLog);
  RegisterExtraDrive(targetLog);
  SPTIDone();
  {
    TKorbBurner source, other;
    const auto select = [](TKorbBurner& korb, const std::string& path) {
      korb.InitializeASPI(true, std::string());
      korb.SetDevice(korb.EntryServing([&](const std::string& served) { return served == path; }));
      ApplyRecordingPreset(korb);
      return !korb.Device().empty();
    };
    ASSERT_TRUE(select(source, sourceDrive->DevicePath()) && select(other, targetPath));
    TKorbBurner& target = same ? source : other;
    TCopyOptions options;
    options.BlankDiscWaitMs = c.waitMs;
    options.TempFolder = dir.path();
    ScriptedHandler copied;
    TCopyJob job(source, target, copied, options);
    // Each WRITE looks for a temporary image and, from another recorder, at the source's
    // tray: held until the recording has ended.
    bool imageWhileWriting = false, sourceHeld = true;
    const auto onWrite = [&] {
      for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        imageWhileWriting |= entry.path().filename().string().rfind("brennix-copy-", 0) == 0;
      if (!same) sourceHeld = sourceHeld && sourceLog->TrayLocked();
    };
    if (!same) {
      targetLog->beforeCommand = [&onWrite](const burntest::LoggedCommand& command) {
        if (command.opcode == kWrite10) onWrite();
      };
    }
    // The drive's trouble comes with the first read at troubleAt: a sector that stays unread,
    // or a cancel while the read runs (from the reading thread itself: no race to lose).
    sourceLog->beforeCommand = [&sourceLog, &job, &c, &onWrite, same,
                                armed = true](const burntest::LoggedCommand& command) mutable {
      if (same && command.opcode == kWrite10) onWrite();
      if (!armed || command.opcode != 0x28 || command.lba != c.troubleAt) return;
      armed = false;
      if (c.stopReading) job.Cancel();
      if (!c.unreadable) return;
      RecorderFault fault;
      fault.opcode = 0x28;
      fault.count = 6;  // the chunk's three tries and the sector's three
      fault.key = 0x03;
      fault.asc = 0x11;
      sourceLog->AddFault(fault);
    };
    copied.onTell = [&](const TJobMessage& message) {
      if (message.Text != kInsertBlankDiscText) return;
      EXPECT_TRUE(sourceDrive->Recorder().TrayOpen());
      if (c.onPrompt == CopyCase::CloseTray) {
        const uint8_t load[6] = {0x1B, 0, 0, 0, 0x03, 0};
        sourceDrive->Recorder().Execute(load, sizeof load, DataDirection::None, nullptr, 0);
      }
      if (c.onPrompt == CopyCase::Cancel) job.Cancel();
    };
    bool readWhole = false;
    copied.onProgress = [&](const TJobProgress& p) {
      readWhole = readWhole || (p.Phase == TJobPhase::Reading && p.BytesDone == p.BytesTotal);
    };
    const TJobResult result = copied.Run(job);
    sourceLog->beforeCommand = nullptr;
    targetLog->beforeCommand = nullptr;
    // Only the same recorder reads the source into an image first; another takes it as it is
    // read, from a source locked in its recorder.
    EXPECT_EQ(readWhole, same);
    EXPECT_EQ(imageWhileWriting, same && c.outcome == TJobOutcome::Completed)
        << "a temporary image while the copy was written";
    EXPECT_TRUE(sourceHeld) << "the source's tray was free while the copy was written";
    EXPECT_FALSE(sourceLog->TrayLocked());
    EXPECT_EQ(result.Outcome, c.outcome) << result.Error;
    EXPECT_NE(result.Error.find(c.error), std::string::npos) << result.Error;
    EXPECT_EQ(Contains(copied.events, kInsertBlankDiscText), c.onPrompt != CopyCase::None);
    if (c.outcome == TJobOutcome::Completed) {
      EXPECT_TRUE(Contains(result.Summary, kVerifiedText));
      const std::string back = dir / "back.iso";
      ASSERT_TRUE((same ? sourceDrive : targetDrive)->Recorder().ExportSession(0, back, error))
          << error;
      // A DVD is written in whole blocks of 32 sectors: the volume is what it holds first.
      std::vector<uint8_t> disc = ReadFile(back);
      const std::vector<uint8_t> image = ReadFile(sent);
      ASSERT_GE(disc.size(), image.size());
      disc.resize(image.size());
      EXPECT_TRUE(disc == image) << "the copy differs from the source";
    } else {
      EXPECT_EQ((same ? sourceLog : targetLog)->Writes(), 0);
    }
  }
  ClearExtraDrives();
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().filename().string().rfind("brennix-copy-", 0), std::string::npos)
        << "left behind: " << entry.path();
}

INSTANTIATE_TEST_SUITE_P(
    Copies, CopyJobTest,
    ::testing::Values(
        CopyCase{"ToAnotherRecorder", "", "cd-r"},
        CopyCase{"InTheSameRecorderOnceADiscComes", "dvd+rw", "", CopyCase::CloseTray},
        CopyCase{"NoBlankDiscComes", "", "", CopyCase::CloseTray, 300, false, TJobOutcome::Failed,
                 "NO BLANK DISC CAME INTO THE RECORDER WITHIN 1 SECOND"},
        CopyCase{"StoppedWhileWaiting", "", "", CopyCase::Cancel, UINT32_MAX, false, TJobOutcome::Failed,
                 kAbortedByUser},
        CopyCase{"AnUnreadableSourceSectorIsNamedAndNothingWritten", "", "dvd+r", CopyCase::None,
                 UINT32_MAX, true, TJobOutcome::Failed,
                 "SECTOR 64 OF THE DISC BEING COPIED CANNOT BE READ", false, 64},
        CopyCase{"StoppedWhileStreaming", "", "dvd+r", CopyCase::None, UINT32_MAX, false,
                 TJobOutcome::Failed, kAbortedByUser, true, 64}),
    [](const ::testing::TestParamInfo<CopyCase>& row) { return std::string(row.param.name); });

struct EraseCase {
  const char* name;
  MediaProfile profile;
  bool full;
  bool answer;
  TJobOutcome outcome;
  const char* said;
};

class EraseJobTest : public ::testing::TestWithParam<EraseCase> {};

TEST_P(EraseJobTest, EndsAsTheDiscAndTheAnswersSay) {
  const EraseCase c = GetParam();
  ScopedTestClock clock;  // the drive's waits
  TempDir dir;
  Rig rig(dir / "disc.img", c.profile);
  ASSERT_TRUE(rig.ok()) << rig.error();
  ScriptedHandler handler;
  handler.answers[TQuestionKind::Erase] = c.answer;
  TEraseJob job(rig.burner(), handler, c.full);
  const TJobResult result = handler.Run(job);
  EXPECT_EQ(result.Outcome, c.outcome) << result.Error;
  std::vector<std::string> said = handler.events;
  said.push_back(result.Text);
  EXPECT_TRUE(Contains(said, c.said)) << c.said;
  EXPECT_FALSE(rig.burner().Erasing);
}

INSTANTIATE_TEST_SUITE_P(
    MediaAndOutcomes, EraseJobTest,
    ::testing::Values(
        EraseCase{"CdRwQuick", MediaProfile::CdRw, false, true, TJobOutcome::Completed,
                  kEraseCompletedText},
        EraseCase{"DvdRamQuick", MediaProfile::DvdRam, false, true, TJobOutcome::Completed,
                  "ask: All data on the disc will be lost.\nDo you want to quick erase the disc ?"},
        EraseCase{"CdRwDeclined", MediaProfile::CdRw, true, false, TJobOutcome::Declined,
                  "This may take 10-70 minutes."},
        EraseCase{"CdR", MediaProfile::CdR, false, true, TJobOutcome::Refused, kNotErasableText}),
    [](const ::testing::TestParamInfo<EraseCase>& row) { return std::string(row.param.name); });

// Several recorders at once: the image goes to every disc from one read of the sources; a
// recorder that fails mid-way ends alone, and discs that cannot take the same image are
// named before anything is written.
std::atomic<int> sourceOpens{0};
void CountOpen(const std::string&) { sourceOpens.fetch_add(1); }

struct SeveralCase {
  const char* name;
  std::vector<MediaProfile> profiles;
  bool image = false;  // an image file rather than the sources
  int failing = -1;    // the recorder whose WRITEs fail part-way
  int used = -1;       // the recorder whose disc already holds a session
  TJobOutcome outcome = TJobOutcome::Completed;
  const char* said = "";
};

TEST(SeveralRecorders, OneReadFeedsEveryDiscAndAFailureEndsOnlyItsOwn) {
  if (!burntest::HaveXorriso()) GTEST_SKIP() << "xorriso is not installed";
  ScopedTestClock clock;
  using P = MediaProfile;
  const SeveralCase cases[] = {
      {"ThreeDvdsOneFailing", {P::DvdPlusR, P::DvdR, P::DvdPlusR}, false, 1, -1,
       TJobOutcome::Failed, "The burn failed."},
      {"ImageToRewritables", {P::DvdPlusRw, P::DvdRam}, true, -1, -1, TJobOutcome::Completed,
       "Burn process completed."},
      {"CdWithDvd", {P::CdR, P::DvdR}, false, -1, -1, TJobOutcome::Refused, kMixedDiscsText},
      {"UsedCd", {P::CdR, P::CdR}, false, -1, 1, TJobOutcome::Refused, "USE BLANK DISCS"},
  };
  for (const SeveralCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    WriteFile(dir / "src/big.bin", 3000000, 1);
    WriteFile(dir / "src/sub/small.txt", 700, 2);
    const std::string image = dir / "sent.iso";
    if (c.image) {
      ASSERT_EQ(std::system(("xorriso -as mkisofs -R -J -o '" + image + "' '" + (dir / "src") +
                             "' >/dev/null 2>&1").c_str()),
                0);
    }
    std::vector<std::pair<std::string, MediaProfile>> discs;
    for (size_t i = 0; i < c.profiles.size(); ++i)
      discs.emplace_back(dir / ("disc" + std::to_string(i)), c.profiles[i]);
    std::vector<std::unique_ptr<Rig>> rigs = Rig::Several(discs);
    struct Freed {
      std::vector<std::unique_ptr<Rig>>& rigs;
      ~Freed() {
        for (auto& rig : rigs) rig->DestroyBurner();
      }
    } freed{rigs};
    for (auto& rig : rigs) ASSERT_TRUE(rig->ok()) << rig->error();
    if (c.used >= 0) {
      ASSERT_TRUE(rigs[c.used]->Queue({dir / "src/sub"}));
      ASSERT_EQ(rigs[c.used]->Burn().error, "");
    }
    if (c.failing >= 0) {
      burntest::LoggingDrive& drive = rigs[c.failing]->drive();
      drive.beforeCommand = [&drive, armed = true](const burntest::LoggedCommand& cmd) mutable {
        if (!armed || cmd.opcode != kWrite10 || cmd.lba < 512) return;
        armed = false;
        RecorderFault fault = WriteFault();
        fault.count = 1000;
        drive.AddFault(fault);
      };
    }
    TBurnOptions options;
    if (c.image) {
      options.ImageFile = image;
    } else {
      options.Sources = {{dir / "src", true}};
    }
    options.Verify = true;
    std::vector<TKorbBurner*> more;
    for (size_t i = 1; i < rigs.size(); ++i) more.push_back(&rigs[i]->burner());
    ScriptedHandler handler;
    sourceOpens.store(0);
    SetSourceOpenHook(CountOpen);
    TBurnJob job(rigs[0]->burner(), handler, options, more);
    const TJobResult result = handler.Run(job);
    SetSourceOpenHook(nullptr);
    EXPECT_EQ(result.Outcome, c.outcome) << result.Error;
    EXPECT_TRUE(result.Text == c.said || result.Error.find(c.said) != std::string::npos)
        << result.Text << " / " << result.Error;
    if (c.outcome == TJobOutcome::Refused) {
      // Nothing reached a disc but the earlier session.
      for (size_t i = 0; i < rigs.size(); ++i) EXPECT_EQ(Writes(*rigs[i]) > 0, static_cast<int>(i) == c.used);
      continue;
    }
    EXPECT_TRUE(Contains(handler.events, "recorders at once"));
    // The sources were read once, whatever the number of discs.
    EXPECT_EQ(sourceOpens.load(), c.image ? 1 : 2);
    for (size_t i = 0; i < rigs.size(); ++i) {
      const std::string line = rigs[i]->burner().Device() + ": " +
                               (static_cast<int>(i) == c.failing ? kBurnFailedText : kBurnCompletedText);
      EXPECT_TRUE(Contains(result.Summary, line)) << line;
      if (static_cast<int>(i) == c.failing) continue;
      if (c.image) {
        std::vector<uint8_t> disc = ReadFile(dir / ("disc" + std::to_string(i)));
        const std::vector<uint8_t> sent = ReadFile(image);
        disc.resize(std::min(disc.size(), sent.size()));
        EXPECT_TRUE(disc == sent) << "disc " << i << " differs from the image";
      } else {
        EXPECT_EQ(burntest::CompareLastSession(dir / ("disc" + std::to_string(i)),
                                               {{"big.bin", dir / "src/big.bin"},
                                                {"sub/small.txt", dir / "src/sub/small.txt"}}),
                  "");
      }
    }
  }
}

// The owner goes away while the job waits for its answer: the job ends at once, and no event
// reaches the handler afterwards.
TEST(Job, AnOwnerLeavingMidQuestionEndsItWithoutFurtherEvents) {
  struct Silent final : TJobHandler {
    std::function<void(bool)> held;
    int events = 0;
    void Ask(const TJobQuestion&, std::function<void(bool)> answer) override {
      ++events;
      held = std::move(answer);
    }
    void Tell(const TJobMessage&) override { ++events; }
    void Progress(const TJobProgress&) override { ++events; }
    void Done(const TJobResult&) override { ++events; }
  } handler;
  TempDir dir;
  WriteFile(dir / "src/a.txt", 10, 1);
  {
    Rig rig(dir / "disc.img", MediaProfile::CdR);
    ASSERT_TRUE(rig.ok()) << rig.error();
    TBurnOptions options;
    options.Sources = {{dir / "src", true}};
    TBurnJob job(rig.burner(), handler, options);
    ASSERT_TRUE(job.Start());
    for (int i = 0; i < 10000 && !handler.held; ++i) {
      PumpMainThread();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(handler.held);
  }
  const int seen = handler.events;
  if (handler.held) handler.held(true);  // too late: nobody listens
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  PumpMainThread();
  EXPECT_EQ(handler.events, seen);
}

}  // namespace
}  // namespace brennix
