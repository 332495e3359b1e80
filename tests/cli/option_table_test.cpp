// The option table: what it reads from the words, what it refuses, and the synopsis it shows.
#include "cli/option_table.h"

#include <gtest/gtest.h>

namespace brennix::cli {
namespace {

struct Read {
  std::string device;
  std::vector<std::string> tags, operands;
  bool flag = false;
};

TCommandLine Table(Read& r, bool guided) {
  TOption device = Valued({"--device"}, "D", "needs a recorder", SetText(r.device));
  device.inlineValue = device.emptyIsMissing = true;
  TOption tag = Valued({"--tag", "-t"}, "T", "needs a tag", AddText(r.tags));
  tag.newLine = true;
  TOption flag = Flag({"--flag"}, r.flag);
  flag.orPrevious = true;
  TOption hidden = Flag({"--old"}, r.flag);
  hidden.hidden = true;
  TCommandLine cli("demo", {device, tag, flag, hidden, QuietOption()}, "About.\n");
  cli.guided = cli.endOfOptions = guided;
  if (guided) cli.operand = AddText(r.operands);
  cli.operands = "FILE...";
  return cli;
}

// What the words came to, in one line: "help", the refusal, or what was read.
std::string Outcome(bool guided, const Args& words) {
  Read r;
  const TReading reading = ReadWords(Table(r, guided), words);
  if (reading.help) return "help";
  if (!reading.refused.empty()) return reading.refused;
  std::string text = "device " + r.device + " tags";
  for (const std::string& t : r.tags) text += " " + t;
  text += " operands";
  for (const std::string& o : r.operands) text += " " + o;
  return text;
}

TEST(OptionTable, ReadsRefusesAndShowsEveryKindOfOption) {
  const struct {
    bool guided;
    Args words;
    const char* outcome;
  } cases[] = {
      {true, {"--tag", "a", "x", "-t", "b", "--device=D1"}, "device D1 tags a b operands x"},
      {true, {"--device", "D", "--", "--tag", "-"}, "device D tags operands --tag -"},
      {true, {"--device", ""}, "--device needs a recorder"},
      {true, {"--device="}, "--device= needs a recorder"},
      {true, {"-t"}, "-t needs a tag"},
      {true, {"--x", "--help"}, "unknown option '--x'"},
      {true, {"--tag", "--help"}, "device  tags --help operands"},
      {true, {"x", "--help", "--x"}, "help"},
      {false, {"--x", "--help"}, "help"},
      {false, {"--x", "--device"}, "--device needs a recorder"},
      {false, {"--tag", "-q", "--x"}, "device  tags --x operands"},  // --quiet first
      {false, {"-q", "x"}, "unknown option 'x' for 'demo'"},
      {false, {"--", "--help"}, "unknown option '--' for 'demo'"},
      {false, {"--flag", "--old", "-t", "a"}, "device  tags a operands"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Outcome(c.guided, c.words), c.outcome) << ::testing::PrintToString(c.words);
  Read r;
  EXPECT_EQ(UsageText(Table(r, true)),
            "usage: brennix-cli demo [--device D]\n"
            "                        [--tag T | --flag] [--quiet] FILE...\n\nAbout.\n");
}

}  // namespace
}  // namespace brennix::cli
