// What every brennix-cli command has in common: help, exit statuses, prefixed messages,
// --quiet, the one question and the JSON report.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "cli/console.h"
#include "cli/disc_report.h"
#include "support/shell.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

struct CliRun {
  int status = -1;
  std::string out, err;
};

std::string Slurp(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

class CliConventions : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(dir + "/src");
    std::ofstream(dir + "/src/a.txt") << "hello";
  }

  // Standard input is /dev/null: no one at a terminal.
  CliRun Cli(const std::string& arguments) {
    const std::string command = "cd '" + dir + "' && env -u BRENNIX_VIRTUAL_RECORDERS '" BRENNIX_CLI
                                "' " + arguments + " </dev/null 2>'" + dir + "/err'";
    const brennix::test::ShellRun shell = brennix::test::Shell(command, false);
    CliRun run{shell.status, shell.output, ""};
    run.err = Slurp(dir + "/err");
    return run;
  }
  brennix::test::TempFolder temp{"conventions"};
  std::string dir = temp.path();
};

// Every line on standard error names the program.
void ExpectPrefixedMessages(const CliRun& run, const std::string& what) {
  std::istringstream lines(run.err);
  for (std::string line; std::getline(lines, line);)
    EXPECT_EQ(line.rfind("brennix-cli: ", 0), 0u) << what << ": " << run.err;
}

TEST_F(CliConventions, HelpVersionAndUsageErrorsOfEveryCommand) {
  const CliRun version = Cli("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("brennix-cli ", 0), 0u) << version.out;

  const std::string vr = "--virtual-recorder disc.img:dvd+rw ";
  for (const std::string command : {"devices", "info", "burn", "burn-image", "read-image", "copy",
                                    "check", "erase", "eject", "load", "mkiso"}) {
    const CliRun help = Cli(command + " --help");
    EXPECT_EQ(help.status, 0) << command << help.err;
    EXPECT_NE(help.out.find("usage: brennix-cli " + command), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("Exit status: 0 success, 1 failure, 2 usage error."),
              std::string::npos) << help.out;
    EXPECT_EQ(help.err, "");

    const CliRun bad = Cli(vr + command + " --frobnicate x");
    EXPECT_EQ(bad.status, 2) << command << ": " << bad.err;
    EXPECT_NE(bad.err.find("--frobnicate"), std::string::npos) << command << ": " << bad.err;
    ExpectPrefixedMessages(bad, command);
  }
  fs::create_directory(dir + "/empty");
  const struct {
    std::string words;
    int status;
  } outcomes[] = {
      {"", 2},
      {"frobnicate", 2},
      {"--frobnicate", 2},
      {"--virtual-recorder", 2},
      {vr + "erase", 2},  // nobody to answer, no --yes
      {"mkiso -o out.iso missing", 2},
      {vr + "info --device Q", 1},
      {vr + "eject --device Q", 1},
      {"--virtual-recorder r.img:cd-r erase --yes", 1},
      {"mkiso -o out.iso empty", 1},
      {vr + "burn-image --yes", 2},
      {vr + "burn-image --yes --no-import x.iso", 2},
      {vr + "burn-image --yes missing.iso", 1},
      {vr + "read-image --all", 2},
      {vr + "read-image --session 0 x.iso", 2},
      {vr + "read-image --all --session 2 x.iso", 2},
      {vr + "read-image x.iso", 1},  // a blank disc holds no volume
      {vr + "burn --yes --copies 0 src", 2},
      {vr + "burn --yes --device D: --device D: src", 2},  // one recorder named twice
      {vr + "--virtual-recorder e.img:dvd+r burn --yes --device D: --device E: --copies 2 src", 2},
      {vr + "copy --yes", 2},
      {vr + "copy --from Q --yes", 1},
      {vr + "copy --from D: --yes", 1},  // nothing on the disc to copy
  };
  for (const auto& [words, status] : outcomes) {
    const CliRun run = Cli(words);
    EXPECT_EQ(run.status, status) << words << ": " << run.err;
    EXPECT_NE(run.err, "") << words;
    ExpectPrefixedMessages(run, words);
  }
}

TEST_F(CliConventions, QuietAndPipesGetNoProgress) {
  const CliRun plain = Cli("mkiso -o a.iso src");
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.out.find('\r'), std::string::npos) << "progress into a pipe: " << plain.out;
  EXPECT_NE(plain.out.find("written to a.iso"), std::string::npos) << plain.out;
  for (const std::string words : {"--quiet mkiso -o b.iso src", "mkiso -q -o b.iso src"}) {
    const CliRun quiet = Cli(words);
    EXPECT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.out + quiet.err, "") << words;
  }
  EXPECT_TRUE(fs::exists(dir + "/b.iso"));
}

TEST_F(CliConventions, JsonHasOneObjectPerRecorder) {
  const CliRun run = Cli("--virtual-recorder a.img:dvd+rw --virtual-recorder b.img:none devices --json");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.front(), '[');
  EXPECT_EQ(run.out.substr(run.out.size() - 2), "]\n");
  const size_t second = run.out.find("\"entry\": \"0:1:0,E: ");
  ASSERT_NE(second, std::string::npos) << run.out;
  const std::string first = run.out.substr(0, second), other = run.out.substr(second);
  for (const char* key : {"\"vendor\": \"BRENNIX\"", "\"product\": \"VIRTUAL RECORDER\"",
                          "\"capabilities\": [\"", "\"max_write_speed_kbs\": "}) {
    EXPECT_NE(first.find(key), std::string::npos) << key << run.out;
    EXPECT_NE(other.find(key), std::string::npos) << key << run.out;
  }
  for (const char* fact : {"\"disc_type\": \"DVD+RW\"", "\"disc_status\": \"empty\"",
                           "\"capacity_sectors\": 2295104", "\"free_sectors\": 2295104",
                           "\"next_writable_address\": 0"})
    EXPECT_NE(first.find(fact), std::string::npos) << fact << run.out;
  for (const char* fact : {"\"disc_type\": null", "\"sessions\": null",
                           "\"next_writable_address\": null"})
    EXPECT_NE(other.find(fact), std::string::npos) << fact << run.out;

  const CliRun info = Cli("--virtual-recorder a.img:dvd+rw info --json");
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(info.out.front(), '{');
  EXPECT_NE(info.out.find("\"disc_type\": \"DVD+RW\""), std::string::npos) << info.out;
}

TEST(CliJson, EveryStringBecomesValidJson) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "\"plain\""},
      {"say \"hi\" \\ there", "\"say \\\"hi\\\" \\\\ there\""},
      {std::string("tab\tnul\0end", 11), "\"tab\\u0009nul\\u0000end\""},
      {"caf\xe9\x7f", "\"caf\\u00e9\\u007f\""},
  };
  for (const auto& [text, json] : cases) EXPECT_EQ(brennix::cli::JsonString(text), json);
}

TEST(CliText, ForeignStringsPrintWithoutAnythingThatSteersTheTerminal) {
  const std::pair<std::string, std::string> cases[] = {
      {"caf\xc3\xa9 \xe2\x82\xac.txt", "caf\xc3\xa9 \xe2\x82\xac.txt"},  // UTF-8 stays
      {"\x1b]0;title\x07\x7f", "\\x1b]0;title\\x07\\x7f"},
      {std::string("nul\0", 4) + "\xc2\x9b", "nul\\x00\\xc2\\x9b"},  // C1 control
      {"bad\xff\xe2\x82 \xed\xa0\x80 \xc0\xaf", "bad\\xff\\xe2\\x82 \\xed\\xa0\\x80 \\xc0\\xaf"},
      {"back\\slash", "back\\\\slash"},
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(brennix::cli::Printable(text), shown);
}

TEST(CliQuestion, OneAnswerRuleForEveryQuestion) {
  struct Case {
    const char* typed;
    bool yes;
    int asked;  // how often the question or its repetition was shown
  };
  const Case cases[] = {
      {"y\n", true, 1},      {"YES\n", true, 1},   {"  Yes \n", true, 1}, {"yEs", true, 1},
      {"n\n", false, 1},     {"NO\n", false, 1},   {"\n", false, 1},      {"", false, 1},
      {"maybe\nY\n", true, 2}, {"yess\nn\n", false, 2}, {"ja\n", false, 2},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.typed);
    std::ostringstream out;
    EXPECT_EQ(brennix::cli::Confirm("Go ?", in, out), c.yes) << c.typed;
    const std::string shown = out.str();
    int asked = 0;
    for (size_t at = 0; (at = shown.find("[y/N]", at)) != std::string::npos; ++at) ++asked;
    EXPECT_EQ(asked, c.asked) << c.typed << " -> " << shown;
  }
}

}  // namespace
