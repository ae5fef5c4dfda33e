// A bounded DER/BER reader over untrusted bytes.
//
// Elements are read one at a time from a ByteView. Every length is checked
// against the bytes that remain before it is used; nothing is ever read
// outside the view. Definite lengths may use the long form even where a
// shorter one would do (DER forbids it, the platform's decoder accepts it).
// Constructed elements may use the BER indefinite length (0x80 ... 00 00),
// whose end is found by walking the nested elements down to a fixed depth.
// Only single-byte tags are supported; the high-tag-number form is refused.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/signature/Bytes.h"

namespace veltrano::der {

// Why a read failed. Each maps to one of the platform's ASN.1 error codes.
enum class Error {
  kBadTag,   // an unexpected or unsupported tag (CRYPT_E_ASN1_BADTAG)
  kEnd,      // the data ends inside an element (CRYPT_E_ASN1_EOD)
  kCorrupt,  // a malformed length or content (CRYPT_E_ASN1_CORRUPT)
};

// The platform's code for an error, as an unsigned 32-bit number.
constexpr std::uint32_t PlatformCode(Error error) {
  return error == Error::kBadTag ? 0x8009310Bu : error == Error::kEnd ? 0x80093102u : 0x80093103u;
}

// Nesting limit for indefinite-length elements.
inline constexpr int kMaxDepth = 64;

namespace tag {
inline constexpr std::uint8_t kInteger = 0x02;
inline constexpr std::uint8_t kBitString = 0x03;
inline constexpr std::uint8_t kOctetString = 0x04;
inline constexpr std::uint8_t kNull = 0x05;
inline constexpr std::uint8_t kOid = 0x06;
inline constexpr std::uint8_t kIa5String = 0x16;
inline constexpr std::uint8_t kUtcTime = 0x17;
inline constexpr std::uint8_t kGeneralizedTime = 0x18;
inline constexpr std::uint8_t kBmpString = 0x1E;
inline constexpr std::uint8_t kSequence = 0x30;
inline constexpr std::uint8_t kSet = 0x31;
inline constexpr std::uint8_t kConstructed = 0x20;
// Context-specific [n], primitive and constructed.
constexpr std::uint8_t ContextPrimitive(unsigned n) { return static_cast<std::uint8_t>(0x80 | n); }
constexpr std::uint8_t Context(unsigned n) { return static_cast<std::uint8_t>(0xA0 | n); }
}  // namespace tag

struct Element {
  std::uint8_t tag = 0;
  // The element's complete encoding: identifier, length, content and, for an
  // indefinite length, the closing 00 00.
  ByteView encoding;
  // The content alone (without the closing 00 00).
  ByteView content;
  bool indefinite = false;

  bool constructed() const { return (tag & tag::kConstructed) != 0; }
};

// A value or the reason it could not be read.
template <typename T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}
  Result(Error error) : error_(error) {}

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  const T& operator*() const { return *value_; }
  T& operator*() { return *value_; }
  const T* operator->() const { return &*value_; }
  T* operator->() { return &*value_; }
  Error error() const { return error_; }

 private:
  std::optional<T> value_;
  Error error_ = Error::kCorrupt;
};

// Reads consecutive elements from a view.
class Reader {
 public:
  explicit Reader(ByteView data, int depth = 0) : data_(data), depth_(depth) {}

  bool AtEnd() const { return pos_ >= data_.size(); }
  // The tag of the next element, or nothing at the end.
  std::optional<std::uint8_t> PeekTag() const { return data_.U8(pos_); }
  // The bytes not yet read.
  ByteView Rest() const { return *data_.From(pos_); }
  int depth() const { return depth_; }
  // A reader over the content of `element`, one nesting level deeper.
  Reader Enter(const Element& element) const { return Reader(element.content, depth_ + 1); }

  // The next element, whatever its tag. kEnd when nothing is left.
  Result<Element> Next();
  // The next element, which must carry `expected` (kBadTag otherwise).
  Result<Element> Expect(std::uint8_t expected);
  // The next element when it carries `expected`; nothing (and nothing
  // consumed) when the reader is at its end or the next tag differs.
  Result<std::optional<Element>> Optional(std::uint8_t expected);

 private:
  Result<Element> NextIndefinite(std::uint8_t tagByte);

  ByteView data_;
  std::size_t pos_ = 0;
  int depth_;
};

// Reads exactly one element from `data` (bytes after it are ignored).
Result<Element> ReadElement(ByteView data);

// The dotted text of an OBJECT IDENTIFIER's content ("1.2.840.113549.1.7.2").
// kCorrupt for empty content, an unfinished arc or an arc above 64 bits.
Result<std::string> OidText(ByteView content);
// False where OidText gives kCorrupt.
bool IsValidOid(ByteView content);
// Writes OidText's text of valid content to `out` (no terminator), when `out`
// is not null; the text's length either way. No allocation: for writing the
// text straight into place.
std::size_t WriteOidText(ByteView content, char* out);
// True when valid content has exactly `text` as its dotted text.
bool OidTextEquals(ByteView content, std::string_view text);

// The value of an INTEGER's content as an unsigned 32-bit number. kCorrupt
// for empty content and for values that are negative or do not fit.
Result<std::uint32_t> SmallUnsigned(ByteView content);

}  // namespace veltrano::der
