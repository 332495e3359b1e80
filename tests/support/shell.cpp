#include "support/shell.h"

#include <sys/wait.h>

#include <cstdio>

namespace brennix::test {

ShellRun Shell(const std::string& command, bool joinErrors) {
  ShellRun run;
  FILE* pipe = ::popen((joinErrors ? command + " 2>&1" : command).c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, n);
  const int raw = ::pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

int RunShell(const std::string& command, std::string* output) {
  ShellRun run = Shell(command);
  if (output != nullptr) *output = std::move(run.output);
  return run.status;
}

std::string Quote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

bool HaveTool(const std::string& name) {
  return RunShell("command -v " + name + " >/dev/null") == 0;
}

}  // namespace brennix::test
