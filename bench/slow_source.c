/* A source folder that reads slowly, as from a busy network share: preloaded into a program,
 * it makes every open of a path below SLOW_SOURCE_DIR, and every read of a file so opened,
 * wait SLOW_SOURCE_DELAY_US microseconds first (default 1000). Everything else is untouched.
 * bench/ui_gap_bench.sh builds it:
 *   cc -shared -fPIC -O2 -o slow_source.so bench/slow_source.c -ldl
 *   SLOW_SOURCE_DIR=/abs/folder LD_PRELOAD=$PWD/slow_source.so program
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#define MAX_FDS 65536

static atomic_bool slow_fd[MAX_FDS];

/* Looked up at first use: the program may open files before this library's constructors. */
#define REAL(name, type)                                                 \
  static _Atomic(type) real_##name;                                      \
  if (real_##name == NULL) real_##name = (type)dlsym(RTLD_NEXT, #name);

static int below_source(const char* path) {
  const char* dir = getenv("SLOW_SOURCE_DIR");
  if (dir == NULL || *dir == '\0' || path == NULL) return 0;
  const size_t n = strlen(dir);
  return strncmp(path, dir, n) == 0 && (path[n] == '/' || path[n] == '\0');
}

static void wait_a_little(void) {
  const char* text = getenv("SLOW_SOURCE_DELAY_US");
  const long us = text != NULL ? atol(text) : 1000;
  if (us <= 0) return;
  const struct timespec t = {us / 1000000, (us % 1000000) * 1000};
  nanosleep(&t, NULL);
}

static int opened(int slow, int fd) {
  if (fd >= 0 && fd < MAX_FDS) slow_fd[fd] = slow;
  return fd;
}

typedef int (*open_fn)(const char*, int, ...);
typedef int (*openat_fn)(int, const char*, int, ...);
typedef ssize_t (*read_fn)(int, void*, size_t);
typedef ssize_t (*pread_fn)(int, void*, size_t, off_t);
typedef int (*close_fn)(int);

static mode_t mode_of(int flags, va_list args) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(args, mode_t) : 0;
}

// One wrapper of open, open64, openat or openat64: the file's mode is taken from the
// arguments only where the flags say it is there.
#define OPEN_WRAPPER(name, type, params, args)   \
  int name params {                              \
    REAL(name, type)                             \
    va_list rest;                                \
    va_start(rest, flags);                       \
    const mode_t mode = mode_of(flags, rest);    \
    va_end(rest);                                \
    const int slow = below_source(path);         \
    if (slow) wait_a_little();                   \
    return opened(slow, real_##name args);       \
  }

OPEN_WRAPPER(open, open_fn, (const char* path, int flags, ...), (path, flags, mode))
OPEN_WRAPPER(open64, open_fn, (const char* path, int flags, ...), (path, flags, mode))
OPEN_WRAPPER(openat, openat_fn, (int dirfd, const char* path, int flags, ...),
             (dirfd, path, flags, mode))
OPEN_WRAPPER(openat64, openat_fn, (int dirfd, const char* path, int flags, ...),
             (dirfd, path, flags, mode))

static int slow(int fd) { return fd >= 0 && fd < MAX_FDS && slow_fd[fd]; }

ssize_t read(int fd, void* buffer, size_t count) {
  REAL(read, read_fn)
  if (slow(fd)) wait_a_little();
  return real_read(fd, buffer, count);
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  REAL(pread, pread_fn)
  if (slow(fd)) wait_a_little();
  return real_pread(fd, buffer, count, offset);
}

ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) {
  REAL(pread64, pread_fn)
  if (slow(fd)) wait_a_little();
  return real_pread64(fd, buffer, count, offset);
}

/* A number given back is no longer that file; whatever gets it next reads at full speed. */
int close(int fd) {
  REAL(close, close_fn)
  if (fd >= 0 && fd < MAX_FDS) slow_fd[fd] = 0;
  return real_close(fd);
}
