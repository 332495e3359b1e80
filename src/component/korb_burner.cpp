#include "component/korb_burner.h"

#include <algorithm>
#include <cstring>

#include "component/burner_drive.h"
#include "component/queue_tree.h"
#include "device/disc_types.h"
#include "platform/clock.h"
#include "platform/disc_units.h"
#include "platform/main_thread.h"
#include "recording/cache_fan_out.h"
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
  ClearAll(65535, 8191);
  SetCacheSize(4194304);
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
  adopted_ = false;
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
  imageSource_ = image.Source;
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
  // A component that wrote another one's image does not own the tree.
  if (adopted_) {
    adopted_ = false;
    imageFile_.clear();
    return;
  }
  if (imageFile_.empty()) return;
  imageFile_.clear();
  imageSource_.reset();
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

bool TKorbBurner::Claim() {
  if (recording_.load()) {
    PostWriteDone(kRecordingRunningText);
    return false;
  }
  // The writer of the previous recording has reported and is ending by itself.
  FinishThreads();
  recording_.store(true);
  bytesWritten_.store(0);
  stats_->LowestBufferFill.store(-1);
  stats_->FirstWriteMs.store(0);
  stats_->DataEndMs.store(0);
  stats_->VerifyPercent.store(-1);
  return true;
}

bool TKorbBurner::Burn(const std::atomic<bool>* cancel) { return BurnTogether({}, cancel); }

bool TKorbBurner::BurnTogether(const std::vector<TKorbBurner*>& others,
                               const std::atomic<bool>* cancel) {
  TKorbBurner* none = nullptr;
  if (recording_.load() || !ActiveBurner.compare_exchange_strong(none, this)) {
    PostWriteDone(kRecordingRunningText);
    for (TKorbBurner* other : others) other->PostWriteDone(kRecordingRunningText);
    return false;
  }
  Claim();
  // A new recording starts unaborted; an abort from here on is honoured even before the
  // writers run.
  AbortFlag.store(false);
  std::vector<TKorbBurner*> going{this};
  for (TKorbBurner* other : others) {
    if (other != this && other->Claim()) going.push_back(other);
  }
  const std::string error = PrepareDisc(cancel, nullptr);
  if (!error.empty()) {
    for (TKorbBurner* burner : going) burner->EndBurnEarly(error);
    return false;
  }
  // Each other recorder takes this one's image as laid out; one that cannot ends alone.
  for (size_t i = 1; i < going.size();) {
    const std::string why = going[i]->PrepareDisc(cancel, this);
    if (why.empty()) {
      ++i;
      continue;
    }
    going[i]->EndBurnEarly(why);
    going.erase(going.begin() + static_cast<std::ptrdiff_t>(i));
  }

  cache_ = std::make_shared<TCacheThread>(CacheSize(), &HeaderStream, ImageSectors * kSectorSize,
                                          WritePostGap, WriteBlockBytes(discType_), Lock, true,
                                          0, imageSource_);
  const uint64_t fillStart = TickCount();
  for (;;) {
    // Read before the looks below: the cache's news after them ends the wait at once.
    const uint64_t seen = cache_->Events();
    const uint64_t waited = TickCount() - fillStart;
    std::string late = cache_->ErrorText();
    if (late.empty() && (AbortFlag.load() || (cancel != nullptr && cancel->load())))
      late = kAbortedByUser;
    if (late.empty() && cache_->CacheFilled.load()) break;
    // The reader ended without filling and without a message: it cannot go on.
    if (late.empty() && (cache_->TThread::Finished() || waited >= kCacheFillTimeoutMs)) {
      late = cache_->ErrorText();
      if (late.empty()) late = kCacheFillTimeoutText;
    }
    if (!late.empty()) {
      for (TKorbBurner* burner : going) burner->EndBurnEarly(late);
      return false;
    }
    // Bounded: the user's abort is no news to the cache.
    cache_->WaitForEvent(seen, kCachePollMs);
  }
  std::shared_ptr<TCacheFanOut> fanOut;
  if (going.size() > 1)
    fanOut = std::make_shared<TCacheFanOut>(*cache_, Lock, static_cast<int>(going.size()),
                                            cache_->MaxBlocks);
  for (size_t i = 0; i < going.size(); ++i)
    going[i]->StartWriter(cache_, fanOut, static_cast<int>(i), Lock);
  return true;
}

std::string TKorbBurner::PrepareDisc(const std::atomic<bool>* cancel, TKorbBurner* leader) {
  // Held before anything can change the disc; the writer lets go when it has ended.
  const DriveBusy busy = drive_->HoldRecorder();
  if (!busy.Free()) return DriveBusyText(busy);
  if (cancel != nullptr && cancel->load()) return kAbortedByUser;
  if (leader != nullptr) AdoptLayout(*leader);
  // Nothing may reach a disc that cannot take the whole image. The disc's own files join
  // the tree before anything is written, once the disc is known to take a session at all
  // (a closed disc is named as such, whatever its tree), and the image is checked again
  // with them.
  std::string refused = CheckDiscForImage();
  if (refused.empty() && leader == nullptr && imageFile_.empty() && ImportSession &&
      !EarlierSessionAdded()) {
    if (!ImportLastSession(refused)) return refused;
    if (!PrepareImage()) return kLayoutFailedText;
    refused = CheckDiscForImage();
  }
  if (!refused.empty()) return refused;
  const auto type = static_cast<int16_t>(GetDiscType());
  DiscType.store(type);
  discType_ = type;
  if (leader != nullptr) {
    refused = SameRecordingAs(*leader);
    if (!refused.empty()) return refused;
  }
  if (IsDVDRW(type)) FormatDVDRWForRecording(*drive_, type);

  if (!imageFile_.empty()) {
    // An image carries its own addresses: it goes to sector 0.
    StartSector = 0;
  } else if (leader == nullptr && (!PrepareRecordingLayout() || !BuildHeader())) {
    return kLayoutFailedText;
  }
  return std::string();
}

void TKorbBurner::StartWriter(std::shared_ptr<TCacheThread> cache,
                              std::shared_ptr<TCacheFanOut> fanOut, int tap,
                              std::recursive_mutex& lock) {
  TWriteJob job;
  job.Drive = drive_.get();
  job.Cache = cache.get();
  job.FanOut = fanOut.get();
  job.Tap = tap;
  job.Lock = &lock;
  job.Settings.TestWrite = TestWrite;
  job.Settings.UnderrunProtection = UnderrunProtection;
  job.Settings.FinalizeDisc = FinalizeDisc;
  job.Settings.FinalizeTrack = FinalizeTrack;
  job.Settings.PerformOPC = PerformOPC;
  job.Settings.Verify = Verify;
  job.Settings.ReadSpeed = ReadSpeed;
  job.Settings.WriteSpeed = WriteSpeed;
  job.StartSector = static_cast<uint32_t>(StartSector);
  job.SectorsToWrite = SectorsToWrite();
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
  // The cache and the fan-out live as long as the last writer that takes from them.
  job.Keep = std::make_shared<std::pair<std::shared_ptr<TCacheThread>, std::shared_ptr<TCacheFanOut>>>(
      std::move(cache), std::move(fanOut));
  writer_ = std::make_unique<TThWrite>(std::move(job));
  writer_->Resume();
}

void TKorbBurner::AdoptLayout(const TKorbBurner& leader) {
  adopted_ = true;
  imageFile_ = leader.imageFile_;
  ImageSectors = leader.ImageSectors;
  StartSector = leader.StartSector;
  TerminatorSector = leader.TerminatorSector;
  WritePostGap = leader.WritePostGap;
  DescriptorCopy = leader.DescriptorCopy;
  DescriptorCopySize = leader.DescriptorCopySize;
}

std::string TKorbBurner::CheckDiscForImageOf(TKorbBurner& leader) {
  const std::string file = imageFile_;
  const bool adopted = adopted_;
  const int32_t start = StartSector;
  AdoptLayout(leader);
  std::string refusal = CheckDiscForImage();
  if (refusal.empty()) {
    discType_ = static_cast<int16_t>(GetDiscType());
    if (leader.discType_ == 0) leader.discType_ = static_cast<int16_t>(leader.GetDiscType());
    refusal = SameRecordingAs(leader);
  }
  imageFile_ = file;
  adopted_ = adopted;
  StartSector = start;
  return refusal;
}

std::string TKorbBurner::SameRecordingAs(TKorbBurner& leader) {
  if (WriteBlockBytes(discType_) != WriteBlockBytes(leader.discType_)) return kMixedDiscsText;
  if (!imageFile_.empty()) return std::string();
  // The image names its own sectors: it fits only where the first recorder's goes.
  uint32_t start = 0;
  if (!GetNextWritableAddress(start) || start > kHighestStartSector) start = 0;
  if (static_cast<int32_t>(start) != leader.StartSector)
    return "THIS DISC TAKES THE IMAGE AT SECTOR " + std::to_string(start) +
           ", THE FIRST RECORDER'S AT SECTOR " + std::to_string(leader.StartSector) +
           ": USE BLANK DISCS";
  return std::string();
}

}  // namespace brennix
