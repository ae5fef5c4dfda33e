// veltrano-batch: the headless command; all behaviour is in RunBatchCommand.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "run/BatchCommand.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return veltrano::RunBatchCommand(args, std::cout, std::cerr);
  } catch (const std::exception& e) {
    std::cerr << "veltrano-batch: 运行失败：" << e.what() << '\n';
    return 1;
  }
}
