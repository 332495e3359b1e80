// The image side of the burner component: the tree of what is to be written (filled from the
// local file system), its layout in sectors, and the image head (system area, volume
// descriptors, path tables, directory records) assembled in HeaderStream.
//
// For the read-ahead cache: after PrepareImage and BuildHeader the image is HeaderStream
// (exactly FirstFileSector - StartSector sectors), then, walking Tables().Files in order, the
// data of every entry with FullPath not empty and FileSize > 0, each padded with zeros to
// ceil(FileSize / 2048) sectors; directory entries have an empty FullPath. ImageSectors is the
// total, SectorsToWrite() what the recording sends (at least 300 with WritePostGap). Files of
// 4 GiB and more lie in consecutive extents, each with its own directory record.
// HeaderStream makes its directory records from the tree as it is read, so the tree and the
// layout stay as they are from BuildHeader until the head has been read (or ClearAll).
//
// Paths. The tree's own paths use "\" ("\DOCS\2024", FindDir("\\DOCS")). Source paths are
// native ("/home/u/docs"). With "Save Path" a native folder maps to the tree by its folder
// names below "/": "/home/u/docs" becomes "\home\u\docs" (LastFolderOnly: "\docs"); relative
// sources are made absolute first (without resolving links).
//
// The tree itself is process-wide (Tables()); two TIsoImage objects share it and ClearAll on
// either empties it for both. Properties, layout fields and HeaderStream are per object.
//
// Hooks for the component (all optional): OnDebugMessage receives every diagnostic of the
// image parts, to be passed to the device's DebugMessage(text, type); OnSetDoDebug is called
// by BuildHeader with true, to set the device's DoDebug (clearing it before PrepareImage is
// the drive-side preparation's job); OnBeep sounds the system beep (a subfolder named
// "Installer"); Now gives the current local time as days since 1899-12-30 (tests fix it).
//
// Diagnostics and what they mean for the caller: type 3 for a full table, type 4 for
// "INVALID DESTINATION PATH", type 0 for sources left out (special files, files and folders
// that cannot be read, folders that lead back into themselves).
//
// Nothing is lost without a word: every source the add operations leave out, and every one
// they take under another name than its own, is in SkippedSources() until ClearAll. A
// file whose name is in use in its folder by another source (or by a folder) gets a "~N"
// name; a name too long for its Joliet record is shortened, extension kept; control
// characters, "\" and bytes that are not UTF-8 are replaced (CleanLongName). A change that
// only the 8.3 and Joliet names need is no rename when Rock Ridge is on. Only the same
// source added twice is passed over silently. Folders of the same name merge. A folder
// leading back into itself is left out ("LINK LOOP"): its files are in the tree already.
// The Rock Ridge name of an entry is the source's own, unless a sibling carries exactly that
// name already: then it is the name stored for Joliet, with a "~N" when that is taken too.
//
// Entries of an earlier session. AddEarlierSession merges the tree of the volume already on
// the disc into this one: its folders become ordinary folders (their records are written
// anew), its files become imported entries (TFEntry::Imported) whose records point at the
// extents where their data already lies. Imported files have an empty FullPath, so the
// read-ahead cache passes them over; the layout gives them no sectors, so SectorsToWrite()
// counts only what is new; every record of one (ISO, Joliet, Rock Ridge) carries the old
// extents, one record per extent. What the queue holds wins: a queued file of the same name
// (compared as FindFile does) replaces an imported one, added before or after it, and a
// folder of the same name on both sides is one folder.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "image/image_tables.h"
#include "image/memory_stream.h"
#include "platform/disc_units.h"

namespace brennix {

class TIsoImage;
class TTreeListingAhead;
struct DirListEntry;
struct HeadTree;

// (Sender, FullPath, var LongFileName, var ShortFileName, var DateTime, Attr, FileSize, var Skip)
using TAddFileEvent = std::function<void(TIsoImage* sender, const std::string& fullPath,
                                         std::string& longFileName, std::string& shortFileName,
                                         double& dateTime, int32_t attr, int64_t fileSize,
                                         bool& skip)>;
// (Sender, var LongName, var ShortName, var Skip)
using TAddDirEvent = std::function<void(TIsoImage* sender, std::string& longName,
                                        std::string& shortName, bool& skip)>;

// The most records the path tables can hold: the root and 65,535 folders (see PrepareImage).
constexpr size_t kMaxPathTableRecords = 65536;
constexpr int kDescriptorCopyBytes = 65537;

// The byte total of a file, or of every file below a folder that the tree would take (files
// that cannot be read are left out of it, and links to a folder that holds
// them are not followed twice). It only reads the disk, so any thread may call it; when
// *cancel turns true the walk stops early and the total is incomplete.
int64_t MeasureDiskSize(const std::string& path, const std::atomic<bool>* cancel = nullptr);

// A source that the tree left out, or took under another name than its own.
struct TSkippedSource {
  std::string Source;   // the native path (the tree path for a folder made from a path)
  std::string Reason;   // in the component's words, e.g. "NOT A REGULAR FILE"
  std::string NewName;  // renamed: its path on the disc ("docs/b~1.txt"); empty: left out
  bool FromDisc = false;  // a file or folder of the disc's earlier session, by its path there
  bool operator==(const TSkippedSource&) const = default;
};

class TIsoImage {
 public:
  TIsoImage();  // ClearAll(65535, 8191), as the component's constructor does
  virtual ~TIsoImage();
  TIsoImage(const TIsoImage&) = delete;
  TIsoImage& operator=(const TIsoImage&) = delete;

  // ---- tree operations
  // Empties the tree; false (and nothing freed) while a read-ahead cache still walks it.
  bool ClearAll(int maxFiles, int maxDirs);
  // 1 added (or offered), 0 refused, -1 source not found.
  int AddFile(const std::string& destPath, const std::string& fileName, bool savePath);
  int AddDir(TDEntry* destDir, const std::string& sourcePath, const std::string& mask,
             int attr, bool recursive, bool savePath, bool archiveOnly);
  bool RemoveEmptyDirs();
  bool RemoveDir(TDEntry*& dir);
  bool RemoveFile(const std::string& dirPath, const std::string& longName);
  TDEntry* FindDir(const std::string& path) const;
  TFEntry* FindFile(const TDEntry* dir, const std::string& longName) const;
  int DirCount() const;
  int FileCount() const;
  // Folders removed because nothing in them went into the tree, since ClearAll.
  int EmptyDirsLeftOut() const;
  // Sources left out since ClearAll in the order met, then those whose name on the disc is not
  // their own in the tree Linux readers see (Rock Ridge when it is on, else the long names),
  // as the tree holds them now.
  std::vector<TSkippedSource> SkippedSources() const;
  int LeftOutCount() const;
  // A table ran full: what came after it is not in the tree.
  bool TreeFull() const { return treeFull_; }
  // Adds a note of the caller's (a source it could not offer at all).
  void NoteSkipped(const std::string& source, const std::string& reason,
                   const std::string& newName = std::string());
  int64_t DiskDirSize(const std::string& path);
  // Frees what only adding to the tree needs (the lookups by name and path, the notes of
  // renames), once the tree is complete: the layout, the head and the data need none of it.
  // Until ClearAll nothing may be added or removed, and FindDir, FindFile and
  // SkippedSources find nothing more.
  void ReleaseLookups();

  // ---- the disc's earlier session (see the comment at the top)
  struct TEarlierSessionCount {
    int64_t Files = 0;     // imported files now in the tree
    int64_t Replaced = 0;  // imported entries left out for a queued one of the same name
  };
  TEarlierSessionCount AddEarlierSession(const TImportedSession& session);
  // Every file of the tree that is read from a source (not kept from the disc), as the pair
  // (its path as Linux readers see it on the disc, "docs/b.txt"; its source path), in tree
  // order.
  std::vector<std::pair<std::string, std::string>> SourceFilesOnDisc() const;
  // Whether AddEarlierSession (or the component's import) has run since ClearAll.
  bool EarlierSessionAdded() const;
  void MarkEarlierSessionAdded();
  // The lowest sector holding data of an imported file; UINT32_MAX when there is none.
  uint32_t FirstImportedSector() const;

  // ---- layout and head
  bool PrepareImage();
  int64_t SectorsToWrite() const;
  bool BuildHeader();

  TMemoryStream HeaderStream;
  std::vector<uint8_t> DescriptorCopy;  // kDescriptorCopyBytes bytes
  int32_t DescriptorCopySize = 0;

  // ---- properties
  bool ReplaceFile = false;
  bool LastFolderOnly = false;
  bool JolietFileSystem = true;
  bool WritePostGap = true;
  // Hidden sources (on Linux: names beginning with ".") get the existence bit 0x01 in their
  // directory records. Off by default: isovfy counts the bit as an error and desktop readers
  // then hide files the user chose to burn.
  bool MarkHidden = false;
  // Rock Ridge entries in the ISO tree: full names with their case, modes and times for
  // POSIX readers (Linux mounts and libarchive read this before Joliet).
  bool RockRidge = false;
  int32_t CacheSize() const { return cacheSize_; }
  void SetCacheSize(int32_t value);
  std::string IdVolume, IdSystem, IdVolumeSet, IdPublisher, IdPreparer, IdApplication;
  std::string FileCopyright, FileAbstract, FileBibliographic;
  double DateCreation = 0.0, DateModification = 0.0, DateEffective = 0.0, DateExpiration = 0.0;
  TAddFileEvent OnAddFile;
  TAddDirEvent OnAddDir;

  // ---- layout fields (absolute sectors)
  int32_t StartSector = 0;
  int32_t PrimaryDescriptorSector = 0;
  int32_t JolietDescriptorSector = 0;
  int32_t TerminatorSector = 0;
  int32_t PathTableL = 0, PathTableM = 0;
  int32_t JolietPathTableL = 0, JolietPathTableM = 0;
  int32_t ISODirArea = 0, JolietDirArea = 0;
  int32_t ISODirSectors = 0, JolietDirSectors = 0;  // sizes of the two directory areas
  int32_t PathTableSize = 0, JolietPathTableSize = 0;
  int32_t PadSectors = 0;
  int32_t FirstFileSector = 0;
  int64_t VolumeSectors = 0;
  int64_t ImageSectors = 0;
  // Offset from GMT in 15-minute units, taken by ClearAll.
  int32_t TimeZoneOffset = 0;

  // ---- hooks (see the comment at the top)
  std::function<void(const std::string& text, uint8_t type)> OnDebugMessage;
  std::function<void(bool)> OnSetDoDebug;
  std::function<void()> OnBeep;
  std::function<double()> Now;

 protected:
  void DebugMessage(const std::string& text, uint8_t type);
  double CurrentTime() const;

 private:
  // The layout: folder numbers, then the head's structures from StartSector + 16 on (the
  // sector after them), then the files.
  bool NumberDirectories();
  void PlanRelocation();
  int64_t PlaceHead();
  bool PlaceFiles(int64_t headEnd);
  void WriteDescriptors(double now);
  // The ISO tree or the Joliet tree as the head's writers see it.
  HeadTree HeadTreeOf(bool joliet) const;
  TDEntry* AddDirEntry(TDEntry* parent, std::string longName, std::string shortName,
                       int32_t attr, double dateTime, bool& fatal,
                       const std::string& source = std::string(),
                       int64_t modTime = kNoModTime);
  int AddFileEntry(TDEntry* dir, const DirListEntry& entry, const TSourcePath& source,
                   bool& fatal);
  void AddEarlierEntries(TDEntry* dir, const TImportedEntry& from, TEarlierSessionCount& count,
                         bool& fatal);
  bool AddImportedFile(TDEntry* dir, const TImportedEntry& from, std::string longName,
                       bool& fatal);
  int AddDirRecursive(TDEntry* destDir, const std::string& source, const std::string& mask,
                      int attr, bool recursive, bool savePath, bool archiveOnly,
                      std::vector<std::pair<uint64_t, uint64_t>>& ancestry, bool& fatal);
  // When the table a new entry goes into is full (a folder takes a place in both): notes
  // `source` as left out, marks the tree full and sets `fatal`.
  bool RefuseWhenFull(bool folder, const std::string& source, bool& fatal);
  TDEntry* CreateDir(TDEntry* parent, std::string name, int32_t attr);
  TDEntry* ForceDir(const std::string& path);
  TDEntry* SavePathDestination(TDEntry* base, const std::string& nativeFolder);
  void RemoveEntry(TDEntry* dir, TFEntry* entry);
  void ClearDir(TDEntry* dir);
  void RemoveDirEntries(TDEntry* dir);

  int32_t cacheSize_ = 4194304;
  std::vector<TSkippedSource> skipped_;
  std::unordered_set<std::string> leftOutNoted_;
  bool treeFull_ = false;
  TTreeListingAhead* listingAhead_ = nullptr;  // while AddDir walks a folder
  // The relocation folder of the ISO tree, the folders moved into it, and the ISO tree's
  // path-table order (the tree's own order when nothing moved).
  TDEntry relocationDir_;
  TFEntry relocationEntry_;
  std::vector<TDEntry*> relocated_;
  std::vector<TDEntry*> isoOrder_;
  std::vector<TDEntry*> isoPlacement_;  // the order of the ISO directory area
};

}  // namespace brennix
