#include "component/korb_burner.h"

#include <algorithm>
#include <cstring>

#include "component/burner_drive.h"
#include "component/queue_tree.h"
#include "device/disc_types.h"
#include "platform/clock.h"
#include "platform/disc_units.h"
#include "platform/main_thread.h"
#include "recording/cache_thread.h"
#include "recording/recording_sequences.h"
#include "recording/writer_thread.h"

namespace brennix {

std::atomic<TKorbBurner*> ActiveBurner{nullptr};
std::atomic<bool> AbortFlag{false};

namespace {

constexpr uint32_t kCachePollMs = 100;
constexpr uint32_t kHighestStartSector = 0xFF000000u;
constexpr const char* kLayoutFailedText = "IMAGE LAYOUT FAILED";

}  // namespace

TKorbBurner::TKorbBurner()
    : stats_(std::make_unique<TWriteStats>()),
      self_(std::make_shared<std::atomic<TKorbBurner*>>(this)),
      drive_(std::make_unique<TBurnerDrive>(*this, bufferSize_, freeBufferSize_)) {
  WritePostGap = true;
  ClearAll(65535, 8191);
  SetCacheSize(4194304);
  JolietFileSystem = true;
  FinalizeTrack = true;
  UnderrunProtection = true;
  // The image parts report through the device's channel, and the layout switches the
  // device's information lines off until the head is built.
  TIsoImage::OnDebugMessage = [this](const std::string& text, uint8_t type) {
    TSCSIDevice::DebugMessage(text, type);
  };
  TIsoImage::OnSetDoDebug = [this](bool on) { DoDebug = on; };
}

TKorbBurner::~TKorbBurner() {
  self_->store(nullptr);
  if (writer_ && recording_.load()) AbortFlag.store(true);
  FinishThreads();
  TKorbBurner* self = this;
  ActiveBurner.compare_exchange_strong(self, nullptr);
  // The tree is shared by every component; the last records are freed by the next ClearAll
  // or at the end of the process, as the image side decides.
}

void TKorbBurner::FinishThreads() {
  // Every wait of the writer is bounded, so this join is too.
  if (writer_) writer_->WaitFor();
  writer_.reset();
  cache_.reset();  // aborts and joins the reader when it is still running
}

bool TKorbBurner::PrepareImage() {
  DoDebug = false;
  StartSector = 0;
  DiscType.store(static_cast<int16_t>(GetDiscType()));
  return TIsoImage::PrepareImage();
}

bool TKorbBurner::PrepareRecordingLayout() {
  DoDebug = false;
  StartSector = 0;
  DiscType.store(static_cast<int16_t>(GetDiscType()));
  uint32_t start = 0;
  if (!GetNextWritableAddress(start)) {
    TSCSIDevice::DebugMessage(">>> ERROR GETTING NEXT WRITABLE ADDRESS", 0);
  }
  StartSector = start > kHighestStartSector ? 0 : static_cast<int32_t>(start);
  return TIsoImage::PrepareImage();
}

void TKorbBurner::Abort() { AbortFlag.store(true); }

bool TKorbBurner::UseImageFile(const TImageFile& image) {
  if (!ClearAll(kQueueMaxFiles, kQueueMaxDirs)) return false;
  imageFile_ = image.Path;
  // One entry the read-ahead cache reads from start to end; no head of our own.
  auto* entry = new TFEntry;
  entry->FullPath = image.Path;
  entry->LongName = entry->ShortName = "IMAGE";
  entry->FileSize = entry->JolietSize = image.Sectors * kSectorSize;
  entry->Attr = kAttrArchive;
  Tables().Files.push_back(entry);
  HeaderStream.Clear();
  ImageSectors = image.Sectors;
  StartSector = 0;
  TerminatorSector = image.TerminatorSector;
  DescriptorCopy.assign(kDescriptorCopyBytes, 0xFF);
  std::memcpy(DescriptorCopy.data(), image.Head.data(),
              std::min(image.Head.size(), DescriptorCopy.size()));
  DescriptorCopySize = static_cast<int32_t>(std::min(image.Head.size(), DescriptorCopy.size()));
  return true;
}

void TKorbBurner::ClearImageFile() {
  if (imageFile_.empty()) return;
  imageFile_.clear();
  ClearAll(kQueueMaxFiles, kQueueMaxDirs);
}

int TKorbBurner::LowestBufferFill() const { return stats_->LowestBufferFill.load(); }

int TKorbBurner::VerifyProgress() const { return stats_->VerifyPercent.load(); }

uint64_t TKorbBurner::DataWriteMs() const {
  const uint64_t first = stats_->FirstWriteMs.load();
  const uint64_t end = stats_->DataEndMs.load();
  return first != 0 && end >= first ? end - first : 0;
}

void TKorbBurner::EndBurnEarly(const std::string& error) {
  if (cache_) {
    cache_->Abort();
    cache_.reset();
  }
  drive_->ReleaseRecorder();
  recording_.store(false);
  TKorbBurner* self = this;
  ActiveBurner.compare_exchange_strong(self, nullptr);
  PostWriteDone(error);
}

void TKorbBurner::PostWriteDone(const std::string& error) {
  PostToMainThread([self = self_, error] {
    TKorbBurner* burner = self->load();
    if (burner == nullptr) return;
    // A copy: the handler may free this component (a dialog that closes when it is done).
    const TWriteDoneEvent handler = burner->OnWriteDone;
    if (handler) handler(burner, error);
  });
}

void TKorbBurner::DeliverWriteDone(const std::string& error) {
  recording_.store(false);
  TKorbBurner* self = this;
  ActiveBurner.compare_exchange_strong(self, nullptr);
  // A copy: the handler may free this component (a dialog that closes when it is done).
  const TWriteDoneEvent handler = OnWriteDone;
  if (handler) handler(this, error);
}

bool TKorbBurner::Burn(const std::atomic<bool>* cancel) {
  TKorbBurner* none = nullptr;
  if (recording_.load() || !ActiveBurner.compare_exchange_strong(none, this)) {
    PostWriteDone(kRecordingRunningText);
    return false;
  }
  // The writer of the previous recording has reported and is ending by itself.
  FinishThreads();
  recording_.store(true);
  // A new recording starts unaborted; an abort from here on is honoured even before the
  // writer runs.
  AbortFlag.store(false);
  bytesWritten_.store(0);
  stats_->LowestBufferFill.store(-1);
  stats_->FirstWriteMs.store(0);
  stats_->DataEndMs.store(0);
  stats_->VerifyPercent.store(-1);

  // Held before anything can change the disc; the writer lets go when it has ended.
  const DriveBusy busy = drive_->HoldRecorder();
  if (!busy.Free()) {
    EndBurnEarly(DriveBusyText(busy));
    return false;
  }

  if (cancel != nullptr && cancel->load()) {
    EndBurnEarly(kAbortedByUser);
    return false;
  }
  // Nothing may reach a disc that cannot take the whole image. The disc's own files join
  // the tree before anything is written, once the disc is known to take a session at all
  // (a closed disc is named as such, whatever its tree), and the image is checked again
  // with them.
  std::string refused = CheckDiscForImage();
  if (refused.empty() && imageFile_.empty() && ImportSession && !EarlierSessionAdded()) {
    if (!ImportLastSession(refused)) {
      EndBurnEarly(refused);
      return false;
    }
    if (!PrepareImage()) {
      EndBurnEarly(kLayoutFailedText);
      return false;
    }
    refused = CheckDiscForImage();
  }
  if (!refused.empty()) {
    EndBurnEarly(refused);
    return false;
  }
  const auto type = static_cast<int16_t>(GetDiscType());
  DiscType.store(type);
  const int32_t blockSize = WriteBlockBytes(type);
  if (IsDVDRW(type)) FormatDVDRWForRecording(*drive_, type);

  if (!imageFile_.empty()) {
    // An image carries its own addresses: it goes to sector 0.
    StartSector = 0;
  } else if (!PrepareRecordingLayout() || !BuildHeader()) {
    EndBurnEarly(kLayoutFailedText);
    return false;
  }
  const int64_t sectorsToWrite = SectorsToWrite();

  cache_ = std::make_unique<TCacheThread>(CacheSize(), &HeaderStream, ImageSectors * kSectorSize,
                                          WritePostGap, blockSize, Lock);
  for (uint32_t waited = 0;; waited += kCachePollMs) {
    const std::string error = cache_->ErrorText();
    if (!error.empty()) {
      EndBurnEarly(error);
      return false;
    }
    if (AbortFlag.load() || (cancel != nullptr && cancel->load())) {
      EndBurnEarly(kAbortedByUser);
      return false;
    }
    if (cache_->CacheFilled.load()) break;
    if (cache_->TThread::Finished()) {
      // The reader ended without filling and without a message: it cannot go on.
      const std::string late = cache_->ErrorText();
      EndBurnEarly(late.empty() ? kCacheFillTimeoutText : late);
      return false;
    }
    if (waited >= kCacheFillTimeoutMs) {
      EndBurnEarly(kCacheFillTimeoutText);
      return false;
    }
    SleepMs(kCachePollMs);
  }

  TWriteJob job;
  job.Drive = drive_.get();
  job.Cache = cache_.get();
  job.Lock = &Lock;
  job.Settings.TestWrite = TestWrite;
  job.Settings.UnderrunProtection = UnderrunProtection;
  job.Settings.FinalizeDisc = FinalizeDisc;
  job.Settings.FinalizeTrack = FinalizeTrack;
  job.Settings.PerformOPC = PerformOPC;
  job.Settings.Verify = Verify;
  job.Settings.ReadSpeed = ReadSpeed;
  job.Settings.WriteSpeed = WriteSpeed;
  job.StartSector = static_cast<uint32_t>(StartSector);
  job.SectorsToWrite = sectorsToWrite;
  job.DescriptorCopy = DescriptorCopy;
  job.DescriptorEnd = static_cast<uint32_t>(std::max(TerminatorSector - StartSector + 1, 0));
  // Files kept from a volume another program wrote may lie right after its descriptors: the
  // new head goes over the old one's descriptors, never over their data.
  if (const uint32_t kept = FirstImportedSector(); kept != UINT32_MAX) {
    const auto descriptors = static_cast<uint32_t>(std::max(TerminatorSector - StartSector + 1, 1));
    job.DiscStartSectors = std::max(descriptors, kept);
  }
  job.AbortFlag = &AbortFlag;
  job.BytesWritten = &bytesWritten_;
  job.Stats = stats_.get();
  job.OnFinalizingTrack = [this] {
    if (OnFinalizingTrack) OnFinalizingTrack(this);
  };
  // The writer does not wait for the handler: the main thread may itself be waiting for the
  // writer (a second Burn, or the destructor), and the handler must find it ended.
  job.OnFinished = [self = self_](const std::string& error) {
    PostToMainThread([self, error] {
      if (TKorbBurner* burner = self->load()) burner->DeliverWriteDone(error);
    });
  };
  writer_ = std::make_unique<TThWrite>(std::move(job));
  writer_->Resume();
  return true;
}

}  // namespace brennix
