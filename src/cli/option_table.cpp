#include "cli/option_table.h"

#include <cstdio>

#include "cli/console.h"

namespace brennix::cli {

namespace {

// -h or --help before a "--".
bool WantsHelp(const Args& words) {
  for (const std::string& word : words) {
    if (word == "--") return false;
    if (word == "-h" || word == "--help") return true;
  }
  return false;
}

bool IsOperand(const std::string& word) { return word.empty() || word[0] != '-' || word == "-"; }

std::string UnknownWord(const TCommandLine& line, const std::string& word) {
  if (line.guided) return std::string(line.unknownWord) + " '" + word + "'";
  return "unknown option '" + word + "' for '" + line.command + "'";
}

// Which options a pass over the words takes.
enum class TRows { Early, Late, All, None };

// The row a word names, and whether it came as "--name=VALUE".
const TOption* FindOption(const TCommandLine& line, const std::string& word, TRows rows,
                          bool& inlined) {
  for (const TOption& option : line.options) {
    if (rows == TRows::None || (rows == TRows::Early && !option.early) ||
        (rows == TRows::Late && option.early))
      continue;
    for (const std::string& name : option.names) {
      inlined = option.inlineValue && word.size() > name.size() && word[name.size()] == '=' &&
                word.compare(0, name.size(), name) == 0;
      if (word == name || inlined) return &option;
    }
  }
  return nullptr;
}

// One pass over the words: takes out the options of this pass. The last pass also reads the
// operands and refuses what is left. Empty on success, else the message.
std::string ReadPass(const TCommandLine& line, Args& words, TRows rows, bool last, bool& help) {
  Args rest;
  bool optionsEnded = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (last && (optionsEnded || IsOperand(word))) {
      if (!line.operand) return UnknownWord(line, word);
      const std::string refused = line.operand(word);
      if (!refused.empty()) return refused;
      continue;
    }
    if (last && line.endOfOptions && word == "--") {
      optionsEnded = true;
      continue;
    }
    if (last && line.guided && (word == "-h" || word == "--help")) {
      help = true;
      return "";
    }
    bool inlined = false;
    const TOption* option = FindOption(line, word, rows, inlined);
    if (option == nullptr) {
      if (!last) {
        rest.push_back(word);
        continue;
      }
      return UnknownWord(line, word);
    }
    std::string value;
    if (option->value != nullptr) {
      const std::string spelled = inlined ? word.substr(0, word.find('=') + 1) : word;
      const bool given = inlined ? word.size() > spelled.size() : i + 1 < words.size();
      if (given) value = inlined ? word.substr(spelled.size()) : words[++i];
      if (!given || (value.empty() && option->emptyIsMissing))
        return spelled + " " + option->missing;
    }
    const std::string refused = option->take(value);
    if (!refused.empty()) return refused;
  }
  words = rest;
  return "";
}

}  // namespace

std::string UsageText(const TCommandLine& line) {
  const std::string head = "usage: brennix-cli " + line.command + " ";
  const std::string indent(head.size(), ' ');
  std::string text = head;
  bool lineEmpty = true;
  const auto put = [&](const std::string& item, bool newLine) {
    if (newLine && !lineEmpty) {
      text += "\n" + indent;
      lineEmpty = true;
    }
    if (!lineEmpty) text += " ";
    text += item;
    lineEmpty = false;
  };
  for (const TOption& option : line.options) {
    if (option.hidden) continue;
    std::string item = option.names.front();
    if (option.value != nullptr) item += std::string(" ") + option.value;
    if (option.orPrevious) {
      text.pop_back();  // the previous option's "]"
      text += " | " + item + "]";
    } else {
      put(option.required ? item : "[" + item + "]", option.newLine);
    }
  }
  if (*line.operands != '\0') put(line.operands, line.operandsOnNewLine);
  return text + "\n\n" + line.about;
}

int CommandUsageError(const TCommandLine& line, const std::string& message) {
  if (!line.guided) return UsageError(message);
  return UsageError(line.command + ": " + message + " (see 'brennix-cli " + line.command +
                    " --help')");
}

TReading ReadWords(const TCommandLine& line, const Args& args) {
  TReading reading;
  if (!line.guided && WantsHelp(args)) {
    reading.help = true;
    return reading;
  }
  // A command that is not guided takes its options wherever they stand and refuses what is
  // left only at the end.
  std::vector<TRows> passes{TRows::All};
  if (!line.guided) passes = {TRows::Early, TRows::Late, TRows::None};
  Args words = args;
  for (size_t p = 0; p < passes.size() && !reading.help && reading.refused.empty(); ++p)
    reading.refused = ReadPass(line, words, passes[p], p + 1 == passes.size(), reading.help);
  return reading;
}

std::optional<int> ReadCommandLine(const TCommandLine& line, const Args& args) {
  if (line.usageWhenEmpty && args.empty()) {
    std::fputs(UsageText(line).c_str(), stderr);
    return kExitUsage;
  }
  const TReading reading = ReadWords(line, args);
  if (reading.help) return ShowHelp(UsageText(line).c_str());
  if (!reading.refused.empty()) return CommandUsageError(line, reading.refused);
  return std::nullopt;
}

TOption Flag(std::vector<std::string> names, TakeValue take) {
  TOption option;
  option.names = std::move(names);
  option.take = std::move(take);
  return option;
}

TOption Flag(std::vector<std::string> names, bool& flag, bool to) {
  return Flag(std::move(names), [&flag, to](const std::string&) {
    flag = to;
    return std::string();
  });
}

TOption Valued(std::vector<std::string> names, const char* value, const char* missing,
               TakeValue take) {
  TOption option = Flag(std::move(names), std::move(take));
  option.value = value;
  option.missing = missing;
  return option;
}

TakeValue SetText(std::string& text) {
  return [&text](const std::string& value) {
    text = value;
    return std::string();
  };
}

TakeValue AddText(std::vector<std::string>& list) {
  return [&list](const std::string& value) {
    list.push_back(value);
    return std::string();
  };
}

TOption QuietOption() {
  TOption quiet = Flag({"--quiet", "-q"}, [](const std::string&) {
    SetQuiet(true);
    return std::string();
  });
  quiet.early = true;
  return quiet;
}

TOption DeviceOption(std::string& device) {
  TOption option = Valued({"--device"}, "D", "needs a recorder", SetText(device));
  option.emptyIsMissing = true;
  return option;
}

TOption RecorderOption(std::string& device) {
  TOption option = Valued({"--device"}, "D", "needs an entry or a drive letter", SetText(device));
  option.inlineValue = true;
  return option;
}

}  // namespace brennix::cli
