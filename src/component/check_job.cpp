#include "component/check_job.h"

#include <algorithm>
#include <vector>

#include "component/checksum_list.h"
#include "component/korb_burner.h"
#include "device/disc_types.h"
#include "image/session_reader.h"
#include "platform/sha256.h"

namespace brennix {

const char* const kDiscWholeText = "The disc is whole.";

namespace {

constexpr uint32_t kChunkSectors = 32;

const TImportedEntry* Find(const TImportedEntry& root, const std::string& path) {
  const TImportedEntry* at = &root;
  size_t from = 0;
  while (at != nullptr && from <= path.size()) {
    const size_t slash = path.find('/', from);
    const std::string name = path.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
    const TImportedEntry* next = nullptr;
    for (const TImportedEntry& child : at->Children)
      if (child.Name == name) next = &child;
    at = next;
    if (slash == std::string::npos) break;
    from = slash + 1;
  }
  return at;
}

}  // namespace

TCheckJob::TCheckJob(TKorbBurner& burner, TJobHandler& handler) : TJob(handler), burner_(burner) {}

TCheckJob::~TCheckJob() { Finish(); }

TJobResult TCheckJob::Run() {
  TKorbBurner& korb = burner_;
  if (korb.GetDiscType() == kDiscUnknown) return Refusal(kNoDiscText);
  TImportedSession session;
  bool found = false;
  std::string error;
  if (!korb.ReadLastSession(session, found, error)) return Refusal(error);
  if (!found) return Refusal("THE DISC HOLDS NO VOLUME TO CHECK");

  TJobProgress progress;
  progress.Phase = TJobPhase::Verifying;
  std::vector<uint8_t> buffer(size_t{kChunkSectors} * kSectorSize);
  // Reads a file's extents; empty with why set when a sector cannot be read.
  const auto readFile = [&](const TImportedEntry& file, TSha256* sum, std::string& why) {
    for (const TImportedExtent& x : file.Extents) {
      const uint32_t sectors = (x.Bytes + kSectorSize - 1) / kSectorSize;
      uint64_t left = x.Bytes;
      for (uint32_t done = 0; done < sectors; done += kChunkSectors) {
        if (Cancelled()) {
          why = "STOPPED";
          return false;
        }
        const uint32_t n = std::min(kChunkSectors, sectors - done);
        if (!korb.ReadDiscSectors(x.Sector + done, static_cast<uint16_t>(n), buffer.data())) {
          why = "CANNOT BE READ AT SECTOR " + std::to_string(x.Sector + done);
          return false;
        }
        const uint64_t bytes = std::min<uint64_t>(left, uint64_t{n} * kSectorSize);
        if (sum != nullptr) sum->Update(buffer.data(), static_cast<size_t>(bytes));
        left -= bytes;
        progress.BytesDone += static_cast<int64_t>(bytes);
        Report(progress);
      }
    }
    return true;
  };

  TJobResult result;
  const TImportedEntry* list = Find(session.Root, kChecksumListName);
  if (list != nullptr && !list->IsDir && list->Size <= (64u << 20)) {
    // The list, then every file it names.
    std::string text;
    {
      TImportedEntry copy = *list;
      std::string why;
      std::vector<uint8_t> all;
      for (const TImportedExtent& x : copy.Extents) {
        const uint32_t sectors = (x.Bytes + kSectorSize - 1) / kSectorSize;
        std::vector<uint8_t> part(size_t{sectors} * kSectorSize);
        for (uint32_t done = 0; done < sectors; done += kChunkSectors) {
          const uint32_t n = std::min(kChunkSectors, sectors - done);
          if (!korb.ReadDiscSectors(x.Sector + done, static_cast<uint16_t>(n),
                                    part.data() + size_t{done} * kSectorSize))
            return Refusal(std::string(kChecksumListName) + " CANNOT BE READ");
        }
        all.insert(all.end(), part.begin(), part.begin() + x.Bytes);
      }
      text.assign(all.begin(), all.end());
    }
    const auto sums = ParseChecksumList(text);
    for (const auto& [path, hex] : sums) {
      if (const TImportedEntry* f = Find(session.Root, path); f != nullptr && !f->IsDir)
        progress.BytesTotal += static_cast<int64_t>(f->Size);
    }
    Report(progress);
    int good = 0;
    for (const auto& [path, hex] : sums) {
      const TImportedEntry* file = Find(session.Root, path);
      if (file == nullptr || file->IsDir) {
        result.Problems.push_back(path + ": NOT ON THE DISC");
        continue;
      }
      TSha256 sum;
      std::string why;
      if (!readFile(*file, &sum, why)) {
        if (why == "STOPPED") break;
        result.Problems.push_back(path + ": " + why);
        continue;
      }
      if (sum.HexDigest() != hex) {
        result.Problems.push_back(path + ": DIFFERS FROM ITS SUM");
        continue;
      }
      ++good;
    }
    result.Summary.push_back(std::to_string(good) + " of " + std::to_string(sums.size()) +
                             " files match the sums in " + kChecksumListName);
  } else {
    // No list: every file of the tree is read, which reads every sector they use.
    std::vector<std::pair<const TImportedEntry*, std::string>> files;
    std::vector<std::pair<const TImportedEntry*, std::string>> folders{{&session.Root, ""}};
    while (!folders.empty()) {
      const auto [dir, prefix] = folders.back();
      folders.pop_back();
      for (const TImportedEntry& child : dir->Children) {
        if (child.IsDir) {
          folders.emplace_back(&child, prefix + child.Name + "/");
        } else {
          files.emplace_back(&child, prefix + child.Name);
          progress.BytesTotal += static_cast<int64_t>(child.Size);
        }
      }
    }
    Report(progress);
    int readable = 0;
    for (const auto& [file, path] : files) {
      std::string why;
      if (!readFile(*file, nullptr, why)) {
        if (why == "STOPPED") break;
        result.Problems.push_back(path + ": " + why);
        continue;
      }
      ++readable;
    }
    result.Summary.push_back(std::to_string(readable) + " of " + std::to_string(files.size()) +
                             " files read whole (the disc holds no " + kChecksumListName + ")");
  }
  if (Cancelled()) {
    result.Outcome = TJobOutcome::Failed;
    result.Error = "OPERATION ABORTED BY USER";
    return result;
  }
  progress.Ended = true;
  Report(progress);
  if (result.Problems.empty()) {
    result.Outcome = TJobOutcome::Completed;
    result.Text = kDiscWholeText;
    return result;
  }
  result.Outcome = TJobOutcome::Failed;
  result.Error = std::to_string(result.Problems.size()) +
                 (result.Problems.size() == 1 ? " FILE DIFFERS OR CANNOT BE READ"
                                              : " FILES DIFFER OR CANNOT BE READ");
  return result;
}

}  // namespace brennix
