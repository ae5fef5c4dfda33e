// Preloaded into the headless command by one hostile-folder test: every
// write() to a file other than the standard streams is followed by a pause,
// so another process appending to the same file gets in between any two
// writes that together make one log record.
#include <dlfcn.h>
#include <unistd.h>

#include <ctime>

extern "C" ssize_t write(int fd, const void* buffer, size_t count) {
  using Write = ssize_t (*)(int, const void*, size_t);
  static const auto next = reinterpret_cast<Write>(dlsym(RTLD_NEXT, "write"));
  const ssize_t written = next(fd, buffer, count);
  if (fd > 2) {
    const timespec pause{0, 2000000};
    nanosleep(&pause, nullptr);
  }
  return written;
}
