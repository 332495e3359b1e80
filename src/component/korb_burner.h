// TKorbBurner: the one object the front ends record with. It is the recorder (TSCSIDevice:
// device selection, commands, disc information, erase) and the image (TIsoImage: tree,
// layout, head), and it runs a recording: Burn starts the read-ahead cache and, once that is
// full, the writer thread; OnWriteDone reports the end on the main thread.
//
// Threads: one thread at a time runs the component's operations. That is the thread that
// owns it (the "main thread", which must pump PostToMainThread tasks to receive OnWriteDone)
// or a worker the owner hands one step to (selecting the drive, building the tree, layout,
// Burn with its wait for the cache) and waits for before it touches the component again.
// While such a step runs, other threads only read the atomic counters (Recording,
// BytesWritten, BufferSize, FreeBufferSize, LowestBufferFill, DataWriteMs, VerifyProgress)
// and may call Abort. OnWriteDone always reaches the main thread through PostToMainThread,
// whether Burn failed before its writer started or the writer ended, and only once both the
// writer and the read-ahead cache have stopped: the tree may be freed from the handler.
// The component owns its cache and writer threads and joins them; its destructor aborts a
// running recording and waits for the writer to end.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "component/image_file.h"
#include "component/recorded_sessions.h"
#include "device/scsi_device.h"
#include "image/iso_image.h"

namespace brennix {

class TKorbBurner;
class TCacheThread;
class TImageSource;
class TCacheFanOut;
class TThWrite;
class TBurnerDrive;
struct TWriteStats;

using TWriteDoneEvent = std::function<void(TKorbBurner* Sender, const std::string& Error)>;
using TNotifyEvent = std::function<void(TKorbBurner* Sender)>;

// The component that is recording (null when none), and the abort request of that recording.
extern std::atomic<TKorbBurner*> ActiveBurner;
extern std::atomic<bool> AbortFlag;

constexpr const char* kBurnerVersion = "1.22";
// Burn gives the read-ahead cache this long to fill before it gives up.
constexpr uint32_t kCacheFillTimeoutMs = 10 * 60 * 1000;
constexpr const char* kCacheFillTimeoutText = "READ-AHEAD CACHE DID NOT FILL IN TIME";
constexpr const char* kRecordingRunningText = "ANOTHER RECORDING IS RUNNING";

// Why CheckDiscForImage refuses a disc.
constexpr const char* kNoDiscText = "NO DISC IN THE RECORDER";
constexpr const char* kDiscNotWritableText = "THE DISC CANNOT BE WRITTEN";
constexpr const char* kImageNeedsBlankText =
    "AN IMAGE IS WRITTEN TO A BLANK DISC: THIS ONE ALREADY HOLDS DATA";
constexpr const char* kDiscClosedText = "THE DISC IS CLOSED: NO FURTHER SESSION CAN BE WRITTEN";
constexpr const char* kCannotSimulateText = "THIS DISC OR RECORDER CANNOT SIMULATE A RECORDING";
constexpr const char* kMixedDiscsText =
    "CDS AND DVDS ARE WRITTEN IN BLOCKS OF DIFFERENT SIZES: THEY CANNOT BE WRITTEN TOGETHER";
constexpr const char* kSequentialDVDRWText =
    "THE DVD-RW HOLDS DATA IN SEQUENTIAL MODE: ERASE IT FIRST";
// "NOT ENOUGH SPACE ON THE DISC: 812.40 MB NEEDED, 703.10 MB FREE"
std::string NotEnoughSpaceText(int64_t neededSectors, int64_t freeSectors);
// Sectors a recording of sectorsToWrite occupies: DVD writes always carry whole 32-sector
// blocks.
int64_t SectorsOccupied(int16_t discType, int64_t sectorsToWrite);

class TKorbBurner : public TSCSIDevice, public TIsoImage {
 public:
  TKorbBurner();
  ~TKorbBurner() override;

  // Both bases report diagnostics; the component's channel is the device's.
  using TSCSIDevice::DebugMessage;
  using TSCSIDevice::OnDebugMessage;

  // ---- properties of the component itself
  bool FinalizeTrack = true;
  bool PerformOPC = false;
  // After a successful close, read the new session back and compare every sector with what
  // was sent; a difference ends the recording with "VERIFY FAILED AT SECTOR n".
  bool Verify = false;
  // Keep the files of the disc's last session: the new session lists them too (see
  // ImportLastSession). Off: the new session holds the tree alone.
  bool ImportSession = false;
  std::string ISOFileName;  // kept; a recording always goes to the disc
  std::string Version() const { return kBurnerVersion; }
  void SetVersion(const std::string&) {}  // read-only in effect

  TWriteDoneEvent OnWriteDone;       // on the main thread, once per Burn
  TNotifyEvent OnFinalizingTrack;    // on the writer thread, when all data has been sent

  // ---- image
  // Layout for sizes: from sector 0, with the disc type refreshed. SectorsToWrite() is then
  // what a recording of the tree would send.
  bool PrepareImage();

  // ---- the disc's last session
  // Adds the files and folders of the last session on the disc to the tree, as entries
  // whose data stays where it lies (once per tree; ClearAll starts over). Front ends call it
  // after building the tree and before PrepareImage, so that sizes and checks see the whole
  // image; Burn calls it itself when ImportSession is on and it has not run. A blank disc,
  // or one without a volume, adds nothing. False, with error beginning "CANNOT READ THE
  // EARLIER SESSION: ", when that tree cannot be read (the tree is then unchanged) or does
  // not fit into the tree's tables (then only part of it is in the tree, which must not be
  // written).
  bool ImportLastSession(std::string& error);
  // Files of the disc kept in the tree by the last ImportLastSession, and those of them a
  // queued entry of the same name replaced.
  int64_t ImportedFiles() const { return importedFiles_; }
  int64_t ReplacedFiles() const { return replacedFiles_; }
  // What of the disc's last session the new one cannot list again (symbolic links, special
  // and associated files of another program's tree), each "/DOCS/LINK: WHY".
  const std::vector<std::string>& ImportLeftOut() const { return importLeftOut_; }
  // What the last ImportLastSession has to say about the sessions it passed over.
  const std::vector<std::string>& ImportNotes() const { return importNotes_; }
  // Whether a recording without the earlier files writes over data on the disc: a
  // rewritable disc whose volume area holds data but no volume that can be read.
  bool OverwritesDiscData();

  // The tracks and sessions of a write-once disc; nothing on other media, or when the drive
  // does not tell.
  std::optional<TRecordedDisc> ReadRecordedDisc();
  // The tree of the disc's last session that holds a volume (as the import finds it, with
  // the same notes), without adding it to the tree. found is false when the disc holds none.
  bool ReadLastSession(TImportedSession& session, bool& found, std::string& error);
  // Reads sectors from the disc: a busy or not-ready drive is given time, a failing read is
  // tried again a few times, a sector never recorded is not. False when it stays unread.
  bool ReadDiscSectors(uint32_t lba, uint16_t sectors, uint8_t* out);

  // ---- a recording that never ended
  // Whether a write-once disc holds a track or session left open by a recording that was
  // cut off (power, a killed program, a failed first write). Only asks. refusal is set when
  // the drive cannot close it.
  bool HasUnfinishedRecording(std::string& refusal);
  // Closes that track and its session, leaving the disc open for the next session, so that
  // what follows is the session readers see last. Empty when done (or nothing was open),
  // else why not.
  std::string CloseUnfinishedRecording();

  // ---- an image file
  // Replaces the tree with an image file written as it is, from sector 0 of a blank disc (or
  // of a rewritable one, over what it holds). The tree is cleared first; ClearImageFile (or
  // a new tree) ends it. False when the tree is in use. An image with a Source is read from
  // it as it is written (by the read-ahead cache's thread).
  bool UseImageFile(const TImageFile& image);
  void ClearImageFile();
  const std::string& ImageFile() const { return imageFile_; }

  // ---- recording
  // Whether the disc in the recorder can take the image as laid out by the last
  // PrepareImage: empty when it can, else the reason. Asks the drive only questions; Burn
  // runs it before anything that changes the disc.
  std::string CheckDiscForImage();
  // Starts a recording. True when the writer thread is running; false when it could not
  // start, with OnWriteDone posted to the main thread with the reason. The wait for
  // the read-ahead cache also ends, as an abort, when cancel (if given) becomes true: an
  // owner that runs Burn on a worker may ask to stop before Burn has started listening to
  // Abort.
  bool Burn(const std::atomic<bool>* cancel = nullptr);
  // Records this component's image to its own disc and, at the same time, to the discs of
  // the others (each selected on a recorder of its own): one read-ahead cache reads the
  // sources once and feeds every writer, each at its own pace. Each component reports its
  // own end through its own OnWriteDone; one that cannot start, or fails, ends alone and the
  // others go on (a failure of this one's disc before the cache starts ends all). The
  // others must take the image at the same sector and in blocks of the same size (every
  // disc blank, or all rewritable). True when this component's writer runs. The tree and
  // this component must outlive every writer; Abort stops them all.
  bool BurnTogether(const std::vector<TKorbBurner*>& others,
                    const std::atomic<bool>* cancel = nullptr);
  // Whether this disc can take the image of leader, laid out as it is now, together with it:
  // empty when it can, else why not. Asks the drive only questions.
  std::string CheckDiscForImageOf(TKorbBurner& leader);
  // Asks the running recording to stop; it ends through OnWriteDone.
  void Abort();
  // A recording started by Burn has not yet reported its end.
  bool Recording() const { return recording_.load(); }
  // Bytes sent to the disc in this recording; never more than SectorsToWrite() x 2048.
  int64_t BytesWritten() const { return bytesWritten_.load(); }
  // The drive's buffer as last reported during a recording, safe to read from any thread.
  uint32_t BufferSize() const { return bufferSize_.load(); }
  uint32_t FreeBufferSize() const { return freeBufferSize_.load(); }
  // Lowest drive-buffer fill seen while data was sent (percent, -1 unknown), and the time
  // the data took from the first WRITE to the last, in ms (0 until the data has ended).
  int LowestBufferFill() const;
  uint64_t DataWriteMs() const;
  // Percent of the read-back of this recording; -1 until it starts (it stays at what it
  // reached when the recording has ended).
  int VerifyProgress() const;

 private:
  // Layout from the start the disc gives (a further session, or after the volume already on
  // an overwritable DVD).
  bool PrepareRecordingLayout();
  // Where the last session's volume begins and how far a read of it may reach (0: there
  // is nothing to import).
  bool FindLastSession(int16_t discType, uint32_t& sessionStart, uint32_t& readable,
                       std::string& error);
  static bool VolumeAreaBlank(const TSectorReader& read);
  void EndBurnEarly(const std::string& error);
  // Starts the state of a recording; false (with OnWriteDone posted) when one runs.
  bool Claim();
  // Takes the recorder and readies its disc for the image: this component's own layout,
  // or leader's. Empty when ready, else why not.
  std::string PrepareDisc(const std::atomic<bool>* cancel, TKorbBurner* leader);
  void StartWriter(std::shared_ptr<TCacheThread> cache, std::shared_ptr<TCacheFanOut> fanOut,
                   int tap, std::recursive_mutex& lock);
  // Takes leader's layout (sizes, start, head) to write the same image.
  void AdoptLayout(const TKorbBurner& leader);
  std::string SameRecordingAs(TKorbBurner& leader);
  void PostWriteDone(const std::string& error);
  void FinishThreads();
  void DeliverWriteDone(const std::string& error);

  int64_t importedFiles_ = 0;
  int64_t replacedFiles_ = 0;
  std::vector<std::string> importLeftOut_;
  std::vector<std::string> importNotes_;
  std::string imageFile_;  // written in place of the tree when not empty
  std::shared_ptr<TImageSource> imageSource_;  // where its sectors come from, when not the file
  std::atomic<bool> recording_{false};
  std::atomic<int64_t> bytesWritten_{0};
  std::atomic<uint32_t> bufferSize_{0};
  std::atomic<uint32_t> freeBufferSize_{0};
  std::unique_ptr<TWriteStats> stats_;
  // Posted OnWriteDone tasks check it: a component that is gone gets no event.
  std::shared_ptr<std::atomic<TKorbBurner*>> self_;
  std::unique_ptr<TBurnerDrive> drive_;
  std::shared_ptr<TCacheThread> cache_;
  bool adopted_ = false;
  int16_t discType_ = 0;  // of the disc last checked for a recording  // the layout is another component's: the tree is not ours
  std::unique_ptr<TThWrite> writer_;
};

}  // namespace brennix
