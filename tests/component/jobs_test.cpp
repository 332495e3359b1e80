// The burn and erase jobs as every front end runs them, driven by a scripted handler on
// virtual recorders: a table of media and outcomes, each checked for what the handler was
// told, on which thread, and what reached the disc.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <thread>

#include "burn_harness.h"
#include "component/burn_job.h"
#include "component/erase_job.h"
#include "platform/clock.h"
#include "platform/main_thread.h"
#include "recording/writer_thread.h"

namespace brennix {
namespace {

using burntest::Rig;
using burntest::TempDir;
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
  std::optional<RecorderFault> fault;
  bool abortWhileWriting = false;
  TJobOutcome outcome = TJobOutcome::Completed;
  const char* said = "";          // a line of the handler's events, or of the result's text
};

RecorderFault WriteFault() {
  RecorderFault fault;
  fault.opcode = kWrite10;
  fault.key = 0x03;
  fault.asc = 0x0C;
  return fault;
}

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
  handler.onProgress = [&](const TJobProgress& p) {
    if (c.abortWhileWriting && p.Phase == TJobPhase::Writing) job.Cancel();
  };
  const TJobResult result = handler.Run(job);

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
        BurnCase{"CdRVerified", MediaProfile::CdR, true, false, false, true, std::nullopt, false,
                 TJobOutcome::Completed, kVerifiedText},
        BurnCase{"DvdPlusRw", MediaProfile::DvdPlusRw, true, false, false, false, std::nullopt,
                 false, TJobOutcome::Completed, kBurnCompletedText},
        BurnCase{"DvdRwSequential", MediaProfile::DvdRwSequential, true, false, false, false,
                 std::nullopt, false, TJobOutcome::Completed, "ask: Do you want to write 295.90 KB"},
        BurnCase{"Declined", MediaProfile::DvdPlusR, false, false, false, false, std::nullopt,
                 false, TJobOutcome::Declined, "ask: Do you want to write"},
        BurnCase{"NoDisc", MediaProfile::None, true, false, false, false, std::nullopt, false,
                 TJobOutcome::Refused, kNoDiscText},
        BurnCase{"ClosedDisc", MediaProfile::DvdPlusR, true, true, false, false, std::nullopt,
                 false, TJobOutcome::Refused, kDiscClosedText},
        BurnCase{"EmptyQueue", MediaProfile::CdR, true, false, true, false, std::nullopt, false,
                 TJobOutcome::Refused, kEmptyQueueText},
        BurnCase{"WriteFault", MediaProfile::DvdR, true, false, false, false, WriteFault(), false,
                 TJobOutcome::Failed, "a medium error. The disc may be damaged or of poor "
                                      "quality."},
        BurnCase{"Aborted", MediaProfile::DvdPlusRw, true, false, false, false, std::nullopt, true,
                 TJobOutcome::Failed, "You stopped the burn"}),
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
  EXPECT_TRUE(Contains(handler.events, "skipped: (on the disc) /link: NOT A REGULAR FILE"));
  EXPECT_TRUE(Contains(handler.events, "note: Keeping 1 file of the earlier session."));
  EXPECT_EQ(burntest::CompareLastSession(dir / "disc.img", {{"kept.txt", dir / "theirs/kept.txt"},
                                                            {"b.txt", dir / "new/b.txt"}}),
            "");
}

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
