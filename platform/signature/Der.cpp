#include "platform/signature/Der.h"

#include <array>
#include <charconv>
#include <cstring>

namespace veltrano::der {

Result<Element> Reader::Next() {
  const std::size_t start = pos_;
  const auto tagByte = data_.U8(start);
  if (!tagByte) return Error::kEnd;
  // High-tag-number form and the end-of-contents marker are not elements.
  if ((*tagByte & 0x1F) == 0x1F || *tagByte == 0x00) return Error::kBadTag;
  const auto first = data_.U8(start + 1);
  if (!first) return Error::kEnd;

  Element e;
  e.tag = *tagByte;
  std::size_t headerEnd = start + 2;

  if (*first == 0x80) {
    // Indefinite: the content runs to the 00 00 that closes this level.
    if (!e.constructed()) return Error::kCorrupt;
    if (depth_ + 1 > kMaxDepth) return Error::kCorrupt;
    Reader inner(*data_.From(headerEnd), depth_ + 1);
    for (;;) {
      const auto t = inner.data_.U8(inner.pos_);
      if (!t) return Error::kEnd;
      if (*t == 0x00) {
        const auto second = inner.data_.U8(inner.pos_ + 1);
        if (!second) return Error::kEnd;
        if (*second != 0x00) return Error::kCorrupt;
        break;
      }
      const auto child = inner.Next();
      if (!child) return child.error();
    }
    e.indefinite = true;
    e.content = *data_.Sub(headerEnd, inner.pos_);
    pos_ = headerEnd + inner.pos_ + 2;
    e.encoding = *data_.Sub(start, pos_ - start);
    return e;
  }

  std::uint64_t length = 0;
  if (*first < 0x80) {
    length = *first;
  } else {
    if (*first == 0xFF) return Error::kCorrupt;
    const unsigned count = *first & 0x7Fu;
    if (count > 8) return Error::kCorrupt;
    for (unsigned i = 0; i < count; ++i) {
      const auto b = data_.U8(headerEnd);
      if (!b) return Error::kEnd;
      length = (length << 8) | *b;
      ++headerEnd;
    }
  }
  const auto content = data_.Sub(headerEnd, length);
  if (!content) return Error::kEnd;
  e.content = *content;
  pos_ = headerEnd + static_cast<std::size_t>(length);
  e.encoding = *data_.Sub(start, pos_ - start);
  return e;
}

Result<Element> Reader::Expect(std::uint8_t expected) {
  const auto t = PeekTag();
  if (!t) return Error::kEnd;
  if (*t != expected) return Error::kBadTag;
  return Next();
}

Result<std::optional<Element>> Reader::Optional(std::uint8_t expected) {
  const auto t = PeekTag();
  if (!t || *t != expected) return std::optional<Element>();
  auto e = Next();
  if (!e) return e.error();
  return std::optional<Element>(std::move(*e));
}

Result<Element> ReadElement(ByteView data) { return Reader(data).Next(); }

namespace {

// The texts of the identifiers read last: the same few come up in every
// signature.
struct KnownOid {
  std::size_t size = 0;
  std::array<std::uint8_t, 24> content{};
  std::string text;
};
thread_local std::array<KnownOid, 32> t_knownOids;
thread_local std::size_t t_nextKnownOid = 0;

}  // namespace

Result<std::string> OidText(ByteView content) {
  if (content.empty()) return Error::kCorrupt;
  if (content.data()[content.size() - 1] & 0x80) return Error::kCorrupt;
  const bool keep = content.size() <= KnownOid{}.content.size();
  if (keep) {
    for (const KnownOid& known : t_knownOids) {
      if (known.size == content.size() &&
          std::memcmp(known.content.data(), content.data(), content.size()) == 0) {
        return known.text;
      }
    }
  }
  std::string text;
  text.reserve(content.size() * 3 + 2);  // enough for the usual arcs
  std::uint64_t arc = 0;
  bool firstArc = true;
  for (std::size_t i = 0; i < content.size(); ++i) {
    const std::uint8_t b = content.data()[i];
    if (arc > (UINT64_MAX >> 7)) return Error::kCorrupt;
    arc = (arc << 7) | (b & 0x7Fu);
    if (b & 0x80) continue;
    if (firstArc) {
      const std::uint64_t top = arc < 40 ? 0 : arc < 80 ? 1 : 2;
      text += static_cast<char>('0' + top);
      arc -= top * 40;
      firstArc = false;
    }
    char digits[24];
    digits[0] = '.';
    const char* end = std::to_chars(digits + 1, digits + sizeof digits, arc).ptr;
    text.append(digits, static_cast<std::size_t>(end - digits));
    arc = 0;
  }
  if (keep) {
    KnownOid& slot = t_knownOids[t_nextKnownOid++ % t_knownOids.size()];
    slot.size = content.size();
    std::memcpy(slot.content.data(), content.data(), content.size());
    slot.text = text;
  }
  return text;
}

Result<std::uint32_t> SmallUnsigned(ByteView content) {
  if (content.empty() || (content.data()[0] & 0x80)) return Error::kCorrupt;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < content.size(); ++i) {
    value = (value << 8) | content.data()[i];
    if (value > UINT32_MAX) return Error::kCorrupt;
  }
  return static_cast<std::uint32_t>(value);
}

}  // namespace veltrano::der
