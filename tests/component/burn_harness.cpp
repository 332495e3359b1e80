#include "burn_harness.h"

#include "component/recorder_rules.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "burn_recorder.h"
#include "platform/main_thread.h"
#include "support/iso_reader.h"
#include "transport/aspi.h"
#include "transport/spti.h"
#include "virtual_recorder/session_export.h"

namespace brennix::burntest {

namespace fs = std::filesystem;

void WriteFile(const std::string& path, size_t size, uint32_t seed) {
  fs::create_directories(fs::path(path).parent_path());
  std::vector<char> bytes(size);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(x >> 24);
  }
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error) return {};
  std::vector<uint8_t> bytes(size);
  std::ifstream(path, std::ios::binary)
      .read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
  return bytes;
}

bool LoggingDrive::PassThrough(DriveHandle handle, PassThroughRequest& request) {
  LoggedCommand c;
  c.opcode = request.Cdb[0];
  c.byte1 = request.Cdb[1];
  c.byte2 = request.Cdb[2];
  if (c.opcode == 0x2A || c.opcode == 0x28) {
    c.lba = (uint32_t{request.Cdb[2]} << 24) | (uint32_t{request.Cdb[3]} << 16) |
            (uint32_t{request.Cdb[4]} << 8) | request.Cdb[5];
    c.sectors = static_cast<uint16_t>((request.Cdb[7] << 8) | request.Cdb[8]);
  }
  {
    std::lock_guard<std::mutex> guard(mutex_);
    log_.push_back(c);
    if (c.opcode == 0x2A) ++writes_;
  }
  if (beforeCommand) beforeCommand(c);
  return inner_->PassThrough(handle, request);
}

std::vector<LoggedCommand> LoggingDrive::Log() {
  std::lock_guard<std::mutex> guard(mutex_);
  return log_;
}

void LoggingDrive::AddFault(const RecorderFault& fault) { AddRecorderFault(*inner_, fault); }

bool LoggingDrive::TrayLocked() { return RecorderTrayLocked(*inner_); }

int LoggingDrive::Writes() {
  std::lock_guard<std::mutex> guard(mutex_);
  return writes_;
}

Rig::Rig(const std::string& disc, std::optional<MediaProfile> profile,
         const RecorderOptions& options) {
  ClearExtraDrives();
  std::string recorderText = disc;
  if (profile) recorderText.append(":").append(ProfileName(*profile));  // -Wrestrict at -O3
  const std::shared_ptr<DriveBackend> drive = AttachRecorder(recorderText, options, error_);
  if (!drive) return;
  // The component talks to the logging drive in front of the virtual one.
  ClearExtraDrives();
  logging_ = std::make_shared<LoggingDrive>(drive);
  RegisterExtraDrive(logging_);
  // The emulation lists its drives when it starts: start it again for this drive.
  SPTIDone();
  ok_ = Select(0);
}

bool Rig::Select(size_t virtualIndex) {
  burner_ = std::make_unique<TKorbBurner>();
  if (!burner_->InitializeASPI(true, std::string())) {
    error_ = "the transport did not start";
    return false;
  }
  size_t seen = 0;
  for (const std::string& entry : burner_->Devices) {
    if (entry.find("VIRTUAL RECORDER") != std::string::npos && seen++ == virtualIndex) {
      burner_->SetDevice(entry);
      break;
    }
  }
  if (burner_->Device().empty()) {
    error_ = "the virtual recorder is not in the device list";
    return false;
  }
  ApplyRecordingPreset(*burner_);
  return true;
}

std::vector<std::unique_ptr<Rig>> Rig::Several(
    const std::vector<std::pair<std::string, MediaProfile>>& discs) {
  ClearExtraDrives();
  std::vector<std::unique_ptr<Rig>> rigs;
  for (const auto& [disc, profile] : discs) {
    std::unique_ptr<Rig> rig(new Rig);
    const std::string recorderText = disc + ":" + std::string(ProfileName(profile));
    const std::shared_ptr<DriveBackend> drive = AttachRecorder(recorderText, {}, rig->error_);
    if (drive) rig->logging_ = std::make_shared<LoggingDrive>(drive);
    rigs.push_back(std::move(rig));
  }
  ClearExtraDrives();
  for (auto& rig : rigs)
    if (rig->logging_) RegisterExtraDrive(rig->logging_);
  SPTIDone();
  for (size_t i = 0; i < rigs.size(); ++i)
    if (rigs[i]->logging_) rigs[i]->ok_ = rigs[i]->Select(i);
  return rigs;
}

Rig::~Rig() {
  burner_.reset();
  ClearExtraDrives();
  // The emulation's table holds the drive: let it go, so that the disc file is free again.
  SPTIDone();
  logging_.reset();
}

bool Rig::Queue(const std::vector<std::string>& sources) {
  TKorbBurner& b = *burner_;
  b.ClearAll(600000, 20000);
  b.LastFolderOnly = false;
  for (const std::string& source : sources) {
    if (fs::is_directory(source)) {
      if (b.AddDir(b.FindDir("\\"), source, "*.*", 63, true, false, false) == 0) return false;
    } else if (b.AddFile("\\", source, false) != 1) {
      return false;
    }
  }
  b.RemoveEmptyDirs();
  return b.PrepareImage();
}

BurnOutcome Rig::Burn(const std::function<void()>& onFinalizing) {
  BurnOutcome outcome;
  TKorbBurner& b = *burner_;
  std::atomic<int> done{0};
  std::atomic<bool> finalizing{false};
  const std::thread::id mainThread = std::this_thread::get_id();
  b.OnWriteDone = [&](TKorbBurner* sender, const std::string& error) {
    EXPECT_EQ(sender, &b);
    EXPECT_EQ(std::this_thread::get_id(), mainThread);  // delivered where the queue is pumped
    outcome.error = error;
    done.fetch_add(1);
  };
  b.OnFinalizingTrack = [&](TKorbBurner*) {
    finalizing.store(true);
    if (onFinalizing) onFinalizing();
  };
  outcome.started = b.Burn();
  // Real time: the test clock makes the drive's waits instant, not the threads' work.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
  while (done.load() == 0 && std::chrono::steady_clock::now() < deadline) {
    if (PumpMainThread() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // A second report would already be queued by now: the writer has ended.
  for (int i = 0; i < 50 && b.Recording(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  PumpMainThread();
  outcome.doneCalls = done.load();
  outcome.bytesWritten = b.BytesWritten();
  outcome.finalizingRaised = finalizing.load();
  b.OnWriteDone = nullptr;
  b.OnFinalizingTrack = nullptr;
  return outcome;
}

bool HaveXorriso() { return test::HaveTool("xorriso"); }

namespace {

std::string CompareExport(const std::string& disc, uint32_t session,
                          const std::map<std::string, std::string>& expected, bool earlierData,
                          bool bsdtar) {
  TempDir out;
  const std::string iso = out / "session.iso";
  const std::string tree = out / "tree";
  std::string error;
  if (!ExportSessionIso(disc, session, iso, error, earlierData)) return "export failed: " + error;
  const test::ShellRun read = test::Extract(bsdtar ? "bsdtar" : "xorriso", iso, tree);
  if (read.status != 0) return "reader failed: " + read.output;
  std::set<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(tree)) {
    if (entry.is_regular_file()) found.insert(fs::relative(entry.path(), tree).string());
  }
  std::string problems;
  for (const auto& [onDisc, source] : expected) {
    if (!found.erase(onDisc)) {
      problems += "missing " + onDisc + "; ";
      continue;
    }
    if (ReadFile(tree + "/" + onDisc) != ReadFile(source)) problems += "differs " + onDisc + "; ";
  }
  for (const std::string& extra : found) problems += "unexpected " + extra + "; ";
  return problems;
}

}  // namespace

std::string CompareSession(const std::string& disc, uint32_t session,
                           const std::map<std::string, std::string>& expected) {
  return CompareExport(disc, session, expected, false, false);
}

std::string CompareLastSession(const std::string& disc,
                               const std::map<std::string, std::string>& expected, bool bsdtar) {
  return CompareExport(disc, 0, expected, true, bsdtar);
}

}  // namespace brennix::burntest
