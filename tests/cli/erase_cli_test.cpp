// brennix-cli erase, eject and load against a virtual recorder, as a user runs them.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include "support/recorder_environment.h"
#include "support/shell.h"
#include "support/temp_folder.h"

namespace {

struct CliRun {
  int status = -1;
  std::string out;
};

// Runs the CLI on a terminal (script gives it one, so it shows its progress), both streams
// captured. Standard input is /dev/null (no one to answer a question) unless the file
// typed holds what a person types on the terminal.
CliRun Cli(const std::string& disc, const std::string& args, const std::string& typed = "") {
  const std::string command = "script -qec \"'" + std::string(BRENNIX_CLI) +
                              "' --virtual-recorder '" + disc + "' " + args +
                              (typed.empty() ? " </dev/null" : "") + "\" /dev/null <" +
                              (typed.empty() ? "/dev/null" : "'" + typed + "'");
  const brennix::test::ShellRun run = brennix::test::Shell(command);
  CliRun r{run.status, run.output};
  for (size_t at; (at = r.out.find("\r\n")) != std::string::npos;) r.out.erase(at, 1);
  return r;
}

class EraseCli : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("BRENNIX_VIRTUAL_RECORDERS");
    unsetenv("BRENNIX_VIRTUAL_RECORDER_OPTIONS");
  }
  brennix::test::TempFolder temp{"erase-cli"};
  std::string dir = temp.path();
};

TEST_F(EraseCli, QuickAndFullEraseOfARewritableDisc) {
  CliRun r = Cli(dir + "/rw.img:cd-rw", "erase --yes");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Erasing Data..."), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Progress: 100%"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Erase process completed.\n"), std::string::npos) << r.out;

  r = Cli(dir + "/rw.img", "erase --full --yes");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Erase process completed.\n"), std::string::npos) << r.out;
}

// The one question rule, as burn uses it too: y, yes, n, no in any case; the end of the
// input is no.
TEST_F(EraseCli, TypedAnswersOnATerminal) {
  const struct {
    const char* typed;
    int status;
    const char* outcome;
  } answers[] = {{"YES\n", 0, "Erase process completed.\n"},
                 {"Y\n", 0, "Erase process completed.\n"},
                 {"perhaps\nNo\n", 1, "Nothing was erased.\n"},
                 {"", 1, "Nothing was erased.\n"}};
  for (const auto& answer : answers) {
    std::ofstream(dir + "/typed") << answer.typed;
    const CliRun r = Cli(dir + "/rw.img:cd-rw", "erase", dir + "/typed");
    EXPECT_EQ(r.status, answer.status) << answer.typed << r.out;
    EXPECT_NE(r.out.find(answer.outcome), std::string::npos) << answer.typed << r.out;
  }
}

TEST_F(EraseCli, ProgressLinesNeverGoBackwards) {
  const brennix::test::RecorderEnvironment simulated("speed=simulated");
  const CliRun r = Cli(dir + "/plus.img:dvd+rw", "erase --yes");
  EXPECT_EQ(r.status, 0) << r.out;
  int last = -1;
  size_t at = 0;
  while ((at = r.out.find("Progress: ", at)) != std::string::npos) {
    at += 10;
    const int p = std::atoi(r.out.c_str() + at);
    EXPECT_GE(p, last) << r.out;
    last = p;
  }
  EXPECT_EQ(last, 100) << r.out;
}

TEST_F(EraseCli, RefusesWhatCannotOrMayNotBeErased) {
  CliRun r = Cli(dir + "/r.img:cd-r", "erase --yes");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("This disc is not erasable."), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Erasing Data"), std::string::npos) << r.out;
  // No disc is told apart from a disc that cannot be erased.
  r = Cli(dir + "/none.img:none", "erase --yes");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("There is no disc in the drive."), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("not erasable"), std::string::npos) << r.out;

  // Nobody at a terminal to answer the question: no erase, no hang.
  r = Cli(dir + "/rw.img:cd-rw", "erase");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("--yes"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Erasing Data"), std::string::npos) << r.out;

  r = Cli(dir + "/rw.img:cd-rw", "erase --yes --bogus");
  EXPECT_EQ(r.status, 2) << r.out;
}

TEST_F(EraseCli, EjectAndLoad) {
  CliRun r = Cli(dir + "/x.img:dvd+r", "eject");
  EXPECT_EQ(r.status, 0) << r.out;
  r = Cli(dir + "/x.img:dvd+r", "load");
  EXPECT_EQ(r.status, 0) << r.out;
  r = Cli(dir + "/x.img:dvd+r", "eject --device Q");
  EXPECT_NE(r.status, 0) << r.out;
}

TEST_F(EraseCli, InfoShowsTheDisc) {
  const CliRun r = Cli(dir + "/x.img:dvd+r", "info");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Disc: DVD+R\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Disc status: empty"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Sessions: 0"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Capacity: 2295104 sectors"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Used: 0 sectors"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Erasable: no"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Next writable address: 0"), std::string::npos) << r.out;
}

}  // namespace
