#include "cli/console.h"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <vector>

#include "cli/commands.h"

namespace brennix::cli {

const char* const kExitStatusHelp =
    "\n"
    "Exit status: 0 success, 1 failure, 2 usage error.\n";

namespace {
std::atomic<bool> g_quiet{false};
}  // namespace

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

int UsageError(const std::string& message) {
  Complain(message);
  return kExitUsage;
}

void SetQuiet(bool quiet) { g_quiet.store(quiet); }
bool Quiet() { return g_quiet.load(); }

void Complain(const std::string& text) {
  std::fflush(stdout);  // keeps the order of the two streams when both go to one place
  std::fprintf(stderr, "brennix-cli: %s\n", text.c_str());
}

std::string Counted(int64_t count, const std::string& one, const std::string& many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

int Failure(const std::string& text) {
  Complain(text);
  return kExitFailure;
}

bool ShowProgress() { return !Quiet() && ::isatty(STDOUT_FILENO) == 1; }

void Summary(const std::string& line) {
  if (Quiet()) return;
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

int ShowHelp(const char* usage) {
  std::fputs(usage, stdout);
  std::fputs(kExitStatusHelp, stdout);
  return kExitSuccess;
}

bool WantsHelp(const std::vector<std::string>& words) {
  for (const std::string& word : words) {
    if (word == "--") return false;
    if (word == "-h" || word == "--help") return true;
  }
  return false;
}

void TakeQuietOption(std::vector<std::string>& words) {
  std::vector<std::string> rest;
  for (const std::string& word : words) {
    if (word == "-q" || word == "--quiet") {
      SetQuiet(true);
    } else {
      rest.push_back(word);
    }
  }
  words = rest;
}

Answer ParseAnswer(const std::string& text) {
  std::string word = Trim(text);
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (word == "y" || word == "yes") return Answer::Yes;
  if (word.empty() || word == "n" || word == "no") return Answer::No;
  return Answer::Unclear;
}

bool Confirm(const std::string& question, std::istream& in, std::ostream& out) {
  out << question << " [y/N] " << std::flush;
  std::string line;
  while (std::getline(in, line)) {
    switch (ParseAnswer(line)) {
      case Answer::Yes: return true;
      case Answer::No: return false;
      case Answer::Unclear: out << "Please answer yes or no. [y/N] " << std::flush; break;
    }
  }
  out << "\n";
  return false;
}

}  // namespace brennix::cli
