// Bounded OLE compound-file reader and the Windows Installer signature
// locator built on it.
#include "platform/signature/CompoundFile.h"

#include <algorithm>
#include <unordered_set>

#include "platform/signature/Bytes.h"

namespace veltrano {
namespace {

constexpr std::array<std::uint8_t, 8> kMagic = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::size_t kHeaderSize = 512;

// Header fields.
constexpr std::size_t kMajorVersion = 0x1A;
constexpr std::size_t kByteOrder = 0x1C;
constexpr std::size_t kSectorShift = 0x1E;
constexpr std::size_t kMiniSectorShift = 0x20;
constexpr std::size_t kFatSectorCount = 0x2C;
constexpr std::size_t kFirstDirectorySector = 0x30;
constexpr std::size_t kFirstMiniFatSector = 0x3C;
constexpr std::size_t kMiniFatSectorCount = 0x40;
constexpr std::size_t kFirstDifatSector = 0x44;
constexpr std::size_t kDifatSectorCount = 0x48;
constexpr std::size_t kHeaderDifat = 0x4C;

// Sector numbers at and above this are markers, not sectors.
constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
// Directory ids: kNoStream ends a sibling or child link.
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;

constexpr std::uint32_t kMiniSectorSize = 64;
// Streams shorter than this live in the mini stream (fixed by the format).
constexpr std::uint64_t kMiniStreamCutoff = 4096;

// Directory entry layout.
constexpr std::uint32_t kEntrySize = 128;
constexpr std::size_t kEntryNameUnits = 32;
constexpr std::size_t kEntryNameLength = 0x40;  // u16, bytes including the terminator
constexpr std::size_t kEntryType = 0x42;
constexpr std::size_t kEntryLeft = 0x44;
constexpr std::size_t kEntryRight = 0x48;
constexpr std::size_t kEntryChild = 0x4C;
constexpr std::size_t kEntryClass = 0x50;
constexpr std::size_t kEntryStartSector = 0x74;
constexpr std::size_t kEntrySize64 = 0x78;

constexpr std::uint8_t kTypeStream = 2;
constexpr std::uint8_t kTypeRoot = 5;

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) { return a / b + (a % b != 0); }

char16_t UpperAscii(char16_t c) {
  return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

struct DirectoryEntry {
  std::array<char16_t, kEntryNameUnits> name{};
  std::uint16_t nameLength = 0;
  std::uint8_t type = 0;
  std::uint32_t left = kNoStream;
  std::uint32_t right = kNoStream;
  std::uint32_t child = kNoStream;
  StorageClass storageClass{};
  std::uint32_t start = kEndOfChain;
  std::uint64_t size = 0;

  // Compound-file names compare case-insensitively; the names this reader
  // looks up are ASCII, so folding ASCII letters is the whole rule here.
  bool NameEquals(std::u16string_view wanted) const {
    if (nameLength % 2 != 0 || nameLength < 2 || nameLength > kEntryNameUnits * 2) return false;
    const std::size_t units = nameLength / 2 - 1;
    if (units != wanted.size()) return false;
    for (std::size_t i = 0; i < units; ++i)
      if (UpperAscii(name[i]) != UpperAscii(wanted[i])) return false;
    return true;
  }
};

}  // namespace

// The mutable state of one lookup: lazily resolved chains and one cached
// sector of each allocation table.
class CompoundFileLookup {
 public:
  explicit CompoundFileLookup(const CompoundFile& cf)
      : cf_(cf), file_(*cf.file_), entriesPerSector_(cf.sectorSize_ / 4) {}

  std::optional<std::vector<std::uint8_t>> ReadRootStream(
      std::u16string_view name, std::uint64_t maxBytes, std::span<const StorageClass> rootClasses);

 private:
  // A sector chain, followed link by link only as far as it is used. Every
  // sector it adds is new to the chain (a loop ends it as malformed) and the
  // chain never grows beyond `limit` sectors.
  struct Chain {
    bool mini = false;
    std::uint64_t limit = 0;
    std::vector<std::uint32_t> sectors;
    std::unordered_set<std::uint32_t> seen;
    bool ended = false;
  };

  struct SectorCache {
    std::uint32_t sector = kEndOfChain;
    std::vector<std::uint8_t> bytes;
  };

  bool StartChain(Chain& chain, std::uint32_t start, bool mini, std::uint64_t limit);
  std::optional<std::uint32_t> ChainSector(Chain& chain, std::uint64_t index);
  std::optional<std::uint32_t> NextRegular(std::uint32_t sector);
  std::optional<std::uint32_t> NextMini(std::uint32_t miniSector);
  std::optional<std::uint32_t> FatSectorLocation(std::uint32_t fatIndex);
  std::optional<std::uint32_t> TableEntry(SectorCache& cache, std::uint32_t sector,
                                          std::uint32_t index);
  bool ReadRegular(std::uint32_t sector, std::uint32_t offset, std::size_t length,
                   std::uint8_t* out) const;
  std::optional<DirectoryEntry> ReadEntry(std::uint32_t id);
  std::optional<std::vector<std::uint8_t>> ReadStream(const DirectoryEntry& entry,
                                                      std::uint64_t maxBytes);

  std::uint64_t EntrySize(const DirectoryEntry& entry) const {
    // Version 3 files may leave garbage in the upper half of the size.
    return cf_.majorVersion_ == 3 ? (entry.size & 0xFFFFFFFFu) : entry.size;
  }
  std::uint64_t SectorOffset(std::uint32_t sector) const {
    return (static_cast<std::uint64_t>(sector) + 1) << cf_.sectorShift_;
  }

  const CompoundFile& cf_;
  const FileSource& file_;
  const std::uint32_t entriesPerSector_;

  SectorCache fatCache_;
  SectorCache miniFatCache_;
  std::vector<std::uint32_t> difatChain_;
  std::unordered_set<std::uint32_t> difatSeen_;
  Chain directory_;
  Chain miniFatChain_;
  Chain miniStream_;
  std::uint64_t miniStreamSize_ = 0;
};

bool CompoundFileLookup::StartChain(Chain& chain, std::uint32_t start, bool mini,
                                    std::uint64_t limit) {
  chain = Chain{};
  chain.mini = mini;
  chain.limit = limit;
  if (start == kEndOfChain) {
    chain.ended = true;
    return true;
  }
  const std::uint64_t count = mini ? CeilDiv(miniStreamSize_, kMiniSectorSize) : cf_.sectorCount_;
  if (start >= count || limit == 0) return false;
  chain.sectors.push_back(start);
  chain.seen.insert(start);
  return true;
}

std::optional<std::uint32_t> CompoundFileLookup::ChainSector(Chain& chain, std::uint64_t index) {
  const std::uint64_t count =
      chain.mini ? CeilDiv(miniStreamSize_, kMiniSectorSize) : cf_.sectorCount_;
  while (chain.sectors.size() <= index) {
    if (chain.ended || chain.sectors.size() >= chain.limit) return std::nullopt;
    const auto next =
        chain.mini ? NextMini(chain.sectors.back()) : NextRegular(chain.sectors.back());
    if (!next) return std::nullopt;
    if (*next == kEndOfChain) {
      chain.ended = true;
      return std::nullopt;
    }
    if (*next >= count) return std::nullopt;                    // marker or outside the file
    if (!chain.seen.insert(*next).second) return std::nullopt;  // loop
    chain.sectors.push_back(*next);
  }
  return chain.sectors[static_cast<std::size_t>(index)];
}

bool CompoundFileLookup::ReadRegular(std::uint32_t sector, std::uint32_t offset, std::size_t length,
                                     std::uint8_t* out) const {
  if (sector >= cf_.sectorCount_ || offset > cf_.sectorSize_ || length > cf_.sectorSize_ - offset)
    return false;
  return file_.ReadAt(SectorOffset(sector) + offset, length, out);
}

std::optional<std::uint32_t> CompoundFileLookup::TableEntry(SectorCache& cache,
                                                            std::uint32_t sector,
                                                            std::uint32_t index) {
  if (cache.sector != sector || cache.bytes.empty()) {
    cache.bytes.resize(cf_.sectorSize_);
    if (!ReadRegular(sector, 0, cache.bytes.size(), cache.bytes.data())) {
      cache.bytes.clear();
      return std::nullopt;
    }
    cache.sector = sector;
  }
  return ByteView(cache.bytes).U32le(static_cast<std::uint64_t>(index) * 4);
}

std::optional<std::uint32_t> CompoundFileLookup::FatSectorLocation(std::uint32_t fatIndex) {
  if (fatIndex >= cf_.fatSectors_) return std::nullopt;
  if (fatIndex < cf_.headerDifat_.size()) return cf_.headerDifat_[fatIndex];

  // Each DIFAT sector holds entriesPerSector_ - 1 locations and, last, the
  // number of the next DIFAT sector.
  const std::uint32_t perDifat = entriesPerSector_ - 1;
  const std::uint32_t rest = fatIndex - static_cast<std::uint32_t>(cf_.headerDifat_.size());
  const std::uint32_t which = rest / perDifat;
  while (difatChain_.size() <= which) {
    if (difatChain_.size() >= cf_.difatSectors_) return std::nullopt;
    std::uint32_t next = cf_.firstDifatSector_;
    if (!difatChain_.empty()) {
      std::array<std::uint8_t, 4> raw{};
      if (!ReadRegular(difatChain_.back(), perDifat * 4, raw.size(), raw.data()))
        return std::nullopt;
      next = *ByteView(raw.data(), raw.size()).U32le(0);
    }
    if (next >= cf_.sectorCount_ || !difatSeen_.insert(next).second) return std::nullopt;
    difatChain_.push_back(next);
  }
  std::array<std::uint8_t, 4> raw{};
  if (!ReadRegular(difatChain_[which], (rest % perDifat) * 4, raw.size(), raw.data()))
    return std::nullopt;
  return *ByteView(raw.data(), raw.size()).U32le(0);
}

std::optional<std::uint32_t> CompoundFileLookup::NextRegular(std::uint32_t sector) {
  const auto fatSector = FatSectorLocation(sector / entriesPerSector_);
  if (!fatSector || *fatSector >= cf_.sectorCount_) return std::nullopt;
  return TableEntry(fatCache_, *fatSector, sector % entriesPerSector_);
}

std::optional<std::uint32_t> CompoundFileLookup::NextMini(std::uint32_t miniSector) {
  const auto tableSector = ChainSector(miniFatChain_, miniSector / entriesPerSector_);
  if (!tableSector) return std::nullopt;
  return TableEntry(miniFatCache_, *tableSector, miniSector % entriesPerSector_);
}

std::optional<DirectoryEntry> CompoundFileLookup::ReadEntry(std::uint32_t id) {
  if (id >= kMaxCompoundDirectoryEntries) return std::nullopt;
  const std::uint32_t perSector = cf_.sectorSize_ / kEntrySize;
  const auto sector = ChainSector(directory_, id / perSector);
  if (!sector) return std::nullopt;
  std::array<std::uint8_t, kEntrySize> raw{};
  if (!ReadRegular(*sector, (id % perSector) * kEntrySize, raw.size(), raw.data()))
    return std::nullopt;
  const ByteView v(raw.data(), raw.size());
  DirectoryEntry e;
  for (std::size_t i = 0; i < kEntryNameUnits; ++i) e.name[i] = *v.U16le(i * 2);
  e.nameLength = *v.U16le(kEntryNameLength);
  e.type = *v.U8(kEntryType);
  e.left = *v.U32le(kEntryLeft);
  e.right = *v.U32le(kEntryRight);
  e.child = *v.U32le(kEntryChild);
  std::copy_n(raw.begin() + kEntryClass, e.storageClass.size(), e.storageClass.begin());
  e.start = *v.U32le(kEntryStartSector);
  e.size = *v.U64le(kEntrySize64);
  return e;
}

std::optional<std::vector<std::uint8_t>> CompoundFileLookup::ReadStream(const DirectoryEntry& entry,
                                                                        std::uint64_t maxBytes) {
  const std::uint64_t size = EntrySize(entry);
  if (size == 0 || size > maxBytes) return std::nullopt;
  const bool mini = size < kMiniStreamCutoff;
  const std::uint32_t unit = mini ? kMiniSectorSize : cf_.sectorSize_;
  // A stream cannot hold more than the space it lives in.
  const std::uint64_t space =
      mini ? miniStreamSize_ : static_cast<std::uint64_t>(cf_.sectorCount_) * cf_.sectorSize_;
  if (size > space) return std::nullopt;

  const std::uint64_t sectors = CeilDiv(size, unit);
  Chain chain;
  if (!StartChain(chain, entry.start, mini, sectors) || chain.ended) return std::nullopt;

  std::vector<std::uint8_t> out(static_cast<std::size_t>(size));
  for (std::uint64_t k = 0; k < sectors; ++k) {
    const auto sector = ChainSector(chain, k);
    if (!sector) return std::nullopt;
    const std::uint64_t done = k * unit;
    const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(unit, size - done));
    std::uint8_t* dest = out.data() + done;
    if (mini) {
      // A mini sector lies inside one sector of the mini stream.
      const std::uint64_t at = static_cast<std::uint64_t>(*sector) * kMiniSectorSize;
      if (at + length > miniStreamSize_) return std::nullopt;
      const auto host = ChainSector(miniStream_, at / cf_.sectorSize_);
      if (!host ||
          !ReadRegular(*host, static_cast<std::uint32_t>(at % cf_.sectorSize_), length, dest))
        return std::nullopt;
    } else if (!ReadRegular(*sector, 0, length, dest)) {
      return std::nullopt;
    }
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> CompoundFileLookup::ReadRootStream(
    std::u16string_view name, std::uint64_t maxBytes, std::span<const StorageClass> rootClasses) {
  const std::uint64_t entriesPerDirectorySector = cf_.sectorSize_ / kEntrySize;
  if (!StartChain(directory_, cf_.firstDirectorySector_, false,
                  CeilDiv(kMaxCompoundDirectoryEntries, entriesPerDirectorySector)))
    return std::nullopt;

  const auto root = ReadEntry(0);
  if (!root || root->type != kTypeRoot) return std::nullopt;
  // The root entry's stream is the mini stream; the mini FAT describes it.
  miniStreamSize_ = EntrySize(*root);
  if (miniStreamSize_ > static_cast<std::uint64_t>(cf_.sectorCount_) * cf_.sectorSize_)
    return std::nullopt;
  const std::uint64_t miniStreamSectors = CeilDiv(miniStreamSize_, cf_.sectorSize_);
  if (miniStreamSectors == 0) {
    StartChain(miniStream_, kEndOfChain, false, 0);
  } else if (!StartChain(miniStream_, root->start, false, miniStreamSectors)) {
    return std::nullopt;
  }
  if (cf_.miniFatSectors_ == 0) {
    StartChain(miniFatChain_, kEndOfChain, false, 0);
  } else if (!StartChain(miniFatChain_, cf_.firstMiniFatSector_, false, cf_.miniFatSectors_)) {
    return std::nullopt;
  }

  // The root's children form a binary tree through their sibling links.
  // Walk all of it rather than trusting its order; a link that loops or
  // leads to an unreadable entry makes the directory malformed.
  std::vector<std::uint32_t> pending;
  std::unordered_set<std::uint32_t> visited;
  if (root->child != kNoStream) pending.push_back(root->child);
  while (!pending.empty()) {
    const std::uint32_t id = pending.back();
    pending.pop_back();
    if (id == 0 || !visited.insert(id).second || visited.size() > kMaxCompoundDirectoryEntries)
      return std::nullopt;
    const auto entry = ReadEntry(id);
    if (!entry || entry->type == 0) return std::nullopt;
    if (entry->NameEquals(name)) {
      // The class is judged last, so that every file's structures are
      // checked whatever its class.
      const bool classTaken =
          rootClasses.empty() || std::find(rootClasses.begin(), rootClasses.end(),
                                           root->storageClass) != rootClasses.end();
      if (entry->type != kTypeStream || !classTaken) return std::nullopt;
      return ReadStream(*entry, maxBytes);
    }
    if (entry->left != kNoStream) pending.push_back(entry->left);
    if (entry->right != kNoStream) pending.push_back(entry->right);
  }
  return std::nullopt;
}

std::optional<CompoundFile> CompoundFile::Open(const FileSource& file) {
  std::array<std::uint8_t, kHeaderSize> raw{};
  if (file.Size() < raw.size() || !file.ReadAt(0, raw.size(), raw.data())) return std::nullopt;
  if (!std::equal(kMagic.begin(), kMagic.end(), raw.begin())) return std::nullopt;
  const ByteView h(raw.data(), raw.size());

  CompoundFile cf(file);
  cf.majorVersion_ = *h.U16le(kMajorVersion);
  cf.sectorShift_ = *h.U16le(kSectorShift);
  if (*h.U16le(kByteOrder) != 0xFFFE) return std::nullopt;
  if (!((cf.majorVersion_ == 3 && cf.sectorShift_ == 9) ||
        (cf.majorVersion_ == 4 && cf.sectorShift_ == 12)))
    return std::nullopt;
  if (*h.U16le(kMiniSectorShift) != 6) return std::nullopt;
  cf.sectorSize_ = 1u << cf.sectorShift_;

  // The header occupies the first sector; sector n starts at (n + 1) * size.
  // A short last sector still counts; reads check the file's end themselves.
  const std::uint64_t body = file.Size() > cf.sectorSize_ ? file.Size() - cf.sectorSize_ : 0;
  cf.sectorCount_ = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(CeilDiv(body, cf.sectorSize_), kMaxRegularSector));

  cf.fatSectors_ = *h.U32le(kFatSectorCount);
  cf.firstDirectorySector_ = *h.U32le(kFirstDirectorySector);
  cf.firstMiniFatSector_ = *h.U32le(kFirstMiniFatSector);
  cf.miniFatSectors_ = *h.U32le(kMiniFatSectorCount);
  cf.firstDifatSector_ = *h.U32le(kFirstDifatSector);
  cf.difatSectors_ = *h.U32le(kDifatSectorCount);
  if (cf.fatSectors_ == 0 || cf.fatSectors_ > cf.sectorCount_ ||
      cf.miniFatSectors_ > cf.sectorCount_ || cf.difatSectors_ > cf.sectorCount_)
    return std::nullopt;
  for (std::size_t i = 0; i < cf.headerDifat_.size(); ++i)
    cf.headerDifat_[i] = *h.U32le(kHeaderDifat + i * 4);
  return cf;
}

std::optional<std::vector<std::uint8_t>> CompoundFile::ReadRootStream(
    std::u16string_view name, std::uint64_t maxBytes,
    std::span<const StorageClass> rootClasses) const {
  CompoundFileLookup lookup(*this);
  return lookup.ReadRootStream(name, maxBytes, rootClasses);
}

bool HasCompoundFileMagic(const FileSource& file) {
  std::array<std::uint8_t, kMagic.size()> raw{};
  return file.Size() >= raw.size() && file.ReadAt(0, raw.size(), raw.data()) &&
         std::equal(kMagic.begin(), kMagic.end(), raw.begin());
}

std::optional<std::vector<std::uint8_t>> LocateMsiSignature(const FileSource& file) {
  // "\x05" is split off so that the hex escape does not swallow the "D".
  static constexpr std::u16string_view kSignatureStream =
      u"\x05"
      u"DigitalSignature";
  // Windows takes a compound file for an installer package only when its
  // root storage is of the class of a database {000C1084-0000-0000-C000-
  // 000000000046}, a patch (000C1086) or a transform (000C1082).
  static constexpr auto kInstaller = [](std::uint8_t kind) {
    return StorageClass{kind, 0x10, 0x0C, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  };
  static constexpr StorageClass kInstallerClasses[] = {kInstaller(0x84), kInstaller(0x86),
                                                       kInstaller(0x82)};
  const auto cf = CompoundFile::Open(file);
  if (!cf) return std::nullopt;
  return cf->ReadRootStream(kSignatureStream, kMaxSignatureBytes, kInstallerClasses);
}

}  // namespace veltrano
