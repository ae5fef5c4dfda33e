#include "platform/standin/FolderNames.h"

#include <dirent.h>
#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstddef>
#include <cstring>

#include "platform/WideText.h"

namespace veltrano {
namespace {

// Letter case is folded with the full Unicode tables of the C.UTF-8 locale
// (independent of the user's locale); without it, ASCII only. ASCII is folded
// inline.
wchar_t FoldWideCase(char32_t c) {
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (utf8 != static_cast<locale_t>(0)) return static_cast<wchar_t>(towupper_l(c, utf8));
  return static_cast<wchar_t>(c);
}
inline wchar_t FoldCase(char32_t c) {
  if (c < 0x80) return static_cast<wchar_t>(c >= U'a' && c <= U'z' ? c - U'a' + U'A' : c);
  return FoldWideCase(c);
}

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
constexpr std::uint64_t Bytes(unsigned char c) { return 0x0101010101010101ULL * c; }

// Eight ASCII bytes with every lower-case letter made upper case.
inline std::uint64_t FoldAscii8(std::uint64_t w) {
  // A byte's top bit says it is at least 'a', and at most 'z'; no byte carries
  // into the next, since none is above 0x7F.
  const std::uint64_t atLeastA = w + Bytes(0x80 - 'a');
  const std::uint64_t aboveZ = w + Bytes(0x80 - 'z' - 1);
  const std::uint64_t lower = atLeastA & ~aboveZ & kHighBits;
  return w - (lower >> 2);  // 0x80 >> 2 is the 0x20 between the cases
}

// The bytes as read from memory (first byte most significant), to compare.
inline std::uint64_t ByteOrder(std::uint64_t w) {
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(w);
  return w;
}

int DotRank(std::string_view name) {
  if (name == ".") return 0;
  if (name == "..") return 1;
  return 2;
}

}  // namespace

bool FindNameLess(std::string_view a, std::string_view b) {
  if (a.starts_with('.') || b.starts_with('.')) {
    const int ra = DotRank(a);
    const int rb = DotRank(b);
    if (ra != rb) return ra < rb;
  }
  // Equal bytes fold alike: comparing starts at the first byte that differs,
  // found eight bytes at a time, or at the start of its character. Eight
  // ASCII bytes on each side are folded and compared at once.
  const std::size_t common = std::min(a.size(), b.size());
  std::size_t i = 0;
  for (std::uint64_t wa = 0, wb = 0; i + 8 <= common; i += 8) {
    std::memcpy(&wa, a.data() + i, 8);
    std::memcpy(&wb, b.data() + i, 8);
    if (wa == wb) continue;
    if (((wa | wb) & kHighBits) != 0) break;
    const std::uint64_t fa = FoldAscii8(wa), fb = FoldAscii8(wb);
    if (fa != fb) return ByteOrder(fa) < ByteOrder(fb);
  }
  while (i < common && a[i] == b[i]) ++i;
  // Every byte but a continuation byte starts a character.
  const auto continues = [](std::string_view s, std::size_t at) {
    return at < s.size() && (static_cast<unsigned char>(s[at]) & 0xC0) == 0x80;
  };
  while (i > 0 && (continues(a, i) || continues(b, i))) --i;
  std::size_t j = i;
  while (i < a.size() && j < b.size()) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[j]);
    wchar_t fa, fb;
    if ((ca | cb) < 0x80) {  // ASCII, the usual case, needs no decoding
      fa = FoldCase(ca);
      fb = FoldCase(cb);
      ++i;
      ++j;
    } else {
      fa = FoldCase(NextCodePoint(a, i));
      fb = FoldCase(NextCodePoint(b, j));
    }
    if (fa != fb) return fa < fb;
  }
  if (i < a.size() || j < b.size()) return j < b.size();
  return a < b;
}

void FolderNames::Read(int dirFd) {
  // As much as the C library's readdir asks the system for at a time.
  constexpr std::size_t kBufferBytes = 32 * 1024;
  constexpr std::size_t kNameAt = offsetof(dirent64, d_name);
  const auto buffer = std::make_unique_for_overwrite<char[]>(kBufferBytes);
  for (bool room = true; room;) {
    const ssize_t got = ::getdents64(dirFd, buffer.get(), kBufferBytes);
    if (got <= 0) break;
    for (std::size_t at = 0; room && at < static_cast<std::size_t>(got);) {
      decltype(dirent64::d_reclen) length = 0;
      std::memcpy(&length, buffer.get() + at + offsetof(dirent64, d_reclen), sizeof length);
      const char* name = buffer.get() + at + kNameAt;
      const std::string_view view(name, ::strnlen(name, length - kNameAt));
      if (view.size() <= NAME_MAX) room = Add(view);
      at += length;
    }
  }
  std::sort(places_.begin(), places_.end(),
            [this](std::uint32_t a, std::uint32_t b) { return FindNameLess(At(a), At(b)); });
}

std::string_view FolderNames::At(std::uint32_t place) const {
  const char* p = blocks_[place >> kBlockShift].get() + (place & (kBlockBytes - 1));
  return std::string_view(p + 1, static_cast<unsigned char>(p[0]));
}

bool FolderNames::Add(std::string_view name) {
  const std::size_t bytes = name.size() + 2;  // the length byte and the NUL
  if (used_ + bytes > kBlockBytes) {
    if (blocks_.size() == (std::size_t{1} << (32 - kBlockShift))) return false;
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlockBytes));
    used_ = 0;
  }
  char* p = blocks_.back().get() + used_;
  p[0] = static_cast<char>(name.size());
  std::memcpy(p + 1, name.data(), name.size());
  p[name.size() + 1] = '\0';
  places_.push_back(static_cast<std::uint32_t>(((blocks_.size() - 1) << kBlockShift) | used_));
  used_ += bytes;
  return true;
}

}  // namespace veltrano
