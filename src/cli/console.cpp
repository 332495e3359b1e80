#include "cli/console.h"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdio>

#include "cli/commands.h"
#include "image/names.h"

namespace brennix::cli {

const char* const kExitStatusHelp =
    "\n"
    "Exit status: 0 success, 1 failure, 2 usage error.\n";

namespace {
std::atomic<bool> g_quiet{false};

std::string Escaped(const std::string& text, bool backslash) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const Utf8Char c = Utf8At(text, i);
    const char32_t cp = c.Code;
    size_t length = c.Length;
    const bool control = cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
    if (length != 0 && !control) {
      if (backslash && cp == '\\') out += '\\';
      out.append(text, i, length);
      i += length;
      continue;
    }
    // A bad byte alone: what follows it may still be a good sequence.
    if (length == 0) length = 1;
    for (size_t k = 0; k < length; ++k, ++i) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(text[i]));
      out += hex;
    }
  }
  return out;
}

}  // namespace

std::string Printable(const std::string& text) { return Escaped(text, true); }

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
  std::fprintf(stderr, "brennix-cli: %s\n", Escaped(text, false).c_str());
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
  std::printf("%s\n", Escaped(line, false).c_str());
  std::fflush(stdout);
}

int ShowHelp(const char* usage) {
  std::fputs(usage, stdout);
  std::fputs(kExitStatusHelp, stdout);
  return kExitSuccess;
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
