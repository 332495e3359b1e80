#include "cli/disc_report.h"

#include <cstdio>
#include <vector>

#include "device/capabilities.h"
#include "device/disc_types.h"
#include "platform/disc_units.h"

namespace brennix::cli {

namespace {

// The disc status as a person reads it, or as one word for scripts.
const char* StatusText(int status, bool oneWord = false) {
  static const char* const kText[] = {"empty", "incomplete (appendable)", "complete", "other"};
  static const char* const kWord[] = {"empty", "appendable", "complete", "other"};
  if (status < 0 || status > 3) return oneWord ? "unknown" : "unknown (the drive does not answer)";
  return (oneWord ? kWord : kText)[status];
}

// An INQUIRY identification field without its padding.
std::string InquiryField(const uint8_t* inquiry, size_t offset, size_t length) {
  std::string field;
  for (size_t i = offset; i < offset + length; ++i)
    field += inquiry[i] < 0x20 ? ' ' : static_cast<char>(inquiry[i]);
  const size_t end = field.find_last_not_of(' ');
  const size_t start = field.find_first_not_of(' ');
  return end == std::string::npos ? std::string() : field.substr(start, end - start + 1);
}

}  // namespace

std::string ShownDeviceName(const uint8_t* inquiry) {
  std::string name;
  for (const auto& [offset, length] : {std::pair<size_t, size_t>{8, 8}, {16, 16}, {32, 4}}) {
    const std::string field = InquiryField(inquiry, offset, length);
    if (!field.empty()) name += (name.empty() ? "" : " ") + field;
  }
  return name;
}

namespace {

std::string JsonArray(const std::vector<std::string>& words) {
  std::string text = "[";
  for (const std::string& word : words) text += (text.size() > 1 ? ", " : "") + JsonString(word);
  return text + "]";
}

}  // namespace

DiscFacts ReadDiscFacts(TSCSIDevice& device) {
  DiscFacts facts;
  facts.Type = device.GetDiscType();
  facts.Status = device.DiscStatus();
  facts.Present = !(facts.Type == kDiscUnknown && facts.Status < 0);
  if (!facts.Present) return facts;
  facts.Sessions = device.SessionCount();
  facts.Capacity = device.DiscCapacity();
  facts.Used = device.UsedSectors();
  facts.Erasable = device.IsErasable();
  uint32_t start = 0;
  if (device.GetNextWritableAddress(start)) facts.NextWritable = start;
  return facts;
}

void PrintDiscInfo(TSCSIDevice& device) {
  const DiscFacts disc = ReadDiscFacts(device);
  if (!disc.Present) {
    std::puts("Disc: none");
    return;
  }
  std::printf("Disc: %s\n", DiscTypeName(disc.Type));
  std::printf("Disc status: %s\n", StatusText(disc.Status));
  std::printf("Sessions: %u\n", disc.Sessions);
  const auto mb = [](uint32_t sectors) {
    return static_cast<double>(sectors) * kSectorSize / 1048576.0;
  };
  std::printf("Capacity: %u sectors (%.1f MB)\n", disc.Capacity, mb(disc.Capacity));
  std::printf("Used: %u sectors (%.1f MB)\n", disc.Used, mb(disc.Used));
  std::printf("Erasable: %s\n", disc.Erasable ? "yes" : "no");
  if (disc.NextWritable) {
    std::printf("Next writable address: %u\n", *disc.NextWritable);
  } else {
    std::puts("Next writable address: unknown");
  }
}

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (byte >= 0x20 && byte < 0x7F) {
      json += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      json += escaped;
    }
  }
  return json + "\"";
}

std::string RecorderJson(TSCSIDevice& device) {
  const DiscFacts disc = ReadDiscFacts(device);
  const auto number = [](uint64_t value) { return std::to_string(value); };
  const auto orNull = [&](bool known, uint64_t value) { return known ? number(value) : "null"; };
  std::string json = "{";
  const auto field = [&json](const char* key, const std::string& value) {
    json += (json.size() > 1 ? ", " : "") + JsonString(key) + ": " + value;
  };
  field("entry", JsonString(device.Device()));
  field("vendor", JsonString(InquiryField(device.InquiryBuffer, 8, 8)));
  field("product", JsonString(InquiryField(device.InquiryBuffer, 16, 16)));
  field("revision", JsonString(InquiryField(device.InquiryBuffer, 32, 4)));
  field("capabilities", JsonArray(CapabilityNames(device.Capabilities)));
  field("write_modes", JsonArray(WriteModeNames(device.WriteModes)));
  field("max_read_speed_kbs", number(device.DeviceMaxReadSpeed));
  field("max_write_speed_kbs", number(device.DeviceMaxWriteSpeed));
  field("disc_type", disc.Present ? JsonString(DiscTypeName(disc.Type)) : "null");
  field("disc_status", disc.Present ? JsonString(StatusText(disc.Status, true)) : "null");
  field("sessions", orNull(disc.Present, disc.Sessions));
  field("capacity_sectors", orNull(disc.Present, disc.Capacity));
  field("used_sectors", orNull(disc.Present, disc.Used));
  field("free_sectors",
        orNull(disc.Present, disc.Capacity > disc.Used ? disc.Capacity - disc.Used : 0));
  field("erasable", disc.Present ? (disc.Erasable ? "true" : "false") : "null");
  field("next_writable_address", orNull(disc.NextWritable.has_value(), disc.NextWritable.value_or(0)));
  return json + "}";
}

}  // namespace brennix::cli
