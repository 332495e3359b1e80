// Running the brennix-cli under test as a user runs it, from a shell.
#pragma once

#include <string>

#include "support/shell.h"

namespace brennix::test {

// The program's path, quoted for the shell.
std::string CliCommand();
// Runs brennix-cli with the arguments as the shell reads them; both streams together.
ShellRun RunCli(const std::string& arguments);

}  // namespace brennix::test
