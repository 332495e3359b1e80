#include "virtual_recorder/recorder_options.h"

#include <charconv>
#include <sstream>

namespace brennix {

namespace {

bool ParseUnsigned(const std::string& text, uint64_t limit, uint64_t& value) {
  if (text.empty()) return false;
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
  return status == std::errc() && end == text.data() + text.size() && value <= limit;
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
      ok = ParseUnsigned(value, 1, number);
      parsed.modeBlockDescriptor = number == 1;
    } else if (key == "page30") {
      ok = ParseUnsigned(value, 1, number);
      parsed.answersPage30 = number == 1;
    } else if (key == "buffer") {
      ok = ParseUnsigned(value, 1u << 30, number) && number >= 65536;
      parsed.bufferBytes = static_cast<uint32_t>(number);
    } else if (key == "cd") {
      ok = value == "74" || value == "80";
      parsed.cdSize = value == "74" ? CdSize::Minutes74 : CdSize::Minutes80;
    } else if (key == "strict-mmc") {
      ok = ParseUnsigned(value, 1, number);
      parsed.strictMmc = number == 1;
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
