#include "engine/LogStream.h"

#include <cstring>
#include <cwchar>
#include <string>

#include "platform/WideText.h"

namespace veltrano {
namespace {

class LogCodecvt : public std::codecvt<wchar_t, char, std::mbstate_t> {
 public:
  explicit LogCodecvt(std::size_t refs = 0) : std::codecvt<wchar_t, char, std::mbstate_t>(refs) {}

 protected:
  result do_out(std::mbstate_t&, const wchar_t* from, const wchar_t* fromEnd,
                const wchar_t*& fromNext, char* to, char* toEnd, char*& toNext) const override {
    fromNext = from;
    toNext = to;
    std::string bytes;
    while (fromNext != fromEnd) {
      const wchar_t* next = fromNext;
      char32_t cp = static_cast<char32_t>(*next++);
      if constexpr (sizeof(wchar_t) < 4) {
        cp &= 0xFFFF;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
          if (next == fromEnd) return partial;  // wait for the low half
          const char32_t lo = static_cast<char32_t>(*next) & 0xFFFF;
          if (lo >= 0xDC00 && lo <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
            ++next;
          }
        }
      }
      bytes.clear();
      if (!AppendBytesForCodePoint(cp, bytes)) AppendBytesForCodePoint(0xFFFD, bytes);
      if (static_cast<std::size_t>(toEnd - toNext) < bytes.size()) return partial;
      std::memcpy(toNext, bytes.data(), bytes.size());
      toNext += bytes.size();
      fromNext = next;
    }
    return ok;
  }

  result do_unshift(std::mbstate_t&, char* to, char*, char*& toNext) const override {
    toNext = to;
    return noconv;
  }

  // The log is only ever written.
  result do_in(std::mbstate_t&, const char* from, const char*, const char*& fromNext, wchar_t* to,
               wchar_t*, wchar_t*& toNext) const override {
    fromNext = from;
    toNext = to;
    return error;
  }

  int do_encoding() const noexcept override { return 0; }
  bool do_always_noconv() const noexcept override { return false; }
  int do_length(std::mbstate_t&, const char*, const char*, std::size_t) const override { return 0; }
  int do_max_length() const noexcept override { return 4; }
};

}  // namespace

std::locale LogLocale() { return std::locale(std::locale::classic(), new LogCodecvt); }

}  // namespace veltrano
