// An unsorted list of names, each with an attached object, that can own those objects:
// while OwnsObjects is set, deleting an entry, clearing the list and destroying it free the
// objects concerned. Names are compared without regard to letter case.
#pragma once

#include <QString>

#include <utility>
#include <vector>

namespace brennix {

template <class T>
class TCustomStringList {
 public:
  TCustomStringList() = default;
  ~TCustomStringList() { Clear(); }
  TCustomStringList(const TCustomStringList&) = delete;
  TCustomStringList& operator=(const TCustomStringList&) = delete;

  bool OwnsObjects = true;

  int Count() const { return static_cast<int>(items_.size()); }
  int Add(const QString& name, T* object) {
    items_.emplace_back(name, object);
    return Count() - 1;
  }
  int IndexOf(const QString& name) const {
    for (size_t i = 0; i < items_.size(); ++i)
      if (items_[i].first.compare(name, Qt::CaseInsensitive) == 0) return static_cast<int>(i);
    return -1;
  }
  QString Strings(int index) const { return Valid(index) ? items_[index].first : QString(); }
  T* Objects(int index) const { return Valid(index) ? items_[index].second : nullptr; }

  // Removes the entry; with OwnsObjects the object is freed.
  void Delete(int index) {
    if (!Valid(index)) return;
    T* object = items_[index].second;
    items_.erase(items_.begin() + index);
    if (OwnsObjects) delete object;
  }
  // Removes the entry and hands its object to the caller, whoever owns the list's objects.
  T* Extract(int index) {
    if (!Valid(index)) return nullptr;
    T* object = items_[index].second;
    items_.erase(items_.begin() + index);
    return object;
  }
  void Clear() {
    // Entries leave the list before their objects die, so an object's destructor never sees
    // itself still listed.
    std::vector<std::pair<QString, T*>> gone;
    gone.swap(items_);
    if (OwnsObjects)
      for (auto& item : gone) delete item.second;
  }

 private:
  bool Valid(int index) const { return index >= 0 && index < Count(); }
  std::vector<std::pair<QString, T*>> items_;
};

}  // namespace brennix
