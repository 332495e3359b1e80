#include "platform/dir_listing.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/date_time.h"

namespace brennix {
namespace {

bool IsShortChar(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Keeps the characters an 8.3 name may hold (upper-cased); spaces and dots go, every other
// character (a whole UTF-8 sequence counts as one) becomes "_".
std::string CleanShortPart(const std::string& part) {
  std::string out;
  for (size_t i = 0; i < part.size(); ++i) {
    const auto c = static_cast<unsigned char>(part[i]);
    if (IsShortChar(c)) {
      out += Upper(static_cast<char>(c));
    } else if (c == ' ' || c == '.') {
      continue;
    } else if (c >= 0x80 && c < 0xC0) {
      continue;  // continuation byte: its sequence already gave one "_"
    } else {
      out += '_';
    }
  }
  return out;
}

bool Fill(const struct stat& st, const std::string& name, bool isLink, DirListEntry& e) {
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return false;
  e.Name = name;
  e.IsDirectory = S_ISDIR(st.st_mode);
  e.IsLink = isLink;
  e.Attr = e.IsDirectory ? kListAttrDirectory : kListAttrArchive;
  if (!name.empty() && name[0] == '.') e.Attr |= kListAttrHidden;
  if ((st.st_mode & S_IWUSR) == 0) e.Attr |= kListAttrReadOnly;
  e.Size = e.IsDirectory ? 0 : static_cast<int64_t>(st.st_size);
  e.DosTime = DosDateTimeFromUnix(st.st_mtime);
  e.ModTime = static_cast<int64_t>(st.st_mtime);
  e.Mode = static_cast<uint32_t>(st.st_mode & 07777);
  e.Device = st.st_dev;
  e.Inode = st.st_ino;
  return true;
}

ListResult FromErrno(int error) {
  if (error == ELOOP) return ListResult::LinkLoop;
  return error == ENOENT || error == ENOTDIR ? ListResult::NotFound : ListResult::Unreadable;
}

}  // namespace

bool IsValidShortName(const std::string& name) {
  const size_t dot = name.find('.');
  const std::string base = name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
  if (dot != std::string::npos && ext.empty()) return false;
  for (const char c : base + ext) {
    if (!IsShortChar(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

void ShortNameGenerator::Reserve(const std::string& upperName) { taken_.insert(upperName); }

bool ShortNameGenerator::Taken(const std::string& upperName) const {
  return taken_.count(upperName) != 0;
}

void ShortNameGenerator::Release(const std::string& upperName) { taken_.erase(upperName); }

bool PassesAttrMask(int attr, int attrMask) {
  return (attr & (kListAttrHidden | kListAttrSystem | kListAttrDirectory) & ~attrMask) == 0;
}

std::string ShortNameGenerator::Generate(const std::string& longName,
                                         const std::function<bool(const std::string&)>& inUse) {
  const auto take = [&](const std::string& candidate) {
    return !(inUse && inUse(candidate)) && taken_.insert(candidate).second;
  };
  const size_t first = longName.find_first_not_of('.');
  const std::string stripped = first == std::string::npos ? std::string() : longName.substr(first);
  const size_t dot = stripped.rfind('.');
  std::string base = CleanShortPart(dot == std::string::npos ? stripped : stripped.substr(0, dot));
  std::string ext = dot == std::string::npos ? std::string() : CleanShortPart(stripped.substr(dot + 1));
  // Names are built by appending: g++ 12 at -O3 takes assigning or prepending a literal here
  // for an overlapping copy (-Wrestrict) and stops the build.
  if (base.empty()) base.push_back('_');
  if (ext.size() > 3) ext.resize(3);
  std::string suffix;
  if (!ext.empty()) suffix.append(".").append(ext);
  const std::string key = base.substr(0, 8) + suffix;
  int& next = nextTail_[key];
  if (next < 1) next = 1;
  for (int n = next;; ++n) {
    const std::string tail = std::string("~").append(std::to_string(n));
    if (tail.size() >= 8) break;
    std::string candidate = base.substr(0, 8 - tail.size()) + tail + suffix;
    if (take(candidate)) {
      next = n + 1;
      return candidate;
    }
  }
  // Ten million names with one stem: fall back to a running number alone.
  for (uint32_t n = 0;; ++n) {
    std::string candidate = std::string("_").append(std::to_string(n)).append(suffix);
    if (take(candidate)) return candidate;
  }
}

bool MatchesMask(const std::string& name, const std::string& mask) {
  if (mask.empty() || mask == "*" || mask == "*.*") return true;
  size_t n = 0, m = 0, starM = std::string::npos, starN = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == '?' || Upper(mask[m]) == Upper(name[n]))) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == '*') {
      starM = m++;
      starN = n;
    } else if (starM != std::string::npos) {
      m = starM + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

bool InAncestry(const FolderAncestry& ancestry, uint64_t device, uint64_t inode) {
  return std::find(ancestry.begin(), ancestry.end(), std::make_pair(device, inode)) !=
         ancestry.end();
}

std::string JoinNative(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

ListResult ListDirectory(const std::string& folder, const std::string& mask, int attrMask,
                         std::vector<DirListEntry>& out, std::vector<DirListProblem>* problems) {
  out.clear();
  if (problems != nullptr) problems->clear();
  const std::string path = folder.empty() ? "." : folder;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return FromErrno(errno);
  std::vector<std::string> names;
  while (const dirent* d = readdir(dir)) {
    const std::string name = d->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  const int fd = dirfd(dir);
  std::sort(names.begin(), names.end());

  std::vector<DirListEntry> all;
  all.reserve(names.size());
  auto problem = [&](const std::string& name, ListResult kind) {
    const int hidden = !name.empty() && name[0] == '.' ? int{kListAttrHidden} : 0;
    if (problems != nullptr && PassesAttrMask(hidden, attrMask) && MatchesMask(name, mask))
      problems->push_back({name, kind});
  };
  for (const std::string& name : names) {
    struct stat st {};
    if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      problem(name, FromErrno(errno));
      continue;
    }
    bool isLink = false;
    if (S_ISLNK(st.st_mode)) {
      if (fstatat(fd, name.c_str(), &st, 0) != 0) {
        problem(name, FromErrno(errno));  // dangling, or a loop of links
        continue;
      }
      isLink = true;
    }
    DirListEntry e;
    if (Fill(st, name, isLink, e)) {
      if (!e.IsDirectory) e.Readable = faccessat(fd, name.c_str(), R_OK, AT_EACCESS) == 0;
      all.push_back(std::move(e));
    } else {
      problem(name, ListResult::Special);
    }
  }
  closedir(dir);

  // Names that are valid 8.3 names keep them; the others get generated ones that collide
  // with nothing in the folder.
  ShortNameGenerator generator;
  for (const DirListEntry& e : all) {
    if (IsValidShortName(e.Name)) {
      std::string upper = e.Name;
      for (char& c : upper) c = Upper(c);
      generator.Reserve(upper);
    }
  }
  for (DirListEntry& e : all) {
    if (!IsValidShortName(e.Name)) e.AlternateName = generator.Generate(e.Name);
  }

  for (DirListEntry& e : all) {
    if (!PassesAttrMask(e.Attr, attrMask)) continue;
    if (!MatchesMask(e.Name, mask)) continue;
    out.push_back(std::move(e));
  }
  return ListResult::Ok;
}

ListResult ListSingle(const std::string& path, DirListEntry& out) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  struct stat st {};
  if (lstat(p.c_str(), &st) != 0) return FromErrno(errno);
  bool isLink = false;
  if (S_ISLNK(st.st_mode)) {
    if (stat(p.c_str(), &st) != 0) return ListResult::NotFound;
    isLink = true;
  }
  const size_t slash = p.rfind('/');
  const std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
  out = DirListEntry();
  if (!Fill(st, name, isLink, out)) return ListResult::Special;
  if (!out.IsDirectory) out.Readable = faccessat(AT_FDCWD, p.c_str(), R_OK, AT_EACCESS) == 0;
  if (!IsValidShortName(name)) {
    ShortNameGenerator generator;
    out.AlternateName = generator.Generate(name);
  }
  return ListResult::Ok;
}

std::string RealPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::string();
  std::string result = resolved;
  std::free(resolved);
  return result;
}

}  // namespace brennix
