// The headless command's progress line on standard error: how many entries
// are done and how many files were stamped so far.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace veltrano {

// With `show` set (standard error is a terminal), a line on standard error
// counts the entries done and the files stamped so far; it is redrawn in
// place as the run goes and ends with the final count. `rowsOnSameTerminal`
// (standard output is that terminal too) erases it before each row and
// redraws it after.
struct BatchProgress {
  bool show = false;
  bool rowsOnSameTerminal = false;
};

// The progress line: a carriage return and the counts, drawn at most ten
// times a second (and after every row that erased it). The counts only grow,
// so each drawing covers the one before; erasing writes spaces over it.
class ProgressLine {
 public:
  ProgressLine(std::ostream& err, BatchProgress options) : m_err(err), m_options(options) {}

  // A row is about to be printed.
  void BeforeRow();
  // A message is about to be written to the line's stream.
  void Erase();
  // An entry is done.
  void Count(bool stamped);
  // The run is over: the final count stays on its own line.
  void Finish();

 private:
  void Draw();

  std::ostream& m_err;
  const BatchProgress m_options;
  std::uint64_t m_done = 0;
  std::uint64_t m_stamped = 0;
  std::size_t m_columns = 0;  // of the line on the terminal, 0 when none is
  bool m_redraw = false;
  std::chrono::steady_clock::time_point m_drawn = std::chrono::steady_clock::now();
};

}  // namespace veltrano
