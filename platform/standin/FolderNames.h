// The names of one folder, read once and kept in listing order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace veltrano {

// Orders two names (as the file system stores them) as a listing does: true
// when `a` comes before `b`. "." and ".." come first, then names ignoring
// letter case (folded with the full Unicode tables), names that differ only
// in case by their bytes.
bool FindNameLess(std::string_view a, std::string_view b);

// Every name one read of a folder found, sorted by FindNameLess. The names sit
// in one arena (blocks of 1 MiB, each name with a length byte before it and a
// NUL after it) with one 64-bit entry per name (its place and a sort key): a
// name of n bytes takes n + 10 bytes, and memory grows with the folder's
// names, not with its reads. The arena holds up to 4 GiB of names; a folder
// with more is listed up to there.
class FolderNames {
 public:
  // Reads the open folder `dirFd` to its end and sorts the names. A read that
  // fails part-way ends the names there. Names longer than any file system
  // allows (NAME_MAX) are left out.
  void Read(int dirFd);

  std::size_t size() const { return entries_.size(); }
  // The name at `index` in listing order; a NUL follows it.
  std::string_view operator[](std::size_t index) const { return At(entries_[index]); }

 private:
  using Entries = std::vector<std::uint64_t>;
  static constexpr unsigned kBlockShift = 20;
  static constexpr std::size_t kBlockBytes = std::size_t{1} << kBlockShift;

  // The name of an entry: its low 32 bits are the name's place in the arena.
  std::string_view At(std::uint64_t entry) const;
  // False when the arena is full.
  bool Add(std::string_view name);
  void Sort();
  // Sorts [first, last), whose names are alike up to `at` and carry their key
  // from there.
  void SortByKeys(Entries::iterator first, Entries::iterator last, std::size_t at);
  // The entry with its key at `at` in its high 32 bits.
  std::uint64_t Keyed(std::uint64_t entry, std::size_t at) const;

  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t used_ = kBlockBytes;  // bytes taken in the last block
  Entries entries_;
};

}  // namespace veltrano
