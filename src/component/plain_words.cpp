#include "component/plain_words.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "component/burn_job.h"
#include "component/erase_job.h"
#include "component/korb_burner.h"
#include "device/disc_types.h"
#include "device/scsi_errors.h"
#include "platform/disc_units.h"
#include "recording/write_preparation.h"
#include "recording/writer_thread.h"

namespace brennix {

namespace {

constexpr uint8_t kNoMediumAsc = 0x3A;

constexpr TPlainFailure kPlain[] = {
    {TFailureKind::MediumError,
     "a medium error. The disc may be damaged or of poor quality.",
     "Try another disc, or a lower write speed."},
    {TFailureKind::NoDisc, "there is no disc in the drive.",
     "Put a writable disc in the drive and try again."},
    {TFailureKind::WriteProtected, "the disc is write-protected.",
     "Use a disc that is not write-protected, or release its write-protect tab."},
    {TFailureKind::IncompatibleMedium, "the drive cannot write this kind of disc.",
     "Use a kind of disc that the drive writes (its box or manual lists them)."},
    {TFailureKind::Reset,
     "the drive was reset (its power or its connection was interrupted).",
     "Check the drive's cable and power supply, then try again."},
    {TFailureKind::NoAnswer, "the drive stopped answering.",
     "Check the drive's connection (unplug and plug in an external drive), then try again."},
    {TFailureKind::BufferUnderrun,
     "the drive's buffer ran empty (a buffer underrun).",
     "Choose a lower write speed, and keep other programs from loading the computer while "
     "it burns."},
    {TFailureKind::Other, "the drive reported an error.",
     "Try again; if it fails again, try another disc or a lower write speed."},
};

// One row of the table: the sense key, ASC and ASCQ it matches (-1: any), or instead the
// words of the transport's status ("COMMAND TIMEOUT"). The first row that matches wins: the
// specific ones come before the sense key alone.
struct TSenseRule {
  int Key;
  int Asc;
  int Ascq;
  const char* Words;  // null for a sense rule
  TFailureKind Kind;
};

constexpr TSenseRule kRules[] = {
    {-1, 0x0C, 0x09, nullptr, TFailureKind::BufferUnderrun},  // WRITE ERROR - LOSS OF STREAMING
    {-1, -1, -1, "BUFFER UNDERRUN", TFailureKind::BufferUnderrun},
    {-1, 0x3A, -1, nullptr, TFailureKind::NoDisc},            // MEDIUM NOT PRESENT
    {-1, 0x27, -1, nullptr, TFailureKind::WriteProtected},    // WRITE PROTECTED
    {0x07, -1, -1, nullptr, TFailureKind::WriteProtected},    // DATA PROTECT
    {-1, 0x30, -1, nullptr, TFailureKind::IncompatibleMedium},  // INCOMPATIBLE MEDIUM ...
    {-1, 0x29, -1, nullptr, TFailureKind::Reset},              // POWER ON, RESET ...
    {-1, -1, -1, "BUS RESET", TFailureKind::Reset},
    {-1, 0x08, -1, nullptr, TFailureKind::NoAnswer},  // LOGICAL UNIT COMMUNICATION FAILURE
    {-1, 0x3E, 0x02, nullptr, TFailureKind::NoAnswer},  // TIMEOUT ON LOGICAL UNIT
    {-1, -1, -1, "COMMAND TIMEOUT", TFailureKind::NoAnswer},
    {-1, -1, -1, "SRB TIMEOUT", TFailureKind::NoAnswer},
    {-1, -1, -1, "SELECTION TIMEOUT", TFailureKind::NoAnswer},
    {-1, -1, -1, "UNEXPECTED BUS FREE", TFailureKind::NoAnswer},
    {-1, -1, -1, "NO DEVICE", TFailureKind::NoAnswer},
    {-1, -1, -1, kNoAnswer, TFailureKind::NoAnswer},
    {0x03, -1, -1, nullptr, TFailureKind::MediumError},  // MEDIUM ERROR, whatever the ASC
    {-1, 0x0C, -1, nullptr, TFailureKind::MediumError},  // WRITE ERROR
    {-1, 0x11, -1, nullptr, TFailureKind::MediumError},  // UNRECOVERED READ ERROR
    {-1, 0x73, -1, nullptr, TFailureKind::MediumError},  // POWER CALIBRATION AREA ...
};

bool Matches(const TSenseRule& rule, int key, int asc, int ascq) {
  if (rule.Words != nullptr) return false;
  return (rule.Key < 0 || rule.Key == key) && (rule.Asc < 0 || rule.Asc == asc) &&
         (rule.Ascq < 0 || rule.Ascq == ascq);
}

// Sector n of a "VERIFY FAILED AT SECTOR n"; -1 for another error.
int64_t VerifyFailedSector(const std::string& error) {
  const std::string prefix = VerifyFailedText(0).substr(0, VerifyFailedText(0).size() - 1);
  const size_t at = error.find(prefix);
  if (at == std::string::npos) return -1;
  return std::strtoll(error.c_str() + at + prefix.size(), nullptr, 10);
}

}  // namespace

const TPlainFailure& PlainFailureOf(TFailureKind kind) {
  for (const TPlainFailure& plain : kPlain)
    if (plain.Kind == kind) return plain;
  return kPlain[std::size(kPlain) - 1];
}

const TPlainFailure& PlainFailure(const std::string& error) {
  // The status words first: they name the transport's failure, with no sense behind it.
  int key = -1, asc = -1, ascq = -1;
  // "KEY (ASC TEXT)", possibly inside "WRITER ERROR [...]".
  const size_t open = error.find(" (");
  const size_t close = error.rfind(')');
  if (open != std::string::npos && close != std::string::npos && close > open) {
    uint8_t a = 0, q = 0;
    if (AscAscqFromText(error.substr(open + 2, close - open - 2), a, q)) {
      asc = a;
      ascq = q;
    }
    size_t start = error.rfind('[', open);
    start = start == std::string::npos ? 0 : start + 1;
    key = SenseKeyFromText(error.substr(start, open - start));
  } else {
    size_t start = error.rfind('[');
    start = start == std::string::npos ? 0 : start + 1;
    size_t end = error.find(']', start);
    if (end == std::string::npos) end = error.size();
    key = SenseKeyFromText(error.substr(start, end - start));
  }
  for (const TSenseRule& rule : kRules) {
    if (rule.Words != nullptr ? error.find(rule.Words) != std::string::npos
                              : (key >= 0 || asc >= 0) && Matches(rule, key, asc, ascq))
      return PlainFailureOf(rule.Kind);
  }
  return PlainFailureOf(TFailureKind::Other);
}

std::string AmountText(int64_t bytes) {
  char text[32];
  const double b = static_cast<double>(bytes < 0 ? 0 : bytes);
  if (b >= 1024.0 * 1024 * 1024)
    std::snprintf(text, sizeof text, "%.1f GB", b / (1024.0 * 1024 * 1024));
  else if (b >= 1024.0 * 1024)
    std::snprintf(text, sizeof text, "%.0f MB", b / (1024.0 * 1024));
  else
    std::snprintf(text, sizeof text, "%.0f KB", b / 1024.0);
  return text;
}

std::string DiscSummaryText(bool present, int type, int status, unsigned sessions,
                            int64_t freeBytes) {
  if (!present) return "No disc";
  std::string text = type == kDiscUnknown ? "Unknown disc" : DiscTypeName(type);
  switch (status) {
    case 0:
      return text + ", blank";
    case 2:
      return text + ", closed: no further sessions";
    case 1:
    case 3:
      text += ", " + std::to_string(sessions) + (sessions == 1 ? " session" : " sessions");
      if (status == 3) text += " (the last one incomplete)";
      if (freeBytes > 0) text += ", " + AmountText(freeBytes) + " free";
      return text;
    default:
      return text + ", state unknown (the drive does not answer)";
  }
}

bool NoDiscInDrive(TSCSIDevice& device) {
  if (device.GetDiscType() != kDiscUnknown) return false;
  return !device.TestUnitReady(5000) && device.LastSense[12] == kNoMediumAsc;
}

void AddBurnPlanNotes(TKorbBurner& burner, const TBurnOptions& options, TJobQuestion& question) {
  const int16_t type = DiscType.load();
  const bool sequential = IsSequentialRecording(type);
  if (options.TestWrite)
    question.Notes.push_back("This is a test write: the drive only simulates the recording, "
                             "and the disc stays as it is.");
  if (sequential && options.CloseDisc)
    question.Notes.push_back("The disc will be closed. No further sessions can be added "
                             "afterwards.");
  else if (sequential)
    question.Notes.push_back("The disc stays open: further sessions can be added later.");
  if (!options.Import && burner.DiscStatus() > 0)
    question.Notes.push_back("The files already on the disc are not kept: the new session "
                             "shows the new files only.");
  question.Notes.push_back(options.Verify && !options.TestWrite
                               ? "It will be read back and compared with what was sent."
                               : "It will not be verified.");
}

void ExplainBurnFailure(TKorbBurner& burner, TJobResult& result) {
  const int64_t bytes = burner.BytesWritten();
  const bool hadEarlier = burner.StartSector > 0;
  const int16_t type = DiscType.load();
  const int64_t verifySector = VerifyFailedSector(result.Error);
  TFailureKind kind = TFailureKind::Other;
  if (result.Error == kAbortedByUser) {
    result.Stopped = true;
    result.Text = kBurnStoppedText;
    result.Plain = bytes > 0 ? "You stopped the burn after " + AmountText(bytes) + "."
                             : "You stopped the burn before anything was written.";
  } else if (verifySector >= 0) {
    result.Text = kBurnFailedText;
    result.Plain = "The disc was written, but reading it back found a difference at " +
                   AmountText(verifySector * kSectorSize) + ".";
    result.Advice = "Do not rely on this disc: burn the files again, on another disc or at a "
                    "lower write speed.";
  } else {
    const TPlainFailure& plain = PlainFailure(result.Error);
    kind = plain.Kind;
    result.Text = kBurnFailedText;
    result.Plain = (bytes > 0 ? "The disc could not be written at " + AmountText(bytes)
                              : std::string("The disc could not be written")) +
                   ": " + plain.What;
    result.Advice = plain.Advice;
  }
  if (burner.TestWrite) {
    result.DiscState = "It was a test write: the disc is as it was.";
    return;
  }
  // A drive that stopped answering is not asked again: each question would wait its time-out.
  const int status = kind == TFailureKind::NoAnswer ? -1 : burner.DiscStatus();
  if (status < 0 && kind == TFailureKind::NoAnswer) {
    result.DiscState = "The drive does not tell what state the disc is in now.";
    return;
  }
  if (status < 0) {
    result.DiscState = kind == TFailureKind::NoDisc || NoDiscInDrive(burner)
                           ? "There is no disc in the drive now."
                           : "The drive does not tell what state the disc is in now.";
    return;
  }
  const bool sequential = IsSequentialRecording(type);
  if (status == 0) {
    result.DiscState = "The disc is still blank and can be used again.";
  } else if (verifySector >= 0) {
    result.DiscState = status == 2 ? "The new session is on the disc, which is now closed, "
                                     "but it does not read back as it was sent."
                                   : "The new session is on the disc, but it does not read "
                                     "back as it was sent.";
  } else if (status == 2) {
    result.DiscState = "The disc is closed: no further sessions can be added.";
  } else if (!sequential) {
    result.DiscState = hadEarlier
                           ? "The disc still holds its earlier files; the new ones are not on it."
                           : "The disc holds an incomplete recording; burning again "
                             "overwrites it.";
  } else {
    result.DiscState = hadEarlier ? "The disc keeps its earlier sessions and now ends with an "
                                    "incomplete one. It can still take a further session."
                                  : "The disc now holds an incomplete session, which cannot be "
                                    "read. It can still take a further session.";
  }
}

void ExplainEraseFailure(TSCSIDevice& device, TJobResult& result, bool stopped, int percent) {
  const int status = device.DiscStatus();
  if (stopped) {
    result.Stopped = true;
    result.Text = kEraseStoppedText;
    result.Plain = "You stopped the erase at " + std::to_string(percent < 0 ? 0 : percent) + " %.";
    result.DiscState = status == 0 ? "The disc is blank and can be written."
                                   : "Parts of the disc's earlier contents are still on it; "
                                     "it can be written over.";
    result.Advice = "Erase it again to clear it completely.";
    return;
  }
  const TPlainFailure& plain = PlainFailure(result.Error);
  result.Text = kEraseFailedText;
  result.Plain = std::string("The disc could not be erased: ") + plain.What;
  result.Advice = plain.Advice;
  result.DiscState = status < 0    ? "The drive does not tell what state the disc is in now."
                     : status == 0 ? "The disc is blank."
                                   : "The disc may be partly erased: erase it again before "
                                     "you write to it.";
}

std::string FailureLines(const TJobResult& result) {
  std::string lines;
  for (const std::string* line : {&result.Plain, &result.DiscState, &result.Advice})
    if (!line->empty()) lines += (lines.empty() ? "" : "\n") + *line;
  return lines;
}

std::string OneLineEnd(const TJobResult& result) {
  if (result.Outcome == TJobOutcome::Completed) return result.Text;
  if (!result.Plain.empty()) return result.Plain;
  return result.Text.empty() ? result.Error : result.Text;
}

}  // namespace brennix
