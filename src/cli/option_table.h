// The options of a brennix-cli command, in one table: it reads the command's words and gives
// the synopsis line of its --help, so that what is parsed and what is shown cannot drift apart.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"

namespace brennix::cli {

// Takes an option's value (empty for a flag); returns the whole message when it is refused,
// else an empty string.
using TakeValue = std::function<std::string(const std::string& value)>;

struct TOption {
  std::vector<std::string> names;  // the first is the one the synopsis shows
  const char* value = nullptr;     // the value's name in the synopsis; nullptr: a flag
  TakeValue take;
  // Without its value: "<name as typed> <missing>".
  const char* missing = "";
  bool emptyIsMissing = false;  // an empty value counts as none
  bool inlineValue = false;     // "--name=VALUE" is accepted too
  // Taken out of the words before the other options where the words are not read in order
  // (--quiet).
  bool early = false;
  bool required = false;  // shown without brackets
  bool newLine = false;   // starts a new line of the synopsis
  bool orPrevious = false;  // shown inside the previous option's brackets: "[--a N | --b]"
  bool hidden = false;      // read, but not shown
};

struct TCommandLine {
  TCommandLine(std::string name, std::vector<TOption> rows, std::string text)
      : command(std::move(name)), options(std::move(rows)), about(std::move(text)) {}

  std::string command;
  std::vector<TOption> options;
  // The words that are no option, as the synopsis shows them ("SOURCE..."); with
  // operandsOnNewLine on a line of their own.
  const char* operands = "";
  bool operandsOnNewLine = false;
  // Takes a word that is no option; nullptr: such a word is refused like an unknown option.
  TakeValue operand;
  std::string about;  // the text below the synopsis

  // How the command speaks. Guided: "<command>: <message> (see 'brennix-cli <command>
  // --help')", and the words are read in order, -h/--help where it stands. Otherwise the
  // message alone, an unknown word "... for '<command>'", -h/--help anywhere before "--" shows
  // the help, and the options are taken out wherever they stand, the early ones first, before
  // what is left is refused.
  bool guided = true;
  bool endOfOptions = false;    // "--" ends the options
  bool usageWhenEmpty = false;  // no words at all: the help on standard error, status 2
  const char* unknownWord = "unknown option";
};

// The help text: "usage: brennix-cli <command> <options> <operands>", a blank line, about.
std::string UsageText(const TCommandLine& line);

// What reading the words came to: the help was asked for, or the message of a refusal (empty
// when the words were read).
struct TReading {
  bool help = false;
  std::string refused;
};
TReading ReadWords(const TCommandLine& line, const Args& args);

// Reads the words, shows the help or the refusal. Returns the exit status when the command ends here (help shown, a usage
// error reported), nothing when it goes on.
std::optional<int> ReadCommandLine(const TCommandLine& line, const Args& args);

// The usage error of the command, worded as the command words its own.
int CommandUsageError(const TCommandLine& line, const std::string& message);

// A flag, and an option with a value.
TOption Flag(std::vector<std::string> names, TakeValue take);
TOption Flag(std::vector<std::string> names, bool& flag, bool to = true);
TOption Valued(std::vector<std::string> names, const char* value, const char* missing,
               TakeValue take);

// Common rows and value checks.
TakeValue SetText(std::string& text);
TakeValue AddText(std::vector<std::string>& list);  // a repeatable option collects its values
TOption QuietOption();
// --device D of the guided commands: an empty D is refused, as it would pick the first
// recorder, which may be a real drive.
TOption DeviceOption(std::string& device);
// --device D (or --device=D) of the commands that are not guided: an empty D names the first
// recorder.
TOption RecorderOption(std::string& device);

}  // namespace brennix::cli
