// How a virtual recorder presents itself and behaves: identity, address, speed model,
// mode-page layout, drive buffer, and faults scripted for tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "transport/drive_backend.h"
#include "virtual_recorder/media_profile.h"

namespace brennix {

enum class SpeedModel : uint8_t {
  Unlimited,  // every command completes at once (benchmarks, most tests)
  Simulated,  // writes, blanking, formatting and closing take the time a real drive needs
};

// A scripted misbehaviour. Faults are checked in the order given; the first that applies
// answers the command instead of the drive.
struct RecorderFault {
  enum class Kind : uint8_t {
    Busy,      // status BUSY (08h), no sense
    NotReady,  // CHECK CONDITION 02h/04h/ascq
    Sense,     // CHECK CONDITION with key/asc/ascq
    NoAnswer,  // the command never completes: the caller's time-out runs out
    Slow,      // the command is answered as usual, but only after delayMs
  };
  Kind kind = Kind::Sense;
  int opcode = -1;          // the operation code it applies to; -1 for every command
  uint32_t count = 1;       // commands it answers; 0 with durationMs for a span of time
  uint32_t durationMs = 0;  // when not 0: active this long from the moment it is added
  uint8_t key = 0x05;
  uint8_t asc = 0x24;
  uint8_t ascq = 0x00;
  uint32_t delayMs = 0;  // Slow: how long each command it meets takes
};

struct RecorderOptions {
  std::string vendor = "BRENNIX";
  std::string product = "VIRTUAL RECORDER";
  std::string revision = "1.0";
  uint8_t peripheralType = 0x05;
  // The SCSI address the drive reports; unset: a host number after the real host adapters,
  // target = the order in which virtual recorders were attached.
  std::optional<ScsiAddress> address;
  bool addressQueryFails = false;
  SpeedModel speed = SpeedModel::Unlimited;
  // Sustained rates of the simulated drive at its fastest, kB/s.
  uint32_t cdRateKBs = 7620;
  uint32_t dvdRateKBs = 22160;
  bool modeBlockDescriptor = true;  // MODE SENSE answers carry an 8-byte block descriptor
  bool answersPage30 = false;       // the vendor page that marks underrun-free recording
  // Bytes of the capabilities page (2Ah) to present differently, as (offset in the page,
  // value): a drive without underrun protection, without test write, a CD-only writer...
  std::vector<std::pair<uint8_t, uint8_t>> capabilityPagePatches;
  uint32_t bufferBytes = 2u << 20;
  CdSize cdSize = CdSize::Minutes80;
  // Answers as drives that hold to MMC to the letter: no track 0 on a DVD, a last block of
  // 0 from READ CAPACITY on a blank disc, no READ FORMAT CAPACITIES on write-once DVDs.
  bool strictMmc = false;
  // A disc changer: an eject takes the disc out and puts a blank one of the same kind in at
  // once (the tray stays closed); the disc taken out is kept beside the disc file as PATH.1,
  // PATH.2, ... with its state.
  bool changer = false;
  std::vector<RecorderFault> faults;
  // Sectors the drive stores wrong without saying so (one byte changed), to rehearse what a
  // read-back catches.
  std::vector<uint32_t> badSectors;
};

// Reads "key=value,key=value" settings (vendor, product, revision, type, address=H:T:L,
// speed=unlimited|simulated, block-descriptor=0|1, page30=0|1, buffer=BYTES, cd=74|80,
// strict-mmc=0|1, changer=0|1, and, repeatable, fault=KIND:OPCODE:COUNT[:SENSE] and bad-sector=LBA) over
// the defaults in options. A fault: KIND busy, not-ready, sense or no-answer; OPCODE in hex
// (2a) or "any"; COUNT the commands it answers, or a time such as 3000ms from the moment the
// recorder is attached; SENSE for "sense" KEY/ASC/ASCQ in hex (3/0c/00), for "not-ready" the ASCQ. KIND slow
// answers as usual after a delay given last (slow:1b:1:10000ms: a START STOP UNIT that takes
// 10 s; a delay past the caller's time-out is no answer). False
// with a message for an unknown key or bad value.
bool ParseRecorderOptions(const std::string& text, RecorderOptions& options, std::string& error);

}  // namespace brennix
