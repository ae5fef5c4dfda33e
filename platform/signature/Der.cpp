#include "platform/signature/Der.h"

#include <array>
#include <cstring>
#include <iterator>

namespace veltrano::der {

// Reads the element that starts at pos_: the header through plain indexing,
// each read checked against the size first (this runs for every element of
// every signature). An indefinite length goes to NextIndefinite.
Result<Element> Reader::Next() {
  const std::uint8_t* const bytes = data_.data();
  const std::size_t size = data_.size();
  const std::size_t start = pos_;
  if (start >= size) return Error::kEnd;
  const std::uint8_t tagByte = bytes[start];
  // High-tag-number form and the end-of-contents marker are not elements.
  if ((tagByte & 0x1F) == 0x1F || tagByte == 0x00) return Error::kBadTag;
  if (size - start < 2) return Error::kEnd;
  const std::uint8_t first = bytes[start + 1];
  std::size_t headerEnd = start + 2;
  std::uint64_t length = first;
  if (first >= 0x80) {
    if (first == 0x80) return NextIndefinite(tagByte);
    if (first == 0xFF) return Error::kCorrupt;
    const unsigned count = first & 0x7Fu;
    if (count > 8) return Error::kCorrupt;
    if (count > size - headerEnd) return Error::kEnd;
    length = 0;
    for (unsigned i = 0; i < count; ++i) length = (length << 8) | bytes[headerEnd++];
  }
  if (length > size - headerEnd) return Error::kEnd;
  pos_ = headerEnd + static_cast<std::size_t>(length);
  Element e;
  e.tag = tagByte;
  e.content = ByteView(bytes + headerEnd, static_cast<std::size_t>(length));
  e.encoding = ByteView(bytes + start, pos_ - start);
  return e;
}

// An element of indefinite length at pos_ (its tag `tagByte`, then 80): the
// content runs to the 00 00 that closes this level.
Result<Element> Reader::NextIndefinite(std::uint8_t tagByte) {
  const std::size_t start = pos_;
  const std::size_t headerEnd = start + 2;
  Element e;
  e.tag = tagByte;
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

bool IsValidOid(ByteView content) {
  if (content.empty() || (content.data()[content.size() - 1] & 0x80) != 0) return false;
  std::uint64_t arc = 0;
  for (std::size_t i = 0; i < content.size(); ++i) {
    const std::uint8_t b = content.data()[i];
    if (arc > (UINT64_MAX >> 7)) return false;
    arc = (arc << 7) | (b & 0x7Fu);
    if ((b & 0x80) == 0) arc = 0;
  }
  return true;
}

namespace {

// The texts of the identifiers written lately, by their content: the same
// few come up in every signature. A content has its place in the four slots
// from the one its hash picks; when all four hold others, the first is
// taken.
struct KnownOid {
  std::uint8_t contentSize = 0;  // 0: the slot is empty
  std::uint8_t textSize = 0;
  std::array<std::uint8_t, 24> content;
  std::array<char, 64> text;

  bool Holds(ByteView c) const {
    return contentSize == c.size() && std::memcmp(content.data(), c.data(), c.size()) == 0;
  }
};
thread_local std::array<KnownOid, 64> t_knownOids;

KnownOid& SlotFor(ByteView content) {
  // Identifiers that share an arc differ at their end: the length and the
  // last two bytes pick the slot.
  const std::size_t n = content.size();
  const std::uint8_t* d = content.data();
  const std::uint32_t hash = static_cast<std::uint32_t>(n) * 0x9E3779B1u ^
                             (n > 0 ? d[n - 1] * 0x85EBCA77u : 0) ^
                             (n > 1 ? d[n - 2] * 0xC2B2AE3Du : 0);
  constexpr std::size_t kWays = 4;
  const std::size_t first = (hash >> 24) % t_knownOids.size();
  for (std::size_t way = 0; way < kWays; ++way) {
    KnownOid& slot = t_knownOids[(first + way) % t_knownOids.size()];
    if (slot.contentSize == 0 || slot.Holds(content)) return slot;
  }
  return t_knownOids[first];
}

std::size_t FormatOid(ByteView content, char* out) {
  std::size_t length = 0;
  std::uint64_t arc = 0;
  bool firstArc = true;
  for (std::size_t i = 0; i < content.size(); ++i) {
    const std::uint8_t b = content.data()[i];
    arc = (arc << 7) | (b & 0x7Fu);
    if (b & 0x80) continue;
    // The first subidentifier holds the first two arcs: 40 * X + Y, X at most 2.
    const std::uint64_t top = !firstArc ? 0 : arc < 40 ? 0 : arc < 80 ? 1 : 2;
    std::uint64_t value = arc - top * 40;
    char digits[24];
    char* first = std::end(digits);
    do {
      *--first = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    *--first = '.';
    if (firstArc) *--first = static_cast<char>('0' + top);
    firstArc = false;
    arc = 0;
    for (; first != std::end(digits); ++first, ++length) {
      if (out != nullptr) out[length] = *first;
    }
  }
  return length;
}

}  // namespace

std::size_t WriteOidText(ByteView content, char* out) {
  const bool keep = content.size() <= KnownOid{}.content.size();
  KnownOid* slot = keep ? &SlotFor(content) : nullptr;
  if (slot == nullptr || !slot->Holds(content)) {
    const std::size_t length = FormatOid(content, nullptr);
    if (slot == nullptr || length > slot->text.size()) return FormatOid(content, out);
    slot->contentSize = static_cast<std::uint8_t>(content.size());
    std::memcpy(slot->content.data(), content.data(), content.size());
    slot->textSize = static_cast<std::uint8_t>(FormatOid(content, slot->text.data()));
  }
  if (out != nullptr) std::memcpy(out, slot->text.data(), slot->textSize);
  return slot->textSize;
}

Result<std::string> OidText(ByteView content) {
  if (!IsValidOid(content)) return Error::kCorrupt;
  std::string text(WriteOidText(content, nullptr), '\0');
  WriteOidText(content, text.data());
  return text;
}

bool OidTextEquals(ByteView content, std::string_view text) {
  char written[64];
  if (!IsValidOid(content) || text.size() > sizeof written ||
      WriteOidText(content, nullptr) != text.size()) {
    return false;
  }
  WriteOidText(content, written);
  return std::string_view(written, text.size()) == text;
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
