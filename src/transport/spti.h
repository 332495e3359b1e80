// The ASPI emulation over the five platform operations. It gives every optical drive of the
// letter table an ASPI address and answers request blocks by passing the command through.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "transport/drive_backend.h"
#include "transport/srb.h"

namespace brennix {

constexpr unsigned kSPTIDriveCount = 27;         // letter indexes 0 (A) .. 26 (after Z)
constexpr uint8_t kSPTIUnknownLun = 250;         // address not known yet (start-up only)
constexpr uint8_t kSPTINotOpticalTarget = 120;   // marks a letter without an optical drive
constexpr char kSPTINoLetter = 127;
constexpr uint32_t kPassThroughTimeoutSeconds = 120;

struct TSPTIDrive {
  uint8_t HaId = 0;
  uint8_t Target = 0;
  uint8_t Lun = 0;
  uint8_t LetterIndex = 0;
  bool Present = false;
  std::atomic<DriveHandle> Handle{kInvalidDriveHandle};
  uint8_t InquiryData[40] = {};
  // The platform operations of the drive behind this letter (null when none).
  std::shared_ptr<DriveBackend> Backend;
};

uint8_t SPTIInit();
int SPTIDone();
uint32_t SPTISupportInfo();
uint32_t SPTISendCommand(SRB_Header* srb);
char SPTIDriveLetter(uint8_t HaId, uint8_t Target, uint8_t Lun);

bool SPTIInitialized();
uint8_t SPTIHostAdapterCount();
// Close the handle after every command; the tray commands of the device layer change it.
void SetSPTICloseAfterCommand(bool close);
bool SPTICloseAfterCommand();

// The platform operations of the present drive at an address, null when none: for the hold
// around work that changes the disc, which outlives a reload of the table.
std::shared_ptr<DriveBackend> SPTIBackend(uint8_t HaId, uint8_t Target, uint8_t Lun);

// True when the present drive behind the letter is a registered extra drive (a virtual
// recorder) rather than a /dev/sr* drive.
bool SPTILetterIsExtraDrive(char letter);

// Read-only view of one entry (tests, diagnostics).
const TSPTIDrive& SPTIDrive(unsigned letterIndex);

// The emulation's drive manager id in HA inquiries.
constexpr const char* kSPTIManagerId = "BRENNIX SG_IO   ";

}  // namespace brennix
