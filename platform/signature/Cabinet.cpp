// Locating the Authenticode signature of a cabinet (.cab) file.
//
// A signed cabinet sets flag 0x0004 (reserve present) in its CFHEADER and
// carries a per-cabinet reserve area of at least 20 bytes. Signers write it
// as: 4 bytes (00 00 10 00), the signature's file offset (u32), its length
// (u32), then 8 zero bytes. The signature itself usually follows the cabinet
// data, at offset cbCabinet.
#include "platform/signature/Cabinet.h"

#include <array>

#include "platform/signature/Bytes.h"

namespace veltrano {
namespace {

// CFHEADER fields.
constexpr std::size_t kSignatureMagic = 0x00;  // "MSCF"
constexpr std::size_t kFlags = 0x1E;           // u16
constexpr std::size_t kReserveSizes = 0x24;    // cbCFHeader (u16), cbCFFolder, cbCFData (u8)
constexpr std::size_t kReserveData = 0x28;     // abReserve[cbCFHeader]

constexpr std::uint16_t kFlagReservePresent = 0x0004;

// Offsets inside abReserve.
constexpr std::size_t kReserveSignatureOffset = 4;  // u32
constexpr std::size_t kReserveSignatureLength = 8;  // u32
constexpr std::uint16_t kMinSignatureReserve = 20;

// Enough of the header for every field read here.
constexpr std::size_t kHeaderBytes = kReserveData + kReserveSignatureLength + 4;

}  // namespace

std::optional<std::vector<std::uint8_t>> LocateCabSignature(const FileSource& file) {
  std::array<std::uint8_t, kHeaderBytes> raw{};
  if (file.Size() < raw.size() || !file.ReadAt(0, raw.size(), raw.data())) return std::nullopt;
  const ByteView header(raw.data(), raw.size());

  if (raw[kSignatureMagic] != 'M' || raw[kSignatureMagic + 1] != 'S' ||
      raw[kSignatureMagic + 2] != 'C' || raw[kSignatureMagic + 3] != 'F')
    return std::nullopt;
  if ((*header.U16le(kFlags) & kFlagReservePresent) == 0) return std::nullopt;
  if (*header.U16le(kReserveSizes) < kMinSignatureReserve) return std::nullopt;

  const std::uint64_t offset = *header.U32le(kReserveData + kReserveSignatureOffset);
  const std::uint64_t length = *header.U32le(kReserveData + kReserveSignatureLength);
  if (length == 0 || length > kMaxSignatureBytes) return std::nullopt;
  // The signature may not overlap the header and reserve it is described in.
  if (offset < kHeaderBytes) return std::nullopt;
  if (offset > file.Size() || length > file.Size() - offset) return std::nullopt;
  return file.Read(offset, length);
}

}  // namespace veltrano
