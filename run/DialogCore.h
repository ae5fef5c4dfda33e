// The main dialog's operations that do not depend on the GUI toolkit: the
// path selection state, the batch run over it and the result list's columns.
//
// The dialog (and the headless command) derive from CVeltranoDlgCore and
// supply the list surface, the enabling of the action buttons and the title.
#pragma once

#include <optional>
#include <string>

#include "engine/Certificate.h"
#include "platform/Win32.h"
#include "run/ResultListView.h"
#include "run/TimeText.h"

// The separator between a folder and an entry's name; a folder choice's
// search pattern is the folder, this separator and "*".
#ifdef _WIN32
inline constexpr wchar_t kPathSeparator = L'\\';
#else
inline constexpr wchar_t kPathSeparator = L'/';
#endif

// Control ids of the main dialog.
inline constexpr int IDC_EXIT = 1;   // IDOK
inline constexpr int IDC_ABOUT = 2;  // IDCANCEL
inline constexpr int IDC_CHANGE_TIME = 3;
inline constexpr int IDC_SINGLE_FILE = 1000;
inline constexpr int IDC_FOLDER = 1001;
inline constexpr int IDC_PATH = 1002;
inline constexpr int IDC_RESULT_LIST = 1005;

class CVeltranoDlgCore {
 public:
  virtual ~CVeltranoDlgCore() = default;

  // Path selection state: the walk's argument (a file's full path, or a
  // folder followed by the separator and "*"), the folder each entry's name is
  // joined to, and the chosen file's name (empty after a folder choice).
  std::wstring m_strPath;
  std::wstring m_strFolder;
  std::wstring m_strFileName;

  // Result list.
  void InitResultList();
  void SetupColumnHeaders();
  void FitColumnToCell(int nRow, int nColumn);
  void SetColumnWidth(int nColumn, int nWidth);
  void FitLastColumn();
  int GetRemainingWidth();

  // The change-time command: disables the action buttons, empties the list,
  // walks m_strPath and enables the buttons again. If turning a time into
  // text failed for some entry, the first such error is thrown once the run
  // is over (the buttons are enabled by then).
  void OnBnClickedChangeTime();
  void WalkPath();
  // One entry: its row, its inspection and stamp. Nonzero when stamped.
  BOOL ProcessFile(const WIN32_FIND_DATAW& findData);

 protected:
  virtual IResultListView& ResultList() = 0;
  virtual void EnableDlgItem(int id, bool enable) = 0;
  virtual void SetTitle(const std::wstring& title) = 0;

 private:
  std::optional<CTimeTextException> m_firstTimeTextError;
};
