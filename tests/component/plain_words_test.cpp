// The plain words of the jobs: the table of the drive's complaints, the disc line, and the
// progress figures, as every front end shows them.
#include "component/plain_words.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "component/progress_text.h"
#include "device/disc_types.h"
#include "device/scsi_errors.h"
#include "recording/writer_thread.h"

namespace brennix {
namespace {

TEST(PlainWords, TheTableNamesTheCommonComplaints) {
  // Each kind with errors as the device layer and the writer word them.
  const std::pair<TFailureKind, std::vector<const char*>> cases[] = {
      {TFailureKind::MediumError,
       {"WRITER ERROR [MEDIUM ERROR (WRITE ERROR)]", "MEDIUM ERROR (UNRECOVERED READ ERROR)",
        "WRITER ERROR [MEDIUM ERROR (12,34)]"}},
      {TFailureKind::NoDisc,
       {"NOT READY (MEDIUM NOT PRESENT - TRAY OPEN)", "WRITER ERROR [NOT READY (MEDIUM NOT PRESENT)]"}},
      {TFailureKind::WriteProtected, {"DATA PROTECT (WRITE PROTECTED)", "DATA PROTECT (39,0)"}},
      {TFailureKind::IncompatibleMedium,
       {"ILLEGAL REQUEST (INCOMPATIBLE MEDIUM INSTALLED)",
        "ILLEGAL REQUEST (CANNOT WRITE MEDIUM - INCOMPATIBLE FORMAT)"}},
      {TFailureKind::Reset,
       {"WRITER ERROR [UNIT ATTENTION (POWER ON, RESET, OR BUS DEVICE RESET OCCURRED)]", "BUS RESET"}},
      {TFailureKind::NoAnswer,
       {"WRITER ERROR [COMMAND TIMEOUT]", "WRITER ERROR [NO ANSWER FROM THE DRIVE]", "SELECTION TIMEOUT"}},
      {TFailureKind::BufferUnderrun, {"WRITER ERROR [MEDIUM ERROR (WRITE ERROR - LOSS OF STREAMING)]"}},
      {TFailureKind::Other, {"WRITER ERROR [ILLEGAL REQUEST (INVALID FIELD IN CDB)]", "SOMETHING ELSE"}},
  };
  for (const auto& [kind, errors] : cases)
    for (const char* error : errors) EXPECT_EQ(PlainFailure(error).Kind, kind) << error;
  // Every kind has its plain words and its advice.
  for (int k = 0; k <= static_cast<int>(TFailureKind::Other); ++k) {
    const TPlainFailure& plain = PlainFailureOf(static_cast<TFailureKind>(k));
    EXPECT_EQ(plain.Kind, static_cast<TFailureKind>(k));
    EXPECT_FALSE(std::string(plain.What).empty());
    EXPECT_FALSE(std::string(plain.Advice).empty());
  }
  EXPECT_EQ(std::string(PlainFailureOf(TFailureKind::MediumError).What),
            "a medium error. The disc may be damaged or of poor quality.");
}

TEST(PlainWords, TheSenseTextsReadBack) {
  uint8_t asc = 0, ascq = 0;
  ASSERT_TRUE(AscAscqFromText("MEDIUM NOT PRESENT - TRAY OPEN", asc, ascq));
  EXPECT_EQ(asc, 0x3A);
  EXPECT_EQ(ascq, 0x02);
  ASSERT_TRUE(AscAscqFromText("200,7", asc, ascq));
  EXPECT_EQ(asc, 200);
  EXPECT_EQ(ascq, 7);
  EXPECT_FALSE(AscAscqFromText("NOT A DESCRIPTION", asc, ascq));
  EXPECT_EQ(SenseKeyFromText("MEDIUM ERROR"), 3);
  EXPECT_EQ(SenseKeyFromText("NOT READY"), 2);
  EXPECT_EQ(SenseKeyFromText("WRITER ERROR"), -1);
}

TEST(PlainWords, TheDiscLineSaysWhatIsInTheDrive) {
  const int64_t gb = int64_t{1} << 30;
  EXPECT_EQ(DiscSummaryText(true, kDiscDvdPlusR, 1, 2, gb * 31 / 10), "DVD+R, 2 sessions, 3.1 GB free");
  EXPECT_EQ(DiscSummaryText(true, kDiscCdRw, 0, 0, 0), "CD-RW, blank");
  EXPECT_EQ(DiscSummaryText(true, kDiscDvdPlusR, 2, 1, 0), "DVD+R, closed: no further sessions");
  EXPECT_EQ(DiscSummaryText(false, 0, -1, 0, 0), "No disc");
  EXPECT_EQ(DiscSummaryText(true, kDiscCdR, 1, 1, int64_t{400} << 20), "CD-R, 1 session, 400 MB free");
  EXPECT_EQ(AmountText(int64_t{812} << 20), "812 MB");
  EXPECT_EQ(AmountText(2048), "2 KB");
}

TEST(PlainWords, AFailureIsToldInLinesAndOneLine) {
  TJobResult result;
  result.Outcome = TJobOutcome::Failed;
  result.Text = "The burn failed.";
  result.Plain = "The disc could not be written at 812 MB: a medium error.";
  result.DiscState = "The disc is still blank and can be used again.";
  result.Advice = "Try another disc, or a lower write speed.";
  EXPECT_EQ(FailureLines(result),
            "The disc could not be written at 812 MB: a medium error.\n"
            "The disc is still blank and can be used again.\n"
            "Try another disc, or a lower write speed.");
  EXPECT_EQ(OneLineEnd(result), result.Plain);
  result.Outcome = TJobOutcome::Completed;
  result.Text = "Burn process completed.";
  EXPECT_EQ(OneLineEnd(result), "Burn process completed.");
}

TEST(ProgressText, SpeedElapsedAndTimeLeft) {
  EXPECT_EQ(DurationText(42), "0:42");
  EXPECT_EQ(DurationText(725), "12:05");
  EXPECT_EQ(DurationText(3723), "1:02:03");
  EXPECT_EQ(SecondsLeft(0, 100, 0), -1);
  EXPECT_EQ(SecondsLeft(50, 100, 10), 5);
  const double x8 = 8 * 1385.0 * 1024;  // DVD 8x in bytes per second
  EXPECT_EQ(SpeedText(kDiscDvdPlusR, x8), "8.0x, 10.8 MB/s");
  EXPECT_EQ(ProgressFiguresText(kDiscDvdPlusR, x8, 42, 0, static_cast<int64_t>(x8 * 70)),
            "8.0x, 10.8 MB/s, 0:42 elapsed, 1:10 left");
  EXPECT_EQ(ProgressFiguresText(kDiscCdR, 0, 5, 0, 1000), "0:05 elapsed");
}

}  // namespace
}  // namespace brennix
