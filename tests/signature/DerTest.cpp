#include "platform/signature/Der.h"

#include <gtest/gtest.h>

#include "tests/fixtures/DerWriter.h"

namespace veltrano {
namespace {

using der::Error;
using fixtures::Bytes;

// What reading one element from the row's bytes gives: an error, or the
// element's tag, content length and encoding length.
struct ReadCase {
  const char* what;
  Bytes input;
  std::optional<Error> error;
  std::uint8_t tag = 0;
  std::size_t contentSize = 0;
  std::size_t encodingSize = 0;
};

Bytes Nested(int levels) {
  Bytes b = {0x05, 0x00};
  for (int i = 0; i < levels; ++i) b = fixtures::TlvIndefinite(0x30, b);
  return b;
}

TEST(DerReader, ReadsOrRefusesOneElement) {
  Bytes longContent(300, 0x41);
  const ReadCase cases[] = {
      {"short form", {0x04, 0x02, 0xAA, 0xBB}, {}, 0x04, 2, 4},
      {"trailing bytes are not part of the element", {0x04, 0x01, 0xAA, 0xFF}, {}, 0x04, 1, 3},
      {"long form", fixtures::OctetString(longContent), {}, 0x04, 300, 304},
      {"non-minimal long form is accepted", {0x04, 0x82, 0x00, 0x01, 0x7A}, {}, 0x04, 1, 5},
      {"indefinite constructed", {0x30, 0x80, 0x02, 0x01, 0x05, 0x00, 0x00, 0xFF}, {}, 0x30, 3, 7},
      {"indefinite inside indefinite",
       {0x30, 0x80, 0xA0, 0x80, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00},
       {},
       0x30,
       6,
       10},
      {"nesting at the limit", Nested(der::kMaxDepth), {}, 0x30, 0, 0},
      {"nesting past the limit", Nested(der::kMaxDepth + 1), Error::kCorrupt},
      {"empty input", {}, Error::kEnd},
      {"tag without length", {0x30}, Error::kEnd},
      {"content shorter than its length", {0x04, 0x05, 0x01}, Error::kEnd},
      {"length bytes missing", {0x04, 0x82, 0x01}, Error::kEnd},
      {"length larger than any input",
       {0x04, 0x88, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       Error::kEnd},
      {"nine length bytes", {0x04, 0x89, 0, 0, 0, 0, 0, 0, 0, 0, 1}, Error::kCorrupt},
      {"reserved length byte", {0x04, 0xFF}, Error::kCorrupt},
      {"indefinite primitive", {0x04, 0x80, 0x00, 0x00}, Error::kCorrupt},
      {"indefinite without its end", {0x30, 0x80, 0x05, 0x00}, Error::kEnd},
      {"broken end marker", {0x30, 0x80, 0x00, 0x01}, Error::kCorrupt},
      {"high-tag-number form", {0x1F, 0x81, 0x00, 0x00}, Error::kBadTag},
      {"end marker as an element", {0x00, 0x00}, Error::kBadTag},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.what);
    const auto e = der::ReadElement(ByteView(c.input));
    if (c.error) {
      ASSERT_FALSE(e.ok());
      EXPECT_EQ(e.error(), *c.error);
      continue;
    }
    ASSERT_TRUE(e.ok()) << static_cast<int>(e.error());
    EXPECT_EQ(e->tag, c.tag);
    if (c.encodingSize != 0) {
      EXPECT_EQ(e->content.size(), c.contentSize);
      EXPECT_EQ(e->encoding.size(), c.encodingSize);
    }
    EXPECT_EQ(e->encoding.data(), c.input.data());
  }
}

TEST(DerReader, ObjectIdentifiersAsDottedText) {
  for (const char* dotted : {"1.2.840.113549.1.9.5", "1.3.6.1.4.1.311.2.1.12", "2.5.4.3",
                             "2.999.18446744073709551615"}) {
    const Bytes oid = fixtures::Oid(dotted);
    const auto text = der::OidText(ByteView(oid.data() + 2, oid.size() - 2));
    ASSERT_TRUE(text.ok()) << dotted;
    EXPECT_EQ(*text, dotted);
  }
  // Texts already made are kept by content: many identifiers that differ only
  // in their last arc, over and over, each keep their own text.
  for (int round = 0; round < 2; ++round) {
    for (int arc = 0; arc < 200; ++arc) {
      const std::string dotted = "1.2.840.113549.1.9." + std::to_string(arc);
      const Bytes oid = fixtures::Oid(dotted);
      const auto text = der::OidText(ByteView(oid.data() + 2, oid.size() - 2));
      EXPECT_TRUE(text.ok() && *text == dotted) << dotted;
    }
  }
  const Bytes bad[] = {
      {},                                                                        // empty
      {0x2A, 0x86},                                                              // unfinished arc
      {0x2A, 0x82, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00},  // above 64 bits
  };
  for (const Bytes& content : bad) {
    EXPECT_EQ(der::OidText(ByteView(content)).error(), Error::kCorrupt);
  }
}

}  // namespace
}  // namespace veltrano
