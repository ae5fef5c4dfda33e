// `veltrano-batch --undo JOURNAL`: puts back the times a run's journal
// (run/Journal.h) recorded.
#pragma once

#include <ostream>
#include <string>

namespace veltrano {

// Reads the journal `name` (bytes on Linux, WTF-8 on Windows) and, newest
// stamp first, sets each file back to its old time where it still holds what
// the run left there: the time read back, or the time asked for where the
// run ended before it recorded that. A file at its old time already is
// unchanged; a file changed since, or one that cannot be opened (a link in
// the last component is not followed) is left alone and said on `err`.
// Prints the header and one row per stamp as the run does (old time: what
// the file holds; new time: the time set, or "-"). With `preview` nothing is
// set and the rows show what would be. Returns 0 when every file holds its
// old time (or would), 1 when one was left alone, a journal line was not
// understood, the journal cannot be read or a row cannot be printed (the
// undo stops there), 128 plus the signal's number after SIGINT or SIGTERM.
int RunUndo(const std::string& name, bool preview, std::ostream& out, std::ostream& err);

}  // namespace veltrano
