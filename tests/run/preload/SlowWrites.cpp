// Preloaded into the headless command by a hostile-folder test: a pause after
// every write() but to the standard streams lets another process appending
// to the log get between any two writes that make one record.
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
