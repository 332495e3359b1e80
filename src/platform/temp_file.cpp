#include "platform/temp_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>

namespace brennix {

int CreateFileBeside(const std::string& path, const std::string& suffix, mode_t mode,
                     std::string& created) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char random[6] = {};
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
      for (size_t i = 0; i < sizeof random; ++i)  // no entropy yet: still unique enough
        random[i] = static_cast<unsigned char>((::getpid() >> (i * 3)) + attempt * 7 + i);
    }
    std::string name = path + ".";
    for (const unsigned char r : random) name += kLetters[r % (sizeof kLetters - 1)];
    name += suffix;
    const int fd =
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      created = name;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace brennix
