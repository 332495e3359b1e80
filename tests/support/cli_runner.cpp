#include "support/cli_runner.h"

namespace brennix::test {

std::string CliCommand() { return Quote(BRENNIX_CLI); }

ShellRun RunCli(const std::string& arguments) { return Shell(CliCommand() + " " + arguments); }

}  // namespace brennix::test
