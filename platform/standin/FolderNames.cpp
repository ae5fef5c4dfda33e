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

// The key of a name not ordered by its key.
constexpr std::uint64_t kNoKey = 0xFFFFFFFF;

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
  Sort();
}

// Sorting compares names where it can by a key of four of their bytes
// upper-cased, kept in the high half of each entry beside the name's place:
// sorting the entries as numbers then orders the names without reading them,
// which at a million names saves most of the sort's time (the names lie all
// over the arena, out of the processor's cache). Names that share their key
// are then ordered by their next four bytes, and so on. A key stands for the
// names' order only while its bytes are ASCII; the other names (and "." and
// "..") are sorted by FindNameLess and merged in.
void FolderNames::Sort() {
  const auto less = [this](std::uint64_t a, std::uint64_t b) { return FindNameLess(At(a), At(b)); };
  // The bytes every name but "." and ".." starts with need no key.
  std::size_t common = std::string_view::npos;
  std::string_view first;
  for (const std::uint64_t entry : entries_) {
    const std::string_view name = At(entry);
    if (name == "." || name == "..") continue;
    if (common == std::string_view::npos) first = name;
    const std::size_t most = std::min({common, name.size(), first.size()});
    common = 0;
    while (common < most && name[common] == first[common]) ++common;
  }
  if (common == std::string_view::npos) common = 0;
  for (std::uint64_t& entry : entries_) entry = Keyed(entry, common);
  const auto keyed = std::partition(entries_.begin(), entries_.end(),
                                    [](std::uint64_t e) { return (e >> 32) != kNoKey; });
  SortByKeys(entries_.begin(), keyed, common);
  std::sort(keyed, entries_.end(), less);
  std::inplace_merge(entries_.begin(), keyed, entries_.end(), less);
}

void FolderNames::SortByKeys(Entries::iterator first, Entries::iterator last, std::size_t at) {
  const auto less = [this](std::uint64_t a, std::uint64_t b) { return FindNameLess(At(a), At(b)); };
  std::sort(first, last);
  while (first != last) {
    const std::uint64_t key = *first >> 32;
    const auto run = std::find_if(first, last, [key](std::uint64_t e) { return e >> 32 != key; });
    if (run - first > 1) {
      // Names that end within the key are alike but for letter case.
      bool keyed = (key & 0xFF) != 0;
      for (auto e = first; keyed && e != run; ++e) {
        *e = Keyed(*e, at + 4);
        keyed = (*e >> 32) != kNoKey;
      }
      if (keyed) {
        SortByKeys(first, run, at + 4);
      } else {
        std::sort(first, run, less);
      }
    }
    first = run;
  }
}

std::uint64_t FolderNames::Keyed(std::uint64_t entry, std::size_t at) const {
  const std::string_view name = At(entry);
  std::uint64_t key = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    unsigned c = i < name.size() ? static_cast<unsigned char>(name[i]) : 0;
    if (c >= 0x80 || name == "." || name == "..") {
      key = kNoKey;
      break;
    }
    key = key << 8 | (c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c);
  }
  return key << 32 | (entry & 0xFFFFFFFFu);
}

std::string_view FolderNames::At(std::uint64_t entry) const {
  const auto place = static_cast<std::uint32_t>(entry);
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
  entries_.push_back(((blocks_.size() - 1) << kBlockShift) | used_);
  used_ += bytes;
  return true;
}

}  // namespace veltrano
