// veltrano-batch: the headless command; all behaviour is in RunBatchCommand.
#include <sys/stat.h>
#include <unistd.h>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "run/BatchCommand.h"

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

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return veltrano::RunBatchCommand(args, std::cout, std::cerr, ProgressFor());
  } catch (const std::exception& e) {
    std::cerr << "veltrano-batch: 运行失败：" << e.what() << '\n';
    return 1;
  }
}
