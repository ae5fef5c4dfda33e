// A bounded reader for OLE compound files (structured storage), the container
// of Windows Installer packages.
//
// It reads only what a lookup needs: the header, the FAT and DIFAT sectors on
// the chains it follows, the directory entries it visits and the sectors of
// the one stream it returns. Every sector number is checked against the
// file's size, every chain is checked for cycles and early ends, and chain
// lengths and directory walks are capped, so a malformed file gives nothing
// instead of a wrong answer or unbounded work.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/signature/FileSource.h"

namespace veltrano {

// No lookup visits more directory entries than this.
inline constexpr std::uint32_t kMaxCompoundDirectoryEntries = 1u << 18;

// A storage's class identifier, as its directory entry stores it (a GUID in
// its little-endian layout).
using StorageClass = std::array<std::uint8_t, 16>;

class CompoundFile {
 public:
  // Checks the header (magic, byte order, version 3 with 512-byte or version
  // 4 with 4096-byte sectors, 64-byte mini sectors). Nothing when the file is
  // not a compound file or its header is inconsistent. The FileSource must
  // outlive the returned object.
  static std::optional<CompoundFile> Open(const FileSource& file);

  // The content of the stream called `name` directly inside the root storage,
  // names compared as UTF-16 code units with ASCII letter case ignored (the
  // format folds case; the names looked up here are ASCII). Nothing
  // when there is no such stream, when it is empty or larger than `maxBytes`,
  // or when any structure on the way is malformed (a chain that loops, ends
  // early or leaves the file, a broken directory); nothing either when the
  // root storage's class is none of `rootClasses` (an empty list takes any).
  std::optional<std::vector<std::uint8_t>> ReadRootStream(
      std::u16string_view name, std::uint64_t maxBytes,
      std::span<const StorageClass> rootClasses) const;

  std::uint32_t SectorSize() const { return sectorSize_; }

 private:
  explicit CompoundFile(const FileSource& file) : file_(&file) {}

  const FileSource* file_;
  std::uint32_t majorVersion_ = 0;
  std::uint32_t sectorShift_ = 0;
  std::uint32_t sectorSize_ = 0;
  std::uint32_t sectorCount_ = 0;  // whole or partial sectors after the header
  std::uint32_t fatSectors_ = 0;
  std::uint32_t firstDirectorySector_ = 0;
  std::uint32_t firstMiniFatSector_ = 0;
  std::uint32_t miniFatSectors_ = 0;
  std::uint32_t firstDifatSector_ = 0;
  std::uint32_t difatSectors_ = 0;
  std::array<std::uint32_t, 109> headerDifat_{};

  friend class CompoundFileLookup;
};

// True when the file starts with the compound-file signature D0 CF 11 E0 A1
// B1 1A E1.
bool HasCompoundFileMagic(const FileSource& file);

// The signature of a Windows Installer package (.msi, .msp, .mst): the root
// storage's stream "\x05DigitalSignature", as a locator returns it
// (FileSource.h). Nothing either when the root storage is not of an
// installer's class.
std::optional<std::vector<std::uint8_t>> LocateMsiSignature(const FileSource& file);

}  // namespace veltrano
