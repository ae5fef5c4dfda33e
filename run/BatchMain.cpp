// veltrano-batch: the headless command; all behaviour is in RunBatchCommand.
// On Windows the entry point is the wide one, so every file name arrives
// whole (the narrow argv holds the ANSI code page's "?" for the rest).
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "run/BatchCommand.h"
#include "run/ConsoleOutput.h"

namespace {

template <typename Char>
int Run(int argc, Char** argv) {
  std::ios::sync_with_stdio(false);
  std::ostream& out = veltrano::StandardOutput();
  std::ostream& err = veltrano::StandardError();
  int status = 1;
  try {
    const std::vector<veltrano::BatchArgument> args(argv + 1, argv + argc);
    status = veltrano::RunBatchCommand(args, out, err);
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
