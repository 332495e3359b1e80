#include "virtual_recorder/virtual_recorder.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iterator>

#include "platform/clock.h"
#include "virtual_recorder/recorder_reply.h"
#include "virtual_recorder/session_export.h"

namespace brennix {

namespace {

// Length of the command block for each operation-code group (the top three bits).
constexpr size_t kCdbLengths[8] = {6, 10, 10, 6, 16, 12, 6, 6};

// When a command is answered: also while the drive blanks, formats or closes (and without a
// disc); without a disc; only with a disc in the closed tray.
enum class Answered { EvenWhileBusy, WithoutDisc, WithDisc };

// What a command that needs a disc meets when there is none.
std::optional<sense::Code> NoMedium(const DiscState& disc) {
  if (disc.trayOpen) return sense::kNoMediumTrayOpen;
  if (disc.profile == MediaProfile::None) return sense::kNoMediumTrayClosed;
  return std::nullopt;
}

void PadField(uint8_t* out, const std::string& text, size_t width) {
  std::memset(out, ' ', width);
  std::memcpy(out, text.data(), std::min(text.size(), width));
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Creation and persistence

VirtualRecorder::VirtualRecorder(std::string path, const RecorderOptions& options)
    : path_(std::move(path)), statePath_(path_ + ".state"), options_(options) {
  // Write parameters page as a drive starts: track at once, mode 1 data.
  constexpr uint8_t kStartPage05[] = {0x05, 0x32, 0x01, 0x04, 0x08, 0, 0, 0,
                                      0,    0,    0,    0,    0,    0, 0, 0x96};
  std::memcpy(page05_, kStartPage05, sizeof kStartPage05);
  const uint64_t now = TickCount();
  for (const auto& fault : options_.faults) faults_.push_back(ActiveFault{fault, fault.count, now});
}

std::shared_ptr<VirtualRecorder> VirtualRecorder::Create(const std::string& path,
                                                         std::optional<MediaProfile> profile,
                                                         const RecorderOptions& options,
                                                         std::string& error) {
  if (path.empty()) {
    error = "a virtual recorder needs a disc file path";
    return nullptr;
  }
  std::shared_ptr<VirtualRecorder> recorder(new VirtualRecorder(path, options));
  if (profile == MediaProfile::None) {
    recorder->disc_ = BlankDisc(MediaProfile::None, options.cdSize);
    return recorder;
  }
  if (!recorder->file_.Open(path, error)) return nullptr;
  if (!recorder->file_.LockExclusive()) {
    // Whoever has the disc may be recording on it right now: say who, and do not wait.
    error = path + ": " + DriveBusyText(DescribeBusyDrive({path}, false));
    return nullptr;
  }
  const uint64_t fileSectors = recorder->file_.SizeSectors();
  struct stat info {};
  DiscState disc;
  if (::stat(recorder->statePath_.c_str(), &info) == 0) {
    if (!LoadDiscState(recorder->statePath_, disc, error)) return nullptr;
    // A DVD-RW changes its recording mode when it is formatted or blanked; naming either
    // mode still means this disc.
    const auto isDvdRw = [](MediaProfile p) {
      return p == MediaProfile::DvdRwRestricted || p == MediaProfile::DvdRwSequential;
    };
    if (profile && *profile != disc.profile && !(isDvdRw(*profile) && isDvdRw(disc.profile))) {
      if (HoldsData(disc) || fileSectors != 0) {
        error = path + " holds a " + std::string(ProfileName(disc.profile)) +
                " disc; leave out the profile to use it, or choose another file for a " +
                std::string(ProfileName(*profile)) + " disc";
        return nullptr;
      }
      disc = BlankDisc(*profile, options.cdSize);
    }
  } else if (fileSectors != 0) {
    MediaProfile kind = MediaProfile::CdRom;
    if (profile) {
      kind = *profile;
    } else if (fileSectors > MediaCapacitySectors(MediaProfile::CdRom, CdSize::Minutes80)) {
      kind = MediaProfile::DvdRom;
    }
    const uint64_t limit = IsReadOnlyMedia(kind) ? UINT32_MAX : MediaCapacitySectors(kind, options.cdSize);
    if (fileSectors > limit) {
      error = path + " holds more sectors than a " + std::string(ProfileName(kind)) + " disc";
      return nullptr;
    }
    disc = DiscHoldingImage(kind, options.cdSize, static_cast<uint32_t>(fileSectors));
  } else {
    disc = BlankDisc(profile.value_or(MediaProfile::CdR), options.cdSize);
  }
  recorder->disc_ = disc;
  // A disc that cannot be saved (a read-only file or folder) can still be read; whatever
  // would change it fails, as the first save does.
  std::string saveError;
  if (!SaveDiscState(recorder->statePath_, disc, saveError)) recorder->dirty_ = true;
  return recorder;
}

VirtualRecorder::~VirtualRecorder() {
  std::lock_guard lock(mutex_);
  if (dirty_) Persist();
}

bool VirtualRecorder::Persist(bool durable) {
  if (disc_.profile == MediaProfile::None || !file_.IsOpen()) return true;
  std::string error;
  // A failed save leaves the previous state file in place; the next change tries again.
  dirty_ = !SaveDiscState(statePath_, disc_, error, durable);
  writesSinceSave_ = 0;
  lastSaveMs_ = TickCount();
  return !dirty_;
}

bool VirtualRecorder::SaveOrFail(Reply& reply) {
  if (Persist()) return true;
  reply.Fail(sense::kLogicalUnitFailure);
  return false;
}

bool VirtualRecorder::MarkDirty() {
  dirty_ = true;
  // Growth of a track is saved now and then rather than after every WRITE: after 256 of
  // them, and not more than once a second (a new state file each time costs the file
  // system a journal entry, which a fast writer would otherwise wait for again and again).
  // Closing, flushing and every change of the layout save at once.
  if (++writesSinceSave_ >= 256 && TickCount() - lastSaveMs_ >= 1000) return Persist(false);
  return true;
}

bool VirtualRecorder::Flush(std::string& error) {
  std::lock_guard lock(mutex_);
  if (disc_.profile == MediaProfile::None) return true;
  if (!SaveDiscState(statePath_, disc_, error)) return false;
  dirty_ = false;
  return true;
}

bool VirtualRecorder::ExportSession(uint32_t session, const std::string& outPath,
                                    std::string& error) {
  std::lock_guard lock(mutex_);
  if (disc_.profile == MediaProfile::None) {
    error = "the drive holds no disc";
    return false;
  }
  if (!SaveDiscState(statePath_, disc_, error)) return false;
  dirty_ = false;
  return ExportSessionIso(path_, session, outPath, error);
}

DiscState VirtualRecorder::Disc() const {
  std::lock_guard lock(mutex_);
  return disc_;
}

bool VirtualRecorder::TrayOpen() const {
  std::lock_guard lock(mutex_);
  return disc_.trayOpen;
}

bool VirtualRecorder::RemovalPrevented() const {
  std::lock_guard lock(mutex_);
  return removalPrevented_;
}

void VirtualRecorder::AddFault(const RecorderFault& fault) {
  std::lock_guard lock(mutex_);
  faults_.push_back(ActiveFault{fault, fault.count, TickCount()});
}

void VirtualRecorder::ClearFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

// ---------------------------------------------------------------------------------------
// Execution

CommandResult VirtualRecorder::Execute(const uint8_t* cdb, size_t cdbLength,
                                       DataDirection direction, uint8_t* data,
                                       uint32_t dataLength) {
  Reply reply(direction, data, dataLength);
  if (cdb == nullptr || cdbLength == 0 || cdbLength > 16) {
    reply.Fail(sense::kInvalidOpcode);
    return reply.result();
  }
  std::lock_guard lock(mutex_);
  slowDelayMs_ = 0;
  ++commandsSeen_[cdb[0]];
  Dispatch(cdb, cdbLength, reply);
  CommandResult result = reply.result();
  result.durationMs = static_cast<uint32_t>(
      std::min<uint64_t>(uint64_t{result.durationMs} + slowDelayMs_, UINT32_MAX));
  return result;
}

uint32_t VirtualRecorder::CommandsSeen(int opcode) const {
  std::lock_guard lock(mutex_);
  if (opcode >= 0 && opcode < 256) return commandsSeen_[static_cast<size_t>(opcode)];
  uint32_t all = 0;
  for (const uint32_t seen : commandsSeen_) all += seen;
  return all;
}

bool VirtualRecorder::ApplyFault(uint8_t opcode, Reply& reply) {
  const uint64_t now = TickCount();
  for (size_t i = 0; i < faults_.size();) {
    ActiveFault& active = faults_[i];
    const RecorderFault& fault = active.fault;
    const bool timed = fault.durationMs != 0;
    if (timed ? now - active.armedAt >= fault.durationMs : active.remaining == 0) {
      faults_.erase(faults_.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    const bool matches = fault.opcode < 0 || fault.opcode == opcode;
    // A drive that is not ready still identifies itself and reports why.
    const bool exempt = fault.kind == RecorderFault::Kind::NotReady && fault.opcode < 0 &&
                        (opcode == op::INQUIRY || opcode == op::REQUEST_SENSE);
    if (!matches || exempt) {
      ++i;
      continue;
    }
    if (!timed) --active.remaining;
    if (fault.kind == RecorderFault::Kind::Slow) {  // slows the answer, does not replace it
      slowDelayMs_ += fault.delayMs;
      ++i;
      continue;
    }
    switch (fault.kind) {
      case RecorderFault::Kind::Slow:
        break;
      case RecorderFault::Kind::Busy:
        reply.Busy();
        break;
      case RecorderFault::Kind::NotReady:
        reply.Fail({0x02, 0x04, fault.ascq});
        break;
      case RecorderFault::Kind::Sense:
        reply.Fail({fault.key, fault.asc, fault.ascq});
        break;
      case RecorderFault::Kind::NoAnswer:
        reply.result().noAnswer = true;
        break;
    }
    return true;
  }
  return false;
}

// The condition REQUEST SENSE reports and a medium command meets.
void VirtualRecorder::CurrentCondition(uint8_t out[18]) {
  const uint64_t now = TickCount();
  for (const auto& active : faults_) {
    const RecorderFault& fault = active.fault;
    const bool live = fault.durationMs != 0 ? now - active.armedAt < fault.durationMs
                                            : active.remaining != 0;
    if (live && fault.kind == RecorderFault::Kind::NotReady && fault.opcode < 0)
      return BuildFixedSense(out, {0x02, 0x04, fault.ascq});
  }
  if (now < busyUntil_) {
    const uint64_t span = std::max<uint64_t>(busyUntil_ - busyStart_, 1);
    const int progress = static_cast<int>((now - busyStart_) * 65536 / span);
    return BuildFixedSense(out, {0x02, 0x04, busyAscq_}, progress);
  }
  BuildFixedSense(out, NoMedium(disc_).value_or(sense::Code{0, 0, 0}));
}

void VirtualRecorder::Dispatch(const uint8_t* cdb, size_t cdbLength, Reply& reply) {
  // The commands the recorder answers, each with when it does and its handler (none: it only
  // succeeds).
  static constexpr struct {
    uint8_t opcode;
    Answered when;
    void (VirtualRecorder::*run)(const uint8_t*, Reply&);
  } kCommands[] = {
      {op::TEST_UNIT_READY, Answered::WithDisc, nullptr},
      {op::REZERO_UNIT, Answered::WithDisc, nullptr},
      {op::REQUEST_SENSE, Answered::EvenWhileBusy, &VirtualRecorder::RequestSense},
      {op::FORMAT_UNIT, Answered::WithDisc, &VirtualRecorder::FormatUnit},
      {op::INQUIRY, Answered::EvenWhileBusy, &VirtualRecorder::Inquiry},
      {op::START_STOP_UNIT, Answered::WithoutDisc, &VirtualRecorder::StartStopUnit},
      {op::PREVENT_ALLOW_REMOVAL, Answered::WithoutDisc, &VirtualRecorder::PreventAllow},
      {op::READ_FORMAT_CAPACITIES, Answered::WithDisc, &VirtualRecorder::ReadFormatCapacities},
      {op::READ_CAPACITY, Answered::WithDisc, &VirtualRecorder::ReadCapacity},
      {op::READ_10, Answered::WithDisc, &VirtualRecorder::Read10},
      {op::WRITE_10, Answered::WithDisc, &VirtualRecorder::Write10},
      {op::SYNCHRONIZE_CACHE, Answered::WithDisc, &VirtualRecorder::SynchronizeCache},
      {op::READ_TOC, Answered::WithDisc, &VirtualRecorder::ReadToc},
      {op::GET_CONFIGURATION, Answered::EvenWhileBusy, &VirtualRecorder::GetConfiguration},
      {op::READ_DISC_INFORMATION, Answered::WithDisc, &VirtualRecorder::ReadDiscInformation},
      {op::READ_TRACK_INFORMATION, Answered::WithDisc, &VirtualRecorder::ReadTrackInformation},
      {op::RESERVE_TRACK, Answered::WithDisc, &VirtualRecorder::ReserveTrack},
      {op::SEND_OPC_INFORMATION, Answered::WithDisc, &VirtualRecorder::SendOpc},
      {op::MODE_SELECT_10, Answered::WithoutDisc, &VirtualRecorder::ModeSelect},
      {op::MODE_SENSE_10, Answered::EvenWhileBusy, &VirtualRecorder::ModeSense},
      {op::CLOSE_TRACK_SESSION, Answered::WithDisc, &VirtualRecorder::CloseTrackSession},
      {op::READ_BUFFER_CAPACITY, Answered::EvenWhileBusy, &VirtualRecorder::ReadBufferCapacity},
      {op::BLANK, Answered::WithDisc, &VirtualRecorder::Blank},
      {op::SET_STREAMING, Answered::WithoutDisc, &VirtualRecorder::SetStreaming},
      {op::SET_CD_SPEED, Answered::WithoutDisc, &VirtualRecorder::SetCdSpeed},
      {op::SEND_DVD_STRUCTURE, Answered::WithDisc, &VirtualRecorder::SendDvdStructure},
  };
  const uint8_t opcode = cdb[0];
  if (ApplyFault(opcode, reply)) return;
  const auto* command = std::find_if(std::begin(kCommands), std::end(kCommands),
                                     [opcode](const auto& c) { return c.opcode == opcode; });
  // An unknown operation code is refused whatever state the drive is in.
  if (command == std::end(kCommands)) return reply.Fail(sense::kInvalidOpcode);
  if (cdbLength < kCdbLengths[opcode >> 5]) return reply.Fail(sense::kInvalidField);
  const uint64_t now = TickCount();
  if (now < busyUntil_ && command->when != Answered::EvenWhileBusy) {
    uint8_t condition[18];
    CurrentCondition(condition);
    return reply.Fail({condition[2], condition[12], condition[13]},
                      condition[15] != 0 ? static_cast<int>(ReadBE16(condition + 16)) : -1);
  }
  if (command->when == Answered::WithDisc) {
    if (const auto missing = NoMedium(disc_)) return reply.Fail(*missing);
  }
  if (command->run != nullptr) (this->*command->run)(cdb, reply);
}

// ---------------------------------------------------------------------------------------
// Identity, tray, mode pages and features

void VirtualRecorder::Inquiry(const uint8_t* cdb, Reply& reply) {
  if ((cdb[1] & 0x01) != 0 || cdb[2] != 0) return reply.Fail(sense::kInvalidField);
  uint8_t answer[96] = {};
  answer[0] = options_.peripheralType;
  answer[1] = 0x80;  // removable medium
  answer[2] = 0x05;
  answer[3] = 0x32;
  answer[4] = sizeof answer - 5;
  PadField(answer + 8, options_.vendor, 8);
  PadField(answer + 16, options_.product, 16);
  PadField(answer + 32, options_.revision, 4);
  std::memset(answer + 36, ' ', 20);
  reply.Send(answer, sizeof answer, (ReadBE16(cdb + 3)));
}

void VirtualRecorder::RequestSense(const uint8_t* cdb, Reply& reply) {
  uint8_t answer[18];
  CurrentCondition(answer);
  reply.Send(answer, sizeof answer, cdb[4]);
}

void VirtualRecorder::StartStopUnit(const uint8_t* cdb, Reply& reply) {
  const bool loadEject = (cdb[4] & 0x02) != 0;
  const bool start = (cdb[4] & 0x01) != 0;
  if (!loadEject) return;  // spindle control only
  if (!start) {
    if (removalPrevented_) return reply.Fail(sense::kRemovalPrevented);
    // A changer takes the disc out and puts a blank one in; its tray never stays open.
    if (options_.changer) {
      if (!ChangeDisc()) reply.Fail(sense::kLogicalUnitFailure);
    } else {
      disc_.trayOpen = true;
    }
    SaveOrFail(reply);
  } else if (disc_.trayOpen) {
    disc_.trayOpen = false;
    SaveOrFail(reply);
  }
}

bool VirtualRecorder::ChangeDisc() {
  // The disc taken out goes to the first free PATH.N; a blank one of its kind comes in.
  std::string kept;
  for (int n = 1; kept.empty() && n < 10000; ++n) {
    const std::string candidate = path_ + "." + std::to_string(n);
    std::error_code ignored;
    if (!std::filesystem::exists(candidate, ignored)) kept = candidate;
  }
  std::error_code failed;
  std::string error;
  if (kept.empty() || !std::filesystem::copy_file(path_, kept, failed) ||
      !SaveDiscState(kept + ".state", disc_, error, false) || !file_.Clear())
    return false;
  disc_ = BlankDisc(disc_.profile, disc_.cdSize);
  return true;
}

void VirtualRecorder::PreventAllow(const uint8_t* cdb, Reply& /*reply*/) {
  removalPrevented_ = (cdb[4] & 0x01) != 0;
}

std::vector<uint8_t> VirtualRecorder::CapabilitiesPage() const {
  // Speeds are those of the medium in the drive; with the tray open, the drive's own.
  const MediaProfile profile = disc_.trayOpen ? MediaProfile::None : disc_.profile;
  const bool writable = !IsReadOnlyMedia(profile);
  const uint16_t maxWrite = writable ? MaxWriteSpeedKBs(profile) : 0;
  const uint16_t maxRead = MaxReadSpeedKBs(profile);
  const uint16_t minWrite = IsCdMedia(profile) ? 706 : 1385;
  const uint16_t currentWrite =
      writable ? std::clamp<uint16_t>(writeSpeedKBs_, std::min(minWrite, maxWrite), maxWrite) : 0;
  const uint16_t currentRead = std::min<uint16_t>(readSpeedKBs_, maxRead);
  std::vector<uint8_t> page(writable ? 36 : 32, 0);
  page[0] = 0x2A;
  page[1] = static_cast<uint8_t>(page.size() - 2);
  page[2] = 0x3F;  // reads CD-R, CD-RW, method 2, DVD-ROM, DVD-R, DVD-RAM
  page[3] = 0x37;  // writes CD-R, CD-RW, DVD-R, DVD-RAM; test write
  page[4] = 0xF0;  // underrun-free recording, multi-session, mode 2 forms
  page[5] = 0x03;
  page[6] = static_cast<uint8_t>(0x29 | (removalPrevented_ ? 0x02 : 0x00));  // tray, eject, lock
  WriteBE16(&page[8], maxRead);
  WriteBE16(&page[12], options_.bufferBytes / 1024);
  WriteBE16(&page[14], currentRead);
  WriteBE16(&page[18], maxWrite);
  WriteBE16(&page[20], currentWrite);
  WriteBE16(&page[28], currentWrite);
  if (writable) {
    WriteBE16(&page[30], 1);
    WriteBE16(&page[34], maxWrite);
  }
  for (const auto& [offset, value] : options_.capabilityPagePatches) {
    if (offset >= 2 && offset < page.size()) page[offset] = value;
  }
  return page;
}

std::vector<uint8_t> VirtualRecorder::WriteParametersPage() const {
  return std::vector<uint8_t>(page05_, page05_ + sizeof page05_);
}

std::vector<uint8_t> VirtualRecorder::Page30() const {
  std::vector<uint8_t> page(16, 0);
  page[0] = 0x30;
  page[1] = 14;
  page[2] = 0x01;  // underrun protection enabled
  return page;
}

void VirtualRecorder::ModeSense(const uint8_t* cdb, Reply& reply) {
  const bool noDescriptor = (cdb[1] & 0x08) != 0;
  const uint8_t control = cdb[2] >> 6;
  const uint8_t pageCode = cdb[2] & 0x3F;
  if (control == 3) return reply.Fail(sense::kSavingNotSupported);
  std::vector<std::vector<uint8_t>> pages;
  const bool all = pageCode == 0x3F;
  if (pageCode == 0x05 || all) pages.push_back(WriteParametersPage());
  if (pageCode == 0x2A || all) pages.push_back(CapabilitiesPage());
  if ((pageCode == 0x30 || all) && options_.answersPage30) pages.push_back(Page30());
  if (pages.empty()) return reply.Fail(sense::kInvalidField);
  if (control == 1) {
    // Changeable values: the write parameters may be changed, nothing else.
    for (auto& page : pages) {
      const bool changeable = page[0] == 0x05;
      std::fill(page.begin() + 2, page.end(), changeable ? 0xFF : 0x00);
    }
  }
  const bool descriptor = options_.modeBlockDescriptor && !noDescriptor;
  std::vector<uint8_t> answer(8, 0);
  if (descriptor) {
    answer[7] = 8;
    uint8_t block[8] = {};
    WriteBE24(block + 1, std::min<uint32_t>(DiscCapacity(disc_), 0xFFFFFF));
    WriteBE24(block + 5, kSectorSize);
    answer.insert(answer.end(), block, block + 8);
  }
  for (const auto& page : pages) answer.insert(answer.end(), page.begin(), page.end());
  WriteBE16(answer.data(), static_cast<uint32_t>(answer.size() - 2));
  reply.Send(answer, ReadBE16(cdb + 7));
}

void VirtualRecorder::ModeSelect(const uint8_t* cdb, Reply& reply) {
  const uint32_t length = ReadBE16(cdb + 7);
  if (length == 0) return;
  const uint8_t* list = reply.ParameterData(length, 8);
  if (list == nullptr) return;
  const uint32_t descriptorLength = ReadBE16(list + 6);
  uint32_t offset = 8 + descriptorLength;
  while (offset < length) {
    if (length - offset < 2) return reply.Fail(sense::kParameterLength);
    const uint8_t code = list[offset] & 0x3F;
    const uint32_t pageLength = list[offset + 1] + 2u;
    if (pageLength > length - offset) return reply.Fail(sense::kParameterLength);
    const uint8_t* page = list + offset;
    if (code == 0x05) {
      if (pageLength < 16) return reply.Fail(sense::kParameterLength);
      const uint8_t writeType = page[2] & 0x0F;
      const uint8_t blockType = page[4] & 0x0F;
      const bool cd = IsCdMedia(disc_.profile);
      const bool badType = writeType > 4 || (writeType == 3 && !cd && disc_.profile != MediaProfile::None);
      const bool badBlock = (blockType >= 4 && blockType <= 7) ||
                            (writeType == 3 && (blockType < 1 || blockType > 3));
      if (badType || badBlock) return reply.Fail(sense::kInvalidParameter);
      uint8_t updated[sizeof page05_];
      std::memcpy(updated, page05_, sizeof updated);
      std::memcpy(updated + 2, page + 2, std::min<size_t>(pageLength, sizeof updated) - 2);
      updated[0] = 0x05;
      updated[1] = 0x32;
      if ((updated[2] & 0x10) != (page05_[2] & 0x10)) testWriteNext_.reset();
      std::memcpy(page05_, updated, sizeof page05_);
    } else if (code == 0x2A || (code == 0x30 && options_.answersPage30)) {
      // Accepted; nothing in them is changeable.
    } else {
      return reply.Fail(sense::kInvalidParameter);
    }
    offset += pageLength;
  }
}

namespace {

struct Feature {
  uint16_t code;
  std::vector<uint8_t> body;  // bytes after the 4-byte feature header
  bool current;
};

void AppendFeature(std::vector<uint8_t>& out, const Feature& feature, uint8_t version) {
  out.push_back(static_cast<uint8_t>(feature.code >> 8));
  out.push_back(static_cast<uint8_t>(feature.code));
  out.push_back(static_cast<uint8_t>((version << 2) | (feature.current ? 0x01 : 0x00) |
                                     (feature.code <= 0x0003 ? 0x02 : 0x00)));
  out.push_back(static_cast<uint8_t>(feature.body.size()));
  out.insert(out.end(), feature.body.begin(), feature.body.end());
}

}  // namespace

void VirtualRecorder::GetConfiguration(const uint8_t* cdb, Reply& reply) {
  const uint8_t requestType = cdb[1] & 0x03;
  const uint32_t startFeature = ReadBE16(cdb + 2);
  if (requestType == 3) return reply.Fail(sense::kInvalidField);
  const MediaProfile profile = disc_.trayOpen ? MediaProfile::None : disc_.profile;
  const uint16_t current = MmcProfileNumber(profile);
  const bool cd = IsCdMedia(profile);
  const bool dvd = profile != MediaProfile::None && !cd;

  std::vector<uint8_t> profileList;
  static constexpr MediaProfile kSupported[] = {
      MediaProfile::DvdPlusRDl, MediaProfile::DvdPlusR, MediaProfile::DvdPlusRw,
      MediaProfile::DvdRwSequential, MediaProfile::DvdRwRestricted, MediaProfile::DvdRam,
      MediaProfile::DvdR, MediaProfile::DvdRom, MediaProfile::CdRw, MediaProfile::CdR,
      MediaProfile::CdRom};
  for (MediaProfile supported : kSupported) {
    const uint16_t number = MmcProfileNumber(supported);
    profileList.push_back(static_cast<uint8_t>(number >> 8));
    profileList.push_back(static_cast<uint8_t>(number));
    profileList.push_back(number == current ? 0x01 : 0x00);
    profileList.push_back(0);
  }
  const bool plusRw = profile == MediaProfile::DvdPlusRw;
  const bool minusWrite = profile == MediaProfile::DvdR || profile == MediaProfile::DvdRwSequential;
  const std::vector<Feature> features = {
      {0x0000, profileList, true},
      {0x0001, {0x00, 0x00, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00}, true},  // core, ATAPI
      {0x0003, {0x29, 0x00, 0x00, 0x00}, true},                          // removable, tray
      {0x001E, {0x00, 0x00, 0x00, 0x00}, cd},                            // CD read
      {0x001F, {0x00, 0x00, 0x00, 0x00}, dvd},                           // DVD read
      {0x002A, {0x01, 0x00, 0x00, 0x00}, plusRw},                        // DVD+RW, writes
      {0x002B, {0x01, 0x00, 0x00, 0x00}, profile == MediaProfile::DvdPlusR},
      {0x002D, {0x46, 0x00, 0x3F, 0xFF}, profile == MediaProfile::CdR || profile == MediaProfile::CdRw},
      {0x002E, {0x7E, 0x00, 0xFF, 0xFF}, profile == MediaProfile::CdR || profile == MediaProfile::CdRw},
      {0x002F, {0x46, 0x00, 0x00, 0x00}, minusWrite},                    // BUF, test write, DVD-RW
      {0x003B, {0x01, 0x00, 0x00, 0x00}, profile == MediaProfile::DvdPlusRDl},
  };
  std::vector<uint8_t> answer(8, 0);
  WriteBE16(&answer[6], current);
  for (const auto& feature : features) {
    const bool wanted = requestType == 2 ? feature.code == startFeature
                                         : feature.code >= startFeature &&
                                               (requestType == 0 || feature.current);
    if (wanted) AppendFeature(answer, feature, feature.code == 0x0001 ? 2 : 0);
  }
  WriteBE32(answer.data(), static_cast<uint32_t>(answer.size() - 4));
  reply.Send(answer, ReadBE16(cdb + 7));
}

// ---------------------------------------------------------------------------------------
// Speed model

uint32_t VirtualRecorder::WriteRateKBs() const {
  if (options_.speed == SpeedModel::Unlimited) return 0;
  const uint32_t sustained = IsCdMedia(disc_.profile) ? options_.cdRateKBs : options_.dvdRateKBs;
  const uint32_t maxWrite = std::max<uint32_t>(MaxWriteSpeedKBs(disc_.profile), 1);
  const uint32_t minWrite = IsCdMedia(disc_.profile) ? 706 : 1385;
  const uint32_t chosen = std::clamp<uint32_t>(writeSpeedKBs_, std::min(minWrite, maxWrite), maxWrite);
  // The drive's fastest setting runs at its sustained rate; slower settings as asked.
  const uint32_t rate = std::min(chosen, sustained);
  return std::max<uint32_t>(rate, 1);
}

uint32_t VirtualRecorder::MillisecondsFor(uint64_t sectors) const {
  const uint32_t rate = WriteRateKBs();
  if (rate == 0) return 0;
  const uint64_t ms = sectors * kSectorSize / rate;  // bytes / (1000 bytes/s) * 1000 ms
  return static_cast<uint32_t>(std::min<uint64_t>(ms, UINT32_MAX));
}

uint64_t VirtualRecorder::BufferedBytes(uint64_t now) const {
  const uint32_t rate = WriteRateKBs();
  const uint64_t nowUs = now * 1000;
  if (rate == 0 || nowUs >= drainDoneAtUs_) return 0;
  // rate kB/s = rate bytes per millisecond
  return std::min<uint64_t>((drainDoneAtUs_ - nowUs) * rate / 1000, options_.bufferBytes);
}

uint32_t VirtualRecorder::DrainMs(uint64_t now) const {
  const uint64_t nowUs = now * 1000;
  if (nowUs >= drainDoneAtUs_) return 0;
  return static_cast<uint32_t>(std::min<uint64_t>((drainDoneAtUs_ - nowUs + 999) / 1000, UINT32_MAX));
}

void VirtualRecorder::StartLongOperation(uint32_t durationMs, uint8_t ascq, bool immediate,
                                         Reply& reply) {
  if (durationMs == 0) return;
  const uint64_t now = TickCount();
  busyStart_ = now;
  busyUntil_ = now + durationMs;
  busyAscq_ = ascq;
  if (!immediate) reply.result().durationMs = durationMs;
}

}  // namespace brennix
