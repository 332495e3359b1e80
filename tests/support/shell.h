// Running a shell command from a test: the CLI under test and the independent readers
// (xorriso, isoinfo, 7z, bsdtar) that check what it wrote.
#pragma once

#include <string>

namespace brennix::test {

struct ShellRun {
  int status = -1;     // the exit status; -1 when the command did not end normally
  std::string output;  // standard output, with standard error when joined
};

// Runs command through /bin/sh; with joinErrors its standard error is read too.
ShellRun Shell(const std::string& command, bool joinErrors = true);
// The same as an exit status, the output (both streams) where asked for.
int RunShell(const std::string& command, std::string* output = nullptr);
// The word in single quotes, as the shell reads it back unchanged.
std::string Quote(const std::string& word);
bool HaveTool(const std::string& name);

}  // namespace brennix::test
