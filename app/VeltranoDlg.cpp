#include "app/VeltranoDlg.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dcclient.h>
#include <wx/evtloop.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>

#include <utility>

#ifdef __WXMSW__
#include <wx/msw/wrapwin.h>
#endif

#include "app/AboutDlg.h"
#include "app/AppIcons.h"
#include "app/DialogTemplates.h"
#include "app/DisplayText.h"
#include "app/FolderBrowser.h"
#include "app/Settings.h"

namespace {

// Caption of the message box that reports a failed command.
constexpr wchar_t kAppName[] = L"Veltrano";

// The order in which the run fits a row's columns: name, old time and folder
// once they are written, the new time after the file's work.
constexpr int kRowFitOrder[] = {0, 1, 3, 2};

// Texts a run hands to the measuring thread before it fits the columns even
// if no paint is due: what waits for a fitting stays in bounds however long
// the run (a text and its extent take a few hundred bytes).
constexpr std::size_t kMaxPreparedTexts = 4096;

// The opt-in boxes and the settings that remember them.
constexpr std::pair<int, const wchar_t*> kOptInBoxes[] = {
    {IDC_INCLUDE_RFC3161, kIncludeRfc3161Setting},
    {IDC_RECURSIVE, kRecursiveSetting},
};

std::optional<FileChoice> ChooseFileWithDialog(wxWindow& owner) {
  const std::unique_ptr<wxFileDialog> dialog =
      MakeFileDialog(&owner, ChooserStartFolder(kFileChooserSetting));
  if (dialog->ShowModal() != wxID_OK) return std::nullopt;
  return FileChoiceFromPath(dialog->GetPath().ToStdWstring());
}

std::optional<std::wstring> ChooseFolderWithDialog(wxWindow& owner) {
  CFolderBrowser browser(&owner, ChooserStartFolder(kFolderChooserSetting));
  if (!browser.Browse()) return std::nullopt;
  return browser.GetPath();
}

void ShowErrorBox(wxWindow& owner, const std::wstring& text) {
  wxMessageBox(DisplayText(text), kAppName, wxOK | wxICON_ERROR, &owner);
}

bool IsSeparator(wchar_t c) {
#ifdef _WIN32
  return c == L'\\' || c == L'/';
#else
  return c == L'/';
#endif
}

}  // namespace

FileChoice FileChoiceFromPath(const std::wstring& path) {
  FileChoice choice;
  choice.path = path;
  std::size_t cut = path.size();
  while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
  if (cut == 0) {  // no folder at all
    choice.name = path;
    return choice;
  }
  choice.name = path.substr(cut);
  std::size_t folderEnd = cut - 1;  // drop the separator before the name...
#ifdef _WIN32
  const bool atRoot = folderEnd == 0 || (folderEnd == 2 && path[1] == L':');
#else
  const bool atRoot = folderEnd == 0;
#endif
  if (atRoot) folderEnd = cut;  // ...but the root keeps it
  choice.folder = path.substr(0, folderEnd);
  return choice;
}

std::unique_ptr<wxFileDialog> MakeFileDialog(wxWindow* owner, const std::wstring& startFolder) {
  // An open dialog for one existing file, opening in `startFolder`, no
  // filter (every file listed), no default name or extension. The read-only
  // box never appears in wx's dialogs and the overwrite prompt belongs to
  // save dialogs only; without wxFD_CHANGE_DIR the current directory (where
  // the log goes) stays.
  return std::make_unique<wxFileDialog>(owner, L"选择待修改时间的文件", startFolder, wxString(),
                                        wxString::FromAscii(wxFileSelectorDefaultWildcardStr),
                                        wxFD_OPEN | wxFD_FILE_MUST_EXIST);
}

wxPoint IconDrawPosition(const wxSize& client, const wxSize& icon) {
  return wxPoint((client.GetWidth() - icon.GetWidth() + 1) / 2,
                 (client.GetHeight() - icon.GetHeight() + 1) / 2);
}

// Pop-up with caption, system menu (with its close box) and a resizable
// frame; no minimise or maximise box. The window gets its own taskbar entry
// since it has no parent. Nothing is laid out again when the frame is
// resized: the dialog has no sizer, so the controls keep their places.
CVeltranoDlg::CVeltranoDlg(wxWindow* /*pParent*/)
    : wxDialog(nullptr, IDD_VELTRANO_DIALOG, kMainDialogTemplate.title, wxDefaultPosition,
               wxDefaultSize, wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxRESIZE_BORDER),
      m_hIcon(LoadAppIcons()),
      m_chooseFile(ChooseFileWithDialog),
      m_chooseFolder(ChooseFolderWithDialog),
      m_reportError(ShowErrorBox) {
  CreateTemplateControls(*this, kMainDialogTemplate, m_hIcon);
  m_pPathEdit = static_cast<wxTextCtrl*>(FindWindow(IDC_PATH));
  m_pListCtrl = static_cast<CResultListCtrl*>(FindWindow(IDC_RESULT_LIST));
  m_list = std::make_unique<CResultListCtrlView>(*m_pListCtrl);

  // Exit is the OK command: wx runs TransferDataFromWindow and ends the
  // dialog. Every cancel command (Esc, the close box) becomes the About
  // button's command.
  SetAffirmativeId(IDC_EXIT);
  SetEscapeId(IDC_ABOUT);

  // The command map: one handler per button. Exit has none of its own.
  const std::pair<int, void (CVeltranoDlg::*)()> commands[] = {
      {IDC_SINGLE_FILE, &CVeltranoDlg::OnBnClickedSingleFile},
      {IDC_FOLDER, &CVeltranoDlg::OnBnClickedFolder},
      {IDC_CHANGE_TIME, &CVeltranoDlg::RunChangeTime},
      {IDC_ABOUT, &CVeltranoDlg::OnBnClickedAbout},
  };
  for (const auto& [id, handler] : commands) {
    Bind(
        wxEVT_BUTTON, [this, handler = handler](wxCommandEvent&) { (this->*handler)(); }, id);
  }
  // The opt-in boxes show what was remembered; each change is remembered at
  // once. The run reads them when 更改时间 is pressed.
  for (const auto& [id, setting] : kOptInBoxes) {
    auto* box = static_cast<wxCheckBox*>(FindWindow(id));
    box->SetValue(ReadSetting(setting));
    box->Bind(wxEVT_CHECKBOX,
              [setting = setting](wxCommandEvent& e) { WriteSetting(setting, e.IsChecked()); });
  }
  Bind(wxEVT_PAINT, &CVeltranoDlg::OnPaint, this);
  Bind(wxEVT_CLOSE_WINDOW, &CVeltranoDlg::OnClose, this);
  // OnInitDialog has run before the window was shown; wx's own init event,
  // sent after showing, has nothing left to do.
  Bind(wxEVT_INIT_DIALOG, [](wxInitDialogEvent&) {});

  Centre();
}

CVeltranoDlg::~CVeltranoDlg() = default;

bool CVeltranoDlg::Show(bool show) {
  bool focusFirst = false;
  if (show && !m_bInitialised) {
    m_bInitialised = true;
    focusFirst = OnInitDialog() != FALSE;
  }
  const bool changed = wxDialog::Show(show);
  // As after a dialog's initialisation returns TRUE: the first tab stop in
  // template order, Exit, has the keyboard focus.
  if (focusFirst) FindWindow(IDC_EXIT)->SetFocus();
  return changed;
}

BOOL CVeltranoDlg::OnInitDialog() {
  TransferDataToWindow();
  AddAboutToSystemMenu();
  SetIcons(m_hIcon);  // big and small icon
  InitResultList();
  return TRUE;
}

void CVeltranoDlg::AddAboutToSystemMenu() {
#ifdef __WXMSW__
  HMENU menu = ::GetSystemMenu(static_cast<HWND>(GetHandle()), FALSE);
  if (!menu) return;
  wchar_t text[256] = {};
  ::LoadStringW(::GetModuleHandleW(nullptr), IDS_ABOUTBOX, text, 256);
  if (text[0] == L'\0') return;
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, text);
#else
  // On X11 and Wayland the window manager owns the window menu and offers
  // no way to add to it: no system menu can be obtained, so the entry is
  // absent. The About box stays reachable through its button and every
  // cancel command.
#endif
}

void CVeltranoDlg::DoDataExchange(bool bSaveAndValidate) {
  if (bSaveAndValidate) {
    // The box is read-only, so it normally still shows what was put there;
    // then the original text comes back, odd bytes and all.
    const wxString shown = m_pPathEdit->GetValue();
    m_strPath = shown == DisplayText(m_strShownPath) ? m_strShownPath : shown.ToStdWstring();
  } else {
    ShowPath(m_strPath);
  }
}

void CVeltranoDlg::ShowPath(const std::wstring& text) {
  m_strShownPath = text;
  m_pPathEdit->ChangeValue(DisplayText(text));
}

bool CVeltranoDlg::TransferDataToWindow() {
  DoDataExchange(false);
  return true;
}

bool CVeltranoDlg::TransferDataFromWindow() {
  DoDataExchange(true);
  return true;
}

void CVeltranoDlg::OnBnClickedSingleFile() {
  const std::optional<FileChoice> choice = m_chooseFile(*this);
  if (!choice) return;
  SelectFile(choice->path, choice->name, choice->folder);
  TransferDataToWindow();  // the box shows the full path
  RememberChooserFolder(kFileChooserSetting, choice->folder);
}

void CVeltranoDlg::OnBnClickedFolder() {
  const std::optional<std::wstring> folder = m_chooseFolder(*this);
  // A cancelled choice changes nothing, and neither does an item without a
  // file-system path: taking its empty path as the folder would make the
  // next run walk the root of the file system.
  if (!folder || folder->empty()) return;
  // The box shows the folder; m_strPath holds it with the search pattern.
  ShowPath(SelectFolder(*folder));
  RememberChooserFolder(kFolderChooserSetting, *folder);
}

void CVeltranoDlg::OnBnClickedAbout() {
  CAboutDlg about;
  about.ShowModal();
}

void CVeltranoDlg::RunChangeTime() {
  // The run stays on this thread. Between entries it lets the window paint,
  // with input blocked (see CRunInputBlocker). Only the measuring of the
  // rows' texts may go to a thread of its own (see CTextMeasuringThread),
  // which ends with the run on every way out of it. A time that cannot be turned
  // into text is reported once afterwards, the way a failed command is.
  std::optional<CTimeTextException> error;
  m_bIncludeRfc3161 = IsBoxChecked(IDC_INCLUDE_RFC3161);
  m_bRecursive = IsBoxChecked(IDC_RECURSIVE);
  {
    struct RunScope {
      CVeltranoDlg& dlg;
      explicit RunScope(CVeltranoDlg& d) : dlg(d) {
        dlg.m_list->BeginRun();
        dlg.m_list->FreezeColumns(true);
        dlg.m_nFittedRows = 0;
        dlg.m_nPreparedRows = 0;
        wxEvtHandler::AddFilter(&dlg.m_inputBlocker);
        dlg.m_bRunning = true;
        dlg.m_lastPaint = std::chrono::steady_clock::now();
      }
      ~RunScope() {
        dlg.m_bRunning = false;
        wxEvtHandler::RemoveFilter(&dlg.m_inputBlocker);
        dlg.m_list->EndRun();
        // After the input that waited, which comes first.
        if (std::exchange(dlg.m_inputBlocker.m_bCloseHeld, false))
          dlg.CallAfter([&d = dlg] { d.Close(); });
      }
    } run(*this);
    try {
      OnBnClickedChangeTime();
    } catch (const CTimeTextException& e) {
      error = e;
    }
    // The final state, painted with input still blocked; input held during
    // the run is handled after it.
    PaintRunSoFar();
  }
  if (error) m_reportError(*this, error->Message());
}

bool CVeltranoDlg::OnEntryDone(BOOL /*stamped*/) {
  PrepareRowsSoFar();
  if (std::chrono::steady_clock::now() - m_lastPaint >= m_paintInterval) {
    PaintRunSoFar();
  } else if (m_list->PreparedBacklog() >= kMaxPreparedTexts) {
    FitRowsSoFar();
  }
  return true;
}

void CVeltranoDlg::PrepareRowsSoFar() {
  for (const int rows = m_list->GetItemCount(); m_nPreparedRows < rows; ++m_nPreparedRows) {
    for (const int column : kRowFitOrder) m_list->PrepareCell(m_nPreparedRows, column);
  }
}

void CVeltranoDlg::FitRowsSoFar() {
  m_list->CollectPrepared();
  // Bringing the newest row into view lays the list out: the fits take its
  // client width as it is with these rows (a scroll bar they brought counted).
  const int rows = m_pListCtrl->GetItemCount();
  if (rows > 0) m_pListCtrl->EnsureVisible(rows - 1);
  m_list->FreezeColumns(false);
  for (; m_nFittedRows < rows; ++m_nFittedRows) {
    for (const int column : kRowFitOrder) FitColumnToCell(m_nFittedRows, column);
  }
  m_list->FreezeColumns(true);
}

void CVeltranoDlg::PaintRunSoFar() {
  FitRowsSoFar();
  // The list is drawn at once; the events then handled draw the rest of the
  // window (and whatever was uncovered); input waits.
  m_pListCtrl->Update();
  HandleEventsButInput();
  m_lastPaint = std::chrono::steady_clock::now();
}

void CVeltranoDlg::HandleEventsButInput() {
#ifdef __WXMSW__
  // wx's yield would take the input messages out of the queue and post them
  // back without their window; here they stay where they are. (Bounded: a
  // window that never validates its paint cannot keep the run here.)
  MSG msg;
  for (int i = 0;
       i < 10000 && ::PeekMessageW(&msg, nullptr, 0, 0,
                                   PM_REMOVE | PM_QS_PAINT | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE);
       ++i) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  if (wxTheApp) wxTheApp->ProcessPendingEvents();
#else
  // GTK: the mouse's and the keyboard's events are put back in the queue.
  if (wxEventLoopBase* loop = wxEventLoopBase::GetActive())
    loop->YieldFor(wxEVT_CATEGORY_ALL & ~wxEVT_CATEGORY_USER_INPUT);
#endif
}

int CVeltranoDlg::CRunInputBlocker::FilterEvent(wxEvent& event) {
  const wxEventType type = event.GetEventType();
  const bool input = dynamic_cast<wxMouseEvent*>(&event) || dynamic_cast<wxKeyEvent*>(&event) ||
                     type == wxEVT_BUTTON || type == wxEVT_CHECKBOX || type == wxEVT_CONTEXT_MENU ||
                     type == wxEVT_HELP ||
                     (type == wxEVT_CLOSE_WINDOW && static_cast<wxCloseEvent&>(event).CanVeto());
  if (!input) return Event_Skip;
  auto* window = dynamic_cast<wxWindow*>(event.GetEventObject());
  if (!window || wxGetTopLevelParent(window) != &m_dialog) return Event_Skip;
  if (type == wxEVT_CLOSE_WINDOW) m_bCloseHeld = true;
  // Taken as handled: the toolkit's own handling (a button pressed, the focus
  // moved, the list scrolled) does not happen either.
  return Event_Processed;
}

bool CVeltranoDlg::OnSysCommand(unsigned int nID, std::intptr_t /*lParam*/) {
  if ((nID & 0xFFF0) != IDM_ABOUTBOX) return false;
  if (m_bRunning) return true;  // the window menu is input too
  OnBnClickedAbout();
  return true;
}

bool CVeltranoDlg::IsBoxChecked(int id) const {
  const auto* box = dynamic_cast<const wxCheckBox*>(FindWindow(id));
  return box && box->GetValue();
}

void CVeltranoDlg::EnableDlgItem(int id, bool enable) {
  if (wxWindow* item = FindWindow(id)) item->Enable(enable);
}

void CVeltranoDlg::SetTitle(const std::wstring& title) { wxDialog::SetTitle(DisplayText(title)); }

void CVeltranoDlg::OnPaint(wxPaintEvent& event) {
  // Only a minimised window draws itself: its icon, centred. (GTK has no
  // minimised window to paint: the window manager shows the icon.)
  if (!IsIconized()) {
    event.Skip();
    return;
  }
  wxPaintDC dc(this);
#ifdef __WXMSW__
  ::SendMessageW(static_cast<HWND>(GetHandle()), WM_ICONERASEBKGND,
                 reinterpret_cast<WPARAM>(dc.GetHDC()), 0);
#endif
  int cxIcon = wxSystemSettings::GetMetric(wxSYS_ICON_X, this);
  int cyIcon = wxSystemSettings::GetMetric(wxSYS_ICON_Y, this);
  if (cxIcon <= 0) cxIcon = 32;
  if (cyIcon <= 0) cyIcon = 32;
  const wxSize iconSize(cxIcon, cyIcon);
  dc.DrawIcon(m_hIcon.GetIcon(iconSize, wxIconBundle::FALLBACK_NEAREST_LARGER),
              IconDrawPosition(GetClientSize(), iconSize));
}

void CVeltranoDlg::OnClose(wxCloseEvent& event) {
  if (!event.CanVeto()) {  // the session is ending: nothing to ask
    if (IsModal()) EndModal(wxID_CANCEL);
    return;
  }
  // The close box (and Alt+F4, and the window menu's Close) is the cancel
  // command, which is the About button's.
  event.Veto();
  OnBnClickedAbout();
}

#ifdef __WXMSW__
WXHICON CVeltranoDlg::OnQueryDragIcon() {
  int cxIcon = ::GetSystemMetrics(SM_CXICON);
  return m_hIcon.GetIcon(wxSize(cxIcon, cxIcon), wxIconBundle::FALLBACK_NEAREST_LARGER).GetHICON();
}

WXLRESULT CVeltranoDlg::MSWWindowProc(WXUINT nMsg, WXWPARAM wParam, WXLPARAM lParam) {
  if (nMsg == WM_SYSCOMMAND &&
      OnSysCommand(static_cast<unsigned int>(wParam), static_cast<std::intptr_t>(lParam)))
    return 0;
  if (nMsg == WM_QUERYDRAGICON) return reinterpret_cast<WXLRESULT>(OnQueryDragIcon());
  return wxDialog::MSWWindowProc(nMsg, wParam, lParam);
}
#endif
