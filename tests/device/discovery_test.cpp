#include <gtest/gtest.h>

#include <cstring>

#include "device/device_entry.h"
#include "device/scsi_device.h"
#include "transport/fake_drive_backend.h"

namespace brennix {
namespace {

using testing::Address;
using testing::FakeDrive;
using testing::ScopedFakeDrives;

std::shared_ptr<FakeDrive> Drive(std::optional<ScsiAddress> address, uint8_t type = 5) {
  auto drive = std::make_shared<FakeDrive>("VENDOR", "PRODUCT 16 CHARS", "1.0 ", type);
  drive->address = address;
  return drive;
}

const std::string kIdentity = "VENDOR  PRODUCT 16 CHARS1.0 ";

TEST(DeviceList, OneDriveOnPortOneIsOneEntry) {
  ScopedFakeDrives drives({Drive(Address(1, 0))});
  TSCSIDevice device;
  ASSERT_TRUE(device.InitializeASPI(true, ""));
  ASSERT_EQ(device.Devices.size(), 1u);
  EXPECT_EQ(device.Devices[0], "1:0:0,D: " + kIdentity);
  EXPECT_EQ(device.HaId, 254) << "listing does not select";
}

TEST(DeviceList, WriteOnceDevicesAreMarkedAndOtherTypesLeftOut) {
  ScopedFakeDrives drives({Drive(Address(0, 0), 4), Drive(Address(0, 1), 0), Drive(Address(0, 2))});
  TSCSIDevice device;
  ASSERT_TRUE(device.InitializeASPI(true, ""));
  ASSERT_EQ(device.Devices.size(), 2u);
  EXPECT_EQ(device.Devices[0], "0:0:0,D: " + kIdentity + " (not supported)");
  EXPECT_EQ(device.Devices[1], "0:2:0,F: " + kIdentity);
}

TEST(DeviceList, EntryTextsAndParsing) {
  uint8_t inquiry[36];
  std::memset(inquiry, 'x', sizeof inquiry);
  inquiry[0] = 5;
  EXPECT_EQ(DeviceListEntry(1, 2, 3, 0, inquiry), "1:2:3,?: " + std::string(28, 'x'));
  EXPECT_EQ(DeviceListEntry(12, 0, 0, 127, inquiry), "12:0:0,\x7f: " + std::string(28, 'x'));

  uint8_t h = 0, t = 0, l = 0;
  EXPECT_TRUE(ParseDeviceEntry("12:3:4,E: X", h, t, l));
  EXPECT_EQ(h, 12);
  EXPECT_EQ(t, 3);
  EXPECT_EQ(l, 4);
  EXPECT_TRUE(ParseDeviceEntry("1:0:0", h, t, l));
  for (const char* bad : {"E:0:0,D:", "1:0,D: x", "1:0:0x", "1::0,D:", "254:0:0,D:", "1:0:999"})
    EXPECT_FALSE(ParseDeviceEntry(bad, h, t, l)) << bad;
  EXPECT_EQ(DeviceEntryLetter("1:0:0,E: X"), 'E');
  EXPECT_EQ(DeviceEntryLetter("1:0:0"), 0);
}

TEST(DeviceList, DebugLinesNameTheLayerAndAdapters) {
  ScopedFakeDrives drives({Drive(Address(0, 0))});
  TSCSIDevice device;
  std::vector<std::string> lines;
  device.DoDebug = true;
  device.OnDebugMessage = [&](TSCSIDevice*, const std::string& m, uint8_t type) {
    if (type == 1) lines.push_back(m);
  };
  ASSERT_TRUE(device.InitializeASPI(true, ""));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], ">>> QVASPI32");
  EXPECT_EQ(lines[1], ">>> BRENNIX SG_IO    (SPTI 0)");
}

TEST(DeviceList, NoTransportNoList) {
  ScopedFakeDrives drives({});
  TSCSIDevice device;
  EXPECT_FALSE(device.InitializeASPI(true, ""));
  EXPECT_TRUE(device.Devices.empty());
  device.HostAdapterInquiry(0);
  EXPECT_EQ(device.HostAdapterCount, -1);
}

struct Selection : ::testing::Test {
  void Listen() {
    device.OnDebugMessage = [&](TSCSIDevice*, const std::string& m, uint8_t type) {
      if (type == 0) lines.push_back(m);
    };
    device.OnDeviceChange = [&](TSCSIDevice*) { ++changes; };
  }
  TSCSIDevice device;
  std::vector<std::string> lines;
  int changes = 0;
};

TEST_F(Selection, SelectingAnEntryReadsIdentityAndRaisesTheEvent) {
  auto drive = Drive(Address(0, 0), 4);
  drive->inquiry[20] = '\t';
  ScopedFakeDrives drives({drive});
  ASSERT_TRUE(device.InitializeASPI(true, ""));
  Listen();
  device.SetDevice(device.Devices[0]);
  EXPECT_EQ(device.Device(), device.Devices[0]);
  EXPECT_EQ(device.DeviceType, 4);
  EXPECT_EQ(device.DeviceName, "VENDOR   PROD CT 16 CHARS 1.0 ");
  EXPECT_EQ(device.DeviceName.size(), 30u);
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(device.DriveLetter(), 'D');
}

TEST_F(Selection, MultiDigitAddressesSelect) {
  ScopedFakeDrives drives({Drive(Address(12, 0))});
  ASSERT_TRUE(device.InitializeASPI(true, ""));
  ASSERT_EQ(device.Devices.size(), 1u);
  EXPECT_EQ(device.Devices[0].substr(0, 9), "12:0:0,D:");
  Listen();
  device.SetDevice(device.Devices[0]);
  EXPECT_EQ(device.HaId, 12);
  EXPECT_EQ(changes, 1);
}

TEST_F(Selection, UnusableEntriesDeselect) {
  ScopedFakeDrives drives({Drive(Address(0, 0)), Drive(Address(0, 1), 0)});
  ASSERT_TRUE(device.InitializeASPI(true, ""));
  Listen();
  device.SetDevice(device.Devices[0]);
  ASSERT_EQ(changes, 1);

  device.SetDevice("");
  EXPECT_TRUE(lines.empty()) << "an empty entry deselects silently";
  EXPECT_EQ(device.HaId, 254);

  for (const char* bad : {"1:0", "D:0:0,E: PRODUCT", "0:1:0,E: DISK", "0:5:0,E: NOTHING"}) {
    device.SetDevice(device.Devices[0]);
    lines.clear();
    device.SetDevice(bad);
    ASSERT_EQ(lines.size(), 1u) << bad;
    EXPECT_EQ(lines[0], "INVALID DEVICE ID / NOT A CD OR DVD DRIVE");
    EXPECT_EQ(device.Device(), "");
    EXPECT_EQ(device.DeviceName, "");
    EXPECT_EQ(device.DeviceType, 0x7F);
    EXPECT_EQ(device.HaId, 254);
    EXPECT_EQ(device.Target, 254);
    EXPECT_EQ(device.Lun, 254);
  }
  EXPECT_EQ(changes, 5) << "one event per good selection, none for an unusable entry";
}

TEST_F(Selection, CreatedWhileTheTransportIsUpListsAtOnce) {
  ScopedFakeDrives drives({Drive(Address(0, 0))});
  ASSERT_TRUE(ASPIInitialized());
  TSCSIDevice second;
  EXPECT_EQ(second.Devices.size(), 1u);
  EXPECT_EQ(second.HostAdapterCount, 1);
}

}  // namespace
}  // namespace brennix
