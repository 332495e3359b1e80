#include "image/image_tables.h"

#include <ostream>

namespace brennix {
namespace {

// The separator between folder and name, as the path is joined: none after a folder that
// ends in "/" (the root), else one.
std::string_view Separator(const std::string& folder) {
  return !folder.empty() && folder.back() == '/' ? std::string_view() : std::string_view("/");
}

}  // namespace

std::string TSourcePath::str() const {
  if (!folder_) return name_;
  std::string path;
  path.reserve(folder_->size() + 1 + name_.size());
  path.append(*folder_).append(Separator(*folder_)).append(name_);
  return path;
}

uint64_t TSourcePath::Hash() const {
  if (!folder_) return HashText(name_);
  return HashText(name_, HashText(Separator(*folder_), HashText(*folder_)));
}

bool TSourcePath::operator==(std::string_view path) const {
  if (!folder_) return path == name_;
  const std::string_view separator = Separator(*folder_);
  if (path.size() != folder_->size() + separator.size() + name_.size()) return false;
  if (path.substr(0, folder_->size()) != *folder_) return false;
  path.remove_prefix(folder_->size());
  return path.substr(0, separator.size()) == separator && path.substr(separator.size()) == name_;
}

bool TSourcePath::operator==(const TSourcePath& other) const {
  if (folder_ == other.folder_) return name_ == other.name_;
  return *this == std::string_view(other.str());
}

std::ostream& operator<<(std::ostream& out, const TSourcePath& path) { return out << path.str(); }

ImageTables& Tables() {
  static ImageTables tables;
  return tables;
}

}  // namespace brennix
