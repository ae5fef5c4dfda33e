// CVeltranoDlg: the main dialog (template 102). The run, the path selection
// state and the result list's column handling come from CVeltranoDlgCore;
// this class supplies the window, its controls, the path choices, the
// command routing and the About box.
#pragma once

#include <wx/dialog.h>
#include <wx/eventfilter.h>
#include <wx/filedlg.h>
#include <wx/iconbndl.h>
#include <wx/listctrl.h>
#include <wx/textctrl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/ResultListCtrl.h"
#include "run/DialogCore.h"

// A file the user chose: its full path, the folder that holds it and its name
// with extension.
struct FileChoice {
  std::wstring path;
  std::wstring folder;
  std::wstring name;
};

// Splits a chosen file's full path into its folder and name. The folder is
// the path up to the last separator; a file at the root keeps the separator
// as its folder ("/" on Linux, "C:\" on Windows).
FileChoice FileChoiceFromPath(const std::wstring& path);

// The file-open dialog of the single-file choice: titled "选择待修改时间的文件",
// opening in `startFolder`, one existing file, every file listed, the current
// directory left alone.
std::unique_ptr<wxFileDialog> MakeFileDialog(wxWindow* owner, const std::wstring& startFolder);

// Where the drawing of the icon starts in a minimised window: centred, with
// the division truncating toward zero as the platform's integer division does.
wxPoint IconDrawPosition(const wxSize& client, const wxSize& icon);

class CVeltranoDlg : public wxDialog, public CVeltranoDlgCore {
 public:
  // The parent is not used: the main dialog never has an owner.
  explicit CVeltranoDlg(wxWindow* pParent = nullptr);
  ~CVeltranoDlg() override;

  // Button handlers (the dialog's command map).
  void OnBnClickedSingleFile();
  void OnBnClickedFolder();
  void OnBnClickedAbout();
  void RunChangeTime();  // OnBnClickedChangeTime and the report of its error

  // A system command; true when it was the About entry's (id & 0xFFF0 ==
  // IDM_ABOUTBOX), which opens the About box. Other commands take the
  // default path.
  bool OnSysCommand(unsigned int nID, std::intptr_t lParam);

  // Data exchange: edit box 1002 <-> m_strPath. The list needs no exchange:
  // it is bound to the control when the dialog is built.
  void DoDataExchange(bool bSaveAndValidate);
  bool TransferDataToWindow() override;
  bool TransferDataFromWindow() override;

  // Runs OnInitDialog before the dialog is first shown, so the title and the
  // list are in place before anyone sees them.
  bool Show(bool show = true) override;

  using wxDialog::SetTitle;

  // Seams for the tests: the file and folder choosers (by default the real
  // dialogs, opening where the user last chose; the dialog remembers each
  // choice) and the report of a failed time conversion (by default a
  // message box). A chooser returns nothing when the user cancelled; the
  // folder chooser returns an empty path for an item that has no file-system
  // path.
  using FileChooser = std::function<std::optional<FileChoice>(wxWindow& owner)>;
  using FolderChooser = std::function<std::optional<std::wstring>(wxWindow& owner)>;
  using ErrorReporter = std::function<void(wxWindow& owner, const std::wstring& text)>;
  void SetFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }
  void SetFolderChooser(FolderChooser chooser) { m_chooseFolder = std::move(chooser); }
  void SetErrorReporter(ErrorReporter reporter) { m_reportError = std::move(reporter); }
  // How long a run goes on between two paints of the window (by default a
  // fifth of a second: rows still come into view five times a second, and a
  // paint, which lays out and draws the whole visible list, takes a few
  // milliseconds); zero paints after every entry.
  void SetPaintInterval(std::chrono::milliseconds interval) { m_paintInterval = interval; }
  // Whether a run measures its texts on a thread of its own while it does
  // the file work, where the toolkit allows it (by default it does).
  void SetMeasuringThread(bool use) { m_list->SetMeasuringThread(use); }

  wxListCtrl& ListCtrl() { return *m_pListCtrl; }
  const wxIconBundle& Icons() const { return m_hIcon; }

 protected:
  BOOL OnInitDialog();

  // CVeltranoDlgCore
  IResultListView& ResultList() override { return *m_list; }
  void EnableDlgItem(int id, bool enable) override;
  void SetTitle(const std::wstring& title) override;
  // Between entries: paints what the run has done so far, at most once per
  // paint interval.
  bool OnEntryDone(BOOL stamped) override;

#ifdef __WXMSW__
  WXLRESULT MSWWindowProc(WXUINT nMsg, WXWPARAM wParam, WXLPARAM lParam) override;
#endif

 private:
  // While a run is on, the window is painted between entries but does not
  // react: input waits until the run ends (HandleEventsButInput leaves the
  // mouse and the keyboard queued), and every input event meant for the
  // dialog or one of its controls that still comes (mouse moves, button
  // commands, close requests) is taken out before anything sees it. A close
  // request is remembered and made again after the run; a close that cannot
  // be refused (the session ends) goes through at once.
  class CRunInputBlocker : public wxEventFilter {
   public:
    explicit CRunInputBlocker(wxWindow& dialog) : m_dialog(dialog) {}
    int FilterEvent(wxEvent& event) override;
    bool m_bCloseHeld = false;

   private:
    wxWindow& m_dialog;
  };
  // Handles the events that arrived, paints and timers, but not the mouse or
  // the keyboard, whose events stay queued in their order for after the run.
  static void HandleEventsButInput();
  // Hands the texts of the rows done since the last call to the measuring
  // thread, in the order they will be fitted.
  void PrepareRowsSoFar();
  // Fits the columns to the rows the run added since the last fitting, then
  // paints the list and processes the events that arrived since the last
  // paint (input is blocked).
  void PaintRunSoFar();
  // During a run the columns stay frozen while entries are processed; before
  // each paint the rows added meanwhile are fitted, row by row in the order
  // the run fits a row, after the newest row is brought into view (which lays
  // the list out, so the client width counts a scroll bar the rows brought).
  // Fitting depends only on the rows' final cells, the widths so far and the
  // client width, so the widths come out as fitting each row as it came
  // gives them; the texts are measured one after another
  // while the measuring code stays warm, not each amid an entry's file work,
  // or were measured on the measuring thread meanwhile: fitting first waits
  // for it.
  void FitRowsSoFar();
  void AddAboutToSystemMenu();
  // Whether the check box `id` is checked.
  bool IsBoxChecked(int id) const;
  // Puts `text` into the path box (as the box can show it).
  void ShowPath(const std::wstring& text);
  void OnPaint(wxPaintEvent& event);
  void OnClose(wxCloseEvent& event);
#ifdef __WXMSW__
  WXHICON OnQueryDragIcon();
#endif

  wxIconBundle m_hIcon;  // icon group 128
  wxTextCtrl* m_pPathEdit = nullptr;
  std::wstring m_strShownPath;  // what was last put into the path box
  CResultListCtrl* m_pListCtrl = nullptr;
  std::unique_ptr<CResultListCtrlView> m_list;
  bool m_bInitialised = false;
  FileChooser m_chooseFile;
  FolderChooser m_chooseFolder;
  ErrorReporter m_reportError;
  CRunInputBlocker m_inputBlocker{*this};
  bool m_bRunning = false;
  int m_nFittedRows = 0;    // rows of the run whose columns are fitted
  int m_nPreparedRows = 0;  // rows of the run handed to the measuring thread
  std::chrono::milliseconds m_paintInterval{200};
  std::chrono::steady_clock::time_point m_lastPaint;
};
