#include "run/HeadlessRun.h"

#include <vector>

#include "engine/LogStream.h"
#include "platform/WideText.h"
#include "run/BatchCommand.h"
#include "run/RowOutput.h"
#include "run/StopSignals.h"

bool CHeadlessRun::OnEntryDone(BOOL stamped) {
  for (const std::vector<std::wstring>& row : m_list.Rows()) {
    veltrano::FormatRow(row, m_line);
    m_progress.BeforeRow();
    if (!m_unprinted && !veltrano::PrintLine(m_out, m_line)) m_unprinted = m_line;
  }
  m_list.DropRows();
  m_progress.Count(stamped != FALSE);
  ReportLogTrouble();
  // A journal line that cannot be written ends the run.
  const bool journalFailed = m_pJournal != nullptr && m_pJournal->Failed();
  return !m_unprinted && !journalFailed && veltrano::StopSignalReceived() == 0;
}

void CHeadlessRun::OnSubfolderUnlisted(const std::wstring& folder, DWORD dwError) {
  ++m_unlistedSubfolders;
  std::string path;
  veltrano::AppendPercentEscaped(folder, path);
  m_progress.Erase();
  m_err << veltrano::kBatchProgram << ": 无法读取子文件夹，已跳过：" << path << "（"
        << veltrano::ErrorText(dwError) << "）" << std::endl;
}

void CHeadlessRun::OnSearchFailed(DWORD dwError) {
  // A folder without any entry, not even "." (a drive's root on Windows),
  // is an empty folder.
  if (!(m_strFileName.empty() && dwError == ERROR_FILE_NOT_FOUND)) m_searchError = dwError;
}

void CHeadlessRun::ReportLogTrouble() {
  if (m_logTroubleShown) return;
  using veltrano::LogTrouble;
  const LogTrouble trouble = veltrano::TakeLogTrouble();
  if (trouble == LogTrouble::kNone) return;
  m_logTroubleShown = true;
  m_progress.Erase();
  m_err << veltrano::kBatchProgram << ": "
        << (trouble == LogTrouble::kCannotOpen
                ? "无法打开诊断日志 CertificateLog.log，诊断记录被丢弃（结果不受影响）"
                : "诊断日志 CertificateLog.log 写入失败，部分诊断记录被丢弃（结果不受影响）")
        << std::endl;
}
