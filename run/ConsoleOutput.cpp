#include "run/ConsoleOutput.h"

#include <iostream>

#ifdef _WIN32
#include <algorithm>
#include <memory>
#include <streambuf>
#include <string>

#include "platform/Win32.h"
#else
#include <fcntl.h>

#include <cerrno>
#endif

namespace veltrano {

#ifdef _WIN32
namespace {

// Collects UTF-8 bytes and writes them to a console as UTF-16 on every flush.
// A character cut in two by a flush waits for its remaining bytes.
class ConsoleBuffer : public std::streambuf {
 public:
  explicit ConsoleBuffer(HANDLE console) : m_console(console) {}
  ~ConsoleBuffer() override { sync(); }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    m_pending.push_back(traits_type::to_char_type(c));
    if (m_pending.size() >= 4096) sync();
    return c;
  }

  std::streamsize xsputn(const char* s, std::streamsize n) override {
    m_pending.append(s, static_cast<std::size_t>(n));
    if (m_pending.size() >= 4096) sync();
    return n;
  }

  int sync() override {
    const std::size_t whole = WholeCharacters();
    if (whole == 0) return 0;
    const int length = static_cast<int>(whole);
    const int units = MultiByteToWideChar(CP_UTF8, 0, m_pending.data(), length, nullptr, 0);
    std::wstring text(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, m_pending.data(), length, text.data(), units);
    m_pending.erase(0, whole);
    DWORD written = 0;
    for (std::size_t done = 0; done < text.size(); done += written) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 8192));
      if (!WriteConsoleW(m_console, text.data() + done, chunk, &written, nullptr) || written == 0)
        return -1;
    }
    return 0;
  }

 private:
  // How many leading bytes form whole UTF-8 sequences: an incomplete
  // sequence at the end stays for the next flush.
  std::size_t WholeCharacters() const {
    const std::size_t size = m_pending.size();
    std::size_t start = size;
    for (int back = 0; back < 4 && start > 0; ++back) {
      const auto byte = static_cast<unsigned char>(m_pending[start - 1]);
      if ((byte & 0xC0) != 0x80) {  // a lead byte (or ASCII)
        --start;
        const std::size_t need = byte < 0x80 ? 1 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
        return size - start >= need ? size : start;
      }
      --start;
    }
    return size;  // no lead byte close to the end: nothing to wait for
  }

  HANDLE m_console;
  std::string m_pending;
};

// The console behind a standard handle, or null when it is redirected.
HANDLE ConsoleOf(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
    return nullptr;
  return handle;
}

struct ConsoleStream {
  explicit ConsoleStream(HANDLE console) : buffer(console) {}
  ConsoleBuffer buffer;
  std::ostream stream{&buffer};
};

std::ostream& StreamFor(DWORD which, std::ostream& redirected,
                        std::unique_ptr<ConsoleStream>& console) {
  if (HANDLE handle = ConsoleOf(which)) {
    console = std::make_unique<ConsoleStream>(handle);
    return console->stream;
  }
  return redirected;
}

}  // namespace

std::ostream& StandardOutput() {
  static std::unique_ptr<ConsoleStream> console;
  static std::ostream& stream = StreamFor(STD_OUTPUT_HANDLE, std::cout, console);
  return stream;
}

std::ostream& StandardError() {
  static std::unique_ptr<ConsoleStream> console;
  static std::ostream& stream = StreamFor(STD_ERROR_HANDLE, std::cerr, console);
  return stream;
}

#else

std::ostream& StandardOutput() { return std::cout; }
std::ostream& StandardError() { return std::cerr; }

#endif

void HoldClosedStandardStreams() {
#ifndef _WIN32
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) open("/dev/null", O_RDONLY);
  }
#endif
}

}  // namespace veltrano
