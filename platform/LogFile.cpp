// What both platforms share: the remembered last append. Opening, reading
// the last byte, appending and closing are in LogFilePosix.cpp and
// LogFileWin32.cpp.
#include "platform/LogFile.h"

namespace veltrano {
namespace {

struct Remembered {
  FileEnd end;
  bool valid = false;
  bool endedLine = false;
};
thread_local Remembered t_lastAppend;

}  // namespace

LogFile::~LogFile() { Close(); }

void LastLogAppend::Remember(const FileEnd& end, bool endedLine) {
  t_lastAppend = {end, true, endedLine};
}

void LastLogAppend::Forget() { t_lastAppend.valid = false; }

std::optional<bool> LastLogAppend::Recall(const FileEnd& end) {
  if (!t_lastAppend.valid || !(t_lastAppend.end == end)) return std::nullopt;
  return t_lastAppend.endedLine;
}

}  // namespace veltrano
