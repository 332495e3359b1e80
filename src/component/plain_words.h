// The jobs' plain words, for every front end: what a burn will do (the question's notes),
// what went wrong (one table that maps the drive's common complaints to a plain phrase and
// to what to do next), the state a failure leaves the disc in, and what disc a drive holds.
// The desktop and brennix-cli show the same lines; the drive's own words stay in
// TJobResult::Error, for the details.
#pragma once

#include <cstdint>
#include <string>

#include "component/job.h"

namespace brennix {

class TKorbBurner;
class TSCSIDevice;
struct TBurnOptions;

enum class TFailureKind {
  MediumError,
  NoDisc,
  WriteProtected,
  IncompatibleMedium,
  Reset,           // power on, bus or device reset
  NoAnswer,        // the drive stopped answering: a time-out, a lost device
  BufferUnderrun,
  Other,
};

struct TPlainFailure {
  TFailureKind Kind;
  const char* What;    // ends "...: " of the first line: "a medium error. The disc may be ..."
  const char* Advice;  // what to do next
};

// The plain words for a failure given as the device layer and the writer word it
// ("WRITER ERROR [MEDIUM ERROR (WRITE ERROR)]", "NOT READY (MEDIUM NOT PRESENT)",
// "COMMAND TIMEOUT"); the Other entry when no rule matches.
const TPlainFailure& PlainFailure(const std::string& error);
const TPlainFailure& PlainFailureOf(TFailureKind kind);

// "812 MB", "3.1 GB", "120 KB": whole units of 1,024, one decimal from a GB up.
std::string AmountText(int64_t bytes);

// The disc in a drive in one line: "DVD+R, 2 sessions, 3.1 GB free", "CD-RW, blank",
// "DVD+R, closed: no further sessions", "No disc". status as DiscStatus (-1 when the drive
// does not answer), type a disc type code, free in bytes.
std::string DiscSummaryText(bool present, int type, int status, unsigned sessions,
                            int64_t freeBytes);

// No disc in the drive: it knows no disc type and says MEDIUM NOT PRESENT.
bool NoDiscInDrive(TSCSIDevice& device);

// The question's notes on what the burn will do with the disc: whether it is closed ("No
// further sessions can be added afterwards."), whether it is verified, a test write, and,
// without the import, that the earlier files are not kept. After the disc check.
void AddBurnPlanNotes(TKorbBurner& burner, const TBurnOptions& options, TJobQuestion& question);

// Fills Plain, DiscState, Advice and Stopped of a recording that ended with result.Error,
// asking the drive for the disc's state (the writer has ended). Texts: kBurnFailedText or
// kBurnStoppedText.
void ExplainBurnFailure(TKorbBurner& burner, TJobResult& result);

// The same for an erase that failed (the drive's words in result.Error) or that the user
// stopped at percent.
void ExplainEraseFailure(TSCSIDevice& device, TJobResult& result, bool stopped, int percent);

// The lines a front end shows of a failure, in order: Plain, DiscState, Advice (those set).
std::string FailureLines(const TJobResult& result);

// A job's end in one line, for a desktop notification: "The burn failed: ..." and the like.
std::string OneLineEnd(const TJobResult& result);

}  // namespace brennix
