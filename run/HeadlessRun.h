// CHeadlessRun: the headless command's side of the change-time run, which
// prints each entry's row as soon as the entry is done.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "run/HeadlessDialog.h"
#include "run/ProgressLine.h"

namespace veltrano {
// The name the headless command's messages start with.
inline constexpr char kBatchProgram[] = "veltrano-batch";
}  // namespace veltrano

// Every row is printed to `out` and flushed once its entry is done and then
// forgotten, so memory does not grow with the number of entries; the
// progress line and a once-per-run word on log trouble go to `err`. The walk
// ends after the current entry when a row cannot be printed (before any
// further file is changed), the journal cannot be written or a stop signal
// came (run/StopSignals.h).
class CHeadlessRun final : public CHeadlessDialog {
 public:
  CHeadlessRun(std::ostream& out, std::ostream& err, veltrano::BatchProgress progress)
      : m_out(out), m_err(err), m_progress(err, progress) {}

  std::optional<std::string> m_unprinted;  // the row that could not be printed
  std::optional<DWORD> m_searchError;      // why the path could not be listed
  int m_unlistedSubfolders = 0;            // subfolders that could not be listed

  // The run is over: the progress line's final count.
  void FinishProgress() { m_progress.Finish(); }

 protected:
  bool OnEntryDone(BOOL stamped) override;
  void OnSearchFailed(DWORD dwError) override;
  // Says which subfolder and why on `err`; the run goes on.
  void OnSubfolderUnlisted(const std::wstring& folder, DWORD dwError) override;
  // The rows go out as text: no column is measured.
  bool FitsColumns() const override { return false; }

 private:
  // Tells once per run that the log could not be opened or written.
  void ReportLogTrouble();

  std::ostream& m_out;
  std::ostream& m_err;
  std::string m_line;  // the row being printed; its room serves every row
  veltrano::ProgressLine m_progress;
  bool m_logTroubleShown = false;
};
