// The virtual recorder's medium commands: disc and track information, reading, writing,
// closing, reserving, blanking and formatting.
#include <algorithm>
#include <cstring>

#include "platform/clock.h"
#include "virtual_recorder/recorder_reply.h"
#include "virtual_recorder/virtual_recorder.h"

namespace brennix {

namespace {

// MSF address (frames since 00:00:00) as 00 MM SS FF.
void PutMsf(uint8_t* p, uint32_t frames) {
  p[0] = 0;
  p[1] = static_cast<uint8_t>(frames / 4500);
  p[2] = static_cast<uint8_t>(frames / 75 % 60);
  p[3] = static_cast<uint8_t>(frames % 75);
}

// A TOC address: LBA, or MSF with the 2-second offset of logical block 0.
void PutTocAddress(uint8_t* p, uint32_t lba, bool msf) {
  if (msf) {
    PutMsf(p, lba + 150);
  } else {
    WriteBE32(p, lba);
  }
}

// ATIP lead-in start of the blanks we simulate: 97:27:00.
constexpr uint32_t kAtipLeadInFrames = 97u * 4500u + 27u * 75u;

}  // namespace

void VirtualRecorder::ReadDiscInformation(const uint8_t* cdb, Reply& reply) {
  if ((cdb[1] & 0x07) != 0) return reply.Fail(sense::kInvalidField);
  uint8_t answer[34] = {};
  WriteBE16(answer, sizeof answer - 2);
  answer[2] = static_cast<uint8_t>((IsErasableMedia(disc_.profile) ? 0x10 : 0x00) |
                                   (LastSessionStateCode(disc_) << 2) | DiscStatusCode(disc_));
  answer[3] = 1;
  const uint32_t sessions = SessionsOnDisc(disc_);
  const uint32_t count = TrackCount(disc_);
  uint32_t first = 0;
  uint32_t last = 0;
  for (uint32_t number = 1; number <= count; ++number) {
    const auto view = ViewTrack(disc_, number);
    if (view && view->session == sessions) {
      if (first == 0) first = number;
      last = number;
    }
  }
  if (first == 0) first = last = std::max<uint32_t>(count, 1);
  answer[4] = static_cast<uint8_t>(sessions);
  answer[5] = static_cast<uint8_t>(first);
  answer[6] = static_cast<uint8_t>(last);
  answer[9] = static_cast<uint8_t>(sessions >> 8);
  answer[10] = static_cast<uint8_t>(first >> 8);
  answer[11] = static_cast<uint8_t>(last >> 8);
  answer[7] = 0x20;  // unrestricted use
  if (disc_.profile == MediaProfile::DvdPlusRw && disc_.formatted) answer[7] |= 0x03;
  if (!Appendable(disc_)) {
    std::memset(answer + 16, 0xFF, 8);
  } else if (IsCdMedia(disc_.profile)) {
    if (disc_.tracks.empty()) {
      PutMsf(answer + 16, kAtipLeadInFrames);
    } else {
      PutMsf(answer + 16, NextTrackStart(disc_) + 150 - 4650);
    }
    PutMsf(answer + 20, AtipLeadOutFrames(disc_.cdSize));
  } else {
    WriteBE32(answer + 16, NextTrackStart(disc_));
    WriteBE32(answer + 20, DiscCapacity(disc_));
  }
  reply.Send(answer, sizeof answer, ReadBE16(cdb + 7));
}

void VirtualRecorder::ReadTrackInformation(const uint8_t* cdb, Reply& reply) {
  const uint8_t addressType = cdb[1] & 0x03;
  const uint32_t value = ReadBE32(cdb + 2);
  const uint32_t count = TrackCount(disc_);
  std::optional<uint32_t> number;
  switch (addressType) {
    case 0:
      number = TrackContaining(disc_, value);
      if (!number) return reply.Fail(sense::kLbaOutOfRange);
      break;
    case 1:
      if (value == 0 && !IsCdMedia(disc_.profile)) {
        // Track 0 is the lead-in of a CD only.
        if (options_.strictMmc) return reply.Fail(sense::kInvalidField);
        number = count;  // on DVD, track 0 is the last track
      } else if (value == 0xFF && IsSequentialMedia(disc_.profile) && Appendable(disc_)) {
        number = count;  // FFh names the invisible track
      } else {
        number = value;
      }
      break;
    case 2:
      for (uint32_t n = 1; n <= count && !number; ++n) {
        const auto view = ViewTrack(disc_, n);
        if (view && view->session == value) number = n;
      }
      break;
    default:
      break;
  }
  const auto view = number ? ViewTrack(disc_, *number) : std::nullopt;
  if (!view) return reply.Fail(sense::kInvalidField);
  uint8_t answer[48] = {};
  WriteBE16(answer, sizeof answer - 2);
  answer[2] = static_cast<uint8_t>(view->number);
  answer[3] = static_cast<uint8_t>(view->session);
  const bool dvdSequential = view->incremental && !IsCdMedia(disc_.profile);
  answer[5] = dvdSequential ? 0x05 : 0x04;  // data track, incremental on DVD
  answer[6] = static_cast<uint8_t>((view->reserved ? 0x80 : 0x00) | (view->blank ? 0x40 : 0x00) |
                                   (dvdSequential ? 0x30 : 0x00) | (view->blank ? 0x0F : 0x01));
  answer[7] = static_cast<uint8_t>((view->recorded != 0 ? 0x02 : 0x00) | (view->nwaValid ? 0x01 : 0x00));
  WriteBE32(answer + 8, view->start);
  WriteBE32(answer + 12, view->nwaValid ? view->nextWritable : 0);
  WriteBE32(answer + 16, view->freeBlocks);
  WriteBE32(answer + 20, dvdSequential ? 16 : 0);
  WriteBE32(answer + 24, view->size);
  WriteBE32(answer + 28, view->recorded != 0 ? view->start + view->recorded - 1 : 0);
  answer[32] = static_cast<uint8_t>(view->number >> 8);
  answer[33] = static_cast<uint8_t>(view->session >> 8);
  reply.Send(answer, sizeof answer, ReadBE16(cdb + 7));
}

void VirtualRecorder::ReadToc(const uint8_t* cdb, Reply& reply) {
  const bool msf = (cdb[1] & 0x02) != 0;
  uint8_t format = cdb[2] & 0x0F;
  if (format == 0) format = cdb[9] >> 6;  // the older place of the format field
  const uint32_t allocation = ReadBE16(cdb + 7);

  if (format == 4) {
    if (disc_.profile != MediaProfile::CdR && disc_.profile != MediaProfile::CdRw)
      return reply.Fail(sense::kInvalidField);
    uint8_t answer[28] = {};
    WriteBE16(answer, sizeof answer - 2);
    answer[4] = 0x50;  // indicative writing power
    answer[6] = static_cast<uint8_t>(0x80 | (disc_.profile == MediaProfile::CdRw ? 0x40 : 0x00));
    uint8_t msfBytes[4];
    PutMsf(msfBytes, kAtipLeadInFrames);
    std::memcpy(answer + 8, msfBytes + 1, 3);
    PutMsf(msfBytes, AtipLeadOutFrames(disc_.cdSize));
    std::memcpy(answer + 12, msfBytes + 1, 3);
    reply.Send(answer, sizeof answer, allocation);
    return;
  }

  // Tracks of the complete sessions, as a drive lists them.
  struct Entry {
    uint32_t number;
    uint32_t session;
    uint32_t start;
  };
  std::vector<Entry> entries;
  uint32_t leadOut = 0;
  if (IsSequentialMedia(disc_.profile)) {
    for (size_t i = 0; i < disc_.tracks.size(); ++i) {
      const RecordedTrack& track = disc_.tracks[i];
      if (track.session > disc_.closedSessions) break;
      entries.push_back({static_cast<uint32_t>(i + 1), track.session, track.start});
      leadOut = track.start + track.recorded;
    }
  } else {
    const uint32_t end = IsOverwritableMedia(disc_.profile) && disc_.formatted
                             ? std::max(disc_.highWater, DiscCapacity(disc_))
                             : disc_.highWater;
    if (end != 0) entries.push_back({1, 1, 0});
    leadOut = end;
  }
  if (entries.empty()) return reply.Fail(sense::kInvalidField);
  std::vector<uint8_t> answer(4, 0);
  auto addDescriptor = [&](uint32_t number, uint32_t start) {
    uint8_t descriptor[8] = {};
    descriptor[1] = 0x14;  // ADR 1, data track
    descriptor[2] = static_cast<uint8_t>(number);
    PutTocAddress(descriptor + 4, start, msf);
    answer.insert(answer.end(), descriptor, descriptor + 8);
  };
  if (format == 0) {
    const uint32_t from = cdb[6];
    answer[2] = static_cast<uint8_t>(entries.front().number);
    answer[3] = static_cast<uint8_t>(entries.back().number);
    if (from > entries.back().number && from != 0xAA) return reply.Fail(sense::kInvalidField);
    for (const auto& entry : entries) {
      if (entry.number >= from) addDescriptor(entry.number, entry.start);
    }
    addDescriptor(0xAA, leadOut);
  } else if (format == 1) {
    const Entry* firstOfLast = &entries.front();
    for (const auto& entry : entries) {
      if (entry.session == entries.back().session) {
        firstOfLast = &entry;
        break;
      }
    }
    answer[2] = 1;
    answer[3] = static_cast<uint8_t>(entries.back().session);
    addDescriptor(firstOfLast->number, firstOfLast->start);
  } else {
    return reply.Fail(sense::kInvalidField);
  }
  WriteBE16(answer.data(), static_cast<uint32_t>(answer.size() - 2));
  reply.Send(answer, allocation);
}

void VirtualRecorder::ReadCapacity(const uint8_t* /*cdb*/, Reply& reply) {
  uint32_t last = 0;
  if (IsSequentialMedia(disc_.profile)) {
    for (const auto& track : disc_.tracks) {
      if (track.recorded != 0) last = track.start + track.recorded - 1;
    }
  } else if (IsOverwritableMedia(disc_.profile)) {
    if (disc_.formatted) last = DiscCapacity(disc_) - 1;
  } else if (disc_.highWater != 0) {
    last = disc_.highWater - 1;
  }
  if (options_.strictMmc && DiscStatusCode(disc_) == 0) last = 0;
  uint8_t answer[8];
  WriteBE32(answer, last);
  WriteBE32(answer + 4, kSectorSize);
  reply.Send(answer, sizeof answer, sizeof answer);
}

void VirtualRecorder::ReadFormatCapacities(const uint8_t* cdb, Reply& reply) {
  if (options_.strictMmc &&
      (disc_.profile == MediaProfile::DvdR || disc_.profile == MediaProfile::DvdPlusR ||
       disc_.profile == MediaProfile::DvdPlusRDl))
    return reply.Fail(sense::kInvalidOpcode);  // nothing to format on write-once media
  const uint32_t capacity = DiscCapacity(disc_);
  struct Descriptor {
    uint32_t blocks;
    uint8_t typeByte;
    uint32_t parameter;
  };
  std::vector<Descriptor> list;
  const uint8_t state = HoldsData(disc_) ? 0x02 : 0x01;
  switch (disc_.profile) {
    case MediaProfile::DvdPlusRw:
      list = {{capacity, static_cast<uint8_t>(disc_.formatted ? 0x02 : 0x01), kSectorSize},
              {capacity, 0x26 << 2, 0}};
      break;
    case MediaProfile::DvdRam:
      list = {{capacity, 0x02, kSectorSize}, {capacity, 0x00, kSectorSize}};
      break;
    case MediaProfile::DvdRwRestricted:
      list = {{capacity, 0x02, kSectorSize},
              {capacity, 0x00, kSectorSize},
              {capacity, 0x13 << 2, 16},
              {capacity, 0x15 << 2, 16}};
      break;
    case MediaProfile::DvdRwSequential:
      list = {{capacity, state, kSectorSize},
              {capacity, 0x00, kSectorSize},
              {capacity, 0x15 << 2, 16},
              {capacity, 0x10 << 2, 16}};
      break;
    case MediaProfile::CdRw:
      list = {{capacity, state, kSectorSize}, {capacity, 0x10 << 2, 16}};
      break;
    default:
      list = {{capacity, IsReadOnlyMedia(disc_.profile) ? uint8_t{0x02} : state, kSectorSize}};
      break;
  }
  std::vector<uint8_t> answer(4, 0);
  answer[3] = static_cast<uint8_t>(list.size() * 8);
  for (const auto& descriptor : list) {
    uint8_t bytes[8];
    WriteBE32(bytes, descriptor.blocks);
    bytes[4] = descriptor.typeByte;
    WriteBE24(bytes + 5, descriptor.parameter);
    answer.insert(answer.end(), bytes, bytes + 8);
  }
  reply.Send(answer, ReadBE16(cdb + 7));
}

void VirtualRecorder::Read10(const uint8_t* cdb, Reply& reply) {
  const uint32_t lba = ReadBE32(cdb + 2);
  const uint32_t count = ReadBE16(cdb + 7);
  if (count == 0) return;
  if (!Readable(disc_, lba, count)) {
    // Within a write-once disc, a sector no recording reached reads as blank, as on a drive.
    const bool withinDisc = uint64_t{lba} + count <= DiscCapacity(disc_);
    return reply.Fail(IsSequentialMedia(disc_.profile) && withinDisc ? sense::kBlankCheck
                                                                     : sense::kLbaOutOfRange);
  }
  uint8_t* buffer = reply.InBuffer(static_cast<size_t>(count) * kSectorSize);
  if (buffer == nullptr) return reply.Fail(sense::kInvalidField);
  if (!file_.Read(lba, count, buffer)) reply.Fail(sense::kReadError);
}

void VirtualRecorder::Write10(const uint8_t* cdb, Reply& reply) {
  const uint32_t lba = ReadBE32(cdb + 2);
  const uint32_t count = ReadBE16(cdb + 7);
  if (IsReadOnlyMedia(disc_.profile)) return reply.Fail(sense::kCannotWriteIncompatible);
  if (count == 0) return;
  const uint8_t* data = reply.ParameterData(static_cast<size_t>(count) * kSectorSize);
  if (data == nullptr) return;
  const uint64_t end = static_cast<uint64_t>(lba) + count;
  const bool testWrite = (page05_[2] & 0x10) != 0;
  // A sector the options name is stored with one byte changed, and nothing is said.
  std::vector<uint8_t> spoiled;
  for (const uint32_t bad : options_.badSectors) {
    if (bad < lba || bad >= end) continue;
    if (spoiled.empty()) spoiled.assign(data, data + static_cast<size_t>(count) * kSectorSize);
    spoiled[static_cast<size_t>(bad - lba) * kSectorSize + 100] ^= 0x5A;
  }
  if (!spoiled.empty()) data = spoiled.data();

  if (IsOverwritableMedia(disc_.profile)) {
    if (!disc_.formatted) return reply.Fail(sense::kNotFormatted);
    if (end > DiscCapacity(disc_)) return reply.Fail(sense::kLbaOutOfRange);
    if (!testWrite) {
      if (!file_.Write(lba, count, data)) return reply.Fail(sense::kWriteError);
      disc_.highWater = std::max<uint32_t>(disc_.highWater, static_cast<uint32_t>(end));
      if (!MarkDirty()) return reply.Fail(sense::kLogicalUnitFailure);
    }
  } else {
    if (end > DiscCapacity(disc_)) return reply.Fail(sense::kLbaOutOfRange);
    std::optional<size_t> target;
    for (size_t i = 0; i < disc_.tracks.size(); ++i) {
      const RecordedTrack& track = disc_.tracks[i];
      if (TrackWritable(disc_, track) && track.start + track.recorded == lba) {
        target = i;
        break;
      }
    }
    const bool newTrack = !target && Appendable(disc_) && NextTrackStart(disc_) == lba;
    const bool simulatedNext = testWrite && testWriteNext_ && *testWriteNext_ == lba;
    if (!target && !newTrack && !simulatedNext) return reply.Fail(sense::kInvalidWriteAddress);
    if (target) {
      const RecordedTrack& track = disc_.tracks[*target];
      if (track.reserved != 0 && track.recorded + count > track.reserved)
        return reply.Fail(sense::kInvalidWriteAddress);
    }
    if (testWrite) {
      testWriteNext_ = static_cast<uint32_t>(end);
    } else {
      if (!file_.Write(lba, count, data)) return reply.Fail(sense::kWriteError);
      if (newTrack) {
        disc_.tracks.push_back(RecordedTrack{OpenSessionNumber(disc_), lba, 0, count, false});
        if (!SaveOrFail(reply)) return;
      } else {
        disc_.tracks[*target].recorded += count;
        if (!MarkDirty()) return reply.Fail(sense::kLogicalUnitFailure);
      }
    }
  }

  // The data goes through the drive buffer, which drains at the recording speed; a full
  // buffer holds the command until there is room.
  const uint32_t rate = WriteRateKBs();
  if (rate != 0) {
    const uint64_t now = TickCount();
    const uint64_t bytes = static_cast<uint64_t>(count) * kSectorSize;
    const uint64_t buffered = BufferedBytes(now);
    uint64_t waitMs = 0;
    if (buffered + bytes > options_.bufferBytes) {
      waitMs = (buffered + bytes - options_.bufferBytes + rate - 1) / rate;
    }
    drainDoneAtUs_ = std::max(drainDoneAtUs_, now * 1000) + bytes * 1000 / rate;
    reply.result().durationMs = static_cast<uint32_t>(std::min<uint64_t>(waitMs, UINT32_MAX));
  }
}

void VirtualRecorder::SynchronizeCache(const uint8_t* cdb, Reply& reply) {
  const bool immediate = (cdb[1] & 0x02) != 0;
  testWriteNext_.reset();
  if (dirty_ && !SaveOrFail(reply)) return;
  StartLongOperation(DrainMs(TickCount()), 0x08, immediate, reply);
}

void VirtualRecorder::CloseTrackSession(const uint8_t* cdb, Reply& reply) {
  const bool immediate = (cdb[1] & 0x01) != 0;
  const uint8_t function = cdb[2] & 0x07;
  const uint32_t trackNumber = ReadBE16(cdb + 4);
  if (IsReadOnlyMedia(disc_.profile)) return reply.Fail(sense::kCannotWriteIncompatible);
  if (!IsSequentialMedia(disc_.profile)) {
    // Overwritable media: closing ends background formatting or an intermediate state;
    // there is nothing for the drive to record.
    if (function < 1 || function > 3) reply.Fail(sense::kInvalidField);
    return;
  }
  if (disc_.finalized) return reply.Fail(sense::kSequenceError);
  // A simulated recording leaves nothing behind to close.
  if ((page05_[2] & 0x10) != 0) return;
  const uint64_t now = TickCount();
  uint32_t durationMs = DrainMs(now);
  const bool sessionOpen = !disc_.tracks.empty() && disc_.tracks.back().session > disc_.closedSessions;
  switch (function) {
    case 1: {
      if (trackNumber == 0xFF) {
        // FFh names the incomplete track, whichever number it has.
        if (const auto open = OpenTrackIndex(disc_)) disc_.tracks[*open].closed = true;
      } else if (trackNumber >= 1 && trackNumber <= disc_.tracks.size()) {
        disc_.tracks[trackNumber - 1].closed = true;
      } else if (trackNumber != disc_.tracks.size() + 1) {
        // Only the invisible track follows the recorded ones; closing it is a no-op.
        return reply.Fail(sense::kInvalidField);
      }
      break;
    }
    case 2:
    case 5:
    case 6: {
      if (sessionOpen) {
        for (auto& track : disc_.tracks) track.closed = true;
        ++disc_.closedSessions;
        durationMs += MillisecondsFor(SessionGapSectors(disc_.profile, disc_.closedSessions));
      }
      bool finalize = function != 2;
      const bool minusOrCd = IsCdMedia(disc_.profile) || disc_.profile == MediaProfile::DvdR ||
                             disc_.profile == MediaProfile::DvdRwSequential;
      // On CD and DVD-R the write parameters say whether another session may follow.
      if (function == 2 && minusOrCd && sessionOpen && (page05_[3] & 0xC0) == 0) finalize = true;
      if (finalize && disc_.closedSessions != 0) disc_.finalized = true;
      if (!disc_.finalized && disc_.closedSessions != 0 && !Appendable(disc_)) disc_.finalized = true;
      break;
    }
    default:
      return reply.Fail(sense::kInvalidField);
  }
  if (!SaveOrFail(reply)) return;
  StartLongOperation(durationMs, 0x08, immediate, reply);
}

void VirtualRecorder::ReserveTrack(const uint8_t* cdb, Reply& reply) {
  if (IsReadOnlyMedia(disc_.profile)) return reply.Fail(sense::kCannotWriteIncompatible);
  if (!IsSequentialMedia(disc_.profile)) return reply.Fail(sense::kIllegalModeForTrack);
  if ((cdb[1] & 0x01) != 0) return reply.Fail(sense::kInvalidField);
  uint32_t size = ReadBE32(cdb + 5);
  if (size == 0) return reply.Fail(sense::kInvalidField);
  if (!Appendable(disc_)) return reply.Fail(sense::kSequenceError);
  if (!disc_.tracks.empty()) {
    const RecordedTrack& last = disc_.tracks.back();
    // The invisible track already holds data.
    if (TrackWritable(disc_, last) && last.reserved == 0) return reply.Fail(sense::kSequenceError);
  }
  if (!IsCdMedia(disc_.profile)) size = static_cast<uint32_t>((uint64_t{size} + 15) / 16 * 16);
  const uint32_t start = NextTrackStart(disc_);
  if (static_cast<uint64_t>(start) + size > DiscCapacity(disc_))
    return reply.Fail(sense::kInvalidField);
  // Under test write the reservation is simulated like the data: the disc keeps no track.
  if ((page05_[2] & 0x10) != 0) return;
  disc_.tracks.push_back(RecordedTrack{OpenSessionNumber(disc_), start, size, 0, false});
  SaveOrFail(reply);
}

void VirtualRecorder::SetCdSpeed(const uint8_t* cdb, Reply& /*reply*/) {
  const uint32_t read = ReadBE16(cdb + 2);
  const uint32_t write = ReadBE16(cdb + 4);
  // 0 is taken like FFFFh: as fast as the medium allows.
  readSpeedKBs_ = static_cast<uint16_t>(read == 0 ? 0xFFFF : read);
  writeSpeedKBs_ = static_cast<uint16_t>(write == 0 ? 0xFFFF : write);
}

void VirtualRecorder::SetStreaming(const uint8_t* cdb, Reply& reply) {
  const uint32_t length = ReadBE16(cdb + 9);
  if (cdb[8] != 0) return reply.Fail(sense::kInvalidField);
  if (length == 0) return;
  const uint8_t* list = reply.ParameterData(length, 28);
  if (list == nullptr) return;
  const uint64_t readSize = ReadBE32(list + 12);
  const uint64_t readTime = ReadBE32(list + 16);
  const uint64_t writeSize = ReadBE32(list + 20);
  const uint64_t writeTime = ReadBE32(list + 24);
  if (readTime == 0 || writeTime == 0) return reply.Fail(sense::kInvalidParameter);
  const uint64_t readSpeed = readSize * 1000 / readTime;
  const uint64_t writeSpeed = writeSize * 1000 / writeTime;
  if (readSpeed != 0) readSpeedKBs_ = static_cast<uint16_t>(std::min<uint64_t>(readSpeed, 0xFFFF));
  if (writeSpeed != 0) writeSpeedKBs_ = static_cast<uint16_t>(std::min<uint64_t>(writeSpeed, 0xFFFF));
}

void VirtualRecorder::SendOpc(const uint8_t* cdb, Reply& reply) {
  if (IsReadOnlyMedia(disc_.profile)) return reply.Fail(sense::kCannotWriteIncompatible);
  const bool doOpc = (cdb[1] & 0x01) != 0;
  if (doOpc && options_.speed == SpeedModel::Simulated) reply.result().durationMs = 1000;
}

void VirtualRecorder::SendDvdStructure(const uint8_t* cdb, Reply& reply) {
  const uint8_t format = cdb[7];
  const uint32_t length = ReadBE16(cdb + 8);
  if (IsCdMedia(disc_.profile)) return reply.Fail(sense::kCannotReadIncompatible);
  if (format != 0x0F) return reply.Fail(sense::kInvalidField);
  if (length == 0) return;
  const uint8_t* data = reply.ParameterData(length, 4);
  if (data == nullptr) return;
  // Time stamp: a 4-byte header whose length covers the 14 digits and their padding.
  if (ReadBE16(data) + 2u > length || ReadBE16(data) < 16)
    return reply.Fail(sense::kParameterLength);
  for (uint32_t i = 8; i < std::min<uint32_t>(length, 22); ++i) {
    if (data[i] < '0' || data[i] > '9') return reply.Fail(sense::kInvalidParameter);
  }
}

void VirtualRecorder::ReadBufferCapacity(const uint8_t* cdb, Reply& reply) {
  const bool blocks = (cdb[1] & 0x01) != 0;
  const uint64_t buffered = BufferedBytes(TickCount());
  const uint32_t freeBytes = static_cast<uint32_t>(options_.bufferBytes - std::min<uint64_t>(buffered, options_.bufferBytes));
  uint8_t answer[12] = {};
  WriteBE16(answer, sizeof answer - 2);
  if (blocks) {
    answer[3] = 0x01;
    WriteBE32(answer + 8, freeBytes / kSectorSize);
  } else {
    WriteBE32(answer + 4, options_.bufferBytes);
    WriteBE32(answer + 8, freeBytes);
  }
  reply.Send(answer, sizeof answer, ReadBE16(cdb + 7));
}

void VirtualRecorder::Blank(const uint8_t* cdb, Reply& reply) {
  const uint8_t type = cdb[1] & 0x07;
  const bool immediate = (cdb[1] & 0x10) != 0;
  const MediaProfile profile = disc_.profile;
  if (profile != MediaProfile::CdRw && profile != MediaProfile::DvdRwRestricted &&
      profile != MediaProfile::DvdRwSequential)
    return reply.Fail(sense::kCannotWriteIncompatible);
  if (type > 1) return reply.Fail(sense::kInvalidField);
  uint32_t durationMs = 0;
  if (options_.speed == SpeedModel::Simulated) {
    durationMs = type == 0 ? MillisecondsFor(DiscCapacity(disc_))
                           : (IsCdMedia(profile) ? 20000u : 60000u);
  }
  if (!file_.Clear()) return reply.Fail(sense::kWriteError);
  // Blanking returns a DVD-RW to sequential recording.
  disc_ = BlankDisc(IsCdMedia(profile) ? profile : MediaProfile::DvdRwSequential, disc_.cdSize);
  testWriteNext_.reset();
  drainDoneAtUs_ = 0;
  if (!SaveOrFail(reply)) return;
  StartLongOperation(durationMs, 0x07, immediate, reply);
}

void VirtualRecorder::FormatUnit(const uint8_t* cdb, Reply& reply) {
  const bool formatData = (cdb[1] & 0x10) != 0;
  if (formatData && (cdb[1] & 0x07) != 1) return reply.Fail(sense::kInvalidField);
  const MediaProfile profile = disc_.profile;
  int formatType = -1;  // the medium's default format
  bool immediate = false;
  if (formatData) {
    const uint8_t* list = reply.OutData(12);
    if (list == nullptr || ReadBE16(list + 2) < 8) return reply.Fail(sense::kParameterLength);
    immediate = (list[1] & 0x02) != 0;
    formatType = list[8] >> 2;
  }
  const bool simulated = options_.speed == SpeedModel::Simulated;
  uint32_t durationMs = 0;
  switch (profile) {
    case MediaProfile::DvdPlusRw:
      if (formatType != -1 && formatType != 0x26) return reply.Fail(sense::kInvalidParameter);
      // Background formatting: the drive is usable again after a moment.
      disc_.formatted = true;
      durationMs = simulated ? 2000 : 0;
      break;
    case MediaProfile::DvdRwRestricted:
    case MediaProfile::DvdRwSequential: {
      if (formatType == -1) formatType = 0x00;
      const bool grow = formatType == 0x13;
      if (formatType != 0x00 && formatType != 0x10 && formatType != 0x15 &&
          !(grow && profile == MediaProfile::DvdRwRestricted))
        return reply.Fail(sense::kInvalidParameter);
      if (!grow) {
        if (!file_.Clear()) return reply.Fail(sense::kWriteError);
        disc_ = BlankDisc(MediaProfile::DvdRwRestricted, disc_.cdSize);
      }
      disc_.profile = MediaProfile::DvdRwRestricted;
      disc_.formatted = true;
      if (simulated) {
        durationMs = formatType == 0x15 ? 8000u : grow ? 3000u : MillisecondsFor(DiscCapacity(disc_));
      }
      break;
    }
    case MediaProfile::DvdRam:
      if (formatType != -1 && formatType != 0x00) return reply.Fail(sense::kInvalidParameter);
      if (!file_.Clear()) return reply.Fail(sense::kWriteError);
      disc_ = BlankDisc(MediaProfile::DvdRam, disc_.cdSize);
      durationMs = simulated ? MillisecondsFor(DiscCapacity(disc_)) : 0;
      break;
    default:
      return reply.Fail(sense::kCannotWriteIncompatible);
  }
  testWriteNext_.reset();
  if (!SaveOrFail(reply)) return;
  StartLongOperation(durationMs, 0x04, immediate, reply);
}

}  // namespace brennix
