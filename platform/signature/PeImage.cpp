// The Authenticode signature of a PE32 or PE32+ image: the first entry of the
// attribute certificate table (data directory 4).
#include "platform/signature/PeImage.h"

#include <algorithm>
#include <array>

#include "platform/signature/Bytes.h"

namespace veltrano {
namespace {

constexpr std::uint16_t kDosMagic = 0x5A4D;         // "MZ"
constexpr std::uint32_t kPeMagic = 0x00004550;      // "PE\0\0"
constexpr std::uint16_t kPe32Magic = 0x010B;        // IMAGE_NT_OPTIONAL_HDR32_MAGIC
constexpr std::uint16_t kPe32PlusMagic = 0x020B;    // IMAGE_NT_OPTIONAL_HDR64_MAGIC
constexpr std::uint32_t kSecurityDirectory = 4;     // IMAGE_DIRECTORY_ENTRY_SECURITY
constexpr std::uint16_t kCertTypePkcsSigned = 2;    // WIN_CERT_TYPE_PKCS_SIGNED_DATA
constexpr std::uint64_t kCoffHeaderEnd = 4 + 20;    // signature + IMAGE_FILE_HEADER
constexpr std::uint64_t kWinCertificateHeader = 8;  // dwLength, wRevision, wCertificateType
// Read with the certificate table's first entry: a signature rarely needs more.
constexpr std::uint64_t kTableReadAhead = 64 * 1024;

struct OptionalHeaderLayout {
  std::uint64_t numberOfRvaAndSizes;  // offset of NumberOfRvaAndSizes
  std::uint64_t dataDirectory;        // offset of DataDirectory[0]
};

// The length of the element that starts `header` (identifier + length +
// content), or nothing when it is not a SEQUENCE with a readable length.
// An indefinite length gives 0: the element's end is not known here.
std::optional<std::uint64_t> OuterElementLength(ByteView header) {
  const auto tag = header.U8(0);
  const auto first = header.U8(1);
  if (!tag || !first || *tag != 0x30) return std::nullopt;
  if (*first < 0x80) return 2 + static_cast<std::uint64_t>(*first);
  if (*first == 0x80) return 0;
  const unsigned count = *first & 0x7Fu;
  if (count > 8) return std::nullopt;
  std::uint64_t length = 0;
  for (unsigned i = 0; i < count; ++i) {
    const auto b = header.U8(2 + i);
    if (!b) return std::nullopt;
    if (length > (UINT64_MAX >> 8)) return std::nullopt;
    length = (length << 8) | *b;
  }
  const std::uint64_t headerLength = 2 + count;
  if (length > UINT64_MAX - headerLength) return std::nullopt;
  return headerLength + length;
}

// The `length` bytes at `offset` into `out` (which holds at least that
// many), or false when they are not inside the file or cannot be read.
template <std::size_t N>
bool ReadHeader(const FileSource& file, std::uint64_t offset, std::size_t length,
                std::array<std::uint8_t, N>& out) {
  return length <= N && offset <= file.Size() && length <= file.Size() - offset &&
         file.ReadAt(offset, length, out.data());
}

}  // namespace

std::optional<std::vector<std::uint8_t>> LocatePeSignature(const FileSource& file) {
  std::array<std::uint8_t, 0x40> dos;
  if (!ReadHeader(file, 0, dos.size(), dos)) return std::nullopt;
  const ByteView dosView(dos.data(), dos.size());
  if (dosView.U16le(0) != kDosMagic) return std::nullopt;
  const std::uint64_t ntOffset = *dosView.U32le(0x3C);

  std::array<std::uint8_t, kCoffHeaderEnd + 2> nt;
  if (!ReadHeader(file, ntOffset, nt.size(), nt)) return std::nullopt;
  const ByteView ntView(nt.data(), nt.size());
  if (ntView.U32le(0) != kPeMagic) return std::nullopt;

  OptionalHeaderLayout layout{};
  const std::uint16_t magic = *ntView.U16le(kCoffHeaderEnd);
  if (magic == kPe32Magic) {
    layout = {92, 96};
  } else if (magic == kPe32PlusMagic) {
    layout = {108, 112};
  } else {
    return std::nullopt;
  }

  // The optional header up to the end of the security directory entry.
  const std::uint64_t directoryEntry = layout.dataDirectory + 8 * kSecurityDirectory;
  std::array<std::uint8_t, 112 + 8 * kSecurityDirectory + 8> optional;
  const std::size_t optionalLength = static_cast<std::size_t>(directoryEntry + 8);
  if (!ReadHeader(file, ntOffset + kCoffHeaderEnd, optionalLength, optional)) return std::nullopt;
  const ByteView opt(optional.data(), optionalLength);
  // The entry exists only when the header declares more than four.
  if (*opt.U32le(layout.numberOfRvaAndSizes) <= kSecurityDirectory) return std::nullopt;
  // Unlike the other directories, this one holds a file offset, not an RVA.
  const std::uint64_t tableOffset = *opt.U32le(directoryEntry);
  const std::uint64_t tableSize = *opt.U32le(directoryEntry + 4);
  if (tableOffset == 0 || tableSize < kWinCertificateHeader) return std::nullopt;
  if (tableOffset > file.Size() || tableSize > file.Size() - tableOffset) return std::nullopt;

  // The first WIN_CERTIFICATE (its revision is not checked: the platform
  // accepts files with revisions other than 0x0200) and, in the same read,
  // as much of the table as a signature usually takes.
  auto table = file.Read(tableOffset, std::min(tableSize, kTableReadAhead));
  if (!table) return std::nullopt;
  const ByteView tableView(*table);
  const std::uint64_t entryLength = *tableView.U32le(0);
  if (entryLength < kWinCertificateHeader || entryLength > tableSize) return std::nullopt;
  if (*tableView.U16le(6) != kCertTypePkcsSigned) return std::nullopt;

  // dwLength usually covers zero padding to an 8-byte boundary, so the
  // signature's length is that of its outer element.
  const std::uint64_t available = entryLength - kWinCertificateHeader;
  const auto header = tableView.Sub(kWinCertificateHeader, std::min<std::uint64_t>(available, 10));
  if (!header) return std::nullopt;
  auto length = OuterElementLength(*header);
  if (!length) return std::nullopt;
  if (*length == 0) length = available;  // indefinite: the decoder finds the end
  if (*length > available || *length > kMaxSignatureBytes) return std::nullopt;
  if (kWinCertificateHeader + *length <= table->size()) {
    table->erase(table->begin(), table->begin() + kWinCertificateHeader);
    table->resize(static_cast<std::size_t>(*length));
    return table;
  }
  return file.Read(tableOffset + kWinCertificateHeader, *length);
}

}  // namespace veltrano
