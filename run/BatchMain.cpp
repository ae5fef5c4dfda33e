// veltrano-batch: the headless command; all behaviour is in RunBatchCommand.
// On Windows the entry point is the wide one, so every file name arrives
// whole (the narrow argv holds the ANSI code page's "?" for the rest).
#include <sys/stat.h>
#include <unistd.h>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "run/BatchCommand.h"
#include "run/ConsoleOutput.h"

namespace {

// The progress line is for a person watching standard error's terminal.
veltrano::BatchProgress ProgressFor() {
  veltrano::BatchProgress progress;
  progress.show = isatty(STDERR_FILENO) == 1;
  progress.rowsOnSameTerminal = progress.show && isatty(STDOUT_FILENO) == 1;
#ifndef _WIN32
  struct stat err {};
  struct stat out {};
  progress.rowsOnSameTerminal = progress.rowsOnSameTerminal && fstat(STDERR_FILENO, &err) == 0 &&
                                fstat(STDOUT_FILENO, &out) == 0 && out.st_rdev == err.st_rdev;
#endif
  return progress;
}

template <typename Char>
int Run(int argc, Char** argv) {
  std::ios::sync_with_stdio(false);
  std::ostream& out = veltrano::StandardOutput();
  std::ostream& err = veltrano::StandardError();
  int status = 1;
  try {
    const std::vector<veltrano::BatchArgument> args(argv + 1, argv + argc);
    status = veltrano::RunBatchCommand(args, out, err, ProgressFor());
  } catch (const std::exception& e) {
    err << "veltrano-batch: 运行失败：" << e.what() << '\n';
  }
  out.flush();
  err.flush();
  return status;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return Run(argc, argv); }
#else
int main(int argc, char** argv) { return Run(argc, argv); }
#endif
