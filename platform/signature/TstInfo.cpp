#include "platform/signature/TstInfo.h"

#include <optional>

#include "platform/FileTimes.h"

namespace veltrano::tst {
namespace {

using der::Error;
namespace tag = der::tag;

#define VELTRANO_TRY(name, expr) \
  auto name = (expr);            \
  if (!name) return name.error()

// The decimal number of `count` digits at `pos` of `text`, or nothing.
std::optional<unsigned> Digits(ByteView text, std::size_t pos, std::size_t count) {
  unsigned value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const auto c = text.U8(pos + i);
    if (!c || *c < '0' || *c > '9') return std::nullopt;
    value = value * 10 + (*c - '0');
  }
  return value;
}

}  // namespace

der::Result<TstInfo> DecodeTstInfo(ByteView content) {
  der::Reader top(content);
  VELTRANO_TRY(octets, top.Expect(tag::kOctetString));
  if (!top.AtEnd()) return Error::kCorrupt;
  der::Reader carried = top.Enter(*octets);
  VELTRANO_TRY(seq, carried.Expect(tag::kSequence));
  if (!carried.AtEnd()) return Error::kCorrupt;

  der::Reader r = carried.Enter(*seq);
  VELTRANO_TRY(version, r.Expect(tag::kInteger));
  VELTRANO_TRY(versionValue, der::SmallUnsigned(version->content));
  if (*versionValue != 1) return Error::kCorrupt;
  VELTRANO_TRY(policy, r.Expect(tag::kOid));
  if (!der::IsValidOid(policy->content)) return Error::kCorrupt;

  VELTRANO_TRY(imprint, r.Expect(tag::kSequence));
  der::Reader m = r.Enter(*imprint);
  VELTRANO_TRY(algorithm, m.Expect(tag::kSequence));
  der::Reader a = m.Enter(*algorithm);
  VELTRANO_TRY(algorithmOid, a.Expect(tag::kOid));
  if (!der::IsValidOid(algorithmOid->content)) return Error::kCorrupt;
  VELTRANO_TRY(hashed, m.Expect(tag::kOctetString));
  if (!m.AtEnd()) return Error::kCorrupt;

  VELTRANO_TRY(serial, r.Expect(tag::kInteger));
  VELTRANO_TRY(genTime, r.Expect(tag::kGeneralizedTime));
  return TstInfo{algorithmOid->content, hashed->content, genTime->content};
}

der::Result<std::uint64_t> GenTimeTicks(ByteView text) {
  const auto year = Digits(text, 0, 4);
  const auto month = Digits(text, 4, 2);
  const auto day = Digits(text, 6, 2);
  const auto hour = Digits(text, 8, 2);
  const auto minute = Digits(text, 10, 2);
  const auto second = Digits(text, 12, 2);
  if (!year || !month || !day || !hour || !minute || !second) return Error::kCorrupt;
  if (*year < 1601 || *month < 1 || *month > 12 || *day < 1 || *hour > 23 || *minute > 59 ||
      *second > 59) {
    return Error::kCorrupt;
  }
  // The day must exist in its month: the date must come back from its count.
  const std::int64_t days = DaysFromCivil(*year, *month, *day);
  std::int64_t y = 0;
  unsigned m = 0;
  unsigned d = 0;
  CivilFromDays(days, y, m, d);
  if (y != *year || m != *month || d != *day) return Error::kCorrupt;

  // The fraction's first seven digits are the 100-ns ticks; later ones are cut.
  std::uint64_t fraction = 0;
  std::size_t pos = 14;
  if (text.U8(pos) == '.') {
    const std::size_t first = ++pos;
    for (; Digits(text, pos, 1); ++pos) {
      if (pos - first < 7) fraction = fraction * 10 + *Digits(text, pos, 1);
    }
    if (pos == first) return Error::kCorrupt;
    for (std::size_t i = pos - first; i < 7; ++i) fraction *= 10;
  }
  if (text.U8(pos) != 'Z' || pos + 1 != text.size()) return Error::kCorrupt;

  const std::int64_t seconds = (days + kDays1601To1970) * 86400 +
                               static_cast<std::int64_t>(*hour) * 3600 +
                               static_cast<std::int64_t>(*minute) * 60 + *second;
  return static_cast<std::uint64_t>(seconds) * kTicksPerSecond + fraction;
}

#undef VELTRANO_TRY

}  // namespace veltrano::tst
