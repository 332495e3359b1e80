// The subcommands of brennix-cli. Each takes the words after its name and returns the
// process exit status.
#pragma once

#include <string>
#include <vector>

#include "component/burn_job.h"

namespace brennix::cli {

using Args = std::vector<std::string>;

int RunDevices(const Args& args);
int RunInfo(const Args& args);
int RunBurn(const Args& args);
int RunBurnImage(const Args& args);
int RunReadImage(const Args& args);
int RunCopy(const Args& args);
int RunCheck(const Args& args);
int RunErase(const Args& args);
int RunEject(const Args& args);
int RunLoad(const Args& args);
int RunMkiso(const Args& args);

// Runs a burn job on the recorders `devices` (none: the first; more than one: the same image
// to each at once) with the console's questions and progress line, copies times in turn;
// the exit status.
int RunBurnJob(const std::string& command, const std::vector<std::string>& devices, bool yes,
               bool unmount, TBurnOptions options, int copies = 1);

// The text without leading and trailing blanks (labels, typed answers).
std::string Trim(const std::string& text);

// Prints "brennix-cli: <message>" to standard error and returns 2 (bad usage).
int UsageError(const std::string& message);

}  // namespace brennix::cli
