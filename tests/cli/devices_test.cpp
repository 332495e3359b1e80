// brennix-cli devices and info end to end, against virtual recorders.
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/recorder_setup.h"
#include "device/device_entry.h"
#include "device/scsi_device.h"
#include "transport/fake_drive_backend.h"
#include "support/shell.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int status = -1;
  std::string out;
};

// Runs the CLI with a clean recorder variable; stderr joins stdout only when asked.
Outcome Cli(const std::string& arguments, bool withErrors = false, const std::string& env = "") {
  const std::string command = "env -u BRENNIX_VIRTUAL_RECORDERS " + env + " '" BRENNIX_CLI "' " +
                              arguments + (withErrors ? " 2>&1" : " 2>/dev/null");
  const brennix::test::ShellRun run = brennix::test::Shell(command, false);
  return {run.status, run.output};
}

bool MachineHasDrives() { return fs::exists("/dev/sr0"); }

class DevicesCli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (MachineHasDrives()) GTEST_SKIP() << "the drive letters depend on the machine's drives";
  }
  std::string Recorder(const std::string& name, const std::string& profile = "") {
    return "--virtual-recorder '" + dir + "/" + name + (profile.empty() ? "" : ":" + profile) + "'";
  }
  brennix::test::TempFolder temp{"devices"};
  std::string dir = temp.path();
};

const std::string kIdentity = "BRENNIX VIRTUAL RECORDER1.0 ";

TEST_F(DevicesCli, NoDriveAndNoRecorderIsAnEmptyListAndNamedWhereOneIsNeeded) {
  const Outcome list = Cli("devices", true);
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "");
  EXPECT_EQ(Cli("devices --json").out, "[]\n");
  for (const std::string& command :
       {std::string("info"), std::string("eject"), "burn --yes " + dir}) {
    const Outcome run = Cli(command, true);
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_EQ(run.out.rfind("brennix-cli: No CD or DVD recorder found.\n", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("--virtual-recorder PATH:PROFILE"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("ASPI"), std::string::npos) << run.out;
  }
}

TEST_F(DevicesCli, ListsEveryRecorderOneEntryALine) {
  const Outcome run = Cli(Recorder("a.disc") + " " + Recorder("b.disc", "dvd+rw") + " devices");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "0:0:0,D: " + kIdentity + "\n0:1:0,E: " + kIdentity + "\n");
}

TEST_F(DevicesCli, RecordersFromTheEnvironment) {
  const std::string list = "BRENNIX_VIRTUAL_RECORDERS='" + dir + "/a.disc;" + dir + "/b.disc:cd-rw'";
  const Outcome run = Cli("devices", false, list);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "0:0:0,D: " + kIdentity + "\n0:1:0,E: " + kIdentity + "\n");
}

TEST_F(DevicesCli, ADrivesControlCharactersArePrintedEscaped) {
  const std::string identity = "BRENNIX_VIRTUAL_RECORDER_OPTIONS='vendor=EVIL\x1b[2J,product=BELL\x07'";
  for (const std::string command : {"devices", "info"}) {
    const Outcome run = Cli(Recorder("a.disc") + " " + command, true, identity);
    EXPECT_EQ(run.status, 0) << command;
    EXPECT_NE(run.out.find("EVIL\\x1b[2J"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find_first_of("\x1b\x07"), std::string::npos) << command;
  }
}

TEST_F(DevicesCli, InfoSelectsByLetterAddressOrEntry) {
  const std::string recorders = Recorder("a.disc") + " " + Recorder("b.disc", "dvd-r");
  for (const std::string& which : {std::string("E"), std::string("e:"), std::string("0:1:0"),
                                   "'0:1:0,E: " + kIdentity + "'", "'" + dir + "/b.disc'"}) {
    const Outcome run = Cli(recorders + " info --device " + which);
    EXPECT_EQ(run.status, 0) << which;
    EXPECT_NE(run.out.find("Device: 0:1:0,E: " + kIdentity + "\n"), std::string::npos) << run.out;
  }
  const Outcome first = Cli(recorders + " info");
  EXPECT_EQ(first.status, 0);
  EXPECT_NE(first.out.find("Device: 0:0:0,D: "), std::string::npos);
  EXPECT_NE(first.out.find("Name: BRENNIX VIRTUAL RECORDER 1.0\n"), std::string::npos);
  EXPECT_NE(first.out.find("Device type: 5 (CD/DVD device)\n"), std::string::npos);
  EXPECT_NE(first.out.find("Capabilities: read CD-R,"), std::string::npos);
  EXPECT_NE(first.out.find("write CD-R"), std::string::npos);
  EXPECT_NE(first.out.find("Maximum read speed: "), std::string::npos);
  EXPECT_NE(first.out.find("Maximum write speed: "), std::string::npos);
  EXPECT_NE(first.out.find("Write modes: "), std::string::npos);
  EXPECT_NE(first.out.find("TAO"), std::string::npos);
  EXPECT_NE(first.out.find("Quirks: none\n"), std::string::npos);
}

TEST_F(DevicesCli, InfoRefusesUnknownDevicesAndOptions) {
  const Outcome missing = Cli(Recorder("a.disc") + " info --device Q", true);
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("no recorder 'Q'"), std::string::npos) << missing.out;
  EXPECT_EQ(Cli(Recorder("a.disc") + " info --bogus").status, 2);
  EXPECT_EQ(Cli(Recorder("a.disc") + " info --device").status, 2);
  EXPECT_EQ(Cli(Recorder("a.disc") + " devices extra").status, 2);
}

// A stand-in for a real drive takes the first letter; a command without --device must still
// work on the recorder that was added, and never on the drive nobody named.
TEST(DefaultRecorder, AnAddedRecorderComesBeforeARealDrive) {
  using brennix::testing::FakeDrive;
  const auto drive = [](const char* product, uint8_t target) {
    auto fake = std::make_shared<FakeDrive>("STAND-IN", product);
    fake->address = brennix::testing::Address(0, target);
    return fake;
  };
  struct Case {
    bool real, added;
    std::string chosen, named;  // product of the default and of "--device D"
  };
  for (const Case& c : {Case{true, true, "ADDED", "REAL"}, Case{true, false, "REAL", "REAL"},
                        Case{false, true, "ADDED", "ADDED"}}) {
    std::vector<std::shared_ptr<FakeDrive>> real, added;
    if (c.real) real.push_back(drive("REAL", 0));
    if (c.added) added.push_back(drive("ADDED", 1));
    brennix::testing::ScopedFakeDrives planted(real, added);
    brennix::TSCSIDevice device;
    ASSERT_TRUE(device.InitializeASPI(true, ""));
    const auto product = [&](const std::string& wanted) {
      const std::string entry = brennix::cli::FindDeviceEntry(device, wanted);
      return entry.size() < 26 ? entry : entry.substr(17, entry.find(' ', 17) - 17);
    };
    EXPECT_EQ(product(""), c.chosen) << c.real << c.added;
    EXPECT_EQ(product("D"), c.named) << c.real << c.added;
  }
}

}  // namespace
