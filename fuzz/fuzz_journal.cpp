// The journal reader (what --undo reads) over arbitrary text: every entry it
// keeps names a path.
#include <cstddef>
#include <cstdint>
#include <string>

#include "run/Journal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const veltrano::Journal journal =
      veltrano::ParseJournal(std::string(reinterpret_cast<const char*>(data), size));
  for (const veltrano::JournalEntry& entry : journal.entries) {
    if (entry.path.empty() || entry.old.nsec > 999999999) __builtin_trap();
  }
  return 0;
}
