#include "device/capabilities.h"

#include <algorithm>
#include <cstring>

#include "device/scsi_device.h"
#include "platform/disc_units.h"

namespace brennix {

namespace {

constexpr uint16_t kDefaultWriteSpeed = 1385;
constexpr size_t kWorkSize = 255;

std::string Trimmed(const uint8_t* bytes, size_t count) {
  std::string text(reinterpret_cast<const char*>(bytes), count);
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

// Moves the page at offset to the start of the buffer; the tail becomes zero.
void ShiftPage(uint8_t* buffer, size_t size, size_t offset) {
  if (offset >= size) {
    std::memset(buffer, 0, size);
    return;
  }
  std::memmove(buffer, buffer + offset, size - offset);
  std::memset(buffer + size - offset, 0, offset);
}

}  // namespace

size_t FindModePage(const uint8_t* answer, size_t answerSize, uint8_t page, size_t fallback) {
  for (size_t offset : {size_t{16}, size_t{8}, size_t{7}}) {
    if (offset < answerSize && (answer[offset] & 0x3F) == page) return offset;
  }
  return fallback;
}

uint32_t CapabilitiesFromPage(const uint8_t* page) {
  uint32_t caps = 0;
  const uint8_t read = page[2], write = page[3];
  if (read & 0x01) caps |= cap::ReadCDR;
  if (read & 0x02) caps |= cap::ReadCDRW;
  if (read & 0x04) caps |= cap::Method2;
  if (read & 0x08) caps |= cap::ReadDVDROM;
  if (read & 0x10) caps |= cap::ReadDVDR | cap::ReadDVDRW;
  if (read & 0x20) caps |= cap::ReadDVDRAM;
  if (write & 0x01) caps |= cap::WriteCDR;
  if (write & 0x02) caps |= cap::WriteCDRW;
  if (write & 0x04) caps |= cap::TestWriteCapable;
  if (write & 0x10) caps |= cap::WriteDVDR | cap::WriteDVDRW;
  if (write & 0x20) caps |= cap::WriteDVDRAM;
  if (page[4] & 0x80) caps |= cap::UnderrunFree;
  return caps;
}

uint32_t CapabilitiesFromFeature(uint16_t feature, const uint8_t* answer, size_t got) {
  if (got < 10 || ReadBE16(answer + 8) != feature) return 0;
  const bool writes = got >= 13 && answer[12] == 1;
  switch (feature) {
    case 0x002A:
      return cap::ReadDVDPlusR | cap::ReadDVDPlusRW |
             (writes ? cap::WriteDVDPlusR | cap::WriteDVDPlusRW : 0);
    case 0x003B:
      return cap::ReadDVDPlusRDL | (writes ? cap::WriteDVDPlusRDL : 0);
    case 0x002F:
      return cap::ReadDVDR | cap::ReadDVDRW | (writes ? cap::WriteDVDR | cap::WriteDVDRW : 0);
    default:
      return 0;
  }
}

std::vector<std::string> CapabilityNames(uint32_t capabilities) {
  static const struct {
    uint32_t Bit;
    const char* Name;
  } kNames[] = {
      {cap::ReadCDR, "read CD-R"},        {cap::ReadCDRW, "read CD-RW"},
      {cap::Method2, "method 2"},          {cap::ReadDVDROM, "read DVD-ROM"},
      {cap::ReadDVDR, "read DVD-R"},       {cap::ReadDVDRW, "read DVD-RW"},
      {cap::ReadDVDRAM, "read DVD-RAM"},   {cap::ReadDVDPlusR, "read DVD+R"},
      {cap::ReadDVDPlusRDL, "read DVD+R DL"}, {cap::ReadDVDPlusRW, "read DVD+RW"},
      {cap::WriteCDR, "write CD-R"},       {cap::WriteCDRW, "write CD-RW"},
      {cap::TestWriteCapable, "test write"}, {cap::WriteDVDR, "write DVD-R"},
      {cap::WriteDVDRW, "write DVD-RW"},   {cap::WriteDVDRAM, "write DVD-RAM"},
      {cap::WriteDVDPlusR, "write DVD+R"}, {cap::WriteDVDPlusRDL, "write DVD+R DL"},
      {cap::WriteDVDPlusRW, "write DVD+RW"}, {cap::UnderrunFree, "buffer underrun protection"},
  };
  std::vector<std::string> names;
  for (const auto& n : kNames)
    if (capabilities & n.Bit) names.push_back(n.Name);
  return names;
}

std::vector<std::string> WriteModeNames(uint8_t writeModes) {
  std::vector<std::string> names;
  if (writeModes & wmode::RAW) names.push_back("RAW");
  if (writeModes & wmode::SAO) names.push_back("SAO");
  if (writeModes & wmode::TAO) names.push_back("TAO");
  return names;
}

DriveQuirks QuirksFromInquiry(const uint8_t* inquiry) {
  DriveQuirks quirks;
  std::string vendor = Trimmed(inquiry + 8, 8);
  const std::string product = Trimmed(inquiry + 16, 16);
  const std::string rawProduct(reinterpret_cast<const char*>(inquiry + 16), 16);
  if (vendor.size() < 3) vendor = "     ";
  quirks.ForceUnderrunFree = product == "CD-W512EB";
  quirks.LinkSizeQuirk = product == "CRX175E" || product == "CD-RW  CRX800E";
  quirks.SlowReadyQuirk = product.rfind("UJDA", 0) == 0 || vendor.rfind("TDK", 0) == 0;
  quirks.SlowReadyModel = rawProduct == "DVD-RW  DVR-103 " || rawProduct == "DVD-RW  DVR-104 ";
  quirks.CloseImmediate = product != "CDRW321040X";
  return quirks;
}

void PrepareWriteModeTestPage(uint8_t* page, uint8_t writeType) {
  page[0] &= 0x3F;  // the savable bit is reserved in MODE SELECT data
  page[4] = 0;
  page[2] = writeType;
  if (writeType == 3) page[4] = 1;
  page[3] = 0;
  page[8] = 0;
  page[9] = 0;
  WriteBE16(page + 14, 150);
}

uint16_t TSCSIDevice::CapabilityWord(unsigned offset) const {
  if (offset + 2 > sizeof CapabilityPage) return 0;
  uint16_t value;
  std::memcpy(&value, CapabilityPage + offset, 2);
  return value;
}

bool TSCSIDevice::ReadCapabilities() {
  Capabilities = 0;
  DeviceMaxWriteSpeed = 0;
  DeviceMaxReadSpeed = 0;
  std::memset(CapabilityPage, 0, sizeof CapabilityPage);
  uint8_t work[kWorkSize] = {};

  size_t fallback = 8;
  if (ModeSense10(0x2A, true, work, kWorkSize)) {
    const size_t offset = FindModePage(work, kWorkSize, 0x2A, 8);
    ShiftPage(work, kWorkSize, offset);
    std::memcpy(CapabilityPage, work, kWorkSize);
    Capabilities |= CapabilitiesFromPage(work);

    uint8_t page30[128] = {};
    if (ModeSense10(0x30, false, page30, sizeof page30) &&
        FindModePage(page30, sizeof page30, 0x30, 0) != 0)
      Capabilities |= cap::UnderrunFree;

    const bool writesDvdRam = (work[3] & 0x20) != 0;
    const uint16_t maxWrite = ReadBE16(work + 18);
    const uint16_t maxRead = ReadBE16(work + 8);
    DeviceMaxWriteSpeed = maxWrite != 0 ? maxWrite : (writesDvdRam ? 1 : 0);
    DeviceMaxReadSpeed = maxRead != 0 ? maxRead : (writesDvdRam ? 1 : 0);

    for (uint16_t feature : {uint16_t{0x002A}, uint16_t{0x003B}, uint16_t{0x002F}}) {
      alignas(8) uint8_t answer[114] = {};
      if (GetConfiguration(2, feature, sizeof answer, answer))
        Capabilities |=
            CapabilitiesFromFeature(feature, answer, Received(answer, sizeof answer).size());
    }
  } else {
    fallback = 15;
  }
  if (ForceUnderrunFree) Capabilities |= cap::UnderrunFree;

  std::memset(work, 0, sizeof work);
  if (!ModeSense10(0x2A, false, work, 128)) return false;
  ShiftPage(work, kWorkSize, FindModePage(work, 128, 0x2A, fallback));
  std::memcpy(CapabilityPage, work, kWorkSize);
  std::memset(CapabilityPage + kWorkSize, 0, sizeof CapabilityPage - kWorkSize);

  if (ReadBE16(CapabilityPage + 20) == 0) WriteBE16(CapabilityPage + 20, kDefaultWriteSpeed);
  if (ReadBE16(CapabilityPage + 18) == 0) WriteBE16(CapabilityPage + 18, kDefaultWriteSpeed);
  for (unsigned offset : {20u, 18u, 14u, 8u, 12u}) {
    const uint16_t value = ReadBE16(CapabilityPage + offset);
    std::memcpy(CapabilityPage + offset, &value, 2);
  }

  DeviceMaxWriteSpeed = std::max(DeviceMaxWriteSpeed, CapabilityWord(18));
  DeviceMaxReadSpeed = std::max(DeviceMaxReadSpeed, CapabilityWord(8));
  return true;
}

uint16_t TSCSIDevice::QueryMaxReadSpeed() {
  return ReadCapabilities() ? CapabilityWord(8) : 0;
}

uint16_t TSCSIDevice::QueryCurrentWriteSpeed() {
  return ReadCapabilities() ? CapabilityWord(20) : 0;
}

bool TSCSIDevice::WriteModeTest(uint8_t writeType) {
  constexpr size_t kAnswerSize = 512;
  uint8_t answer[kAnswerSize] = {};
  if (!ModeSense10(0x05, false, answer, kAnswerSize)) return false;
  const size_t got = std::min<size_t>(LastDataTransferred(), kAnswerSize);
  const size_t offset = (answer[16] & 0x3F) == 0x05 ? 16 : 8;
  std::memcpy(WriteParametersPage, answer + offset, sizeof WriteParametersPage);

  // The page as the drive described it, limited to what it actually sent.
  const size_t pageLength = size_t{answer[offset + 1]} + 2;
  if (got <= offset || pageLength < 16 || pageLength > got - offset) return false;
  uint8_t list[8 + 2 + 255] = {};  // header and the longest page a length byte can describe
  std::memcpy(list + 8, answer + offset, pageLength);
  PrepareWriteModeTestPage(list + 8, writeType);
  return ModeSelect10(list, static_cast<uint16_t>(8 + pageLength));
}

void TSCSIDevice::ProbeWriteModes() {
  WriteModes = 0;
  if (WriteModeTest(3)) WriteModes |= wmode::RAW;
  if (WriteModeTest(2)) WriteModes |= wmode::SAO;
  if (WriteModeTest(1)) WriteModes |= wmode::TAO;
}

void TSCSIDevice::SetQuirks() {
  const DriveQuirks quirks = QuirksFromInquiry(InquiryBuffer);
  ForceUnderrunFree = quirks.ForceUnderrunFree;
  LinkSizeQuirk = quirks.LinkSizeQuirk;
  SlowReadyModel = quirks.SlowReadyModel;
  SlowReadyQuirk.store(quirks.SlowReadyQuirk);
  CloseImmediate.store(quirks.CloseImmediate);
}

}  // namespace brennix
