#include <gtest/gtest.h>

#include <cstring>

#include "fake_drive_backend.h"
#include "transport/aspi.h"
#include "transport/spti.h"

namespace brennix {
namespace {

using testing::Address;
using testing::FakeDrive;
using testing::ScopedFakeDrives;

std::shared_ptr<FakeDrive> Drive(std::optional<ScsiAddress> address, std::string product = "RECORDER") {
  auto drive = std::make_shared<FakeDrive>("FAKE", product);
  drive->address = address;
  return drive;
}

SRB_ExecSCSICmd Exec(uint8_t ha, uint8_t target, uint8_t lun, std::initializer_list<uint8_t> cdb,
                     uint8_t* buffer = nullptr, uint32_t length = 0, uint8_t flags = 0) {
  // Every field in order: the header (command, status, adapter, flags), then target, lun,
  // the buffer, 24 sense bytes and the command block's length.
  SRB_ExecSCSICmd srb{{SC_EXEC_SCSI_CMD, SS_PENDING, ha, flags, 0}, target, lun, 0, length, buffer, 24,
                      static_cast<uint8_t>(cdb.size()), 0, 0, nullptr, {}, {}, 0, 0};
  std::copy(cdb.begin(), cdb.end(), srb.CDBByte);
  return srb;
}

TEST(SptiTable, DriveWithoutAddressGoesToTheExtraAdapter) {
  ScopedFakeDrives drives({Drive(std::nullopt)});
  ASSERT_TRUE(ASPILoaded());
  EXPECT_EQ(ASPILayerName(), "QVASPI32");
  const TSPTIDrive& d = SPTIDrive(3);
  EXPECT_TRUE(d.Present);
  EXPECT_EQ(d.HaId, 1);
  EXPECT_EQ(d.Target, 0);
  EXPECT_EQ(d.Lun, 0);
  EXPECT_EQ(SPTISupportInfo(), 0x0102u);
  EXPECT_EQ(GetASPI32SupportInfo(), 0x0102u);
  EXPECT_EQ(SPTIDriveLetter(1, 0, 0), 'D');
}

TEST(SptiTable, UnaddressedDrivesShareOneAdapterAfterTheRealOnes) {
  ScopedFakeDrives drives({Drive(Address(2, 0)), Drive(std::nullopt), Drive(std::nullopt)});
  EXPECT_EQ(SPTIDrive(3).HaId, 2);
  EXPECT_EQ(SPTIDrive(4).HaId, 3);
  EXPECT_EQ(SPTIDrive(4).Target, 0);
  EXPECT_EQ(SPTIDrive(5).HaId, 3);
  EXPECT_EQ(SPTIDrive(5).Target, 1);
  EXPECT_EQ(SPTIHostAdapterCount(), 4);
}

TEST(SptiTable, TwoPortsGiveTwoAdaptersAndInvalidAdapterBeyond) {
  ScopedFakeDrives drives({Drive(Address(0, 0)), Drive(Address(1, 0))});
  EXPECT_EQ(SPTISupportInfo(), 0x0102u);

  SRB_HAInquiry ha;
  ha.SRB_Cmd = SC_HA_INQUIRY;
  ha.SRB_HaId = 2;
  EXPECT_EQ(SendASPI32Command(&ha), SS_INVALID_HA);
  EXPECT_EQ(ha.HA_Count, 2);

  ha = SRB_HAInquiry();
  ha.SRB_Cmd = SC_HA_INQUIRY;
  ha.SRB_HaId = 1;
  EXPECT_EQ(SendASPI32Command(&ha), SS_COMP);
  const uint8_t identifier[16] = {'S', 'P', 'T', 'I', ' ', '1'};
  EXPECT_EQ(std::memcmp(ha.HA_Identifier, identifier, 16), 0);
  EXPECT_EQ(ha.HA_SCSI_ID, 7);
  const uint8_t unique[8] = {7, 0, 0, 8, 0x00, 0x00, 0xFF, 0x00};
  EXPECT_EQ(std::memcmp(ha.HA_Unique, unique, 8), 0);
}

TEST(SptiTable, LettersGoToRealDrivesFirstThenExtraDrives) {
  auto extra = Drive(Address(5, 0));
  ScopedFakeDrives drives({Drive(Address(0, 0))}, {extra});
  EXPECT_EQ(SPTIDriveLetter(0, 0, 0), 'D');
  EXPECT_EQ(SPTIDriveLetter(5, 0, 0), 'E');
  EXPECT_EQ(SPTIDriveLetter(3, 0, 0), kSPTINoLetter);
  EXPECT_EQ(SPTIHostAdapterCount(), 6);
}

TEST(SptiTable, UnusableDrivesAreLeftOutAndHoldNoLetter) {
  auto unopenable = Drive(Address(0, 0));
  unopenable->openFails = true;
  auto mute = Drive(Address(0, 1));
  mute->inquiryFails = true;
  auto notOptical = Drive(Address(0, 2));
  notOptical->optical = false;
  auto good = Drive(std::nullopt);
  ScopedFakeDrives drives({unopenable, mute, notOptical, good});
  EXPECT_FALSE(SPTIDrive(3).Present);
  EXPECT_FALSE(SPTIDrive(4).Present);
  EXPECT_FALSE(SPTIDrive(5).Present);
  EXPECT_EQ(SPTIDrive(5).Target, kSPTINotOpticalTarget);
  EXPECT_TRUE(SPTIDrive(6).Present);
  EXPECT_EQ(mute->open, 0) << "a drive that fails the probe is closed again";
  // The empty entry of D: holds address 0:0:0, which must not name a letter.
  EXPECT_EQ(SPTIDriveLetter(0, 0, 0), kSPTINoLetter);
  EXPECT_EQ(SPTIDriveLetter(1, 0, 0), 'G');
}

TEST(SptiTable, SecondDriveOnTheSameAddressStaysReachable) {
  auto first = Drive(Address(0, 0), "FIRST");
  auto second = Drive(Address(0, 0), "SECOND");
  ScopedFakeDrives drives({first, second});
  EXPECT_EQ(SPTIDrive(3).HaId, 0);
  EXPECT_EQ(SPTIDrive(4).HaId, 1);
  EXPECT_EQ(SPTIDriveLetter(1, 0, 0), 'E');
}

TEST(SptiTable, NoDriveAndNoLibraryMeansNoLayer) {
  ScopedFakeDrives drives({});
  EXPECT_FALSE(ASPILoaded());
  EXPECT_FALSE(ASPIInitialized());
  EXPECT_EQ(GetASPI32SupportInfo(), 0xE800u);
  EXPECT_EQ(SPTISupportInfo(), 0x0101u) << "the emulation counts one adapter even without drives";
  SRB_ExecSCSICmd srb = Exec(0, 0, 0, {0x00, 0, 0, 0, 0, 0});
  EXPECT_EQ(SendASPI32Command(&srb), SS_INVALID_SRB);
}

TEST(SptiRequests, DeviceTypeAndUnknownAddresses) {
  ScopedFakeDrives drives({Drive(Address(0, 1))});
  SRB_GDEVBlock dev;
  dev.SRB_Cmd = SC_GET_DEV_TYPE;
  dev.SRB_Target = 1;
  EXPECT_EQ(SendASPI32Command(&dev), SS_COMP);
  EXPECT_EQ(dev.SRB_DeviceType, 5);
  dev.SRB_Target = 2;
  EXPECT_EQ(SendASPI32Command(&dev), SS_NO_DEVICE);
  EXPECT_EQ(dev.SRB_DeviceType, 0x1F);

  SRB_ExecSCSICmd srb = Exec(0, 3, 0, {0x00, 0, 0, 0, 0, 0});
  EXPECT_EQ(SendASPI32Command(&srb), SS_NO_DEVICE);

  EXPECT_EQ(SPTISendCommand(nullptr), 4u);
  SRB_GetDiskInfo disk;
  disk.SRB_Cmd = SC_GET_DISK_INFO;
  disk.SRB_Status = 0x77;
  EXPECT_EQ(SendASPI32Command(&disk), 4u);
  EXPECT_EQ(disk.SRB_Status, SS_PENDING);
  SRB_Header other;
  other.SRB_Cmd = 0x05;
  EXPECT_EQ(SendASPI32Command(&other), 4u);
  EXPECT_EQ(other.SRB_Status, SS_ERR);
}

TEST(SptiRequests, InquiryIsAnsweredFromTheTableWithinTheBuffer) {
  auto drive = Drive(Address(0, 0));
  ScopedFakeDrives drives({drive});
  const size_t asked = drive->commands.size();

  uint8_t small[16];
  std::memset(small, 0xEE, sizeof small);
  SRB_ExecSCSICmd srb = Exec(0, 0, 0, {0x12, 0, 0, 0, 0x60, 0}, small, 10, SRB_DIR_IN);
  EXPECT_EQ(SendASPI32Command(&srb), SS_COMP);
  EXPECT_EQ(std::memcmp(small, drive->inquiry.data(), 10), 0);
  EXPECT_EQ(small[10], 0xEE) << "never more than SRB_BufLen bytes";
  EXPECT_EQ(srb.DataTransferred, 10u);

  uint8_t large[96];
  std::memset(large, 0xEE, sizeof large);
  srb = Exec(0, 0, 0, {0x12, 0, 0, 0, 0x60, 0}, large, 96, SRB_DIR_IN);
  EXPECT_EQ(SendASPI32Command(&srb), SS_COMP);
  EXPECT_EQ(std::memcmp(large, drive->inquiry.data(), 36), 0);
  EXPECT_EQ(large[36], 0xEE);
  EXPECT_EQ(drive->commands.size(), asked) << "the drive is not asked";

  srb = Exec(1, 0, 0, {0x12, 0, 0, 0, 0x60, 0}, large, 96, SRB_DIR_IN);
  EXPECT_EQ(SendASPI32Command(&srb), SS_INVALID_HA);
  srb = Exec(0, 1, 0, {0x12, 0, 0, 0, 0x60, 0}, large, 96, SRB_DIR_IN);
  EXPECT_EQ(SendASPI32Command(&srb), SS_NO_DEVICE);
}

TEST(SptiRequests, FailuresCarryStatusSenseAndHostStatus) {
  auto drive = Drive(Address(0, 0));
  int mode = 0;
  drive->onCommand = [&](PassThroughRequest& r) {
    if (r.Cdb[0] != 0x00) return false;
    if (mode == 1) FakeDrive::Check(r, 2, 0x3A, 0x00);
    if (mode == 2) r.ScsiStatus = 8;
    return true;
  };
  ScopedFakeDrives drives({drive});

  SRB_ExecSCSICmd srb = Exec(0, 0, 0, {0x00, 0, 0, 0, 0, 0});
  EXPECT_EQ(SendASPI32Command(&srb), SS_COMP);

  mode = 1;
  srb = Exec(0, 0, 0, {0x00, 0, 0, 0, 0, 0});
  EXPECT_EQ(SendASPI32Command(&srb), SS_ERR);
  EXPECT_EQ(srb.SRB_TargStat, 2);
  EXPECT_EQ(srb.SenseArea[0], 0x70);
  EXPECT_EQ(srb.SenseArea[2], 2);
  EXPECT_EQ(srb.SenseArea[12], 0x3A);

  mode = 2;
  srb = Exec(0, 0, 0, {0x00, 0, 0, 0, 0, 0});
  EXPECT_EQ(SendASPI32Command(&srb), SS_ERR);
  EXPECT_EQ(srb.SRB_TargStat, 8);
}

// A drive whose pass-through call itself fails (no answer within the time-out, or gone).
struct SilentDrive : testing::FakeDrive {
  uint8_t status = 0;
  bool PassThrough(DriveHandle handle, PassThroughRequest& r) override {
    if (r.Cdb[0] == 0x12) return FakeDrive::PassThrough(handle, r);
    r.AdapterStatus = status;
    return false;
  }
};

TEST(SptiRequests, CallThatNeverCompletesIsATimeoutAndAdapterStatusIsKept) {
  auto silent = std::make_shared<SilentDrive>();
  silent->address = Address(0, 0);
  ScopedFakeDrives drives({silent});

  SRB_ExecSCSICmd srb = Exec(0, 0, 0, {0x00, 0, 0, 0, 0, 0});
  EXPECT_EQ(SendASPI32Command(&srb), SS_ERR);
  EXPECT_EQ(srb.SRB_HaStat, 0x09);
  silent->status = 0x0E;
  srb = Exec(0, 0, 0, {0x00, 0, 0, 0, 0, 0});
  EXPECT_EQ(SendASPI32Command(&srb), SS_ERR);
  EXPECT_EQ(srb.SRB_HaStat, 0x0E);
}

TEST(SptiRequests, ShortAnswerReportsWhatWasTransferred) {
  auto drive = Drive(Address(0, 0));
  drive->onCommand = [](PassThroughRequest& r) {
    if (r.Cdb[0] != 0x51) return false;
    FakeDrive::Answer(r, {0, 32, 0x0E, 1});
    return true;
  };
  ScopedFakeDrives drives({drive});
  uint8_t buffer[34] = {};
  SRB_ExecSCSICmd srb = Exec(0, 0, 0, {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}, buffer, 34, SRB_DIR_IN);
  EXPECT_EQ(SendASPI32Command(&srb), SS_COMP);
  EXPECT_EQ(srb.DataTransferred, 4u);
  EXPECT_EQ(drive->directions.back(), DataDirection::In);
}

TEST(SptiRequests, HandleIsClosedAfterEveryCommandUnlessKeptOpen) {
  auto drive = Drive(Address(0, 0));
  ScopedFakeDrives drives({drive});
  const int opens = drive->opens;
  SRB_ExecSCSICmd srb = Exec(0, 0, 0, {0x00, 0, 0, 0, 0, 0});
  SendASPI32Command(&srb);
  SendASPI32Command(&srb);
  EXPECT_EQ(drive->opens, opens + 2);
  EXPECT_EQ(drive->open, 0);

  SetSPTICloseAfterCommand(false);
  SendASPI32Command(&srb);
  SendASPI32Command(&srb);
  EXPECT_EQ(drive->opens, opens + 3);
  EXPECT_EQ(drive->open, 1);
  SPTIDone();
  EXPECT_EQ(drive->open, 0) << "shutting down closes open handles";
}

TEST(SptiRequests, PassThroughWaitsAtLeast120SecondsOrWhatTheCallerAllows) {
  auto drive = Drive(Address(0, 0));
  ScopedFakeDrives drives({drive});
  SRB_ExecSCSICmd srb = Exec(0, 0, 0, {0x00, 0, 0, 0, 0, 0});
  SendASPI32Command(&srb);
  EXPECT_EQ(drive->timeouts.back(), 120u);
  srb.TimeoutMs = 300000;
  SendASPI32Command(&srb);
  EXPECT_EQ(drive->timeouts.back(), 300u);
  srb.TimeoutMs = 300001;
  SendASPI32Command(&srb);
  EXPECT_EQ(drive->timeouts.back(), 301u);
}

TEST(SptiRequests, DriveThatCannotBeOpenedAnymoreIsNoDevice) {
  auto drive = Drive(Address(0, 0));
  ScopedFakeDrives drives({drive});
  drive->openFails = true;
  SRB_ExecSCSICmd srb = Exec(0, 0, 0, {0x00, 0, 0, 0, 0, 0});
  EXPECT_EQ(SendASPI32Command(&srb), SS_NO_DEVICE);
}

TEST(AspiLayer, ManagerLibraryIsNeverLoadedByARelativePath) {
  for (const auto& [path, first] : std::vector<std::pair<std::string, std::string>>{
           {"/opt/x.so", "/opt/x.so"}, {"x.so", "x.so"}, {"./x.so", ""}, {"lib/x.so", ""}}) {
    EXPECT_EQ(ManagerLibraryCandidate(0, path), first) << path;
    EXPECT_EQ(ManagerLibraryCandidate(1, path), "WNASPI32.DLL") << path;
    EXPECT_EQ(ManagerLibraryCandidate(2, path), "") << path;
  }
}

TEST(AspiLayer, LibraryWithoutEntryPointsIsNoLayer) {
  ScopedFakeDrives drives({});
  EXPECT_FALSE(ASPILoad(false, "libm.so.6"));
  EXPECT_FALSE(ASPILoaded());
  EXPECT_EQ(ASPILibrary(), nullptr);
}

TEST(AspiLayer, ReloadChoosesTheEmulationAgain) {
  auto drive = Drive(Address(0, 0));
  ScopedFakeDrives drives({drive});
  ASSERT_TRUE(ASPILoaded());
  EXPECT_TRUE(ASPIReload());
  EXPECT_TRUE(ASPILoaded());
  EXPECT_TRUE(ASPIUsesEmulation());
  EXPECT_EQ(SPTIDriveLetter(0, 0, 0), 'D');
}

}  // namespace
}  // namespace brennix
