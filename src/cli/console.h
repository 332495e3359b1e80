// How brennix-cli talks to its user, the same way in every command: exit statuses, messages
// on standard error, --quiet, progress only on a terminal, and one way to ask a question.
#pragma once

#include <iostream>
#include <string>

namespace brennix::cli {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The last lines of every --help text.
extern const char* const kExitStatusHelp;

// --quiet: no progress, no summaries. Questions, errors and the output asked for (the device
// list, the disc information) still appear.
void SetQuiet(bool quiet);
bool Quiet();

// A string the program did not write itself (a file name, a drive's vendor or product) as it
// may be printed: control characters (C0, DEL, C1), bytes that are not UTF-8, and the
// backslash become "\xNN" and "\\", so that it can neither steer the terminal nor be
// mistaken for another name.
std::string Printable(const std::string& text);

// "brennix-cli: <text>" on standard error. Control characters and bytes that are not UTF-8
// are escaped as Printable escapes them (the backslash is left as it is): a message may hold
// a name that came from a disc or a drive.
void Complain(const std::string& text);
// Complains and returns kExitFailure.
int Failure(const std::string& text);

// Progress is for a person watching: only on a terminal, and not with --quiet.
bool ShowProgress();
// A line of the final summary on standard output, unless --quiet; escaped as Complain does.
void Summary(const std::string& line);

// "1 file", "2 files": a count with the word that goes with it.
std::string Counted(int64_t count, const std::string& one, const std::string& many);

// Prints the command's usage and kExitStatusHelp on standard output; returns kExitSuccess.
int ShowHelp(const char* usage);

enum class Answer { Yes, No, Unclear };
// y, yes, n, no in any case, blanks around them ignored; an empty answer takes the default no.
Answer ParseAnswer(const std::string& text);

// Every question of the program: asks on out, reads a line from in, asks again after an
// answer it does not understand. The end of the input means no.
bool Confirm(const std::string& question, std::istream& in = std::cin,
             std::ostream& out = std::cout);

}  // namespace brennix::cli
