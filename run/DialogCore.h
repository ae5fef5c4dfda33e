// The main dialog's operations that do not depend on the GUI toolkit: the
// path selection state, the batch run over it and the result list's columns.
//
// The dialog (and the headless command) derive from CVeltranoDlgCore and
// supply the list surface, the enabling of the action buttons and the title.
#pragma once

#include <optional>
#include <string>
#include <vector>

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

// The main dialog's title and the result list's column headers.
inline constexpr wchar_t kDialogTitle[] = L"更改文件修改时间为数字签名时间戳 V1.0";
inline constexpr const wchar_t* kColumnHeaders[4] = {L"文件名", L"原时间", L"新时间", L"路径"};

class CVeltranoDlgCore {
 public:
  virtual ~CVeltranoDlgCore() = default;

  // Path selection state: the walk's argument (a file's full path, or a
  // folder followed by the separator and "*"), the folder each entry's name is
  // joined to, and the chosen file's name (empty after a folder choice).
  std::wstring m_strPath;
  std::wstring m_strFolder;
  std::wstring m_strFileName;
  // The opt-in "包括 RFC 3161 时间戳": files whose signer 0 has no legacy
  // counter-signature are dated by its RFC 3161 timestamp or its nested
  // signatures' (CCertificate::ReadTimestamp). Off unless the dialog's box or
  // the headless command's --rfc3161 turns it on; read by each entry.
  bool m_bIncludeRfc3161 = false;
  // The opt-in "包括子文件夹": a chosen folder's subfolders are walked too,
  // each folder's entries in the listing's order. Off unless the dialog's box
  // or the headless command's --recursive turns it on; read when a run starts.
  bool m_bRecursive = false;
  // A preview: every entry is read and its row shows the time that would be
  // set, and nothing changes (no file time, no log; CCertificate::m_bPreview).
  bool m_bDryRun = false;
  // Told before and after each stamp, when set (not in a preview).
  IStampJournal* m_pJournal = nullptr;

  // Sets the path selection state as the single-file chooser does, from what
  // it reports: the file's full path, its name and its folder. Returns the
  // text the path box shows (the full path).
  std::wstring SelectFile(const std::wstring& fullPath, const std::wstring& fileName,
                          const std::wstring& folder);
  // Sets the state as the folder chooser does: the folder, then the search
  // pattern folder + separator + "*" (a folder that already ends in the
  // separator gets a second one). Returns the text the path box shows (the
  // folder, without the pattern).
  std::wstring SelectFolder(const std::wstring& folder);

  // Result list. InitResultList sets up the four columns, fits the last one
  // and sets the dialog's title; FitColumnToCell fits one column to one
  // cell's text (columns but the last only grow; the last takes the larger
  // of its text's width and the width the others leave).
  void InitResultList();
  void SetupColumnHeaders();
  void FitColumnToCell(int nRow, int nColumn);
  void SetColumnWidth(int nColumn, int nWidth);
  void FitLastColumn();
  int GetRemainingWidth();

  // The change-time command: disables the action buttons, empties the list,
  // walks m_strPath and enables the buttons again. If turning a time into
  // text failed for some entry, that cell stayed empty and the run went on;
  // the first such error is thrown once the run is over (the buttons are
  // enabled by then) for the caller to show.
  void OnBnClickedChangeTime();
  // Every entry the search for m_strPath returns, except the "." and ".."
  // folders, goes to ProcessFile. After a single-file choice (m_strFileName
  // set) the search yields that file alone. With m_bRecursive a chosen
  // folder's subfolders are walked too, depth first: a folder's own entries
  // (its subfolders' rows among them) come first, then each subfolder's
  // entries and subfolders in the listing's order. A link to a folder is not
  // descended into; a subfolder that cannot be listed (one that is merely
  // empty aside) gets a log record (site 76) and OnSubfolderUnlisted, and the
  // walk goes on. Only one search
  // is open at a time, and m_strFolder names the folder being listed.
  void WalkPath();
  // One entry: the log's header line, its row (name, old time, folder), the
  // signature query and the inspector's chain, then the new time or "-"; a
  // stamped file's old time as read through the stamping handle.
  // Nonzero when the file's last-write time was set.
  BOOL ProcessFile(const WIN32_FIND_DATAW& findData);
  // The same with an inspector the caller built (and may look into after).
  BOOL ProcessFile(const WIN32_FIND_DATAW& findData, CCertificate& certificate);

 protected:
  virtual IResultListView& ResultList() = 0;
  // Enables or disables one of the action buttons (IDC_CHANGE_TIME,
  // IDC_SINGLE_FILE, IDC_FOLDER).
  virtual void EnableDlgItem(int id, bool enable) = 0;
  virtual void SetTitle(const std::wstring& title) = 0;
  // Called between entries: once an entry is done (its row complete, or no
  // row when none could be added) and before the search is asked for the
  // next one. Returning false ends the walk there. `stamped` is what
  // ProcessFile returned.
  virtual bool OnEntryDone(BOOL /*stamped*/) { return true; }
  // Called when the search for m_strPath yields nothing at all (the path is
  // missing, cannot be listed or cannot be reached), with the search's error
  // code. The dialog shows nothing then: the list stays empty.
  virtual void OnSearchFailed(DWORD /*dwError*/) {}
  // Called when a subfolder of a recursive walk cannot be listed (after its
  // log record), with its path and the search's error code.
  virtual void OnSubfolderUnlisted(const std::wstring& /*folder*/, DWORD /*dwError*/) {}
  // Whether cells are fitted into columns as they are filled. A list whose
  // rows are printed as text and then forgotten has no columns to fit.
  virtual bool FitsColumns() const { return true; }

 private:
  // A text's measured width (see WidthOf).
  int MeasuredWidth(IResultListView::Surface surface, const std::wstring& text);
  // Writes FormatTimeText(ft) into a cell; a time that cannot be shown leaves
  // the cell empty and is kept (the first of a run) for after the run.
  void SetTimeCell(int row, int column, const FILETIME& ft);
  // Lists one folder (m_strFolder, or the chosen file) through ProcessFile;
  // the names of its subfolders to walk go to `subfolders` when given.
  // Returns false when the walk is to end (OnEntryDone said so);
  // `searchError` receives the search's error when it yielded nothing.
  bool WalkFolder(const std::wstring& pattern, std::vector<std::wstring>* subfolders,
                  DWORD& searchError);
  void WalkSubfolders(std::vector<std::wstring> subfolders);

  std::optional<CTimeTextException> m_firstTimeTextError;
};
