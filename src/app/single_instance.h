// Refuses a second copy of the program. The guard is a lock file named after the program in
// the user's runtime folder; a lock left behind by a copy that crashed is recognised (its
// process is gone) and taken over.
#pragma once

#include <QString>

#include <memory>

class QLockFile;

namespace brennix {

inline constexpr const char* kInstanceName = "Brennix CD & DVD";

class TSingleInstance {
 public:
  explicit TSingleInstance(const QString& name = kInstanceName);
  ~TSingleInstance();  // releases the lock when this copy holds it
  TSingleInstance(const TSingleInstance&) = delete;
  TSingleInstance& operator=(const TSingleInstance&) = delete;

  // True when this copy now holds the guard; false when another live copy does.
  bool Acquire();
  bool Held() const { return held_; }
  QString LockFilePath() const;

 private:
  std::unique_ptr<QLockFile> lock_;
  QString path_;
  bool held_ = false;
};

}  // namespace brennix
