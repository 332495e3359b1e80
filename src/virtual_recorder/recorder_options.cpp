#include "virtual_recorder/recorder_options.h"

#include <charconv>
#include <sstream>
#include <vector>

namespace brennix {

namespace {

bool ParseUnsigned(const std::string& text, uint64_t limit, uint64_t& value) {
  if (text.empty()) return false;
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
  return status == std::errc() && end == text.data() + text.size() && value <= limit;
}

// A switch, 0 or 1.
bool ParseSwitch(const std::string& text, bool& on) {
  uint64_t value = 0;
  if (!ParseUnsigned(text, 1, value)) return false;
  on = value == 1;
  return true;
}

bool ParseAddress(const std::string& text, ScsiAddress& address) {
  std::istringstream in(text);
  std::string part;
  uint64_t values[3] = {};
  for (int i = 0; i < 3; ++i) {
    if (!std::getline(in, part, ':') || !ParseUnsigned(part, 255, values[i])) return false;
  }
  if (std::getline(in, part, ':')) return false;
  address.PortNumber = static_cast<uint8_t>(values[0]);
  address.PathId = 0;
  address.TargetId = static_cast<uint8_t>(values[1]);
  address.Lun = static_cast<uint8_t>(values[2]);
  return true;
}

bool ParseHexByte(const std::string& text, uint8_t& value) {
  unsigned parsed = 0;
  if (text.empty() || text.size() > 2) return false;
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), parsed, 16);
  if (status != std::errc() || end != text.data() + text.size()) return false;
  value = static_cast<uint8_t>(parsed);
  return true;
}

// KIND:OPCODE:COUNT[:SENSE], see ParseRecorderOptions.
bool ParseFault(const std::string& text, RecorderFault& fault) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  std::string part;
  while (std::getline(in, part, ':')) parts.push_back(part);
  if (parts.size() < 3 || parts.size() > 4) return false;
  const std::string& kind = parts[0];
  if (kind == "busy") {
    fault.kind = RecorderFault::Kind::Busy;
  } else if (kind == "not-ready") {
    fault.kind = RecorderFault::Kind::NotReady;
  } else if (kind == "sense") {
    fault.kind = RecorderFault::Kind::Sense;
  } else if (kind == "no-answer") {
    fault.kind = RecorderFault::Kind::NoAnswer;
  } else if (kind == "slow") {
    fault.kind = RecorderFault::Kind::Slow;
  } else {
    return false;
  }
  uint8_t opcode = 0;
  if (parts[1] == "any") {
    fault.opcode = -1;
  } else if (ParseHexByte(parts[1], opcode)) {
    fault.opcode = opcode;
  } else {
    return false;
  }
  uint64_t number = 0;
  const std::string& count = parts[2];
  if (count.size() > 2 && count.compare(count.size() - 2, 2, "ms") == 0) {
    if (!ParseUnsigned(count.substr(0, count.size() - 2), 24u * 3600 * 1000, number) || number == 0)
      return false;
    fault.count = 0;
    fault.durationMs = static_cast<uint32_t>(number);
  } else {
    if (!ParseUnsigned(count, UINT32_MAX, number) || number == 0) return false;
    fault.count = static_cast<uint32_t>(number);
  }
  if (fault.kind == RecorderFault::Kind::Slow) {
    const std::string delay = parts.size() == 4 ? parts[3] : std::string();
    if (delay.size() <= 2 || delay.compare(delay.size() - 2, 2, "ms") != 0 ||
        !ParseUnsigned(delay.substr(0, delay.size() - 2), 24u * 3600 * 1000, number) || number == 0)
      return false;
    fault.delayMs = static_cast<uint32_t>(number);
    return true;
  }
  if (parts.size() == 4) {
    if (fault.kind == RecorderFault::Kind::NotReady) return ParseHexByte(parts[3], fault.ascq);
    if (fault.kind != RecorderFault::Kind::Sense) return false;
    std::istringstream sense(parts[3]);
    std::string key, asc, ascq;
    if (!std::getline(sense, key, '/') || !std::getline(sense, asc, '/') ||
        !std::getline(sense, ascq, '/') || std::getline(sense, part, '/'))
      return false;
    return ParseHexByte(key, fault.key) && fault.key <= 0x0F && ParseHexByte(asc, fault.asc) &&
           ParseHexByte(ascq, fault.ascq);
  }
  return true;
}

}  // namespace

bool ParseRecorderOptions(const std::string& text, RecorderOptions& options, std::string& error) {
  RecorderOptions parsed = options;
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (item.empty()) continue;
    const size_t equals = item.find('=');
    if (equals == std::string::npos) {
      error = "virtual recorder option '" + item + "' needs a value";
      return false;
    }
    const std::string key = item.substr(0, equals);
    const std::string value = item.substr(equals + 1);
    uint64_t number = 0;
    bool ok = true;
    if (key == "vendor") {
      ok = value.size() <= 8;
      parsed.vendor = value;
    } else if (key == "product") {
      ok = value.size() <= 16;
      parsed.product = value;
    } else if (key == "revision") {
      ok = value.size() <= 4;
      parsed.revision = value;
    } else if (key == "type") {
      ok = ParseUnsigned(value, 31, number);
      parsed.peripheralType = static_cast<uint8_t>(number);
    } else if (key == "address") {
      ScsiAddress address;
      ok = ParseAddress(value, address);
      parsed.address = address;
    } else if (key == "speed") {
      ok = value == "unlimited" || value == "simulated";
      parsed.speed = value == "simulated" ? SpeedModel::Simulated : SpeedModel::Unlimited;
    } else if (key == "block-descriptor") {
      ok = ParseSwitch(value, parsed.modeBlockDescriptor);
    } else if (key == "page30") {
      ok = ParseSwitch(value, parsed.answersPage30);
    } else if (key == "buffer") {
      ok = ParseUnsigned(value, 1u << 30, number) && number >= 65536;
      parsed.bufferBytes = static_cast<uint32_t>(number);
    } else if (key == "fault") {
      RecorderFault fault;
      ok = ParseFault(value, fault);
      if (ok) parsed.faults.push_back(fault);
    } else if (key == "bad-sector") {
      ok = ParseUnsigned(value, UINT32_MAX, number);
      if (ok) parsed.badSectors.push_back(static_cast<uint32_t>(number));
    } else if (key == "cd") {
      ok = value == "74" || value == "80";
      parsed.cdSize = value == "74" ? CdSize::Minutes74 : CdSize::Minutes80;
    } else if (key == "strict-mmc") {
      ok = ParseSwitch(value, parsed.strictMmc);
    } else if (key == "changer") {
      ok = ParseSwitch(value, parsed.changer);
    } else {
      error = "unknown virtual recorder option '" + key + "'";
      return false;
    }
    if (!ok) {
      error = "bad value for virtual recorder option '" + key + "': " + value;
      return false;
    }
  }
  options = parsed;
  return true;
}

}  // namespace brennix
